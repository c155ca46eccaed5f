// -calc: a quantity computed node by node at every output time of a run (src/calc/). The input
// named is the run's dataset whose steps give the times; the datasets the expression reads are
// those beside it by the name rule (stem_d.dat, stem_h.dat, stem_V.dat) or those named with
// --depth, --level and --velocity, and z the elevations of the run's mesh. Only what the
// expression reads is opened.
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "calc/calc.h"
#include "calc/quantity_steps.h"
#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/mesh.h"
#include "tool/companions.h"
#include "tool/operations.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {

using calc::Source;

struct CalcOption {
    const char* name;
    std::string RunOptions::*value;
};
constexpr CalcOption kExpressionOption = {"--expr", &RunOptions::expressionGiven};
constexpr CalcOption kSourceOptions[calc::kSourceCount] = {
    {"--depth", &RunOptions::depthName},
    {"--level", &RunOptions::levelName},
    {"--velocity", &RunOptions::velocityName},
};

const CalcOption& optionOf(Source source) { return kSourceOptions[static_cast<int>(source)]; }

calc::SourceFiles sourceFiles(const RunOptions& o) {
    calc::SourceFiles files;
    for (Source source : calc::kSources)
        files.named[static_cast<std::size_t>(source)] = o.*optionOf(source).value;
    files.mesh = o.meshName;
    return files;
}

// A name that reads as a dataset's rather than an expression's (no expression ends so).
bool namesDataset(const std::string& text) {
    const std::string end = LOWERCASE(std::string(trimRight(text)));
    return end.size() > 4 && end.compare(end.size() - 4, 4, ".dat") == 0;
}

const char* const kExample = "-calc \"d*v^2\" run_d.dat";

// Before a dataset of the expression is opened: when it is missing, which file was looked for,
// why, and the option that names another.
void explainMissingSource(const RunOptions& o, const calc::Expression& expression, Source source,
                          const std::string& name) {
    const std::string& primary = o.fileNames[1];
    const std::string option = optionOf(source).name;
    const std::string thing = std::string("the run's ") + calc::sourceWhat(source);
    const std::string purpose = "-calc reads " + calc::namesReading(expression, source) +
                                " from the " + calc::sourceWhat(source) + " of the run of " +
                                primary;
    if (sourceFiles(o).isNamed(source)) {
        explainMissingCompanion(name, purpose + ", named with " + option + ".",
                                "Give " + option + " the name of " + thing + ".");
        return;
    }
    explainMissing(o.companions(), calc::companionOf(source), primary,
                   {purpose, thing, ", or name it with " + option + " FILE."});
}

// The output must replace none of the files the expression reads.
void checkOutputIsNotRead(const RunState& run, const std::vector<std::string>& read) {
    const std::string output = CLEANPATH(run.outputName());
    for (const auto& name : read) {
        if (CLEANPATH(name) == output || sameFile(name, output)) {
            throw errorLine("ERROR - The output file \"" + output +
                                "\" would replace the input \"" + CLEANPATH(name) +
                                "\". Give the output another name.",
                            ErrorCode::Output);
        }
    }
}

}  // namespace

bool checkCalcOptions(RunOptions& o, std::vector<std::string>& lines) {
    if (o.operation.kind != OperationKind::Calc) {
        for (const CalcOption* option :
             {&kExpressionOption, &kSourceOptions[0], &kSourceOptions[1], &kSourceOptions[2]}) {
            if ((o.*option->value).empty()) continue;
            lines = {"", std::string("ERROR - ") + option->name + " gives -calc " +
                             (option == &kExpressionOption ? "its expression"
                                                           : "a dataset its expression reads") +
                             ": give it with -calc, or leave it out."};
            return false;
        }
        return true;
    }
    std::string& expression = o.operation.expression;
    const std::string taken = expression;  // the argument after -calc
    if (!o.expressionGiven.empty()) {
        if (!trimRight(taken).empty()) {
            if (!namesDataset(taken)) {
                lines = {"", "ERROR - Two expressions were given, \"" + taken +
                                 "\" after -calc and \"" + o.expressionGiven +
                                 "\" with --expr: give one of them."};
                return false;
            }
            // --expr gives the expression: the name after -calc is the run's dataset.
            o.fileNames.insert(o.fileNames.begin() + 1 + o.calcArgumentAt, taken);
            ++o.fileCount;
        }
        expression = o.expressionGiven;
    } else if (trimRight(taken).empty()) {
        lines = {"", std::string("ERROR - -calc needs an expression: ") + kExample +
                         ", or --expr \"d*v^2\"."};
        return false;
    } else if (namesDataset(taken)) {
        lines = {"", "ERROR - -calc takes its expression first, then the .dat file: -calc "
                     "\"d*v^2\" " + taken + " (or give the expression with --expr)."};
        return false;
    }
    try {
        const calc::Expression checked(expression);
    } catch (const Error& error) {
        lines = error.consoleLines();
        return false;
    }
    return true;
}

