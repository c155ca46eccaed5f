#include "tool/options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

#include "maps/hazard.h"
#include "sinks/sink.h"
#include "tool/ensemble_run.h"
#include "tool/long_options.h"
#include "tool/operations.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvara {
namespace {

using FlagWord = OperationEntry;

// The flag words, in the order they are tried (operation.cpp).
const std::vector<OperationEntry>& flagWords() { return operationTable(); }

bool matches(const std::string& argument, const std::string& word) {
    // The n characters after the dash, n being the word's length, compared ignoring case.
    std::string compared = argument.substr(1, word.size());
    if (compared.size() < word.size()) return false;
    return FLAGEXISTS(compared, word);
}

// The start of a long argument, for a message.
std::string shortened(const std::string& argument) {
    return argument.size() > 100 ? argument.substr(0, 100) + "..." : argument;
}

std::string labelOf(const std::string& argument) {
    std::string label(trimRight(argument.substr(1)));
    if (label.size() > kLabelLength) label.resize(kLabelLength);
    return label;
}

}  // namespace

bool hasOperation(const RunOptions& o) { return o.operation.kind != OperationKind::None; }

namespace {

// The operation flags of a command line, each flag once, as first typed.
struct GivenFlag {
    const FlagWord* flag;
    std::string argument;
};

// The flags of an operation other than the single pass stand alone.
bool standsAlone(const FlagWord* f) {
    return f->kind != OperationKind::None && f->kind != OperationKind::SinglePass;
}

bool isOperationFlag(const FlagWord* f) { return f->kind != OperationKind::None; }

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) text += i + 1 == words.size() ? " and " : ", ";
        text += words[i];
    }
    return text;
}

// The rule, in one place: a run performs one operation. The single pass honours -con, one of
// -k and -r, and one of -trim and -va together; -times, -max, -dur, -dif and -ddur each stand
// alone. Returns the flags that conflict (none when the operation can be honoured).
std::vector<std::string> conflictingFlags(const std::vector<GivenFlag>& given) {
    bool alone = false;
    for (const auto& g : given) alone = alone || standsAlone(g.flag);
    std::vector<std::string> flags;
    if (alone && given.size() > 1) {
        for (const auto& g : given) flags.push_back(g.argument);
        return flags;
    }
    for (auto pair : {std::make_pair("k", "r"), std::make_pair("trim", "va")}) {
        for (const auto& g : given) {
            const std::string word = g.flag->word;
            if (word == pair.first || word == pair.second) flags.push_back(g.argument);
        }
        if (flags.size() == 2) return flags;
        flags.clear();
    }
    return flags;
}

OperationKind kindOf(const std::vector<GivenFlag>& given) {
    return given.empty() ? OperationKind::None : given.front().flag->kind;
}

// The edit distance of two words, a swap of two neighbouring letters counting as one edit.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// The real flag a misspelt argument was most likely meant to be, with the number typed after
// it ("-dur0.3" for "-durr0.3", "-hazard" for "-hazzard"); empty when no flag word of two letters
// or more lies within one edit (two for words of five letters or more) of the letters typed, or
// when what follows the letters does not suit that flag. recognised: the flag word the argument
// begins with, whose number could not be read; the argument is then taken as a misspelling only
// when a number follows its letters.
std::string nearestFlag(const std::string& argument, const FlagWord* recognised) {
    const std::string shown(trimRight(argument));
    std::size_t end = 1;
    while (end < shown.size() && std::isalpha(static_cast<unsigned char>(shown[end]))) ++end;
    const std::string letters = LOWERCASE(shown.substr(1, end - 1));
    const std::string rest = shown.substr(end);
    if (letters.size() < 3) return {};
    if (recognised != nullptr && (letters == recognised->word || rest.empty())) return {};
    const FlagWord* nearest = nullptr;
    std::size_t best = 0;
    for (const auto& f : flagWords()) {
        const std::string word = f.word;
        if (word.size() < 2) continue;
        const std::size_t distance = editDistance(letters, word);
        if (distance == 0 || distance > (word.size() >= 5 ? 2u : 1u)) continue;
        if (nearest == nullptr || distance < best) {
            nearest = &f;
            best = distance;
        }
    }
    if (nearest == nullptr) return {};
    float ignored = 0.0f;
    const NumberUse use = nearest->number;
    const bool fits = rest.empty() ? use != NumberUse::None || recognised == nullptr
                                   : use != NumberUse::None && readFlagNumber(rest, ignored);
    if (!fits) return {};
    return "-" + std::string(nearest->word) + rest;
}

