// The dataset reader through every operation that needs no mesh. The first byte chooses the
// command line; the rest is one or two datasets separated by "|NEXT|" (a missing second
// dataset is a copy of the first).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"

namespace {


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvara::fuzz;
    if (size == 0) return 0;
    const auto& commands = kelvara::fuzz::datasetCommands();
    const auto& command = commands[data[0] % commands.size()];
    const auto parts =
        splitParts({reinterpret_cast<const char*>(data) + 1, size - 1}, 2);

    const std::string first = scratchFile("run_d.dat");
    const std::string second = scratchFile("base_d.dat");
    writeFile(first, parts[0]);
    writeFile(second, parts.size() > 1 ? parts[1] : parts[0]);

    std::vector<std::string> args = {"-b"};
    args.insert(args.end(), command.flags.begin(), command.flags.end());
    args.push_back(first);
    if (command.inputs == 2) args.push_back(second);
    runToolChecked(args);
    return 0;
}
