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
#include "tool/options.h"

namespace kelvara {

// Zeroed memory for a table of the run, and its release (bytes as allocated). Large tables are
// fresh zero pages from the system; where the system can back them with large pages, they are
// placed so that it may.
void* allocateZeroedTable(std::size_t bytes);
void releaseZeroedTable(void* table, std::size_t bytes) noexcept;

// Allocator of the run's tables: zeroed memory whose elements are not written again when the
// table is sized. Large tables thus come as fresh zero pages from the system, which cost nothing
// until an operation touches them; a table an operation never uses is never paid for.
template <class T>
struct ZeroedAllocator {
    using value_type = T;
    ZeroedAllocator() = default;
    template <class U>
    ZeroedAllocator(const ZeroedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        void* p = allocateZeroedTable(n * sizeof(T));
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept { releaseZeroedTable(p, n * sizeof(T)); }
    // Sizing a table leaves its elements as they were allocated: zero.
    template <class U>
    void construct(U*) noexcept {
        static_assert(std::is_trivially_default_constructible_v<U>, "tables hold plain numbers");
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const ZeroedAllocator<U>&) const noexcept { return true; }
    template <class U>
    bool operator!=(const ZeroedAllocator<U>&) const noexcept { return false; }
};

// A per-node or per-cell table of the run; resize() gives zeros.
template <class T>
using Table = std::vector<T, ZeroedAllocator<T>>;

struct RunState {
    const RunOptions* options = nullptr;

    // The primary (first) input's header, and that of the input being compared with it.
    DatasetHeader primary;
    DatasetHeader second;

    // Entry i for input i (entry 0 unused): its unit and its reader.
    std::vector<int> inputUnits;
    std::vector<std::unique_ptr<DatasetReader>> inputs;
    int outputUnit = 0;
    std::unique_ptr<DatasetWriter> output;  // the output dataset; none for the times listing
    std::FILE* timesFile = nullptr;         // the times listing's text file
    int meshUnit = 0;

    // Storage allocated once from the primary header; indices from 0. Every entry starts at zero
    // (active at 1). An operation that reads a table before it writes it had best write it
    // once first all the same (see runMaximum).
    std::array<Table<std::int32_t>, 4> cellNodes;  // corners; the fourth 0 for triangles
    Table<std::int32_t> fileOfMaximum;             // per node
    Table<std::int8_t> active;                     // per cell: flags of the step just read
    Table<std::int8_t> outActive;                  // per cell: flags written by some results
    Table<float> values1, values2;                 // per node: the step just read
    Table<float> result1, result2;                 // per node: accumulated results
    std::array<Table<float>, 4> extra;             // per node: per-file values, elevations
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

    // A cell active in the step just read becomes active in outActive.
    void mergeActiveIntoOutActive();
};

// A reader of an input unit opened with OPENFILEUNIT, reporting to the console.
std::unique_ptr<DatasetReader> readerOfUnit(int unit);

// Builds the output name (entry 0 of fileNames). Returns false when no operation was given.
bool BUILD_OUTPUT_NAME(RunOptions& options);

// The whole run after the command line has been read; returns the exit status.
int RUN_DRIVER(RunOptions& options);

// The run once its files are open (run.options, run.inputs and run.output or run.timesFile
// set): reads and compares the headers, allocates the storage, writes the output's header, runs
// the operation and writes the end card.
void RUN_OPERATION(RunState& run);

}  // namespace kelvara
