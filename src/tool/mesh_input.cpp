// The tool's entries of the mesh reader: a mesh on a unit of the run, its messages on the run's
// console, and the pause after its warning.
#include <string>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/mesh.h"
#include "util/text.h"

namespace kelvara {
namespace {

std::FILE* meshStream(int unit) {
    std::FILE* stream = unitStream(unit);
    if (stream == nullptr)
        throw errorLine("ERROR - File unit " + AINTEGER(unit) + " is not open.", ErrorCode::Internal);
    return stream;
}

void toConsole(const std::string& line) { consoleLine(line); }

}  // namespace

void READ_2DM_ELEVATIONS(int unit, float* nodeElevation, std::int32_t nodeCount,
                         std::int32_t* first, std::int32_t* second, std::int32_t* third,
                         std::int32_t* fourth, std::int32_t cellCount) {
    std::FILE* stream = meshStream(unit);
    if (readMeshElevations(stream, unitName(unit), toConsole, nodeElevation, nodeCount, first,
                           second, third, fourth, cellCount) > 0)
        PAUSECONSOLE();
}

void READ_2DM_GEOMETRY(int unit, std::int32_t nodeCount, std::int32_t cellCount,
                       MeshGeometry& mesh) {
    std::FILE* stream = meshStream(unit);
    if (readMeshGeometry(stream, unitName(unit), toConsole, nodeCount, cellCount, mesh) > 0)
        PAUSECONSOLE();
}

}  // namespace kelvara
