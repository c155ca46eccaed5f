#include "tool/long_options.h"

#include <cmath>

#include "fileio/error.h"
#include "netcdf/ugrid.h"
#include "tool/ensemble_run.h"
#include "tool/options.h"
#include "util/text.h"

namespace kelvara {
namespace {

// The start of a long argument, for a message.
std::string shortened(const std::string& text) {
    return text.size() > 100 ? text.substr(0, 100) + "..." : text;
}

bool storeMesh(RunOptions& o, const std::string& value, std::vector<std::string>&) {
    o.meshName = value;
    return true;
}

bool storeOutput(RunOptions& o, const std::string& value, std::vector<std::string>&) {
    o.outputGiven = value;
    return true;
}

// The cell size of a grid, in double as -grid's, so that the corners lie on its multiples.
bool storeCell(RunOptions& o, const std::string& value, std::vector<std::string>& lines) {
    if (!readFlagNumber(value, o.outputCellSize) ||
        !(o.outputCellSize > 0.0 && std::isfinite(o.outputCellSize))) {
        lines = {"ERROR - Reading the cell size of --cell",
                 "\"" + shortened(value) + "\": the cell size must be a number above zero, in the "
                 "mesh's units, for example --cell 2"};
        return false;
    }
    return true;
}

// The land use that sets -hazard's debris factor by depth band.
bool storeLandUse(RunOptions& o, const std::string& value, std::vector<std::string>& lines) {
    if (readLandUse(value, o.operation.landUse)) return true;
    lines = {"ERROR - Reading the land use of --land-use",
             "\"" + shortened(value) + "\": the land use is pasture (pasture and arable land), "
             "woodland or urban, for example --land-use pasture"};
    return false;
}

// The reference time of a NetCDF output, checked now and kept as the time units will say it.
bool storeReferenceTime(RunOptions& o, const std::string& value, std::vector<std::string>& lines) {
    try {
        o.referenceTime = netcdf::referenceTimeText(value);
    } catch (const Error& e) {
        lines = {"", e.lines().empty() ? std::string("ERROR - --reference-time") : e.lines().back(),
                 "Give it as --reference-time \"2000-01-01 00:00:00\" (or YYYY-MM-DD, or "
                 "YYYY-MM-DD hh:mm)."};
        return false;
    }
    return true;
}

// The deflate level of a NetCDF output: a whole number from 0 (none) to 9.
bool storeDeflate(RunOptions& o, const std::string& value, std::vector<std::string>& lines) {
    const std::string text(trimRight(value));
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') {
        o.deflateLevel = text[0] - '0';
        return true;
    }
    lines = {"ERROR - Reading the level of --deflate",
             "\"" + shortened(value) + "\": the level is a whole number from 0 (no compression) "
             "to 9 (the smallest file), for example --deflate 0"};
    return false;
}

bool storeToNetcdf(RunOptions& o, const std::string&, std::vector<std::string>&) {
    o.toNetcdf = true;
    return true;
}

bool storeExpression(RunOptions& o, const std::string& value, std::vector<std::string>&) {
    o.expressionGiven = value;
    return true;
}
bool storeDepth(RunOptions& o, const std::string& value, std::vector<std::string>&) {
    o.depthName = value;
    return true;
}
bool storeLevel(RunOptions& o, const std::string& value, std::vector<std::string>&) {
    o.levelName = value;
    return true;
}
bool storeVelocity(RunOptions& o, const std::string& value, std::vector<std::string>&) {
    o.velocityName = value;
    return true;
}

const std::vector<LongOptionEntry> kLongOptions = {
    {"mesh", LongValue::Text, "FILE", "a file name", storeMesh},
    {"output", LongValue::Text, "FILE", "a file name", storeOutput},
    {"cell", LongValue::Text, "SIZE", "a cell size", storeCell},
    {"land-use", LongValue::Text, "USE", "a land use", storeLandUse},
    {"runs", LongValue::Text, "FILE", "a file name", storeEnsembleRuns},
    {"group", LongValue::Text, "NAME", "a group name", storeEnsembleGroup},
    {"stat", LongValue::Text, "median|mean", "a statistic", storeEnsembleStat},
    {"percentiles", LongValue::Text, "LIST", "a list of percentiles", storeEnsemblePercentiles},
    {"per-group", LongValue::None, "", "", storeEnsemblePerGroup},
    {"skip-missing", LongValue::None, "", "", storeEnsembleSkipMissing},
    {"reference-time", LongValue::Text, "TIME", "a date and time", storeReferenceTime},
    {"to-netcdf", LongValue::None, "", "", storeToNetcdf},
    {"deflate", LongValue::Text, "LEVEL", "a level from 0 to 9", storeDeflate},
    {"expr", LongValue::Text, "EXPRESSION", "an expression", storeExpression},
    {"depth", LongValue::Text, "FILE", "a file name", storeDepth},
    {"level", LongValue::Text, "FILE", "a file name", storeLevel},
    {"velocity", LongValue::Text, "FILE", "a file name", storeVelocity},
};

}  // namespace

const std::vector<LongOptionEntry>& longOptionTable() { return kLongOptions; }

LongOption readLongOption(const std::vector<std::string>& arguments, std::size_t& index,
                          RunOptions& o, std::vector<std::string>& lines) {
    const std::string argument(trimRight(arguments[index]));
    const std::size_t equals = argument.find('=');
    const std::string name = LOWERCASE(
        argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2));
    const LongOptionEntry* entry = nullptr;
    for (const LongOptionEntry& e : kLongOptions)
        if (name == e.name) entry = &e;
    if (entry == nullptr) return LongOption::Unknown;

    const std::string option = "--" + name;
    if (entry->value == LongValue::None) {
        if (equals != std::string::npos) {
            lines = {"", "ERROR - " + option + " takes no value: give " + option + " alone."};
            return LongOption::Failed;
        }
        return entry->store(o, std::string(), lines) ? LongOption::Taken : LongOption::Failed;
    }

    std::string value;
    if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
    } else if (index + 1 < arguments.size()) {
        value = arguments[++index];
    }
    if (trimRight(value).empty()) {
        lines = {"", "ERROR - " + option + " needs " + entry->valueWhat + ": " + option + " " +
                         entry->valueName + " or " + option + "=" + entry->valueName + "."};
        return LongOption::Failed;
    }
    return entry->store(o, std::string(trimRight(value)), lines) ? LongOption::Taken
                                                                 : LongOption::Failed;
}

}  // namespace kelvara
