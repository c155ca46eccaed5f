// A run's peak at every node, read one step at a time: the model's own maximum (the step at
// 99999) when the file has one; else the 111111 step of a maximum written by this tool (its
// 222222 step, when there, marks nodes that never had a value); else the greatest value over the
// ordinary steps (times between -99998 and 99998). Vectors count by their magnitude. Water
// levels count only at corners of cells active in the step, as the maximum of the tool counts
// them. A node without a value has NaN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ensemble/run_list.h"
#include "formats/dataset.h"

namespace kelvara {

class DatasetReader;

// Marks the nodes that are corners of wet cells (flag 1) in the step just taken in, kept up to
// date from one step to the next by visiting only the cells whose flag changed: in a flood most
// cells stay wet or dry from one output time to the next, and so do they from one run's peak to
// the next run's.
class WetNodes {
public:
    // Corner node numbers from 1, cell c at entry c of each table (0: no corner); numbers
    // outside [1, nodeCount] are dropped.
    WetNodes(std::size_t nodeCount, std::vector<std::int32_t> corners[4]);
    void update(const std::int8_t* active);
    // Entry n (from 0) is 1 where node n + 1 is a corner of a wet cell.
    const unsigned char* wet() const { return wet_.data() + 1; }
    std::size_t cellCount() const { return wasWet_.size(); }

private:
    std::vector<std::int32_t> corners_[4];
    std::vector<unsigned char> wet_;  // entry 0: the sink of dropped corners
    std::vector<std::uint32_t> wetCorners_;
    std::vector<unsigned char> wasWet_;
};

// Reads the corners of the mesh at meshPath for water levels (nodeCount and cellCount of the
// runs). Errors name the mesh; its warnings go to messages.
std::unique_ptr<WetNodes> readWetNodesMesh(const std::string& meshPath, std::int32_t nodeCount,
                                           std::int32_t cellCount, const EnsembleMessages& messages);

// Which step a run's peak came from.
enum class PeakSource { ModelMaximum, MaximumOutput, OrdinarySteps };

// Reads the header of a run (an Error names it when it holds no dataset).
DatasetHeader readRunHeader(const std::string& path);

class PeakReader {
public:
    // first: the header every run must match; wetNodes: for water levels, else nullptr.
    PeakReader(const DatasetHeader& first, WetNodes* wetNodes);

    // Reads the run at path into peak (nodeCount values) and sets to 1 the entries of
    // activeAny (cellCount flags) of cells active in a step it used. Throws Error naming the
    // file for counts or a form (vector or scalar) unlike the first run's, and for a run with no
    // step to take a peak from.
    PeakSource read(const std::string& path, float* peak, std::int8_t* activeAny,
                    const EnsembleMessages& messages);

private:
    // Reads the steps that wanted accepts from the reader's position on, into peak.
    void readSteps(DatasetReader& reader, PeakSource source, const std::function<bool(float)>& wanted,
                   float* peak, std::int8_t* activeAny);

    DatasetHeader first_;
    WetNodes* wetNodes_;
    std::vector<std::int8_t> active_;
    std::vector<float> values1_, values2_, noValue_;
    // Whether the next run is expected to hold the model's maximum, as the one before did.
    bool expectModelMaximum_ = true;
};

}  // namespace kelvara