std::string misspeltFlagLine(const std::string& argument, const std::string& meant) {
    return "ERROR - Incorrect flag specified: \"" + std::string(trimRight(argument)) +
           "\": did you mean " + meant + "?";
}

// The line that follows the number error: what the flag's number is and how to write it.
std::string numberHint(const FlagWord& f, const std::string& argument,
                       const std::string& next) {
    const std::string word = f.word;
    const std::string what = "its " + std::string(f.numberName).substr(4);  // "the time"
    const std::string flag = "-" + word;
    const std::string example = f.example;
    const std::string shown(trimRight(argument));
    const std::string rest = shown.size() > flag.size() ? shown.substr(flag.size()) : "";
    float ignored = 0.0f;
    if (rest.empty()) {
        if (!next.empty() && readFlagNumber(next, ignored)) {
            return "\"" + flag + "\" needs " + what + " written right after it, without a blank: " +
                   flag + std::string(trimRight(next));
        }
        return "\"" + flag + "\" needs " + what + " written right after it, for example " + flag +
               example;
    }
    if (rest[0] == '=' && readFlagNumber(rest.substr(1), ignored)) {
        return "\"" + shown + "\": write " + what + " right after the flag, without \"=\": " + flag +
               rest.substr(1);
    }
    if (word == "t" && std::isalpha(static_cast<unsigned char>(rest[0]))) {
        return "\"" + shown + "\" is read as -t followed by the time \"" + rest +
               "\": write a time right after -t (for example -t12), or use -times to list the times";
    }
    if (f.rule == NumberRule::AboveZero) {
        return "\"" + shown + "\": " + what + " must be a number above zero written right after "
               "the flag, in the mesh's units, for example " + flag + example;
    }
    if (f.rule == NumberRule::NotNegative) {
        return "\"" + shown + "\": " + what + " must be a number of zero or more written right "
               "after the flag, for example " + flag + example;
    }
    return "\"" + shown + "\": " + what + " must be a number written right after the flag, for "
           "example " + flag + example;
}

// The checks of --output and --cell once the operation is known: an output named once, of a
// form the operation can write, and a cell size exactly when a grid is drawn from a dataset.
bool checkOutputOptions(const RunOptions& o, std::vector<std::string>& lines) {
    const OperationShape shape = describeOperation(o.operation, o.inputNames());
    const bool datasetOutput =
        shape.output == OutputForm::Scalar || shape.output == OutputForm::LikeInput;
    const std::string& output = o.outputGiven;
    if (!output.empty()) {
        if (shape.lastNameNamesOutput && o.fileCount > shape.maxInputs) {
            lines = {"", "ERROR - The output is named twice, by the last file name and by "
                         "--output: give one of them."};
            return false;
        }
        if (shape.output == OutputForm::Grid && !isGridOutput(output)) {
            lines = {"", "ERROR - -grid writes a GeoTIFF: its output " + output +
                             " must end in .tif."};
            return false;
        }
        if (shape.output == OutputForm::Netcdf && !isNetcdfOutput(output)) {
            lines = {"", "ERROR - -ugrid writes a NetCDF file: its output " + output +
                             " must end in .nc."};
            return false;
        }
        if (datasetOutput && findSink(output) == nullptr) {
            lines = {"", "ERROR - kelvara cannot write " + output + ": an output ends in " +
                             knownSinkExtensions() + "."};
            return false;
        }
    }
    const bool writesNetcdf = shape.output == OutputForm::Netcdf ||
                              (datasetOutput && !output.empty() && isNetcdfOutput(output));
    if (!o.referenceTime.empty() && !writesNetcdf) {
        lines = {"", "ERROR - --reference-time is the reference of a NetCDF file's times: use it "
                     "with -ugrid or --output NAME.nc."};
        return false;
    }
    if (o.deflateLevel >= 0 && !writesNetcdf) {
        lines = {"", "ERROR - --deflate is the compression of a NetCDF file: use it with -ugrid "
                     "or --output NAME.nc."};
        return false;
    }
    const bool drawsGrid = datasetOutput && !output.empty() && isGridOutput(output);
    if (o.outputCellSize > 0.0 && !drawsGrid) {
        lines = {"", shape.output == OutputForm::Grid
                         ? "ERROR - -grid takes its cell size right after the flag (-grid2), "
                           "not from --cell."
                         : "ERROR - --cell is the cell size of a grid output: name one with "
                           "--output NAME.tif."};
        return false;
    }
    if (drawsGrid && !(o.outputCellSize > 0.0)) {
        lines = {"", "ERROR - The grid " + output + " needs its cell size: --cell SIZE, in the "
                         "mesh's units."};
        return false;
    }
    return true;
}

