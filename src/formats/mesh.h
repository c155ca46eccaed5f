// The text mesh (".2dm") reader: ground elevations from the "ND" lines and the corner nodes of
// every cell from the element lines; everything else is skipped. Two entries share one parser:
// READ_2DM_ELEVATIONS keeps only what the wet/dry tests need, READ_2DM_GEOMETRY also keeps the
// node coordinates and the cells in file order, for drawing the mesh (grids).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/dataset_io.h"  // MessageSink

namespace kelvara {

// Elevation of a node that no "ND" line names.
constexpr float kNoElevation = -99999.0f;

// Reads the mesh on stream (named name in messages) from its current position to its end (the
// stream stays open). The reader neither prints nor pauses: "...reading .2dm file" and the
// warning of nodes left without an elevation go to messages; failures throw kelvara::Error
// with the lines that report them. Returns the number of nodes left without an elevation.
// The tool's entries READ_2DM_ELEVATIONS and READ_2DM_GEOMETRY (tool/mesh_input.cpp) read a
// unit of the run and pause after the warning.
// Tables are indexed from 0: node n of the file is nodeElevation[n - 1], cell c is entry
// c - 1 of the corner tables. Corner tables hold the file's node numbers (from 1) in this order:
//   "E4Q c A B C D": first A, second D, third C, fourth B
//   "E3T c A B C":   first A, second C, third B, fourth left as it was (0 unless set before)
// so a 0 in fourth marks a triangle. Six- and eight-node elements ("E6T c A m B m C m",
// "E8Q c A m B m C m D m", with mid-side nodes m) give their corners A B C (D) as "E3T"
// ("E4Q") would. Every elevation starts at kNoElevation, every corner at 0.
// Whole lines are read, however long; numbers are separated by blanks or commas and must be
// finite. An unreadable line, or a node, cell or corner number outside the dataset's counts,
// is an Error (the message shows the line's first 100 characters); nodes left without an
// elevation give a warning naming how many they are.
std::int64_t readMeshElevations(std::FILE* stream, const std::string& name,
                                const MessageSink& messages, float* nodeElevation,
                                std::int32_t nodeCount, std::int32_t* first, std::int32_t* second,
                                std::int32_t* third, std::int32_t* fourth, std::int32_t cellCount);
void READ_2DM_ELEVATIONS(int unit, float* nodeElevation, std::int32_t nodeCount,
                         std::int32_t* first, std::int32_t* second, std::int32_t* third,
                         std::int32_t* fourth, std::int32_t cellCount);

// A mesh as READ_2DM_GEOMETRY keeps it. Node n is entry n - 1 of x, y and elevation; cell c is
// entry c - 1 of cells.
struct MeshGeometry {
    std::vector<double> x, y;       // NaN where no "ND" line names the node
    std::vector<float> elevation;   // kNoElevation where no "ND" line names the node
    // Corner node numbers (from 1) in the order of the file, a 0 fourth for a triangle; all
    // four 0 for a cell that no element line names.
    std::vector<std::array<std::int32_t, 4>> cells;
    std::int32_t meshNodeCount = 0;  // highest node number of an "ND" line
    std::int32_t meshCellCount = 0;  // highest cell number of an element line
};

// As READ_2DM_ELEVATIONS, for tables of nodeCount nodes and cellCount cells (the dataset's
// counts, which the mesh's numbers must not exceed), into mesh; corners are kept in the file's
// order (for "E4Q c A B C D": A, B, C, D).
std::int64_t readMeshGeometry(std::FILE* stream, const std::string& name,
                              const MessageSink& messages, std::int32_t nodeCount,
                              std::int32_t cellCount, MeshGeometry& mesh);
void READ_2DM_GEOMETRY(int unit, std::int32_t nodeCount, std::int32_t cellCount,
                       MeshGeometry& mesh);

}  // namespace kelvara
