// The runs of an ensemble: which files, in which groups (a group is a free label such as a storm
// duration, "1h", "2h", "9h"). Read from a list file of "group,file" lines or built from the
// command line's "--group NAME file file ..." form; checked before any run is read.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kelvara {

// Lines the ensemble reports as it goes (progress, warnings), one call per line.
using EnsembleMessages = std::function<void(const std::string& line)>;

struct EnsembleRun {
    std::string path;     // as it is opened: relative names joined to the list's folder
    std::size_t group = 0;  // index into RunList::groups
    int line = 0;         // line of the list file (0 when given on the command line)
    bool missing = false; // left out with --skip-missing: a gap in the numbering
};

struct EnsembleGroup {
    std::string name;
    std::vector<std::size_t> runs;  // indexes into RunList::runs, in list order
};

// Runs are numbered from 1 in list order (line by line, whatever their group); groups from 1 in
// the order of their first appearance.
struct RunList {
    std::string source;  // the list file, or "" for runs given one by one
    // Where runs given one by one came from, for messages ("line 12 of study.csv" for a list's).
    std::string givenAs = "the command line";
    std::vector<EnsembleGroup> groups;
    std::vector<EnsembleRun> runs;
};

// Reads a list file: one run a line as "group,file"; blank lines and lines starting with "#"
// (after blanks) are skipped, as is a first line "group,file"; either field may be written in
// double quotes (a file name holding a comma, a quote written twice); blanks around the fields
// are dropped. A relative file name is taken from the list's folder. Throws Error naming the
// list file and the line for a line without both fields, and for a list without runs.
// A list longer than kLongestRunList bytes is refused.
constexpr std::size_t kLongestRunList = std::size_t{64} << 20;
RunList readRunList(const std::string& listPath);
// The same from text already in memory; folder is prefixed to relative names ("" for none).
RunList parseRunList(const std::string& text, const std::string& listName, const std::string& folder);

// The command-line form: group("1h") then the group's files, group("2h") then its files, ...
class RunListBuilder {
public:
    RunListBuilder() = default;
    // Goes on from the runs of a list file: groups named again continue, runs follow its own.
    explicit RunListBuilder(RunList start) : list_(std::move(start)) {}
    void group(const std::string& name);  // a name given twice continues that group
    void run(const std::string& path);    // Error when no group was named before
    RunList finish();                     // Error for a list without runs

private:
    RunList list_;
    bool haveGroup_ = false;
    std::size_t current_ = 0;
};

// Checks a list before anything is read: a group without runs and a file named twice are
// errors; a group of a single run is a WARNING. Every run must open for reading: one that does
// not is an error naming it, or with skipMissing a WARNING and the run is marked missing (a
// group left without runs is then an error).
void checkRunList(RunList& list, bool skipMissing, const EnsembleMessages& messages);

// The output's default name: "<list stem>(ensemble).dat" beside the list.
std::string defaultEnsembleOutputName(const std::string& listPath);

// "1h/tp07_d.dat": the run's group and its file name, as progress lines show it.
std::string runLabel(const RunList& list, std::size_t run);

}  // namespace kelvara
