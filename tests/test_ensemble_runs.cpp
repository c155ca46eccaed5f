// The runs of an ensemble: the list file (comments, header, quoting, relative names), the
// command-line form, and the checks made before any run is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ensemble/run_list.h"
#include "fileio/error.h"
#include "support/tempdir.h"

namespace kelvara {
namespace {

using test::TempDir;

std::string errorText(const Error& e) {
    std::string text;
    for (const auto& line : e.lines()) text += line + "\n";
    return text;
}

// "group:file" per run in list order, for comparing a parsed list in one line.
std::string shape(const RunList& list) {
    std::string text;
    for (const EnsembleRun& r : list.runs)
        text += (text.empty() ? "" : " ") + list.groups[r.group].name + ":" + r.path;
    return text;
}

struct ListCase {
    const char* what;
    std::string text;
    std::string runs;    // shape() of the list read from folder "cases/"
    std::string groups;  // group names in order, joined by blanks
};

const std::vector<ListCase> kLists = {
    {"plain lines, relative names from the list's folder",
     "1h,tp01_d.dat\n1h,tp02_d.dat\n2h,tp01_d.dat\n",
     "1h:cases/tp01_d.dat 1h:cases/tp02_d.dat 2h:cases/tp01_d.dat", "1h 2h"},
    {"header, comments, blank lines, blanks and CRLF",
     "group,file\r\n# the 1 hour storms\r\n\r\n  1h , a.dat \r\n   # indented comment\n9h,b.dat",
     "1h:cases/a.dat 9h:cases/b.dat", "1h 9h"},
    {"groups in order of first appearance, runs in list order",
     "9h,a.dat\n1h,b.dat\n9h,c.dat\n", "9h:cases/a.dat 1h:cases/b.dat 9h:cases/c.dat", "9h 1h"},
    {"absolute names stay as they are", "1h,/data/run.dat\n", "1h:/data/run.dat", "1h"},
    {"quoted fields: a comma and a doubled quote in a name",
     "\"1h\",\"storm, \"\"A\"\"_d.dat\"\n", "1h:cases/storm, \"A\"_d.dat", "1h"},
    {"subfolders", "2h,runs/2h/tp01_d.dat\n", "2h:cases/runs/2h/tp01_d.dat", "2h"},
};

TEST(EnsembleRunList, ParsesLists) {
    for (const ListCase& c : kLists) {
        const RunList list = parseRunList(c.text, "study.csv", "cases/");
        EXPECT_EQ(shape(list), c.runs) << c.what;
        std::string groups;
        for (const auto& g : list.groups) groups += (groups.empty() ? "" : " ") + g.name;
        EXPECT_EQ(groups, c.groups) << c.what;
    }
}

TEST(EnsembleRunList, RefusesBadLinesNamingTheListAndLine) {
    const struct {
        const char* what;
        std::string text;
        std::string expected;  // part of the error
    } cases[] = {
        {"a line without a comma", "1h,a.dat\nb.dat\n", "study.csv, line 2: expected \"group,file\""},
        {"three fields", "# c\n1h,a.dat,extra\n", "study.csv, line 2: expected"},
        {"an empty group", "1h,a.dat\n,b.dat\n", "study.csv, line 2"},
        {"an empty file", "1h,\n", "study.csv, line 1"},
        {"a quoted file of blanks", "1h,a.dat\n2h,\"  \"\n", "study.csv, line 2: expected"},
        {"an open quote", "1h,\"a.dat\n", "study.csv, line 1: a quoted field is not closed"},
        {"no runs at all", "# nothing\ngroup,file\n\n", "study.csv names no runs"},
    };
    for (const auto& c : cases) {
        try {
            parseRunList(c.text, "study.csv", "");
            ADD_FAILURE() << c.what << ": no error";
        } catch (const Error& e) {
            EXPECT_NE(errorText(e).find("ERROR - "), std::string::npos) << c.what;
            EXPECT_NE(errorText(e).find(c.expected), std::string::npos) << c.what << "\n" << errorText(e);
        }
    }
}

TEST(EnsembleRunList, ReadsAListFileBesideItsRuns) {
    TempDir dir;
    dir.write("study.csv", "group,file\n1h,a_d.dat\n");
    const RunList list = readRunList(dir.file("study.csv"));
    ASSERT_EQ(list.runs.size(), 1u);
    EXPECT_EQ(list.runs[0].path, dir.file("a_d.dat"));
    EXPECT_EQ(list.runs[0].line, 2);
    EXPECT_EQ(defaultEnsembleOutputName(dir.file("study.csv")), dir.file("study(ensemble).dat"));
    EXPECT_EQ(runLabel(list, 0), "1h/a_d.dat");
    try {
        readRunList(dir.file("none.csv"));
        ADD_FAILURE() << "a missing list read";
    } catch (const Error& e) {
        EXPECT_NE(errorText(e).find("none.csv"), std::string::npos);
    }
}

TEST(EnsembleRunList, CommandLineForm) {
    RunListBuilder b;
    b.group("1h");
    b.run("a.dat");
    b.run("b.dat");
    b.group("2h");
    b.run("c.dat");
    b.group("1h");  // continues the group
    b.run("d.dat");
    const RunList list = b.finish();
    EXPECT_EQ(shape(list), "1h:a.dat 1h:b.dat 2h:c.dat 1h:d.dat");
    ASSERT_EQ(list.groups.size(), 2u);
    EXPECT_EQ(list.groups[0].runs, (std::vector<std::size_t>{0, 1, 3}));

    RunListBuilder early;
    EXPECT_THROW(early.run("a.dat"), Error);
    RunListBuilder empty;
    empty.group("1h");
    empty.run("a.dat");
    empty.group("2h");
    try {
        empty.finish();
        ADD_FAILURE() << "an empty group accepted";
    } catch (const Error& e) {
        EXPECT_NE(errorText(e).find("The group 2h has no runs"), std::string::npos);
    }
}

TEST(EnsembleRunList, ChecksBeforeReading) {
    TempDir dir;
    for (const char* name : {"a.dat", "b.dat", "c.dat"}) dir.write(name, "x");
    const std::string folder = dir.path() + "/";
    const struct {
        const char* what;
        std::string text;
        bool skipMissing;
        std::string error;    // part of the error, "" for none
        std::string warning;  // part of a warning, "" for none
        std::vector<bool> missing;
    } cases[] = {
        {"a missing run is an error naming it and its line", "1h,a.dat\n1h,gone.dat\n", false,
         "gone.dat (line 2 of study.csv) cannot be found", "", {}},
        {"skipped with a warning", "1h,a.dat\n1h,gone.dat\n1h,b.dat\n", true, "",
         "WARNING - The run " + folder + "gone.dat (line 2 of study.csv) cannot be found",
         {false, true, false}},
        {"a group left empty", "1h,a.dat\n2h,gone.dat\n", true, "The group 2h has no run", "", {}},
        {"a group of one is warned of", "1h,a.dat\n1h,b.dat\n2h,c.dat\n", false, "",
         "WARNING - The group 2h has a single run", {false, false, false}},
        {"the same file twice", "1h,a.dat\n2h,./a.dat\n", false,
         "line 2 of study.csv) is the same file as", "", {}},
    };
    for (const auto& c : cases) {
        RunList list = parseRunList(c.text, "study.csv", folder);
        std::vector<std::string> lines;
        try {
            checkRunList(list, c.skipMissing, [&](const std::string& l) { lines.push_back(l); });
            EXPECT_TRUE(c.error.empty()) << c.what << ": no error";
        } catch (const Error& e) {
            EXPECT_NE(errorText(e).find(c.error), std::string::npos) << c.what << "\n" << errorText(e);
            if (c.error.empty()) ADD_FAILURE() << c.what << ": " << errorText(e);
            continue;
        }
        std::string all;
        for (const auto& l : lines) all += l + "\n";
        if (!c.warning.empty()) {
            EXPECT_NE(all.find(c.warning), std::string::npos) << c.what << "\n" << all;
        }
        for (std::size_t r = 0; r < c.missing.size(); ++r)
            EXPECT_EQ(list.runs[r].missing, c.missing[r]) << c.what << " run " << r;
    }
}

}  // namespace
}  // namespace kelvara
