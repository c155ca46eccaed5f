#include "ensemble/peaks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "ensemble/quiet.h"
#include "fileio/error.h"
#include "fileio/platform.h"
#include "fileio/units.h"
#include "formats/dataset_io.h"
#include "formats/mesh.h"
#include "util/text.h"

namespace kelvara {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kModelMaximumTime = 99999.0f;
constexpr float kMaximumTime = 111111.0f;
constexpr float kInputNumberTime = 222222.0f;
// A scalar counts as a value only above this, as in the maximum of the tool.
constexpr float kNoValueBelow = -99998.0f;

bool near(float t, float at, float within) { return std::fabs(t - at) <= within; }
bool isModelMaximum(float t) { return near(t, kModelMaximumTime, 0.001f); }
bool isMaximumOutput(float t) { return near(t, kMaximumTime, 0.01f); }
bool isInputNumbers(float t) { return near(t, kInputNumberTime, 0.01f); }
bool isOrdinary(float t) { return t > -99998.0f && t < 99998.0f; }

// The warnings of a reader reach the caller; its other lines (headers, times) do not.
MessageSink warningsOnly(const EnsembleMessages& messages) {
    return [messages](const std::string& line) {
        if (messages && line.rfind("WARNING - ", 0) == 0) messages(line);
    };
}

DatasetReader openRun(const std::string& path, const EnsembleMessages& messages) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw errorLine("ERROR - Unable to open the run " + path + ".");
    std::setvbuf(f, nullptr, _IOFBF, 1 << 18);
    return DatasetReader(fileSource(f, true), path, warningsOnly(messages));
}

// peak takes value where value counts and is greater (NaN peaks take any value that counts).
void keepGreater(std::size_t n, const float* __restrict v, float* __restrict peak) {
    for (std::size_t k = 0; k < n; ++k) {
        const float x = v[k];
        const bool take = x > kNoValueBelow && !(x <= peak[k]);
        peak[k] = take ? x : peak[k];
    }
}

void keepGreaterWet(std::size_t n, const unsigned char* __restrict wet, const float* __restrict v,
                    float* __restrict peak) {
    for (std::size_t k = 0; k < n; ++k) {
        const float x = v[k];
        const bool take = wet[k] != 0 && x > kNoValueBelow && !(x <= peak[k]);
        peak[k] = take ? x : peak[k];
    }
}

void keepGreaterMagnitude(std::size_t n, const float* __restrict m, float* __restrict peak) {
    for (std::size_t k = 0; k < n; ++k) {
        const bool take = m[k] == m[k] && !(m[k] <= peak[k]);
        peak[k] = take ? m[k] : peak[k];
    }
}

}  // namespace

WetNodes::WetNodes(std::size_t nodeCount, std::vector<std::int32_t> corners[4])
    : wet_(nodeCount + 1, 0), wetCorners_(nodeCount, 0), wasWet_(corners[0].size(), 0) {
    const auto nodes = static_cast<std::uint32_t>(nodeCount);
    for (int c = 0; c < 4; ++c) {
        corners_[c] = std::move(corners[c]);
        corners_[c].resize(wasWet_.size(), 0);
        for (std::int32_t& n : corners_[c]) {
            if (static_cast<std::uint32_t>(n) - 1u >= nodes) n = 0;
        }
    }
}

void WetNodes::update(const std::int8_t* active) {
    const std::size_t cells = wasWet_.size();
    for (std::size_t c = 0; c < cells; ++c) {
        const unsigned char now = active[c] == 1 ? 1 : 0;
        if (now == wasWet_[c]) continue;
        wasWet_[c] = now;
        for (const auto& corner : corners_) {
            const std::int32_t node = corner[c];
            if (node == 0) continue;
            std::uint32_t& count = wetCorners_[static_cast<std::size_t>(node - 1)];
            count = now == 1 ? count + 1 : count - 1;
            wet_[static_cast<std::size_t>(node)] = count != 0 ? 1 : 0;
        }
    }
}

std::unique_ptr<WetNodes> readWetNodesMesh(const std::string& meshPath, std::int32_t nodeCount,
                                           std::int32_t cellCount, const EnsembleMessages& messages) {
    if (!platform::fileIdentity(meshPath).valid) {
        throw errorLine("ERROR - The mesh " + meshPath +
                        " cannot be found: water levels count only at nodes of wet cells, which "
                        "the mesh names.");
    }
    const auto nodes = static_cast<std::size_t>(nodeCount);
    const auto cells = static_cast<std::size_t>(cellCount);
    std::vector<float> elevation(nodes);
    std::vector<std::int32_t> corners[4];
    for (auto& c : corners) c.assign(cells, 0);
    ensemble_detail::quietly(messages, [&] {
        const int unit = OPENFILEUNIT("I ", meshPath);
        try {
            READ_2DM_ELEVATIONS(unit, elevation.data(), nodeCount, corners[0].data(),
                                corners[1].data(), corners[2].data(), corners[3].data(), cellCount);
        } catch (...) {
            CLOSEFILEUNIT(unit);
            throw;
        }
        CLOSEFILEUNIT(unit);
    });
    return std::make_unique<WetNodes>(nodes, corners);
}