// --land-use belongs to -hazard and replaces its number; -extent writes a GeoPackage.
bool checkMapOptions(const RunOptions& o, std::vector<std::string>& lines) {
    const Operation& op = o.operation;
    if (op.landUse != LandUse::None && op.kind != OperationKind::Hazard) {
        lines = {"", "ERROR - --land-use sets the debris factor of -hazard: give it with -hazard."};
    } else if (op.landUse != LandUse::None && op.debrisFactorGiven) {
        lines = {"", "ERROR - -" + op.label + " and --land-use both set the debris factor: give "
                     "one of them (--land-use " + landUseName(op.landUse) + " alone, or -hazard "
                     "with a fixed factor)."};
    } else if (op.kind == OperationKind::Extent && !o.outputGiven.empty() &&
               !isPolygonOutput(o.outputGiven)) {
        lines = {"", "ERROR - -extent writes a GeoPackage: its output " + o.outputGiven +
                         " must end in .gpkg."};
    }
    return lines.empty();
}

// The names of a run, complete once its command line is read: the output's (by the operation's
// rule, or --output), the last name of -dif and -ddur taken as the output's rather than an
// input's, and the velocities -hazard finds beside the depths when they are not named.
void completeNames(RunOptions& o) {
    const OperationShape shape = o.shape();
    if (shape.lastNameNamesOutput && o.fileCount > shape.maxInputs) o.fileCount = shape.maxInputs;
    if (o.operation.kind == OperationKind::Hazard && o.fileCount == 1) {
        o.fileNames.push_back(o.companions().name(CompanionFile::Velocities, o.fileNames[1]));
        o.fileCount = 2;
        o.velocitiesBesideDepths = true;
    }
    o.fileNames[0] = shape.outputName;
}

}  // namespace