void runCalc(RunState& run) {
    const RunOptions& o = *run.options;
    const calc::Expression expression(o.operation.expression);
    const std::string& primaryName = run.inputName(1);
    const calc::SourceFiles files = sourceFiles(o);

    std::vector<std::string> read;
    for (Source source : calc::kSources)
        if (calc::reads(expression, source)) read.push_back(files.file(source, primaryName));
    if (calc::readsMesh(expression)) read.push_back(files.meshFile(primaryName));
    checkOutputIsNotRead(run, read);

    // The datasets read, each opened once: the input itself, or a unit of its own.
    calc::QuantityInputs in;
    in.primary = &run.input(1);
    std::vector<int> units;
    std::vector<std::unique_ptr<DatasetReader>> readers;
    const std::string primaryFile = unitName(run.inputUnits[1]);
    for (Source source : calc::kSources) {
        if (!calc::reads(expression, source)) continue;
        const std::string name = files.file(source, primaryName);
        DatasetReader*& reader = in.sources[static_cast<std::size_t>(source)];
        if (CLEANPATH(name) == primaryFile || sameFile(name, primaryFile)) reader = in.primary;
        for (std::size_t i = 0; i < units.size() && reader == nullptr; ++i)
            if (CLEANPATH(name) == unitName(units[i]) || sameFile(name, unitName(units[i])))
                reader = readers[i].get();
        if (reader != nullptr) continue;
        explainMissingSource(o, expression, source, name);
        consoleLine();
        consoleLine("...need to also read the " + std::string(calc::sourceWhat(source)) + " " +
                    name);
        const int unit = OPENFILEUNIT("BI", name);
        units.push_back(unit);
        readers.push_back(readerOfUnit(unit));
        readers.back()->readHeader(unitName(unit));
        reader = readers.back().get();
    }

    // The bed elevations of the mesh (the cells' corners are read and let go).
    Table<float> bed;
    if (calc::readsMesh(expression)) {
        const std::string meshName =
            explainMissing(o.companions(), CompanionFile::Mesh, primaryName,
                           {"-calc reads z (bed elevation) from the mesh of the run of " +
                                primaryName,
                            "the run's mesh"});
        MeshTables mesh;
        sizeTables([&] {
            bed.resize(static_cast<std::size_t>(run.nodeCount()));
            mesh.size(0, static_cast<std::size_t>(run.cellCount()));
        });
        consoleLine();
        consoleLine("...need to also read the mesh " + meshName);
        const int unit = OPENFILEUNIT("I ", meshName);
        READ_2DM_ELEVATIONS(unit, bed.data(), run.nodeCount(), mesh.corners[0].data(),
                            mesh.corners[1].data(), mesh.corners[2].data(),
                            mesh.corners[3].data(), run.cellCount());
        CLOSEFILEUNIT(unit);
        in.bed = bed.data();
    }

    in.primaryBuffers = {run.active.data(), run.values1.data(),
                         run.primary.isVector ? run.values2.data() : nullptr};
    in.messages = toConsole;
    std::unique_ptr<calc::QuantitySteps> steps;
    sizeTables([&] { steps = std::make_unique<calc::QuantitySteps>(expression, in); });

    consoleLine();
    consoleLine("Computing " + std::string(trimRight(expression.text())) +
                " at every output time of " + primaryName);
    while (steps->next()) {
        run.output->writeStep(steps->time(), steps->flags(), steps->values(), nullptr);
    }
    if (steps->stepsComputed() == 0) {
        throw errorLine("ERROR - " + primaryName +
                            (readers.empty() ? std::string(" holds no output time below 99998")
                                             : " and the datasets the expression reads have no "
                                               "output time in common") +
                            ": there is nothing to compute.",
                        ErrorCode::WrongInput);
    }
    const std::string warning = steps->notANumberWarning();
    if (!warning.empty()) {
        consoleLine();
        consoleLine(warning);
    }
    for (int unit : units) CLOSEFILEUNIT(unit);
}

}  // namespace kelvara
