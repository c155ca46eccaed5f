// A quantity computed over a run, one output time after another: the expression evaluated at
// every ordinary step of the run's primary dataset (the 99999 maxima and the other summary
// steps left out), from the datasets its names read, each paired with those times as -hazard
// pairs its inputs, and from the mesh's bed elevations. One step of each dataset is in memory
// at a time. The tool (-calc) and the Python module both run it; neither this nor the rest of
// src/calc/ prints: lines go to the MessageSink given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "calc/calc.h"
#include "formats/companions.h"
#include "formats/dataset_io.h"

namespace kelvara::calc {

// The datasets an expression's names read: d the depths, h the water levels, v, vx and vy the
// velocities (vectors, or speeds when the dataset is scalar). z comes from the mesh.
enum class Source { Depths, Levels, Velocities };
constexpr std::size_t kSourceCount = 3;
constexpr std::array<Source, kSourceCount> kSources = {Source::Depths, Source::Levels,
                                                       Source::Velocities};

bool reads(const Expression& expression, Source source);
bool readsMesh(const Expression& expression);

// "depths", "water levels", "velocities".
const char* sourceWhat(Source source);
// The names of the expression that read the source: "d (depth)", "v (speed) and vx".
std::string namesReading(const Expression& expression, Source source);
// The companion a source is by the name rule (stem_d.dat, stem_h.dat, stem_V.dat).
CompanionFile companionOf(Source source);

// Where a run's datasets and mesh are: each one named (by an option), else the companion of
// the primary dataset by the name rule (formats/companions.h), which is the primary itself
// when it is that dataset.
struct SourceFiles {
    std::array<std::string, kSourceCount> named;  // "" for the rule
    std::string mesh;                              // "" for the rule

    bool isNamed(Source source) const { return !named[static_cast<std::size_t>(source)].empty(); }
    std::string file(Source source, const std::string& primary) const;
    std::string meshFile(const std::string& primary) const;
};

// Hours in one of a dataset's time units (card 250: 0 or none hours, 1 minutes, 2 seconds,
// 4 days).
double hoursPerTimeUnit(std::int32_t units);

struct QuantityInputs {
    // The run's primary dataset, its header read: its steps give the output's times.
    DatasetReader* primary = nullptr;
    // The reader of each source the expression reads (null for the others), headers read; one
    // may be the primary, and two sources may share one reader.
    std::array<DatasetReader*, kSourceCount> sources{};
    const float* bed = nullptr;  // one per node, when the expression reads z
    // Tables of the caller's for the primary's steps (active: cells; values1 and, for vectors,
    // values2: nodes), or none: the steps then have tables of their own.
    StepBuffers primaryBuffers;
    MessageSink messages;  // the warnings and notes of the run
};

class QuantitySteps {
public:
    // Checks that the datasets suit the expression (one mesh; depths and levels scalar; vx and
    // vy need vectors) and sizes the tables; throws kelvara::Error naming the file otherwise.
    QuantitySteps(const Expression& expression, const QuantityInputs& inputs);
    ~QuantitySteps();
    QuantitySteps(const QuantitySteps&) = delete;
    QuantitySteps& operator=(const QuantitySteps&) = delete;

    // Computes the next output step; false when the primary has no more. A time that a dataset
    // lacks is left out with a warning.
    bool next();
    // The step just computed: its time, its flags (one per cell: active where any dataset read
    // is active; the primary's flags when the expression reads no dataset) and its values (one
    // per node). Valid until the next call of next().
    float time() const;
    const std::int8_t* flags() const;
    const float* values() const;

    std::int32_t nodeCount() const;
    std::int32_t cellCount() const;
    std::int64_t stepsComputed() const;
    // The values that came out not a number or infinite, stored as not a number, so far.
    std::int64_t notANumberCount() const;
    // The one warning about them, "" when there are none.
    std::string notANumberWarning() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kelvara::calc
