// The ensemble's list of runs, read from text in memory: whatever the bytes, the parse either
// gives a list whose every run has a group and a file and whose numbering hangs together, or
// stops with an error line that names the list. A list parsed once is written back with every
// field quoted and parsed again, which must give the same runs (so quoting, doubled quotes,
// blanks and the header line are read alike both ways).
//
// The same input, cut at "|NEXT|", also feeds --percentiles (second part) and
// --reference-time (third part).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ensemble/ensemble.h"
#include "ensemble/run_list.h"
#include "harness.h"
#include "netcdf/ugrid.h"
#include "tool/ensemble_run.h"
#include "tool/options.h"

namespace {

using kelvara::fuzz::broken;

// An error raised for a text named `name` must carry a line starting "ERROR - " that names it.
void checkError(const kelvara::Error& e, const std::string& name, const char* what) {
    bool named = false;
    for (const std::string& line : e.lines())
        named = named || (line.rfind("ERROR - ", 0) == 0 && line.find(name) != std::string::npos);
    if (!named)
        broken(std::string(what) + ": an error without an \"ERROR - \" line naming " + name);
}

std::size_t lineCount(const std::string& text) {
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines + (text.empty() || text.back() == '\n' ? 0 : 1);
}

void checkList(const kelvara::RunList& list, const std::string& text, const std::string& name) {
    if (list.source != name) broken("the list's source is not its name");
    if (list.runs.empty()) broken("a list without runs was accepted");
    const std::size_t lines = lineCount(text);
    std::vector<std::size_t> seen(list.groups.size(), 0);
    int lastLine = 0;
    for (std::size_t r = 0; r < list.runs.size(); ++r) {
        const kelvara::EnsembleRun& run = list.runs[r];
        if (run.path.empty()) broken("a run without a file, line " + std::to_string(run.line));
        if (run.group >= list.groups.size()) broken("a run of a group that does not exist");
        if (run.missing) broken("a run marked missing before any check");
        if (run.line <= lastLine || static_cast<std::size_t>(run.line) > lines)
            broken("run line numbers out of order or past the text's end");
        lastLine = run.line;
        const std::vector<std::size_t>& members = list.groups[run.group].runs;
        if (seen[run.group] >= members.size() || members[seen[run.group]] != r)
            broken("a group's runs are not its runs in list order");
        ++seen[run.group];
    }
    for (std::size_t g = 0; g < list.groups.size(); ++g) {
        if (list.groups[g].name.empty()) broken("a group without a name");
        if (seen[g] != list.groups[g].runs.size()) broken("a group lists runs not of it");
        if (list.groups[g].runs.empty()) broken("a group without runs");
        for (std::size_t h = 0; h < g; ++h)
            if (list.groups[h].name == list.groups[g].name) broken("a group named twice");
    }
}

std::string quoted(const std::string& field) {
    std::string out = "\"";
    for (char c : field) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

void fuzzRunList(const std::string& text) {
    const std::string name = "study.csv";
    kelvara::RunList list;
    try {
        list = kelvara::parseRunList(text, name, "");
    } catch (const kelvara::Error& e) {
        checkError(e, name, "run list");
        return;
    }
    checkList(list, text, name);

    // Written back quoted, after a header line (so that a first run of group "group" and file
    // "file" is not itself taken for one).
    std::string again = "group,file\n";
    for (const kelvara::EnsembleRun& run : list.runs)
        again += quoted(list.groups[run.group].name) + "," + quoted(run.path) + "\n";
    kelvara::RunList reread;
    try {
        reread = kelvara::parseRunList(again, name, "");
    } catch (const kelvara::Error&) {
        broken("a list written back from its runs is refused");
    }
    if (reread.runs.size() != list.runs.size() || reread.groups.size() != list.groups.size())
        broken("a list written back reads as another number of runs or groups");
    for (std::size_t r = 0; r < list.runs.size(); ++r) {
        if (reread.runs[r].path != list.runs[r].path ||
            reread.groups[reread.runs[r].group].name != list.groups[list.runs[r].group].name)
            broken("a list written back reads as other runs");
    }
}

void fuzzPercentiles(const std::string& value) {
    kelvara::RunOptions options;
    std::vector<std::string> lines;
    bool stored = false;
    try {
        stored = kelvara::storeEnsemblePercentiles(options, value, lines);
    } catch (const kelvara::Error&) {
        broken("--percentiles stopped with an Error instead of its lines");
    }
    const std::vector<double>& p = options.operation.ensemble.percentiles;
    if (!stored) {
        bool error = false;
        for (const std::string& line : lines) error = error || line.rfind("ERROR - ", 0) == 0;
        if (!error) broken("--percentiles refused without an ERROR line");
        if (!p.empty()) broken("--percentiles refused but kept percentiles");
        return;
    }
    std::size_t commas = 0;
    for (char c : value) commas += c == ',';
    if (p.size() != commas + 1) broken("--percentiles kept another number of items than given");
    if (p.size() > kelvara::kMostPercentiles) broken("--percentiles kept more than it may write");
    for (double v : p)
        if (!(v >= 0.0 && v <= 100.0)) broken("--percentiles kept a value outside 0 to 100");
}

void fuzzReferenceTime(const std::string& value) {
    std::string text;
    try {
        text = kelvara::netcdf::referenceTimeText(value);
    } catch (const kelvara::Error& e) {
        bool error = false;
        for (const std::string& line : e.lines()) error = error || line.rfind("ERROR - ", 0) == 0;
        if (!error) broken("--reference-time refused without an ERROR line");
        return;
    }
    // "YYYY-MM-DD hh:mm:ss", read again as itself.
    static const char kForm[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() != sizeof kForm - 1) broken("a reference time of another length: " + text);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == 'd' ? !digit : text[i] != kForm[i])
            broken("a reference time of another form: " + text);
    }
    std::string again;
    try {
        again = kelvara::netcdf::referenceTimeText(text);
    } catch (const kelvara::Error&) {
        broken("a reference time it wrote is refused: " + text);
    }
    if (again != text) broken("a reference time changes when read again: " + text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvara::fuzz::scratchFolder();
    const std::vector<std::string> parts = kelvara::fuzz::splitParts(
        std::string_view(reinterpret_cast<const char*>(data), size), 3);
    kelvara::ErrorScope scope;
    fuzzRunList(parts[0]);
    if (parts.size() > 1) fuzzPercentiles(parts[1]);
    if (parts.size() > 2) fuzzReferenceTime(parts[2]);
    return 0;
}
