// kelvara.ensemble: the statistics of an ensemble of runs (src/ensemble/) as numpy arrays, on
// the code of the command line's -ensemble. The compiled part returns plain values (arrays,
// names, warning lines, or the lines of an error); the package's function (kelvara/ensemble.py)
// turns them into its result, its warnings and kelvara.Error.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "ensemble/ensemble.h"
#include "fileio/console.h"
#include "fileio/error.h"
#include "run/context.h"

namespace py = pybind11;

namespace kelvara_python {
namespace {

py::array_t<float> oneRow(const std::vector<float>& values) {
    py::array_t<float> array(static_cast<py::ssize_t>(values.size()));
    if (!values.empty()) std::memcpy(array.mutable_data(), values.data(), values.size() * sizeof(float));
    return array;
}

// Rows of nodeCount values each, as one (rows, nodeCount) array.
py::array_t<float> rows(const std::vector<std::vector<float>>& tables, std::int32_t nodeCount) {
    const auto nodes = static_cast<py::ssize_t>(nodeCount);
    py::array_t<float> array({static_cast<py::ssize_t>(tables.size()), nodes});
    float* into = array.mutable_data();
    for (const std::vector<float>& t : tables) {
        if (!t.empty()) std::memcpy(into, t.data(), t.size() * sizeof(float));
        into += nodes;
    }
    return array;
}

// listPath: a list file, or "" for the (group, path) pairs. Returns a dict: the result's
// arrays and names and its "warnings"; or, when the ensemble failed, "error" (the console lines
// of the error) and "code" (its kind).
py::dict ensemble(const std::string& listPath,
                  const std::vector<std::pair<std::string, std::string>>& pairs,
                  const std::string& statistic, const std::vector<double>& percentiles,
                  bool perGroup, bool skipMissing, const std::string& output,
                  const std::string& mesh) {
    kelvara::EnsembleResult result;
    std::vector<std::string> warnings;
    std::vector<std::string> errorLines;
    kelvara::ErrorCode code = kelvara::ErrorCode::None;
    {
        py::gil_scoped_release release;
        // The ensemble's own context: its console (never printed) and its file table, so that
        // calls on several threads go on at once.
        kelvara::LineConsole console;
        kelvara::RunContext context(console, true);
        kelvara::RunContext::Binding binding(context);
        kelvara::ErrorScope scope;
        const kelvara::EnsembleMessages messages = [&warnings](const std::string& line) {
            if (line.rfind("WARNING - ", 0) == 0) warnings.push_back(line);
        };
        try {
            kelvara::EnsembleRequest request;
            if (!listPath.empty()) {
                request.runs = kelvara::readRunList(listPath);
            } else {
                kelvara::RunListBuilder builder;
                for (const auto& [group, path] : pairs) {
                    builder.group(group);
                    builder.run(path);
                }
                request.runs = builder.finish();
                request.runs.givenAs = "the runs given";
            }
            request.statistic =
                statistic == "mean" ? kelvara::Statistic::Mean : kelvara::Statistic::Median;
            request.percentiles = percentiles;
            request.perGroup = perGroup;
            request.skipMissing = skipMissing;
            request.meshPath = mesh;
            request.outputPath = output;
            if (!output.empty()) kelvara::checkEnsembleOutputName(request.runs, output);
            result = kelvara::computeEnsemble(request, messages);
            if (!output.empty()) kelvara::writeEnsembleOutputs(result, output, messages);
        } catch (const kelvara::Error& error) {
            code = error.code();
            errorLines = error.consoleLines();
        } catch (const std::bad_alloc&) {
            code = kelvara::ErrorCode::Memory;
            errorLines = {"ERROR - Could not allocate enough memory (RAM)."};
        }
    }
    py::dict answer;
    answer["warnings"] = warnings;
    if (code != kelvara::ErrorCode::None) {
        answer["error"] = errorLines;
        answer["code"] = std::string(kelvara::errorCodeName(code));
        return answer;
    }
    answer["envelope"] = oneRow(result.envelope);
    answer["critical_group"] = oneRow(result.criticalGroup);
    answer["representative_run"] = oneRow(result.representativeRun);
    answer["percentiles"] = rows(result.percentileValues, result.nodeCount);
    answer["group_statistics"] = rows(result.groupStatistics, result.nodeCount);
    std::vector<std::string> groups, runs, runGroups;
    std::vector<bool> missing;
    for (const kelvara::EnsembleGroup& g : result.runs.groups) groups.push_back(g.name);
    for (const kelvara::EnsembleRun& r : result.runs.runs) {
        runs.push_back(r.path);
        runGroups.push_back(result.runs.groups[r.group].name);
        missing.push_back(r.missing);
    }
    answer["groups"] = groups;
    answer["runs"] = runs;
    answer["run_groups"] = runGroups;
    answer["missing"] = missing;
    answer["cells"] = result.cellCount;
    return answer;
}

}  // namespace

void registerEnsemble(py::module_& m) {
    m.def("ensemble", &ensemble, py::arg("list_path"), py::arg("pairs"), py::arg("statistic"),
          py::arg("percentiles"), py::arg("per_group"), py::arg("skip_missing"),
          py::arg("output"), py::arg("mesh"),
          "The statistics of an ensemble as a dict of arrays and names (kelvara.ensemble).");
}

}  // namespace kelvara_python
