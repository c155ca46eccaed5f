// What every fuzz target shares: a quiet console, a scratch folder, input split into parts, and
// a run of the whole tool that checks what a run must never do.
//
// The targets run the shipped code: a run goes through the in-process entry, and a routine
// that may stop is called inside an ErrorScope, where a stop comes back as a kelvara::Error.
// A clean "ERROR - " stop is thus an ordinary outcome here; only crashes, sanitizer reports and
// broken promises (checked below with abort) are findings.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/dataset.h"
#include "tool/driver.h"
#include "tool/options.h"
#include "tool/run.h"

namespace kelvara::fuzz {

// The command lines the dataset targets (fuzz_dataset through files, fuzz_dataset_memory in
// memory) choose from by an input's first byte: every operation that needs no mesh, and the
// single pass's combinations. Seeds name their command by its index (op00, op01, ...).
struct DatasetCommand {
    std::vector<std::string> flags;
    int inputs;
};
inline const std::vector<DatasetCommand>& datasetCommands() {
    static const std::vector<DatasetCommand> commands = {
        {{"-con"}, 2},
        {{"-k1"}, 1},
        {{"-r1"}, 1},
        {{"-r99999"}, 1},
        {{"-trim1"}, 1},
        {{"-va"}, 1},
        {{"-dur0.5"}, 1},
        {{"-max"}, 1},
        {{"-max", "-t1"}, 2},
        {{"-ddur0.1", "-t5"}, 2},
        {{"-dif", "-nowetdry"}, 2},
        {{"-dif", "-nowetdry", "-t1"}, 2},
        {{"-k1", "-trim0.5"}, 1},
        {{"-con", "-r1", "-va"}, 1},
    };
    return commands;
}

// Separates the files packed into one fuzz input.
constexpr std::string_view kPartSeparator = "|NEXT|";

// A broken promise: reported to libFuzzer as a crash, with the reason.
[[noreturn]] inline void broken(const std::string& what) {
    std::fprintf(stderr, "kelvara fuzz: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void removeFolderContents(const std::string& folder) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") ::unlink((folder + "/" + name).c_str());
        }
        ::closedir(dir);
    }
}

inline std::vector<std::string> folderContents(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

// Once per process: console output discarded, standard input at its end (so that every prompt
// meets the end of input), and a fresh scratch folder, removed at exit.
inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) broken("no /dev/null");
        if (std::freopen("/dev/null", "r", stdin) == nullptr) broken("no /dev/null");
        struct stat st {};
        std::string pattern = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) &&
                                      ::access("/dev/shm", W_OK) == 0
                                  ? "/dev/shm/kelvara-fuzz-XXXXXX"
                                  : "/tmp/kelvara-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) broken("mkdtemp failed");
        static std::string created = pattern;
        std::atexit([] {
            removeFolderContents(created);
            ::rmdir(created.c_str());
        });
        return pattern;
    }();
    return folder;
}

inline std::string scratchFile(const std::string& name) { return scratchFolder() + "/" + name; }

inline void writeFile(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) broken("cannot write " + path);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        broken("cannot write " + path);
    std::fclose(f);
}

// The input cut at every separator, at most maxParts parts (the last takes the rest).
inline std::vector<std::string> splitParts(std::string_view data, std::size_t maxParts) {
    std::vector<std::string> parts;
    while (parts.size() + 1 < maxParts) {
        std::size_t p = data.find(kPartSeparator);
        if (p == std::string_view::npos) break;
        parts.emplace_back(data.substr(0, p));
        data.remove_prefix(p + kPartSeparator.size());
    }
    parts.emplace_back(data);
    return parts;
}

// Whether a file is exactly what the dataset writer produces: the 92-byte header, whole steps
// of the size its counts give, each opened by card 200, and the end card last. Only the cards
// are read, so that a large output costs little to check.
inline bool isWrittenDataset(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    auto loadAt = [f](std::int64_t at, std::int32_t& value) {
        unsigned char b[4];
        if (fseeko(f, static_cast<off_t>(at), SEEK_SET) != 0 || std::fread(b, 1, 4, f) != 4)
            return false;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b[i]) << (8 * i);
        value = static_cast<std::int32_t>(v);
        return true;
    };
    bool ok = false;
    std::int32_t begin = 0, nodes = 0, cells = 0, card = 0;
    fseeko(f, 0, SEEK_END);
    const std::int64_t size = ftello(f);
    if (size >= kWrittenHeaderBytes + 4 && loadAt(28, begin) && loadAt(36, nodes) &&
        loadAt(44, cells) && nodes >= 0 && cells >= 0) {
        const std::int64_t step = writtenStepBytes(begin == kCardBeginVector, nodes, cells);
        const std::int64_t body = size - kWrittenHeaderBytes - 4;
        ok = body % step == 0;
        for (std::int64_t at = kWrittenHeaderBytes; ok && at < kWrittenHeaderBytes + body;
             at += step)
            ok = loadAt(at, card) && card == kCardStep;
        ok = ok && loadAt(size - 4, card) && card == kCardEnd;
    }
    std::fclose(f);
    return ok;
}

// The output a command line names (its full path), as the driver builds it.
inline std::string outputNameOf(const std::vector<std::string>& args) {
    RunOptions options;
    CommandLineError error;
    if (!PARSE_COMMAND_LINE(args, options, error) || !BUILD_OUTPUT_NAME(options))
        broken("the fuzz target gave a command line the tool rejects");
    return options.fileNames[0];
}

// Runs the tool on files of the scratch folder (arguments without the program name, file names
// in full) and checks the outcome: it finished, or stopped with status 1 leaving no output and
// no hidden file behind; a finished run leaves a well-formed dataset.
inline void runToolChecked(const std::vector<std::string>& args) {
    const std::string output = outputNameOf(args);

    const std::vector<std::string> before = folderContents(scratchFolder());
    std::string console;
    const int status = runCommandLineText(args, console);
    for (int unit = kUnitBase + 1; unit <= kUnitBase + kUnitCount; ++unit)
        if (unitStream(unit) != nullptr) broken("left unit " + std::to_string(unit) + " open");

    struct stat st {};
    const bool outputExists = ::stat(output.c_str(), &st) == 0;
    if (status != 0 && status != 1) broken("exit status " + std::to_string(status));
    if (status == 0 && !outputExists) broken("finished without its output " + output);
    if (status == 1 && outputExists) broken("stopped on an error but left " + output);
    if (status == 0 && !isWrittenDataset(output))
        broken("finished with a malformed output " + output);
    for (const auto& name : folderContents(scratchFolder())) {
        if (scratchFile(name) == output) continue;
        bool known = false;
        for (const auto& b : before) known = known || b == name;
        if (!known) broken("left an unexpected file " + name);
    }
    ::unlink(output.c_str());
}

}  // namespace kelvara::fuzz
