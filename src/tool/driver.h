// The run driver: names the output, opens and checks the files, allocates the run's storage
// once, hands over to one operation and finishes the output.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "formats/dataset.h"
#include "formats/dataset_io.h"
#include "sinks/sink.h"
#include "tool/tables.h"
#include "tool/options.h"

namespace kelvara {

class RunContext;

struct RunState {
    const RunOptions* options = nullptr;
    RunContext* context = nullptr;  // the run's console and files

    // The primary (first) input's header, and that of the input being compared with it.
    DatasetHeader primary;
    DatasetHeader second;

    // Entry i for input i (entry 0 unused): its unit and its reader.
    std::vector<int> inputUnits;
    std::vector<std::unique_ptr<DatasetReader>> inputs;
    int outputUnit = 0;
    std::unique_ptr<StepSink> output;  // where the steps go; none for the times listing
    std::FILE* timesFile = nullptr;         // the times listing's text file
    std::int64_t timesListed = 0;           // lines the times listing wrote
    std::string written;                    // what an output of its own wrote (the grid)
    int meshUnit = 0;

    // The step just read, allocated once from the primary header (indices from 0; cells count
    // as active until a step supplies flags). Each operation allocates its own named tables
    // (tables.h) besides.
    Table<std::int8_t> active;      // per cell
    Table<float> values1, values2;  // per node: the values, or the vectors' two components
    float time = 0.0f;                                   // time of the step just read

    const std::string& inputName(int i) const { return options->fileNames[static_cast<std::size_t>(i)]; }
    const std::string& outputName() const { return options->fileNames[0]; }
    std::int32_t nodeCount() const { return primary.nodeCount; }
    std::int32_t cellCount() const { return primary.cellCount; }

    DatasetReader& input(int i) { return *inputs[static_cast<std::size_t>(i)]; }

    // Reads the next step of input i into active, values1, values2 and time, if it has one.
    // Returns false when the input has no more steps.
    bool readStep(int i);
    // The same, except that the values of a step for whose time wanted is false are passed over
    // unread (its flags and time are read as ever): for steps the operation does not use.
    // What becomes of the flags is said by flags (FlagReading); deferred flags are taken into
    // active by takeDeferredFlags when active is needed. onValues, when given, works on the
    // values of a wanted step as they arrive (PieceWork).
    using Flags = FlagReading;
    bool readStep(int i, const std::function<bool(float)>& wanted, Flags flags = Flags::Read,
                  const PieceWork* onValues = nullptr);
    // Brings active up to date with the flags of the last step read with Flags::Defer, when
    // no step read since has replaced them.
    void takeDeferredFlags();
    // The reader whose deferred flags active is to be taken as holding, or none.
    DatasetReader* deferredFlags = nullptr;

    // A cell active in the step just read (any flag but 0) becomes active, 1, in flags (one per
    // cell, each 0 or 1).
    void mergeActiveInto(Table<std::int8_t>& flags) const;
};

// Before a file that an operation reads beside its inputs (a mesh, a run's water levels or
// velocities) is opened: when there is no such file, says why it is needed (why) and how to
// supply it (how). In batch mode that ends the run with an error; otherwise the open that
// follows asks for another name.
void explainMissingCompanion(const std::string& name, const std::string& why,
                             const std::string& how);

// The run's console as a reporter of lines (formats' MessageSink).
void toConsole(const std::string& line);

// A reader of an input unit opened with OPENFILEUNIT, reporting to the console. It reads the
// unit through the run's file table, which may close the file while it waits and reopen it.
std::unique_ptr<DatasetReader> readerOfUnit(int unit);

// Whether an operation was given; when none was, the usage text is to be shown. (The output's
// name, entry 0 of fileNames, and every input's are complete once the command line is read.)
bool BUILD_OUTPUT_NAME(RunOptions& options);

// The whole run after the command line has been read; returns the exit status.
int RUN_DRIVER(RunOptions& options, RunContext& context);

// The run once its files are open (run.options, run.inputs and run.output or run.timesFile
// set): reads and compares the headers, allocates the storage, writes the output's header, runs
// the operation and writes the end card.
void RUN_OPERATION(RunState& run);

}  // namespace kelvara
