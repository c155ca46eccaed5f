#include "ensemble/ensemble.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>

#include "fileio/error.h"
#include "fileio/platform.h"
#include "fileio/output_file.h"
#include "fileio/units.h"
#include "fileio/workers.h"
#include "formats/dataset_io.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The peaks of every run read, one table of nodeCount values per run in reading order: in
// memory when they fit the budget; otherwise the first runs, as many as fit in seven eighths of
// it, in memory and the others appended to one work file, a whole table at a time (a hidden file
// beside the output, an OutputFile that is never landed: removed when the store goes, on failure
// and by the signal handler), then read back block of nodes by block of nodes into what is left.
class PeakStore {
public:
    PeakStore(std::size_t nodes, std::size_t runs, std::size_t budget, const std::string& besideOf,
              const EnsembleMessages&)
        : nodes_(nodes) {
        const std::size_t runBytes = std::max<std::size_t>(nodes, 1) * sizeof(float);
        if (runs <= budget / runBytes) {
            kept_ = runs;
            memory_.resize(nodes * runs);
            blockNodes_ = nodes;
            return;
        }
        kept_ = std::min(runs - 1, budget / 8 * 7 / runBytes);
        // Blocks on whole tiles of nodes, however small the budget.
        const std::size_t left = budget - kept_ * runBytes;
        blockNodes_ = std::max<std::size_t>(16, left / ((runs - kept_) * sizeof(float)) / 16 * 16);
        memory_.resize(kept_ * nodes);
        one_.resize(nodes);
        work_ = std::make_unique<OutputFile>(CLEANPATH(besideOf));
        if (!work_->open()) throw work_->creationError();
        file_ = std::fopen(work_->workPath().c_str(), "w+b");
        if (file_ == nullptr) fail("create");
    }
    ~PeakStore() { dropWorkFile(); }
    PeakStore(const PeakStore&) = delete;
    PeakStore& operator=(const PeakStore&) = delete;

    bool spilled() const { return work_ != nullptr; }
    std::size_t blockNodes() const { return blockNodes_; }

    // Where the next run's peaks are to be put, then kept with stored().
    float* next() { return stored_ < kept_ ? memory_.data() + stored_ * nodes_ : one_.data(); }
    void stored() {
        if (stored_ >= kept_ && nodes_ > 0 &&
            std::fwrite(one_.data(), sizeof(float), nodes_, file_) != nodes_) {
            fail("write");
        }
        ++stored_;
    }

    // The peaks of nodes [begin, begin + count) of every run: run r's at runs[r][0 .. count).
    void block(std::size_t begin, std::size_t count, std::vector<const float*>& runs) {
        runs.resize(stored_);
        for (std::size_t r = 0; r < std::min(kept_, stored_); ++r) runs[r] = memory_.data() + r * nodes_ + begin;
        if (!spilled() || stored_ <= kept_) return;
        const std::size_t spilledRuns = stored_ - kept_;
        if (!flushed_) {
            if (std::fflush(file_) != 0) fail("write");
            flushed_ = true;
            one_.clear();
            one_.shrink_to_fit();
            buffer_.resize(blockNodes_ * spilledRuns);
        }
        const std::size_t bytes = count * sizeof(float);
        // One read per run, shared out over the cores where the system reads at a position.
        std::vector<unsigned char> failed(spilledRuns, 0);
        const auto readRuns = [&](std::size_t, std::size_t from, std::size_t to) {
            for (std::size_t s = from; s < to; ++s) {
                const auto at = static_cast<std::int64_t>((s * nodes_ + begin) * sizeof(float));
                float* into = buffer_.data() + s * count;
                std::int64_t got = -1;
                if (platform::readAtSupported()) {
                    got = platform::readAt(file_, into, bytes, at);
                } else if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) == 0) {
                    got = static_cast<std::int64_t>(std::fread(into, 1, bytes, file_));
                }
                failed[s] = got != static_cast<std::int64_t>(bytes) ? 1 : 0;
            }
        };
        if (platform::readAtSupported()) {
            forEachPart(spilledRuns, 1, std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(bytes, 1)), readRuns);
        } else {
            readRuns(0, 0, spilledRuns);
        }
        for (unsigned char f : failed)
            if (f != 0) fail("read");
        for (std::size_t s = 0; s < spilledRuns; ++s) runs[kept_ + s] = buffer_.data() + s * count;
    }

    void dropWorkFile() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
        work_.reset();  // removes it
    }