bool PARSE_COMMAND_LINE(const std::vector<std::string>& arguments, RunOptions& o,
                        CommandLineError& error) {
    using Kind = CommandLineError::Kind;
    auto fail = [&](Kind kind, std::vector<std::string> lines) {
        error.kind = kind;
        error.lines = std::move(lines);
        return false;
    };

    if (!arguments.empty()) o.showUsage = false;

    Operation& op = o.operation;
    std::vector<GivenFlag> given;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        // A name cut to fit would name another file.
        if (argument.size() > kArgumentLength) {
            return fail(Kind::BadName,
                        {"", "ERROR - An argument is longer than the " +
                                 AINTEGER(static_cast<int>(kArgumentLength)) +
                                 " characters a name may have: \"" + shortened(argument) + "\""});
        }
        if (argument.empty() || argument[0] != '-') {
            if (trimRight(argument).empty()) {
                return fail(Kind::BadName, {"", "ERROR - An empty file name was given."});
            }
            if (o.fileCount >= kMaxInputs) {
                return fail(Kind::TooManyFiles,
                            {"", "ERROR - Too many .dat files specified: at most " +
                                     AINTEGER(kMaxInputs) + " can be given."});
            }
            ++o.fileCount;
            o.fileNames.emplace_back(trimRight(argument));
            continue;
        }

        // Long options begin with two dashes, which no flag word does: they change the meaning
        // of no single-dash flag.
        if (argument.size() > 2 && argument[1] == '-') {
            std::vector<std::string> lines;
            const LongOption read = readLongOption(arguments, index, o, lines);
            if (read == LongOption::Taken) continue;
            if (read == LongOption::Failed) return fail(Kind::BadName, std::move(lines));
        }

        const FlagWord* found = nullptr;
        for (const auto& f : flagWords()) {
            if (matches(argument, f.word)) {
                found = &f;
                break;
            }
        }
        if (found == nullptr) {
            const std::string meant = nearestFlag(argument, nullptr);
            if (!meant.empty()) {
                return fail(Kind::IncorrectFlag, {"", misspeltFlagLine(argument, meant)});
            }
            return fail(Kind::IncorrectFlag,
                        {"", "ERROR - Incorrect flag specified: \"" +
                                 std::string(trimRight(argument)) + "\""});
        }

        // The flag is taken, with its number read from the character after the word.
        const std::size_t wordLength = std::string(found->word).size();
        std::string rest = argument.size() > wordLength + 1 ? argument.substr(wordLength + 1) : "";
        // A flag that takes the next argument (-calc EXPRESSION) stands alone, and takes it unless
        // it is a long option.
        if (found->number == NumberUse::NextArgument) {
            if (!trimRight(rest).empty()) {
                return fail(Kind::IncorrectFlag,
                            {"", "ERROR - Incorrect flag specified: \"" +
                                     std::string(trimRight(argument)) + "\": give " +
                                     found->numberName + " after -" + found->word +
                                     " and a blank, for example -" + found->word + " " +
                                     found->example});
            }
            const bool next = index + 1 < arguments.size() &&
                              arguments[index + 1].compare(0, 2, "--") != 0;
            rest = next ? arguments[++index] : std::string();
        }
        if (!found->parameter(o, rest)) {
            const std::string next =
                index + 1 < arguments.size() ? arguments[index + 1] : std::string();
            const std::string meant = nearestFlag(argument, found);
            if (!meant.empty()) {
                return fail(Kind::IncorrectFlag, {"", misspeltFlagLine(argument, meant)});
            }
            return fail(Kind::UnreadableNumber,
                        {"ERROR - Reading " + std::string(found->numberName) + " of -" +
                             found->word,
                         numberHint(*found, argument, next)});
        }
        if (found->labelsOutput) op.label = labelOf(argument);
        if (isOperationFlag(found)) {
            bool seen = false;
            for (const auto& g : given) seen = seen || g.flag == found;
            if (!seen) given.push_back({found, std::string(trimRight(argument))});
        }
    }

    // --to-netcdf is -ugrid, as if it were typed after the flags.
    for (const auto& f : flagWords()) {
        if (!o.toNetcdf || f.kind != OperationKind::Ugrid) continue;
        bool seen = false;
        for (const auto& g : given) seen = seen || g.flag == &f;
        if (!seen) given.push_back({&f, "--to-netcdf"});
    }
    const std::vector<std::string> conflicting = conflictingFlags(given);
    if (!conflicting.empty()) {
        return fail(Kind::ConflictingOperations,
                    {"", "ERROR - The flags " + joined(conflicting) +
                             " cannot be used together: give one operation per run."});
    }
    op.kind = kindOf(given);
    {
        std::vector<std::string> lines;
        if (!checkEnsembleOptions(o, lines)) return fail(Kind::BadName, std::move(lines));
    }
    if (op.kind == OperationKind::None) return true;
    {
        std::vector<std::string> lines;
        if (!checkMapOptions(o, lines)) return fail(Kind::BadName, std::move(lines));
    }
    {
        std::vector<std::string> lines;
        if (!checkCalcOptions(o, lines) || !checkOutputOptions(o, lines))
            return fail(Kind::BadName, std::move(lines));
    }

    // Validations that need no file.
    const OperationShape shape = describeOperation(op, o.inputNames());
    const int most = shape.maxInputs + (shape.lastNameNamesOutput ? 1 : 0);
    if (o.fileCount < shape.minInputs || o.fileCount > most) {
        return fail(Kind::WrongFileCount, {"", shape.countError});
    }
    if (op.kind == OperationKind::DurationDifference && !op.atTime) {
        return fail(Kind::NoEndTime,
                    {"ERROR - Must specify an end time using -t option for duration differences"});
    }
    if (o.fileCount == 0 && o.operation.ensemble.runsList.empty()) {
        return fail(Kind::NoFiles, {"", "ERROR - No .dat file specified."});
    }
    completeNames(o);
    return true;
}

