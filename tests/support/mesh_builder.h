// Small meshes written out in a test: node coordinates and cells, without a .2dm file.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "formats/mesh.h"

namespace kelvara::test {

// A mesh from node coordinates and cells (corners from 1, a 0 fourth for triangles), the bed at
// 0 everywhere.
inline MeshGeometry makeMesh(const std::vector<std::array<double, 2>>& nodes,
                             const std::vector<std::array<std::int32_t, 4>>& cells) {
    MeshGeometry mesh;
    for (const auto& n : nodes) {
        mesh.x.push_back(n[0]);
        mesh.y.push_back(n[1]);
        mesh.elevation.push_back(0.0f);
    }
    mesh.cells = cells;
    mesh.meshNodeCount = static_cast<std::int32_t>(nodes.size());
    mesh.meshCellCount = static_cast<std::int32_t>(cells.size());
    return mesh;
}

}  // namespace kelvara::test