private:
    [[noreturn]] void fail(const char* what) {
        const std::string name = work_ ? work_->name() : std::string();
        dropWorkFile();
        throw errorLine(std::string("ERROR - Could not ") + what + " the work file of peaks beside " +
                        name + " (is the disk full?).");
    }

    std::size_t nodes_;
    std::vector<float> memory_, one_, buffer_;
    std::size_t kept_ = 0;  // runs kept in memory, the first ones read
    std::size_t blockNodes_ = 0;
    std::size_t stored_ = 0;
    std::unique_ptr<OutputFile> work_;  // the peaks of every run, when they do not fit in memory
    std::FILE* file_ = nullptr;
    bool flushed_ = false;
};

// The memory of a pass besides the peaks: the result tables, the tables of reading (and of the
// mesh for water levels), the statistics' own, and a reserve for the rest of the process.
std::size_t otherTablesBytes(std::size_t nodes, std::size_t cells, std::size_t runs,
                             std::size_t resultTables, bool vectors, bool waterLevels) {
    std::size_t bytes = resultTables * nodes * sizeof(float) + cells;  // results, cells active
    bytes += (vectors ? 4 : 3) * nodes * sizeof(float) + cells;       // reading, the spill's table
    if (waterLevels) bytes += 4 * cells * sizeof(std::int32_t) + cells + nodes * (1 + sizeof(std::uint32_t));
    bytes += partCount() * 1024 * runs * sizeof(float) * 2;            // statistics
    return bytes + kEnsembleMemoryReserve;
}

void checkPercentiles(const std::vector<double>& percentiles) {
    if (percentiles.size() > kMostPercentiles) {
        throw errorLine("ERROR - At most " + std::to_string(kMostPercentiles) +
                        " percentiles can be written, " + std::to_string(percentiles.size()) +
                        " were asked for.");
    }
    for (double p : percentiles) {
        if (!(p >= 0.0 && p <= 100.0)) {
            std::ostringstream text;
            text << p;
            throw errorLine("ERROR - The percentile " + text.str() + " is not between 0 and 100.");
        }
    }
}

std::string statisticName(Statistic s) { return s == Statistic::Mean ? "mean" : "median"; }

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

std::string timeText(float t) { return std::to_string(static_cast<long>(t)); }

std::string percentText(double p) {
    std::ostringstream text;
    text << p;
    return text.str();
}

}  // namespace

EnsembleResult computeEnsemble(const EnsembleRequest& request, const EnsembleMessages& messages) {
    const auto say = [&messages](const std::string& line) {
        if (messages) messages(line);
    };
    checkPercentiles(request.percentiles);
    EnsembleResult result;
    result.runs = request.runs;
    result.statistic = request.statistic;
    result.percentiles = request.percentiles;
    RunList& list = result.runs;
    checkRunList(list, request.skipMissing, messages);

    std::vector<std::size_t> present;
    for (std::size_t r = 0; r < list.runs.size(); ++r)
        if (!list.runs[r].missing) present.push_back(r);
    const std::string& firstPath = list.runs[present.front()].path;
    const DatasetHeader first = readRunHeader(firstPath);
    const std::string type = FILE___EXT(firstPath);
    for (std::size_t r : present) {
        if (FILE___EXT(list.runs[r].path) != type) {
            say("WARNING - " + list.runs[r].path + " is not of the type of the first run (\"" +
                type + "\"): it is read as one.");
        }
    }
    result.nodeCount = first.nodeCount;
    result.cellCount = first.cellCount;
    const auto nodes = static_cast<std::size_t>(first.nodeCount);
    const auto cells = static_cast<std::size_t>(first.cellCount);

    std::unique_ptr<WetNodes> wetNodes;
    if (type == "_h") {
        const std::string mesh =
            request.meshPath.empty() ? FILENAMEPATHNO_(firstPath) + ".2dm" : request.meshPath;
        wetNodes = readWetNodesMesh(mesh, first.nodeCount, first.cellCount, messages);
    }

    std::string besideOf = request.outputPath;
    if (besideOf.empty()) besideOf = defaultEnsembleOutputName(list.source.empty() ? "ensemble" : list.source);
    std::size_t budget = request.peakBudget;
    if (budget == kAutomaticPeakBudget) {
        const std::size_t resultTables =
            3 + request.percentiles.size() + (request.perGroup ? list.groups.size() : 0);
        const std::size_t others =
            otherTablesBytes(nodes, cells, present.size(), resultTables, first.isVector, wetNodes != nullptr);
        budget = std::max(kSmallestPeakBudget, kEnsembleMemory > others ? kEnsembleMemory - others : 0);
    }
    PeakStore store(nodes, present.size(), budget, besideOf + ".peaks", messages);
    result.spilled = store.spilled();

    // Every run read once, in list order.
    result.active.assign(cells, 0);
    result.peakSources.resize(list.runs.size(), PeakSource::OrdinarySteps);
    PeakReader reader(first, wetNodes.get());
    for (std::size_t i = 0; i < present.size(); ++i) {
        const std::size_t r = present[i];
        say("[" + std::to_string(i + 1) + "/" + std::to_string(present.size()) + "] " +
            runLabel(list, r));
        result.peakSources[r] = reader.read(list.runs[r].path, store.next(), result.active.data(), messages);
        store.stored();
    }
    wetNodes.reset();

    EnsembleLayout layout;
    layout.groupCount = list.groups.size();
    for (std::size_t r : present) {
        layout.groupOfRun.push_back(list.runs[r].group);
        layout.numberOfRun.push_back(static_cast<float>(r + 1));
    }
    layout.statistic = request.statistic;
    layout.percentiles = request.percentiles;
    layout.perGroup = request.perGroup;

    result.envelope.assign(nodes, kNaN);
    result.criticalGroup.assign(nodes, kNaN);
    result.representativeRun.assign(nodes, kNaN);
    result.percentileValues.assign(request.percentiles.size(), std::vector<float>(nodes, kNaN));
    if (request.perGroup) result.groupStatistics.assign(list.groups.size(), std::vector<float>(nodes, kNaN));

    const std::size_t blockNodes = store.blockNodes();
    std::vector<const float*> runPeaks;
    for (std::size_t begin = 0; begin < nodes; begin += blockNodes) {
        const std::size_t count = std::min(blockNodes, nodes - begin);
        store.block(begin, count, runPeaks);
        EnsembleOutputs out;
        out.envelope = result.envelope.data() + begin;
        out.criticalGroup = result.criticalGroup.data() + begin;
        out.representativeRun = result.representativeRun.data() + begin;
        for (auto& p : result.percentileValues) out.percentiles.push_back(p.data() + begin);
        for (auto& g : result.groupStatistics) out.groupStatistics.push_back(g.data() + begin);
        computeEnsembleBlock(layout, runPeaks.data(), count, out);
    }
    store.dropWorkFile();
    return result;
}