const std::vector<std::string>& usageText() {
    static const std::vector<std::string> lines = {
        "Performs various operations on KORVEN .dat files and outputs a new .dat file",
        "",
        "  Flags:",
        "     \"-b\" batch mode, no Enter key required when finished",
        "     \"-con\" concatenate .dat files into one",
        "     \"-dif\" takes the difference between two .dat files.",
        "          An optional third .dat file is used for the output filename.",
        "        \"Specifying -nowetdry\" for -dif option does not carry out wet/dry test using _h.dat file",
        "     \"-ddur<cutoff_value>\" determines the difference in inundation duration in hours up to the -t time",
        "          The -t<time> flag must be used to set the time when the duration difference is calculated",
        "          cutoff_value is used to remove points where the flood has not started to fall",
        "            and to handle points that are stagnant at the -t time.",
        "            The hydrograph must fall by the cutoff_value after the peak, and the level ",
        "            used to determine the difference is the level at the -t time",
        "            plus the cutoff_value.  Typically specify a value of, say 0.1m.",
        "          An optional third .dat file is used for the output filename.",
        "     \"-dur<cutoff_value>\" determines the duration in hours the cutoff value is exceeded",
        "     \"-k<time>\" keeps only data for time <time>",
        "     \"-max\" determines the maximum value in all the .dat files",
        "     \"-r<time>\" removes data for time <time>",
        "     \"-t<time>\" applies only to time <time> for the -dif and -max options.",
        "          Also required for the -ddur option (see above). ",
        "     \"-times\" displays and exports the times in the .dat file",
        "     \"-trim<cutoff_value>\" trims any values to the cutoff value (useful for large velocities)",
        "     \"-va\" outputs the flow angle in degrees (N=0, E=90, W=-90, S=180/-180)",
        "     \"-arrival<cutoff_value>\" outputs when the cutoff value is first reached (time 100001),",
        "          when it is last left (100002; NaN where still reached at the end) and the time of",
        "          the peak (100003); NaN where never reached",
        "     \"-hazard<debris_factor>\" outputs the greatest depth x velocity (100011), hazard class 1-6",
        "          (100012), hazard rating d(v+0.5)+DF (100013) and UK class 1-4 (100014) from",
        "          run_d.dat and run_V.dat (or a second .dat file of velocities); debris factor default",
        "          1.0 (urban), or set by depth band with --land-use",
        "     \"-grid<cell_size>\" writes the steps (with -t<time> one step) as a GeoTIFF grid of that",
        "          cell size in the mesh's units, one band per step, beside the .dat file",
        "     \"-t<time>\" with -dur, -arrival or -hazard uses only the steps up to that time",
        "     \"-extent<depth>[,<depth>...]\" writes polygons where each step (with -t<time> one step)",
        "          is at or above each depth, traced on the mesh, as a GeoPackage (.gpkg)",
        "     \"-calc <expression>\" a quantity per node at every output time (not 99999; -max of it",
        "          gives its peak) from d, h, v, vx, vy, z (mesh), t (hours), g, or depth, dv, dv2,",
        "          froude, energy: -calc \"d*v^2\" run_d.dat reads run_d.dat and run_V.dat",
        "     \"-ensemble\" design floods from many runs: per group (a storm duration) the median of",
        "          the runs' peaks, the greatest over the groups (120001), its group (120002) and that",
        "          group's representative run (120003); runs from \"--runs FILE\" (group,file lines)",
        "          and/or \"--group NAME\" then its files; \"--stat mean\", \"--percentiles 10,50,90\"",
        "          (120010+k), \"--per-group\" (each group's, 120100+g), \"--skip-missing\"",
        "     \"-ugrid\" (or \"--to-netcdf\") writes the mesh and every .dat file named (run_d.dat",
        "          run_h.dat run_V.dat) into one NetCDF (UGRID) file, run.nc; FILE.nc with --output",
        "          writes any operation's steps with the mesh the same way",
        "",
        "  Outputs (README.md, \"What each output holds\", tells every step of every output):",
        "     -max: step 111111 the maximum, step 222222 the number of the input it came from",
        "     -dur, -ddur: one step at 111111, in hours; -dif: first run minus second,",
        "          99 / -99 where only the first / the second run is wet",
        "",
        "  File 1:  Primary .dat file.",
        "  File 2 onwards (-con, -dif, -ddur, -k, -max, -r flags):  Secondary .dat file(s).",
        "",
        "Example:  kelvara.exe -k99999 run_h.dat",
        "            will create a new.dat file with only the data for the 99999 time.",
        "",
        "  Options (after the flags or among them, a value after a blank or \"=\"):",
        "     \"--mesh FILE\" the mesh of the run, for -max of water levels, -dif, -grid and .tif",
        "          outputs; without it the first .dat file's name up to its last \"_\", then .2dm",
        "     \"--output FILE\" names the output; FILE.dat a .dat file, FILE.tif a GeoTIFF grid",
        "          of the steps, which needs --cell; FILE.gpkg polygons of the class steps (-hazard)",
        "          or of -extent; FILE.nc a NetCDF file with the mesh",
        "     \"--cell SIZE\" the cell size of a .tif output, in the mesh's units",
        "     \"--land-use pasture|woodland|urban\" -hazard's debris factor by depth band",
        "     \"--reference-time \"YYYY-MM-DD hh:mm:ss\"\" the time a NetCDF file's hours count from,",
        "          2000-01-01 00:00:00 unless given; \"--deflate 0-9\" its compression (0 none,",
        "          1 the default: quick; 9 smallest)",
        "     \"--expr EXPRESSION\" the expression of -calc; \"--depth FILE\", \"--level FILE\",",
        "          \"--velocity FILE\" its d, h and v datasets instead of those beside the input",
        "",
    };
    return lines;
}

}  // namespace kelvara
