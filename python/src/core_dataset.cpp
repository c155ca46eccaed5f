#include "core_dataset.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <limits>

#include "fileio/error.h"
#include "fileio/units.h"

namespace kelvara_python {
namespace {

std::int32_t loadInt(const unsigned char* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) |
                                     (static_cast<std::uint32_t>(p[1]) << 8) |
                                     (static_cast<std::uint32_t>(p[2]) << 16) |
                                     (static_cast<std::uint32_t>(p[3]) << 24));
}

}  // namespace

void CoreDataset::open(const std::string& path) {
    close();
    header_ = kelvara::DatasetHeader{};
    card_ = 0;
    unit_ = kelvara::OPENFILEUNIT("BI", path);
    try {
        kelvara::READ_DAT_HEADER(unit_, header_, card_, path);
        readHeaderCards(path);
    } catch (...) {
        close();
        throw;
    }
}

// The flag size (card 120) and time unit (card 250) of the header READ_DAT_HEADER has just
// read and checked: its cards once more, from the start of the file to where it stopped.
void CoreDataset::readHeaderCards(const std::string& path) {
    std::FILE* stream = kelvara::unitStream(unit_);
    const off_t end = ftello(stream);
    if (end < 0 || fseeko(stream, 0, SEEK_SET) != 0) {
        throw kelvara::errorLine("ERROR - Could not read " + path + ".");
    }
    unsigned char item[48];
    std::int32_t card = 0;
    auto take = [&](std::size_t n) { return std::fread(item, 1, n, stream) == n; };
    while (ftello(stream) < end && card != kelvara::kCardStep && take(4)) {
        card = loadInt(item);
        switch (card) {
            case kelvara::kCardObjectType:
            case kelvara::kCardFloatSize:
            case kelvara::kCardObjectId:
            case kelvara::kCardSflt:
            case kelvara::kCardValueCount:
            case kelvara::kCardCellCount: take(4); break;
            case kelvara::kCardFlagSize:
                if (take(4)) flagSize_ = loadInt(item);
                break;
            case kelvara::kCardName: take(kelvara::kDatasetNameLength); break;
            case kelvara::kCardReferenceTime: take(static_cast<std::size_t>(flagSize_) + 8); break;
            case kelvara::kCardTimeUnits:
                if (take(4)) timeUnits_ = loadInt(item);
                break;
            default: break;
        }
    }
    if (fseeko(stream, end, SEEK_SET) != 0) {
        throw kelvara::errorLine("ERROR - Could not read " + path + ".");
    }
}

bool CoreDataset::hasStep() const {
    return unit_ != 0 && card_ == kelvara::kCardStep && !kelvara::unitAtEnd(unit_);
}

bool CoreDataset::readStep(std::int8_t* active, float* values, float& time) {
    const auto nodes = static_cast<std::size_t>(header_.nodeCount);
    std::int64_t flagsAt = -1;
    const std::function<bool(float)> always = [](float) { return true; };
    if (!header_.isVector) {
        kelvara::READ_DAT_STEP(unit_, false, header_.nodeCount, header_.cellCount, active, values,
                               nullptr, time, card_, always, &flagsAt);
        return flagsAt >= 0;
    }
    first_.resize(nodes);
    second_.resize(nodes);
    kelvara::READ_DAT_STEP(unit_, true, header_.nodeCount, header_.cellCount, active,
                           first_.data(), second_.data(), time, card_, always, &flagsAt);
    for (std::size_t i = 0; i < nodes; ++i) {
        values[2 * i] = first_[i];
        values[2 * i + 1] = second_[i];
    }
    return flagsAt >= 0;
}

void CoreDataset::close() {
    if (unit_ == 0) return;
    const int unit = unit_;
    unit_ = 0;
    card_ = 0;
    std::vector<float>().swap(first_);
    std::vector<float>().swap(second_);
    kelvara::CLOSEFILEUNIT(unit);
}

// ---- Output ---------------------------------------------------------------------------------

void CoreOutput::open(const std::string& path, std::int32_t nodeCount, std::int32_t cellCount,
                      bool isVector, const std::string& name) {
    abandon();
    unit_ = kelvara::OPENFILEUNIT("BO", path);
    try {
        kelvara::markRunOutput(unit_);
        nodeCount_ = nodeCount;
        cellCount_ = cellCount;
        isVector_ = isVector;
        // The header takes the dataset's name from a file name, as the tool's outputs do.
        kelvara::WRITE_DAT_HEADER(unit_, nodeCount, cellCount, isVector, name + ".dat");
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
    active = flags_.data();
    try {
        if (!isVector_) {
            kelvara::WRITE_DAT_STEP(unit_, false, time, nodeCount_, cellCount_, active, values,
                                    nullptr);
            return;
        }
        first_.resize(nodes);
        second_.resize(nodes);
        for (std::size_t i = 0; i < nodes; ++i) {
            first_[i] = values[2 * i];
            second_[i] = values[2 * i + 1];
        }
        kelvara::WRITE_DAT_STEP(unit_, true, time, nodeCount_, cellCount_, active, first_.data(),
                                second_.data());
    } catch (...) {
        abandon();
        throw;
    }
}

void CoreOutput::finish() {
    if (unit_ == 0) return;
    try {
        kelvara::WRITE_DAT_END(unit_);
    } catch (...) {
        abandon();
        throw;
    }
    const int unit = unit_;
    unit_ = 0;
    kelvara::CLOSEFILEUNIT(unit);  // moves the file into place; a failure leaves nothing
}

void CoreOutput::abandon() {
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
        kelvara::CLOSEFILEUNIT(unit);
        throw;
    }
    kelvara::CLOSEFILEUNIT(unit);
}

}  // namespace kelvara_python