std::vector<EnsembleStepInfo> ensembleStepInfo(Statistic statistic,
                                               const std::vector<double>& percentiles,
                                               const std::vector<std::string>& groupNames,
                                               bool perGroup) {
    using Holds = EnsembleStepInfo::Holds;
    const std::string stat = statisticName(statistic);
    std::vector<EnsembleStepInfo> steps = {
        {kEnvelopeTime, Holds::Values, "envelope: greatest group " + stat},
        {kCriticalGroupTime, Holds::GroupNumber, "critical group (number)"},
        {kRepresentativeRunTime, Holds::RunNumber, "representative run of the critical group (number)"},
    };
    for (std::size_t k = 0; k < percentiles.size(); ++k) {
        steps.push_back({kPercentileTimeBase + static_cast<float>(k + 1), Holds::Values,
                         "percentile " + percentText(percentiles[k]) + " of all runs"});
    }
    if (perGroup) {
        for (std::size_t g = 0; g < groupNames.size(); ++g) {
            steps.push_back({kGroupStatisticTimeBase + static_cast<float>(g + 1), Holds::Values,
                             stat + " of group " + groupNames[g]});
        }
    }
    return steps;
}

void forEachEnsembleStep(const EnsembleResult& result,
                         const std::function<void(float, const std::int8_t*, const float*)>& step) {
    const std::int8_t* active = result.active.data();
    step(kEnvelopeTime, active, result.envelope.data());
    step(kCriticalGroupTime, active, result.criticalGroup.data());
    step(kRepresentativeRunTime, active, result.representativeRun.data());
    for (std::size_t k = 0; k < result.percentileValues.size(); ++k)
        step(kPercentileTimeBase + static_cast<float>(k + 1), active, result.percentileValues[k].data());
    for (std::size_t g = 0; g < result.groupStatistics.size(); ++g)
        step(kGroupStatisticTimeBase + static_cast<float>(g + 1), active, result.groupStatistics[g].data());
}

void writeEnsembleSteps(const EnsembleResult& result, DatasetWriter& writer) {
    forEachEnsembleStep(result, [&writer](float time, const std::int8_t* active, const float* values) {
        writer.writeStep(time, active, values, nullptr);
    });
}

