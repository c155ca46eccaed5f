// The node-elevation reader of the text mesh (".2dm"): ground elevations from the "ND" lines and
// the corner nodes of every cell from the "E3T" and "E4Q" lines; everything else is skipped.
#pragma once

#include <cstdint>

namespace kelvara {

// Elevation of a node that no "ND" line names.
constexpr float kNoElevation = -99999.0f;

// Reads the mesh on an open text unit from its current position to its end (the unit stays
// open). Tables are indexed from 0: node n of the file is nodeElevation[n - 1], cell c is entry
// c - 1 of the corner tables. Corner tables hold the file's node numbers (from 1) in this order:
//   "E4Q c A B C D": first A, second D, third C, fourth B
//   "E3T c A B C":   first A, second C, third B, fourth left as it was (0 unless set before)
// so a 0 in fourth marks a triangle. Every elevation starts at kNoElevation, every corner at 0.
// Lines are seen through a 100-character buffer; numbers are separated by blanks or commas.
// An unreadable line, or a node, cell or corner number outside the dataset's counts, ends the
// run through FATALSTOP; a count of "ND" lines other than nodeCount gives a warning and a pause.
void READ_2DM_ELEVATIONS(int unit, float* nodeElevation, std::int32_t nodeCount,
                         std::int32_t* first, std::int32_t* second, std::int32_t* third,
                         std::int32_t* fourth, std::int32_t cellCount);

}  // namespace kelvara
