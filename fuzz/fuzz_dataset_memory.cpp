// The dataset reader through every operation that needs no mesh, in memory: no file, no file
// unit, no console. The input is as for fuzz_dataset: the first byte chooses the command line,
// the rest is one or two datasets separated by "|NEXT|" (a missing second dataset is a copy of
// the first). Each run reads the datasets from memory and writes its output to memory; it must
// finish with a well-formed dataset or stop with a kelvara::Error.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "formats/dataset_io.h"
#include "harness.h"
#include "sinks/sink.h"
#include "tool/driver.h"
#include "tool/options.h"

namespace {

// The run's output: the dataset writer over memory, as the .dat sink writes it over a file.
class MemoryDatasetSink final : public kelvara::StepSink {
public:
    MemoryDatasetSink(std::string& bytes, const std::string& name)
        : name_(name), writer_(kelvara::memorySink(bytes), name) {}
    void begin(const kelvara::SinkStart& start) override {
        writer_.writeHeader(start.nodeCount, start.cellCount, start.vectors, name_);
    }
    void writeStep(float time, const std::int8_t* active, const float* values1,
                   const float* values2) override {
        writer_.writeStep(time, active, values1, values2);
    }
    void end() override { writer_.writeEnd(); }
    void land() override {}
    std::string summary() const override { return {}; }

private:
    std::string name_;
    kelvara::DatasetWriter writer_;
};

constexpr std::int32_t kNodeLimit = 1 << 16;

// Console text of the operations goes nowhere.
class Discard final : public kelvara::ConsoleSink {
public:
    void write(std::string_view) override {}
    bool readLine(std::string&) override { return false; }
};

std::int32_t loadAt(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return static_cast<std::int32_t>(v);
}

// Whether bytes are exactly what the writer produces (as fuzz::isWrittenDataset checks a file).
bool isWrittenBytes(const std::string& b) {
    using namespace kelvara;
    const auto size = static_cast<std::int64_t>(b.size());
    if (size < kWrittenHeaderBytes + 4) return false;
    const std::int32_t nodes = loadAt(b, 36);
    const std::int32_t cells = loadAt(b, 44);
    if (nodes < 0 || cells < 0) return false;
    const std::int64_t step = writtenStepBytes(loadAt(b, 28) == kCardBeginVector, nodes, cells);
    const std::int64_t body = size - kWrittenHeaderBytes - 4;
    if (body % step != 0) return false;
    for (std::int64_t at = kWrittenHeaderBytes; at < kWrittenHeaderBytes + body; at += step)
        if (loadAt(b, static_cast<std::size_t>(at)) != kCardStep) return false;
    return loadAt(b, b.size() - 4) == kCardEnd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvara;
    using namespace kelvara::fuzz;
    if (size == 0) return 0;
    const auto& commands = kelvara::fuzz::datasetCommands();
    const auto& command = commands[data[0] % commands.size()];
    const auto parts = splitParts({reinterpret_cast<const char*>(data) + 1, size - 1}, 2);
    const std::string& first = parts[0];
    const std::string& second = parts.size() > 1 ? parts[1] : parts[0];

    std::vector<std::string> args = command.flags;
    args.push_back("run_d.dat");
    if (command.inputs == 2) args.push_back("base_d.dat");
    RunOptions options;
    CommandLineError error;
    if (!PARSE_COMMAND_LINE(args, options, error) || !BUILD_OUTPUT_NAME(options))
        broken("the fuzz target gave a command line the tool rejects");

    static Discard discard;
    ConsoleRedirect quiet(discard);
    ErrorScope scope;
    // Meshes of millions of nodes that a header may announce cost tens of megabytes of tables
    // per input; fuzz_dataset covers them, this target spends its time on the reading instead.
    for (const std::string* b : {&first, &second}) {
        try {
            DatasetReader probe(memorySource(b->data(), b->size()), "probe");
            const DatasetHeader& h = probe.readHeader();
            if (h.nodeCount > kNodeLimit || h.cellCount > 2 * kNodeLimit) return 0;
        } catch (const Error&) {
        }
    }
    std::string output;
    {
        RunState run;
        run.options = &options;
        run.inputs.resize(static_cast<std::size_t>(options.fileCount) + 1);
        const std::string* bytes[] = {&first, &second};
        for (int i = 1; i <= options.fileCount; ++i) {
            const std::string& b = *bytes[i - 1];
            run.inputs[static_cast<std::size_t>(i)] = std::make_unique<DatasetReader>(
                memorySource(b.data(), b.size()), run.inputName(i));
        }
        run.output = std::make_unique<MemoryDatasetSink>(output, run.outputName());
        try {
            RUN_OPERATION(run);
        } catch (const Error& e) {
            if (e.lines().empty()) broken("an error without its message");
            return 0;
        }
    }
    if (!isWrittenBytes(output)) broken("finished with a malformed output");
    return 0;
}