std::string ensembleLegend(const EnsembleResult& result) {
    const RunList& list = result.runs;
    std::string text = "number,kind,name,group\n";
    const auto row = [&text](const std::string& number, const std::string& kind,
                             const std::string& name, const std::string& group) {
        text += number + "," + kind + "," + csvField(name) + "," + csvField(group) + "\n";
    };
    std::vector<std::string> groupNames;
    for (const EnsembleGroup& g : list.groups) groupNames.push_back(g.name);
    const bool perGroup = !result.groupStatistics.empty();
    for (const EnsembleStepInfo& step :
         ensembleStepInfo(result.statistic, result.percentiles, groupNames, perGroup)) {
        const bool ofGroup = step.time > kGroupStatisticTimeBase;
        const std::size_t g = ofGroup ? static_cast<std::size_t>(step.time - kGroupStatisticTimeBase) - 1 : 0;
        row(timeText(step.time), "step", step.description, ofGroup ? groupNames[g] : "");
    }
    for (std::size_t g = 0; g < list.groups.size(); ++g)
        row(std::to_string(g + 1), "group", list.groups[g].name, list.groups[g].name);
    for (std::size_t r = 0; r < list.runs.size(); ++r) {
        const EnsembleRun& run = list.runs[r];
        row(std::to_string(r + 1), run.missing ? "missing" : "run", run.path,
            list.groups[run.group].name);
    }
    return text;
}

std::string ensembleLegendName(const std::string& outputPath) {
    return FILENAMEPATH(outputPath) + ".csv";
}

void checkEnsembleOutputName(const RunList& runs, const std::string& outputPath) {
    const std::string legendPath = ensembleLegendName(outputPath);
    std::vector<std::string> inputs;
    if (!runs.source.empty()) inputs.push_back(runs.source);
    for (const EnsembleRun& run : runs.runs) inputs.push_back(run.path);
    for (const std::string& out : {outputPath, legendPath}) {
        for (const std::string& in : inputs) {
            if (CLEANPATH(in) == CLEANPATH(out) || sameFile(in, out)) {
                throw errorLine("ERROR - The output file \"" + out + "\" would replace the input \"" +
                                in + "\". Give the output another name.", ErrorCode::Output);
            }
        }
    }
}

void writeEnsembleOutputs(const EnsembleResult& result, const std::string& outputPath,
                          const EnsembleMessages&) {  // nothing to say: no file unit is opened
    const std::string legendPath = ensembleLegendName(outputPath);
    checkEnsembleOutputName(result.runs, outputPath);
    // Both files are written under work names and take their names only when both are complete.
    std::unique_ptr<OutputFile> data, legendFile;
    std::FILE* dataStream = nullptr;
    std::FILE* legendStream = nullptr;
    const auto abandon = [&] {
        if (dataStream != nullptr) std::fclose(dataStream);
        if (legendStream != nullptr) std::fclose(legendStream);
        dataStream = legendStream = nullptr;
        data.reset();
        legendFile.reset();
    };
    // Closes a finished stream and gives its file its name.
    const auto land = [](std::FILE*& stream, std::unique_ptr<OutputFile>& file) {
        const bool closed = std::fclose(stream) == 0;
        stream = nullptr;
        if (!closed || !file->land()) {
            throw errorLine("ERROR - Could not finish writing \"" + file->name() + "\": " +
                                std::strerror(errno),
                            ErrorCode::Output);
        }
    };
    try {
        for (auto* made : {&data, &legendFile}) {
            *made = std::make_unique<OutputFile>(CLEANPATH(made == &data ? outputPath : legendPath));
            if (!(*made)->open()) throw (*made)->creationError();
        }
        dataStream = std::fopen(data->workPath().c_str(), "wb");
        legendStream = std::fopen(legendFile->workPath().c_str(), "wb");
        if (dataStream == nullptr || legendStream == nullptr) {
            throw errorLine("ERROR - Could not create output file \"" +
                                (dataStream == nullptr ? data : legendFile)->name() + "\".",
                            ErrorCode::Output);
        }
        DatasetWriter writer(fileSink(dataStream, false), data->name());
        writer.writeHeader(result.nodeCount, result.cellCount, false, outputPath);
        writeEnsembleSteps(result, writer);
        writer.writeEnd();
        const std::string legend = ensembleLegend(result);
        if (std::fwrite(legend.data(), 1, legend.size(), legendStream) != legend.size()) {
            throw errorLine("ERROR - Could not write \"" + legendPath + "\".");
        }
        // The dataset, the result itself, is put in place last.
        land(legendStream, legendFile);
        land(dataStream, data);
    } catch (...) {
        abandon();
        throw;
    }
}

}  // namespace kelvara