DatasetHeader readRunHeader(const std::string& path) {
    DatasetReader reader = openRun(path, {});
    return reader.readHeader();
}

PeakReader::PeakReader(const DatasetHeader& first, WetNodes* wetNodes)
    : first_(first), wetNodes_(wetNodes) {
    const auto nodes = static_cast<std::size_t>(first.nodeCount);
    active_.resize(static_cast<std::size_t>(first.cellCount));
    values1_.resize(nodes);
    if (first.isVector) values2_.resize(nodes);
}

PeakSource PeakReader::read(const std::string& path, float* peak, std::int8_t* activeAny,
                            const EnsembleMessages& messages) {
    DatasetReader reader = openRun(path, messages);
    const DatasetHeader& h = reader.readHeader();
    if (h.nodeCount != first_.nodeCount || h.cellCount != first_.cellCount) {
        throw errorLine("ERROR - " + path + " has " + AINTEGER(h.nodeCount) + " nodes and " +
                        AINTEGER(h.cellCount) + " cells, the first run " +
                        AINTEGER(first_.nodeCount) + " nodes and " + AINTEGER(first_.cellCount) +
                        " cells: the runs of an ensemble share one mesh.");
    }
    if (h.isVector != first_.isVector) {
        throw errorLine("ERROR - " + path + " holds " + (h.isVector ? "vectors" : "single values") +
                        ", the first run " + (first_.isVector ? "vectors" : "single values") +
                        ": the runs of an ensemble are of one type.");
    }
    const auto nodes = static_cast<std::size_t>(h.nodeCount);
    const auto cells = static_cast<std::size_t>(h.cellCount);

    // First the times alone (one seek past each step's values), to learn which steps to read.
    const std::int64_t firstStep = reader.stepPosition();
    bool modelMaximum = false, maximumOutput = false, inputNumbers = false, ordinary = false;
    {
        const std::function<bool(float)> none = [&](float t) {
            modelMaximum = modelMaximum || isModelMaximum(t);
            maximumOutput = maximumOutput || isMaximumOutput(t);
            inputNumbers = inputNumbers || isInputNumbers(t);
            ordinary = ordinary || isOrdinary(t);
            return false;
        };
        StepRequest request;
        request.wanted = &none;
        request.flags = FlagReading::PassOver;
        while (reader.hasStep()) reader.nextStep({}, request);
    }
    PeakSource source;
    std::function<bool(float)> wanted;
    if (modelMaximum) {
        source = PeakSource::ModelMaximum;
        wanted = isModelMaximum;
    } else if (maximumOutput) {
        source = PeakSource::MaximumOutput;
        wanted = [](float t) { return isMaximumOutput(t) || isInputNumbers(t); };
    } else if (ordinary) {
        source = PeakSource::OrdinarySteps;
        wanted = isOrdinary;
    } else {
        throw errorLine("ERROR - " + path +
                        " has no step to take a peak from: no maximum at 99999 or 111111 and no "
                        "ordinary output time.");
    }
    if (!reader.returnToStep(firstStep)) {
        throw errorLine("ERROR - Could not read " + path + " again from its first step.");
    }

    // Then the chosen steps' values and flags; a step without flags keeps the last flags seen,
    // every cell active before the first.
    for (std::size_t k = 0; k < nodes; ++k) peak[k] = std::numeric_limits<float>::quiet_NaN();
    std::fill(active_.begin(), active_.end(), std::int8_t{1});
    if (inputNumbers && source == PeakSource::MaximumOutput) noValue_.assign(nodes, 0.0f);
    bool noValueRead = false;
    StepRequest request;
    request.wanted = &wanted;
    request.flags = FlagReading::Defer;
    float* v2 = first_.isVector ? values2_.data() : nullptr;
    while (reader.hasStep()) {
        const StepRead step = reader.nextStep({active_.data(), values1_.data(), v2}, request);
        if (!step.valuesRead) continue;
        if (reader.hasDeferredFlags()) reader.readDeferredFlags(active_.data());
        if (source == PeakSource::MaximumOutput && isInputNumbers(step.time)) {
            std::copy(values1_.begin(), values1_.end(), noValue_.begin());
            noValueRead = true;
            continue;
        }
        for (std::size_t c = 0; c < cells; ++c) activeAny[c] |= active_[c] == 1 ? 1 : 0;
        if (first_.isVector) VECTOR_MAGNITUDES(values1_.data(), values2_.data(), values1_.data(), nodes);
        if (wetNodes_ != nullptr) {
            wetNodes_->update(active_.data());
            keepGreaterWet(nodes, wetNodes_->wet(), values1_.data(), peak);
        } else if (first_.isVector) {
            keepGreaterMagnitude(nodes, values1_.data(), peak);
        } else {
            keepGreater(nodes, values1_.data(), peak);
        }
    }
    // A maximum's input number 0: the node never had a value.
    if (noValueRead) {
        for (std::size_t k = 0; k < nodes; ++k) {
            if (noValue_[k] == 0.0f) peak[k] = std::numeric_limits<float>::quiet_NaN();
        }
    }
    return source;
}

}  // namespace kelvara
