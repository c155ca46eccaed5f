// The .dat sink: today's dataset writer on the output's file unit (which lands it when the
// run closes the unit).
#include <memory>

#include "sinks/sink.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {

class DatasetSink : public StepSink {
public:
    explicit DatasetSink(const SinkSetup& s)
        : output_(s.output), writer_(fileSink(s.stream, false), s.streamName) {}

    void begin(const SinkStart& start) override {
        writer_.writeHeader(start.nodeCount, start.cellCount, start.vectors, output_);
    }
    void writeStep(float time, const std::int8_t* active, const float* values1,
                   const float* values2) override {
        writer_.writeStep(time, active, values1, values2);
    }
    void end() override { writer_.writeEnd(); }
    void land() override {}  // the file unit lands it when closed

    std::string summary() const override {
        const std::vector<float>& times = writer_.firstStepTimes();
        const std::int64_t steps = writer_.stepCount();
        std::string text = "Wrote " + CLEANPATH(output_) + ": " +
                           AINTEGER(static_cast<int>(steps)) + (steps == 1 ? " step" : " steps");
        if (steps > 0 && steps <= 4) {
            text += " (";
            for (std::size_t i = 0; i < times.size(); ++i) {
                text += (i > 0 ? ", " : "") + std::string(trimRight(AREAL(times[i])));
            }
            text += ")";
        }
        return text + " of " + AINTEGER(writer_.nodeCount()) + " nodes and " +
               AINTEGER(writer_.cellCount()) + " cells.";
    }

private:
    std::string output_;
    DatasetWriter writer_;
};

}  // namespace

std::unique_ptr<StepSink> makeDatasetSink(const SinkSetup& setup) {
    return std::make_unique<DatasetSink>(setup);
}

}  // namespace kelvara
