// What the NetCDF output names and counts without the NetCDF library: the reference time, the
// variables' names, and the counts of a mesh file.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "fileio/error.h"
#include "netcdf/ugrid.h"
#include "util/path.h"

namespace kelvara::netcdf {
namespace {

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Digits at text[at, at + count) as a number, or -1.
int digitsAt(const std::string& text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// A name that NetCDF and the CF conventions take: letters, digits and underscores, starting
// with a letter.
std::string validName(const std::string& text) {
    std::string name;
    for (char c : text) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
        name += plain ? c : '_';
    }
    while (!name.empty() && name.front() == '_') name.erase(0, 1);
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name.front()))) name = "v" + name;
    return name;
}

// The number after the first word of a mesh line, when the word is one of those that count.
bool numberedLine(const std::string& line, const char* const* words, long long& number) {
    std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos) return false;
    const std::size_t end = line.find_first_of(" \t,", at);
    const std::string word = line.substr(at, end == std::string::npos ? end : end - at);
    bool counted = false;
    for (const char* const* w = words; *w != nullptr; ++w) counted = counted || word == *w;
    if (!counted || end == std::string::npos) return false;
    at = line.find_first_not_of(" \t,", end);
    if (at == std::string::npos) return false;
    const char* start = line.c_str() + at;
    char* stop = nullptr;
    errno = 0;
    const double value = std::strtod(start, &stop);
    if (stop == start || errno == ERANGE || !std::isfinite(value)) return false;
    number = value > 4e18 ? static_cast<long long>(4e18) : static_cast<long long>(value);
    return true;
}

}  // namespace

std::string referenceTimeText(const std::string& given) {
    std::string text = given;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.erase(0, 1);
    const auto refuse = [&given]() {
        return errorLine("ERROR - The reference time \"" + given +
                         "\" is not a date and time of the form 2000-01-01 00:00:00.");
    };
    if (text.size() != 10 && text.size() != 16 && text.size() != 19) throw refuse();
    const int year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || text[4] != '-' || text[7] != '-' ||
        day > daysInMonth(year, month))
        throw refuse();
    int hour = 0, minute = 0, second = 0;
    if (text.size() > 10) {
        if (text[10] != ' ' && text[10] != 'T' && text[10] != 't') throw refuse();
        hour = digitsAt(text, 11, 2);
        minute = digitsAt(text, 14, 2);
        if (text[13] != ':' || hour < 0 || hour > 23 || minute < 0 || minute > 59) throw refuse();
        if (text.size() == 19) {
            second = digitsAt(text, 17, 2);
            if (text[16] != ':' || second < 0 || second > 59) throw refuse();
        }
    }
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return out;
}

std::string variableNameFor(const std::string& dataType, const std::string& fileName) {
    if (dataType == "_d") return "depth";
    if (dataType == "_h") return "water_level";
    if (dataType == "_v") return "velocity";
    std::string name = dataType == "XX" ? std::string() : validName(dataType);
    if (name.empty()) name = validName(FILENAME(fileName));
    return name.empty() ? "dataset" : name;
}

std::string summaryNameFor(float time) {
    struct Named {
        float time;
        const char* name;
    };
    static const Named kNamed[] = {
        {99999.0f, "maximum"},  {111111.0f, "summary"},   {222222.0f, "maximum_input"},
        {100001.0f, "arrival"}, {100002.0f, "end"},       {100003.0f, "peak"},
        {100011.0f, "depth_velocity"}, {100012.0f, "hazard_class"},
        {100013.0f, "hazard_rating"}, {100014.0f, "uk_hazard_class"},
    };
    for (const Named& n : kNamed)
        if (time == n.time) return n.name;
    // Any other: "at_" and the time, "m" for a minus sign and "p" for the point.
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(time));
    std::string name = "at_";
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '-') name += 'm';
        else if (*c == '.') name += 'p';
        else if (*c == '+') continue;
        else name += *c;
    }
    return name;
}

std::string stepNameFor(const std::string& description) {
    std::string words = description.substr(0, description.find('('));
    for (char& c : words) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string name = validName(words);
    // One underscore between words, none at the end.
    std::string joined;
    for (char c : name)
        if (c != '_' || (!joined.empty() && joined.back() != '_')) joined += c;
    while (!joined.empty() && joined.back() == '_') joined.pop_back();
    return joined;
}

std::string readReferenceWkt(const std::string& prjPath) {
    std::ifstream in(prjPath, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    std::string wkt = text.str();
    while (!wkt.empty() && (wkt.back() == ' ' || wkt.back() == '\t' || wkt.back() == '\r' ||
                            wkt.back() == '\n' || wkt.back() == '\0'))
        wkt.pop_back();
    return wkt;
}

MeshCounts countMesh(const std::string& meshPath) {
    std::ifstream in(meshPath, std::ios::binary);
    if (!in) {
        throw errorLine("ERROR - Unable to open the mesh \"" + meshPath + "\": " +
                        std::strerror(errno));
    }
    static const char* const kNodeWords[] = {"ND", nullptr};
    static const char* const kCellWords[] = {"E3T", "E4Q", "E6T", "E8Q", nullptr};
    long long nodes = 0, cells = 0;
    for (std::string line; std::getline(in, line);) {
        long long number = 0;
        if (numberedLine(line, kNodeWords, number)) {
            if (number > nodes) nodes = number;
        } else if (numberedLine(line, kCellWords, number)) {
            if (number > cells) cells = number;
        }
    }
    if (in.bad()) throw errorLine("ERROR - Unable to read the mesh \"" + meshPath + "\".");
    const long long limit = std::numeric_limits<std::int32_t>::max();
    if (nodes > limit || cells > limit) {
        throw errorLine("ERROR - The mesh \"" + meshPath + "\" numbers its nodes or cells beyond " +
                        std::to_string(limit) + ".");
    }
    return {static_cast<std::int32_t>(nodes), static_cast<std::int32_t>(cells)};
}

}  // namespace kelvara::netcdf
