#include "core_dataset.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <limits>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"

namespace kelvara_python {

void CoreDataset::open(const std::string& path) {
    close();
    // The reader's lines go to the console of the call (captured by the module).
    auto reader = std::make_unique<kelvara::DatasetReader>(kelvara::DatasetReader::open(
        path, [](const std::string& line) { kelvara::consoleLine(line); }));
    header_ = reader->readHeader();
    flagSize_ = reader->flagSize();
    timeUnits_ = reader->timeUnits();
    reader_ = std::move(reader);
}

bool CoreDataset::hasStep() { return reader_ != nullptr && reader_->hasStep(); }

bool CoreDataset::readStep(std::int8_t* active, float* values, float& time) {
    const auto nodes = static_cast<std::size_t>(header_.nodeCount);
    kelvara::StepRead read;
    if (!header_.isVector) {
        read = reader_->nextStep({active, values, nullptr});
    } else {
        first_.resize(nodes);
        second_.resize(nodes);
        read = reader_->nextStep({active, first_.data(), second_.data()});
        for (std::size_t i = 0; i < nodes; ++i) {
            values[2 * i] = first_[i];
            values[2 * i + 1] = second_[i];
        }
    }
    time = read.time;
    return read.hasFlags;
}

void CoreDataset::close() {
    reader_.reset();
    std::vector<float>().swap(first_);
    std::vector<float>().swap(second_);
}

// ---- Output ---------------------------------------------------------------------------------

void CoreOutput::open(const std::string& path, std::int32_t nodeCount, std::int32_t cellCount,
                      bool isVector, const std::string& name) {
    abandon();
    // The file unit writes beside the final name and moves the file there when it is closed.
    unit_ = kelvara::OPENFILEUNIT("BO", path);
    try {
        kelvara::markRunOutput(unit_);
        nodeCount_ = nodeCount;
        cellCount_ = cellCount;
        isVector_ = isVector;
        writer_ = std::make_unique<kelvara::DatasetWriter>(
            kelvara::fileSink(kelvara::unitStream(unit_), false), path);
        // The header takes the dataset's name from a file name, as the tool's outputs do.
        writer_->writeHeader(nodeCount, cellCount, isVector, name + ".dat");
    } catch (...) {
        abandon();
        throw;
    }
}

void CoreOutput::writeStep(float time, const std::int8_t* active, const float* values) {
    const auto nodes = static_cast<std::size_t>(nodeCount_);
    const auto cells = static_cast<std::size_t>(cellCount_);
    flags_.resize(cells);
    if (active == nullptr) {
        std::fill(flags_.begin(), flags_.end(), std::int8_t{1});
    } else {
        for (std::size_t i = 0; i < cells; ++i) flags_[i] = active[i] != 0 ? 1 : 0;
    }
    try {
        if (!isVector_) {
            writer_->writeStep(time, flags_.data(), values, nullptr);
            return;
        }
        first_.resize(nodes);
        second_.resize(nodes);
        for (std::size_t i = 0; i < nodes; ++i) {
            first_[i] = values[2 * i];
            second_[i] = values[2 * i + 1];
        }
        writer_->writeStep(time, flags_.data(), first_.data(), second_.data());
    } catch (...) {
        abandon();
        throw;
    }
}

void CoreOutput::finish() {
    if (unit_ == 0) return;
    try {
        writer_->writeEnd();
    } catch (...) {
        abandon();
        throw;
    }
    writer_.reset();
    const int unit = unit_;
    unit_ = 0;
    kelvara::CLOSEFILEUNIT(unit);  // moves the file into place; a failure leaves nothing
}

void CoreOutput::abandon() {
    writer_.reset();
    if (unit_ == 0) return;
    const int unit = unit_;
    unit_ = 0;
    kelvara::abandonUnit(unit);
}

// ---- Mesh -----------------------------------------------------------------------------------

namespace {

// The number after the keyword of a node or element line, or 0.
std::int64_t numberAfter(const char* line, std::size_t skip) {
    const char* p = line + skip;
    while (*p == ' ' || *p == '\t' || *p == ',') ++p;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(p, &end, 10);
    return end == p || errno != 0 ? 0 : n;
}

}  // namespace

void readMeshFile(const std::string& path, kelvara::MeshGeometry& mesh) {
    const int unit = kelvara::OPENFILEUNIT("I ", path);
    try {
        // The mesh's own counts: the highest node and cell numbers it names.
        std::FILE* stream = kelvara::unitStream(unit);
        std::int64_t highestNode = 0, highestCell = 0, nodeLines = 0, cellLines = 0;
        char* line = nullptr;
        std::size_t capacity = 0;
        while (getline(&line, &capacity, stream) >= 0) {
            if (line[0] == 'N' && line[1] == 'D') {
                highestNode = std::max(highestNode, numberAfter(line, 2));
                ++nodeLines;
            } else if (line[0] == 'E' && line[1] != '\0' && line[2] != '\0' &&
                       (std::strncmp(line, "E3T", 3) == 0 || std::strncmp(line, "E4Q", 3) == 0 ||
                        std::strncmp(line, "E6T", 3) == 0 || std::strncmp(line, "E8Q", 3) == 0)) {
                highestCell = std::max(highestCell, numberAfter(line, 3));
                ++cellLines;
            }
        }
        std::free(line);
        // Text, a dataset, an empty file: the reader passes over every line it does not know,
        // so a file without a single node line is no mesh rather than an empty one.
        if (nodeLines == 0) {
            throw kelvara::errorLine("ERROR - " + path +
                                     " holds no mesh: it has no node line (ND).");
        }
        // Numbers far beyond the lines that could fill them would only ask for huge tables.
        constexpr std::int64_t kSlack = 1 << 20;
        if (highestNode > 4 * nodeLines + kSlack || highestCell > 4 * cellLines + kSlack ||
            highestNode > std::numeric_limits<std::int32_t>::max() ||
            highestCell > std::numeric_limits<std::int32_t>::max()) {
            throw kelvara::errorLine("ERROR - The node or cell numbers of " + path +
                                     " run far beyond its lines: the mesh is damaged.");
        }
        kelvara::rewindUnit(unit);
        kelvara::READ_2DM_GEOMETRY(unit, static_cast<std::int32_t>(highestNode),
                                   static_cast<std::int32_t>(highestCell), mesh);
    } catch (...) {
        kelvara::abandonUnit(unit);  // closed without a line, so that the error's lines end it
        throw;
    }
    kelvara::CLOSEFILEUNIT(unit);
}

}  // namespace kelvara_python
