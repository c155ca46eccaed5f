// The water-level paths: datasets read together with their meshes (-max over wet cells, -dif
// with the wet/dry test and its companion water levels). The first byte chooses the command
// line; the rest holds, separated by "|NEXT|": run_h.dat, run.2dm, base_h.dat, base.2dm,
// run_d.dat, base_d.dat. A missing dataset repeats the one it stands in for (base_h.dat the
// run's, run_d.dat and base_d.dat the water levels), a missing base.2dm repeats run.2dm, and a
// missing run.2dm is absent, so that the run meets a mesh that cannot be found.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"

namespace {

struct Command {
    std::vector<std::string> flags;
    std::vector<const char*> inputs;
};

const Command kCommands[] = {
    {{"-max"}, {"run_h.dat"}},
    {{"-max"}, {"run_h.dat", "base_h.dat"}},
    {{"-max", "-t1"}, {"run_h.dat"}},
    {{"-dif"}, {"run_h.dat", "base_h.dat"}},
    {{"-dif"}, {"run_d.dat", "base_d.dat"}},
    {{"-dif"}, {"run_d.dat", "base_h.dat"}},
    {{"-dif", "-t1"}, {"run_h.dat", "base_h.dat"}},
    {{"-ddur0.1", "-t5"}, {"run_h.dat", "base_h.dat"}},
};
constexpr std::size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvara::fuzz;
    if (size == 0) return 0;
    const Command& command = kCommands[data[0] % kCommandCount];
    const auto parts = splitParts({reinterpret_cast<const char*>(data) + 1, size - 1}, 6);
    auto part = [&parts](std::size_t i, std::size_t instead) -> const std::string& {
        return parts[i < parts.size() ? i : instead];
    };

    removeFolderContents(scratchFolder());
    writeFile(scratchFile("run_h.dat"), parts[0]);
    if (parts.size() > 1) {
        writeFile(scratchFile("run.2dm"), parts[1]);
        writeFile(scratchFile("base.2dm"), part(3, 1));
    }
    writeFile(scratchFile("base_h.dat"), parts.size() > 2 ? parts[2] : parts[0]);
    writeFile(scratchFile("run_d.dat"), parts.size() > 4 ? parts[4] : parts[0]);
    writeFile(scratchFile("base_d.dat"), parts.size() > 5 ? parts[5] : part(2, 0));

    std::vector<std::string> args = {"-b"};
    args.insert(args.end(), command.flags.begin(), command.flags.end());
    for (const char* name : command.inputs) args.push_back(scratchFile(name));
    runToolChecked(args);
    return 0;
}
