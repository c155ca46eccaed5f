// The command line: the input is the list of arguments, separated by NUL bytes. Every command
// line is classified and checked, and the output name built; a command line that names no file
// also runs the tool's front end to its end (usage text, error stops).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvara;
    using namespace kelvara::fuzz;
    scratchFolder();  // console discarded, standard input at its end
    std::vector<std::string> args;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty() && args.size() < 300) {
        std::size_t p = rest.find('\0');
        args.emplace_back(rest.substr(0, p));
        rest.remove_prefix(p == std::string_view::npos ? rest.size() : p + 1);
    }

    RunOptions options;
    CommandLineError error;
    const bool accepted = PARSE_COMMAND_LINE(args, options, error);
    if (accepted == (error.kind != CommandLineError::Kind::None))
        broken("result and error kind disagree");
    // The names are the output's entry and the inputs, and for -dif and -ddur perhaps one more
    // name after the inputs: the output's.
    const std::size_t named = static_cast<std::size_t>(options.fileCount) + 1;
    if (options.fileCount < 0 || options.fileCount > kMaxInputs ||
        (options.fileNames.size() != named &&
         !(options.fileNames.size() == named + 1 && options.shape().lastNameNamesOutput)))
        broken("name table out of step with fileCount");
    for (std::size_t i = 1; i < options.fileNames.size(); ++i)
        if (options.fileNames[i].size() > kArgumentLength) broken("file name over 1000 characters");
    if (options.operation.label.size() > kLabelLength) broken("label over 100 characters");
    if (accepted && !options.showUsage) {
        const int count = options.fileCount;
        if (BUILD_OUTPUT_NAME(options)) {
            if (options.fileNames[0].empty()) broken("empty output name");
            // Only -hazard adds a name: the velocities found beside the depths.
            const bool companion =
                options.operation.kind == OperationKind::Hazard && count == 1;
            if (options.fileCount > count + (companion ? 1 : 0)) broken("fileCount grew");
        }
    }

    if (options.fileCount == 0 && options.operation.ensemble.runsList.empty()) {
        // No file is named (nor a list of runs), so the tool stops before it opens anything.
        std::vector<std::string> store = {"kelvara"};
        store.insert(store.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : store) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int status = kelvara_run(static_cast<int>(store.size()), argv.data());
        if (status != 0 && status != 1) broken("returned status " + std::to_string(status));
    }
    return 0;
}
