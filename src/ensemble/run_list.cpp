#include "ensemble/run_list.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

#include "fileio/error.h"
#include "fileio/platform.h"
#include "util/path.h"

namespace kelvara {
namespace {

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool isAbsolute(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string lineError(const std::string& list, int line, const std::string& what) {
    return "ERROR - " + list + ", line " + std::to_string(line) + ": " + what;
}

// Splits a line into its comma-separated fields; a field in double quotes may hold commas and
// doubled quotes. False when a quote is left open or text follows a closing quote.
bool splitFields(const std::string& line, std::vector<std::string>& fields) {
    fields.clear();
    std::size_t at = 0;
    for (;;) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        std::string field;
        if (at < line.size() && line[at] == '"') {
            ++at;
            bool closed = false;
            while (at < line.size()) {
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    closed = true;
                    break;
                }
                field += line[at++];
            }
            if (!closed) return false;
            while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
            if (at < line.size() && line[at] != ',') return false;
        } else {
            const std::size_t comma = line.find(',', at);
            field = trimmed(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
            at = comma == std::string::npos ? line.size() : comma;
        }
        fields.push_back(std::move(field));
        if (at >= line.size()) return true;
        ++at;  // the comma
    }
}

std::size_t groupIndex(RunList& list, const std::string& name) {
    for (std::size_t g = 0; g < list.groups.size(); ++g)
        if (list.groups[g].name == name) return g;
    list.groups.push_back({name, {}});
    return list.groups.size() - 1;
}

void addRun(RunList& list, std::size_t group, std::string path, int line) {
    list.groups[group].runs.push_back(list.runs.size());
    EnsembleRun run;
    run.path = std::move(path);
    run.group = group;
    run.line = line;
    list.runs.push_back(std::move(run));
}

// Where a run comes from, for messages: "line 12 of study.csv" or the command line.
std::string whereGiven(const RunList& list, const EnsembleRun& run) {
    if (run.line > 0) return "line " + std::to_string(run.line) + " of " + list.source;
    return list.givenAs;
}

bool opensForReading(const std::string& path) {
    const platform::FileIdentity id = platform::fileIdentity(path);
    if (!id.valid) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    // A folder opens on some systems; reading it fails.
    char byte;
    const bool readable = std::fread(&byte, 1, 1, f) == 1 || std::feof(f) != 0;
    std::fclose(f);
    return readable;
}

}  // namespace

RunList parseRunList(const std::string& text, const std::string& listName, const std::string& folder) {
    RunList list;
    list.source = listName;
    std::istringstream in(text);
    std::string raw;
    std::vector<std::string> fields;
    int line = 0;
    bool firstContent = true;
    while (std::getline(in, raw)) {
        ++line;
        const std::string content = trimmed(raw);
        if (content.empty() || content[0] == '#') continue;
        if (!splitFields(content, fields)) {
            throw errorLine(lineError(listName, line, "a quoted field is not closed properly."));
        }
        if (firstContent && fields.size() == 2 && fields[0] == "group" && fields[1] == "file") {
            firstContent = false;
            continue;
        }
        firstContent = false;
        // A file name of blanks alone (quoted) would be cleaned to nothing, or to the folder.
        if (fields.size() != 2 || fields[0].empty() ||
            fields[1].find_first_not_of(' ') == std::string::npos) {
            throw errorLine(lineError(listName, line,
                                      "expected \"group,file\", found \"" + content + "\"."));
        }
        const std::size_t group = groupIndex(list, fields[0]);
        std::string path = isAbsolute(fields[1]) ? fields[1] : folder + fields[1];
        addRun(list, group, CLEANPATH(path), line);
    }
    if (list.runs.empty()) throw errorLine("ERROR - " + listName + " names no runs.");
    return list;
}

RunList readRunList(const std::string& listPath) {
    std::ifstream in(listPath, std::ios::binary);
    if (!in) throw errorLine("ERROR - Unable to open the list of runs \"" + listPath + "\".");
    // Read up to a size no list of runs comes near, so that a device or a huge file named by
    // mistake is refused instead of read without end.
    std::string text(kLongestRunList + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw errorLine("ERROR - Could not read the list of runs \"" + listPath + "\".");
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kLongestRunList) {
        throw errorLine("ERROR - \"" + listPath + "\" is over " +
                        std::to_string(kLongestRunList >> 20) + " MiB: it is not a list of runs.");
    }
    return parseRunList(text, listPath, FILEFOLDERPATH(listPath));
}

void RunListBuilder::group(const std::string& name) {
    if (name.empty()) throw errorLine("ERROR - --group needs a name.");
    current_ = groupIndex(list_, name);
    haveGroup_ = true;
}

void RunListBuilder::run(const std::string& path) {
    if (!haveGroup_) {
        throw errorLine("ERROR - The run " + path + " comes before any --group NAME.");
    }
    addRun(list_, current_, CLEANPATH(path), 0);
}

RunList RunListBuilder::finish() {
    for (const EnsembleGroup& g : list_.groups) {
        if (g.runs.empty()) throw errorLine("ERROR - The group " + g.name + " has no runs.");
    }
    if (list_.runs.empty()) throw errorLine("ERROR - An ensemble needs runs: --group NAME file ...");
    return std::move(list_);
}

void checkRunList(RunList& list, bool skipMissing, const EnsembleMessages& messages) {
    const auto say = [&messages](const std::string& line) {
        if (messages) messages(line);
    };
    for (const EnsembleGroup& g : list.groups) {
        if (g.runs.empty()) throw errorLine("ERROR - The group " + g.name + " has no runs.");
    }
    // Named twice: by name, or two names of one file.
    std::vector<platform::FileIdentity> ids(list.runs.size());
    for (std::size_t r = 0; r < list.runs.size(); ++r) ids[r] = platform::fileIdentity(list.runs[r].path);
    for (std::size_t r = 0; r < list.runs.size(); ++r) {
        for (std::size_t s = 0; s < r; ++s) {
            if (list.runs[s].path == list.runs[r].path || platform::sameIdentity(ids[s], ids[r])) {
                throw errorLine("ERROR - " + list.runs[r].path + " (" + whereGiven(list, list.runs[r]) +
                                ") is the same file as " + list.runs[s].path + " (" +
                                whereGiven(list, list.runs[s]) + "): name each run once.");
            }
        }
    }
    for (EnsembleRun& run : list.runs) {
        if (opensForReading(run.path)) continue;
        if (!skipMissing) {
            throw errorLine("ERROR - The run " + run.path + " (" + whereGiven(list, run) +
                            ") cannot be found or read.");
        }
        run.missing = true;
        say("WARNING - The run " + run.path + " (" + whereGiven(list, run) +
            ") cannot be found or read: it is left out of group " + list.groups[run.group].name + ".");
    }
    for (const EnsembleGroup& g : list.groups) {
        std::size_t present = 0;
        for (std::size_t r : g.runs) present += list.runs[r].missing ? 0 : 1;
        if (present == 0) {
            throw errorLine("ERROR - The group " + g.name + " has no run that can be read.");
        }
        if (present == 1) {
            say("WARNING - The group " + g.name +
                " has a single run: its statistic is that run's peak.");
        }
    }
}

std::string defaultEnsembleOutputName(const std::string& listPath) {
    return FILENAMEPATH(listPath) + "(ensemble).dat";
}

std::string runLabel(const RunList& list, std::size_t run) {
    const EnsembleRun& r = list.runs[run];
    const std::string& path = r.path;
    const std::size_t slash = path.find_last_of("/\\");
    return list.groups[r.group].name + "/" + (slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace kelvara
