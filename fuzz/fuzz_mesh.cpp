// The mesh reader on its own: the first two bytes give the dataset's node and cell counts
// (0 to 63), the rest is the mesh text. The tables are exactly as long as the counts, so that
// any store outside them is caught.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/mesh.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvara;
    using namespace kelvara::fuzz;
    if (size < 2) return 0;
    const std::int32_t nodes = data[0] % 64;
    const std::int32_t cells = data[1] % 64;
    const std::string path = scratchFile("run.2dm");
    writeFile(path, {reinterpret_cast<const char*>(data) + 2, size - 2});

    std::vector<float> elevation(static_cast<std::size_t>(nodes));
    std::vector<std::vector<std::int32_t>> corners(4, std::vector<std::int32_t>(cells));
    kelvara::INITFILEUNITS();
    ErrorScope scope;
    try {
        const int unit = kelvara::OPENFILEUNIT("I ", path);
        READ_2DM_ELEVATIONS(unit, elevation.data(), nodes, corners[0].data(), corners[1].data(),
                            corners[2].data(), corners[3].data(), cells);
        kelvara::CLOSEFILEUNIT(unit);
    } catch (const Error&) {
        return 0;
    }
    // Corners kept are node numbers of the mesh, or 0 where none was given.
    for (const auto& table : corners)
        for (std::int32_t corner : table)
            if (corner < 0 || corner > nodes) broken("corner " + std::to_string(corner) + " kept");
    return 0;
}
