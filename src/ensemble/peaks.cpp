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
#include "fileio/workers.h"
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
    // The stream's own small buffer: the large blocks of values and flags are read past it, and
    // each step passed over starts it afresh.
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw errorLine("ERROR - Unable to open the run " + path + ".");
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

// The first step's values read straight into the peak become the peak in place: a scalar
// counts only above kNoValueBelow; water levels only where wet.
void firstScalars(std::size_t n, float* __restrict peak) {
    for (std::size_t k = 0; k < n; ++k) peak[k] = peak[k] > kNoValueBelow ? peak[k] : kNaN;
}

void firstScalarsWet(std::size_t n, const unsigned char* __restrict wet, float* __restrict peak) {
    for (std::size_t k = 0; k < n; ++k) peak[k] = wet[k] != 0 && peak[k] > kNoValueBelow ? peak[k] : kNaN;
}

// Cells active in the step (flag 1) marked in activeAny, in parts.
void markActive(std::size_t cells, const std::int8_t* active, std::int8_t* activeAny) {
    forEachPart(cells, 4096, std::size_t{1} << 18, [=](std::size_t, std::size_t begin, std::size_t end) {
        const std::int8_t* __restrict from = active + begin;
        std::int8_t* __restrict into = activeAny + begin;
        for (std::size_t c = 0; c < end - begin; ++c) into[c] = static_cast<std::int8_t>(into[c] | (from[c] == 1 ? 1 : 0));
    });
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
    // Which steps the file has, as their times go by.
    bool modelMaximum = false, maximumOutput = false, ordinary = false;
    const auto note = [&](float t) {
        modelMaximum = modelMaximum || isModelMaximum(t);
        maximumOutput = maximumOutput || isMaximumOutput(t);
        ordinary = ordinary || isOrdinary(t);
    };
    const std::int64_t firstStep = reader.stepPosition();
    const auto again = [&] {
        if (!reader.returnToStep(firstStep)) {
            throw errorLine("ERROR - Could not read " + path + " again from its first step.");
        }
    };
    // A run like the one before it, holding the model's maximum, is read in one pass: that step
    // read, the others passed over (one seek each). Otherwise, or when it has none after all,
    // first the times alone, to learn which steps to read, then those steps.
    if (expectModelMaximum_) {
        const std::function<bool(float)> wanted = [&](float t) {
            note(t);
            return isModelMaximum(t);
        };
        readSteps(reader, PeakSource::ModelMaximum, wanted, peak, activeAny);
        if (modelMaximum) return PeakSource::ModelMaximum;
        expectModelMaximum_ = false;
        again();
    } else {
        const std::function<bool(float)> none = [&](float t) {
            note(t);
            return false;
        };
        StepRequest request;
        request.wanted = &none;
        request.flags = FlagReading::PassOver;
        while (reader.hasStep()) reader.nextStep({}, request);
        again();
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
    readSteps(reader, source, wanted, peak, activeAny);
    expectModelMaximum_ = source == PeakSource::ModelMaximum;
    return source;
}

void PeakReader::readSteps(DatasetReader& reader, PeakSource source,
                           const std::function<bool(float)>& wanted, float* peak,
                           std::int8_t* activeAny) {
    const auto nodes = static_cast<std::size_t>(first_.nodeCount);
    const auto cells = static_cast<std::size_t>(first_.cellCount);
    const bool vectors = first_.isVector;
    const bool maximumOutput = source == PeakSource::MaximumOutput;
    float* v2 = vectors ? values2_.data() : nullptr;
    // The first step used is read straight into the peak and made the peak in place, piece by
    // piece as it arrives (water levels: once the step's flags are read); each later one into
    // a table of its own and kept where greater, piece by piece too. A maximum's steps, whose
    // input numbers may come first or last, are read whole.
    bool firstRead = false, flagsKnown = false, noValueRead = false;
    const bool wet = wetNodes_ != nullptr;
    const PieceWork asFirst = [&](std::size_t, std::size_t b, std::size_t e) {
        if (vectors) {
            VECTOR_MAGNITUDES(peak + b, values2_.data() + b, peak + b, e - b);
        } else if (!wet) {
            firstScalars(e - b, peak + b);
        }
    };
    const PieceWork asLater = [&](std::size_t, std::size_t b, std::size_t e) {
        if (vectors) VECTOR_MAGNITUDES(values1_.data() + b, values2_.data() + b, values1_.data() + b, e - b);
        if (wet) return;
        if (vectors) {
            keepGreaterMagnitude(e - b, values1_.data() + b, peak + b);
        } else {
            keepGreater(e - b, values1_.data() + b, peak + b);
        }
    };
    if (maximumOutput) {
        for (std::size_t k = 0; k < nodes; ++k) peak[k] = kNaN;
        noValue_.assign(nodes, 0.0f);
    }
    StepRequest request;
    request.wanted = &wanted;
    request.flags = FlagReading::Defer;
    while (reader.hasStep()) {
        const bool direct = !firstRead && !maximumOutput;
        request.onValues = maximumOutput ? nullptr : direct ? &asFirst : &asLater;
        const StepRead step = reader.nextStep({active_.data(), direct ? peak : values1_.data(), v2}, request);
        if (!step.valuesRead || !wanted(step.time)) continue;
        // A step without flags keeps the last flags seen, every cell active before the first.
        if (reader.hasDeferredFlags()) {
            reader.readDeferredFlags(active_.data());
            flagsKnown = true;
        } else if (!flagsKnown) {
            std::fill(active_.begin(), active_.end(), std::int8_t{1});
            flagsKnown = true;
        }
        if (maximumOutput && isInputNumbers(step.time)) {
            std::copy(values1_.begin(), values1_.end(), noValue_.begin());
            noValueRead = true;
            continue;
        }
        markActive(cells, active_.data(), activeAny);
        if (maximumOutput) {
            if (vectors) VECTOR_MAGNITUDES(values1_.data(), values2_.data(), values1_.data(), nodes);
            if (wet) {
                wetNodes_->update(active_.data());
                keepGreaterWet(nodes, wetNodes_->wet(), values1_.data(), peak);
            } else if (vectors) {
                keepGreaterMagnitude(nodes, values1_.data(), peak);
            } else {
                keepGreater(nodes, values1_.data(), peak);
            }
        } else if (wet) {
            wetNodes_->update(active_.data());
            if (direct) {
                firstScalarsWet(nodes, wetNodes_->wet(), peak);
            } else {
                keepGreaterWet(nodes, wetNodes_->wet(), values1_.data(), peak);
            }
        }
        firstRead = true;
    }
    // A maximum's input number 0: the node never had a value.
    if (noValueRead) {
        for (std::size_t k = 0; k < nodes; ++k) {
            if (noValue_[k] == 0.0f) peak[k] = kNaN;
        }
    }
}

}  // namespace kelvara
