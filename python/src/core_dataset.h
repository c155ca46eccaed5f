// The module's view of the core's dataset reader, dataset writer and mesh reader: the few calls
// the bindings need, over whatever form the core gives them. Every call is made inside
// kelvara_python::inCore (module.cpp): console captured, errors thrown as kelvara::Error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/dataset.h"
#include "formats/dataset_io.h"
#include "formats/mesh.h"

namespace kelvara_python {

// One dataset open for reading.
class CoreDataset {
public:
    CoreDataset() = default;
    CoreDataset(const CoreDataset&) = delete;
    CoreDataset& operator=(const CoreDataset&) = delete;

    // Opens path and reads its header; on an error nothing stays open.
    void open(const std::string& path);
    bool isOpen() const { return reader_ != nullptr; }
    const kelvara::DatasetHeader& header() const { return header_; }
    int flagSize() const { return flagSize_; }
    // Card 250: 0 hours (no card), 1 minutes, 2 seconds, 4 days, any other code unknown.
    std::int32_t timeUnits() const { return timeUnits_; }
    // Whether a step follows.
    bool hasStep();
    // Reads the next step: time; active (cellCount bytes, written only when the step has flags,
    // the result); values (nodeCount reals, or nodeCount (x, y) pairs for vectors).
    bool readStep(std::int8_t* active, float* values, float& time);
    void close();

private:
    std::unique_ptr<kelvara::DatasetReader> reader_;
    kelvara::DatasetHeader header_;  // kept after the close, for the attributes
    int flagSize_ = 1;
    std::int32_t timeUnits_ = 0;
    std::vector<float> first_, second_;  // vector components on their way to pairs
};

// One dataset being written beside its final name.
class CoreOutput {
public:
    CoreOutput() = default;
    CoreOutput(const CoreOutput&) = delete;
    CoreOutput& operator=(const CoreOutput&) = delete;

    void open(const std::string& path, std::int32_t nodeCount, std::int32_t cellCount,
              bool isVector, const std::string& name);
    bool isOpen() const { return unit_ != 0; }
    std::int32_t nodeCount() const { return nodeCount_; }
    std::int32_t cellCount() const { return cellCount_; }
    bool isVector() const { return isVector_; }
    // active: one byte per cell, non-zero for an active one; null: every cell active. values as
    // CoreDataset::readStep gives them.
    void writeStep(float time, const std::int8_t* active, const float* values);
    // The end card; the file then takes its name.
    void finish();
    // Removes the unfinished file; an earlier file of the name stays as it was.
    void abandon();

private:
    int unit_ = 0;
    std::int32_t nodeCount_ = 0;
    std::int32_t cellCount_ = 0;
    bool isVector_ = false;
    std::unique_ptr<kelvara::DatasetWriter> writer_;
    std::vector<std::int8_t> flags_;  // 1 for an active cell, 0 for another
    std::vector<float> first_, second_;  // pairs on their way to the two components
};

// Reads the mesh at path: its own node and cell counts are the highest numbers its "ND" and
// element lines give. A file without a node line is an error.
void readMeshFile(const std::string& path, kelvara::MeshGeometry& mesh);

}  // namespace kelvara_python
