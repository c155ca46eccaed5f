#include "formats/datatype.h"

#include "util/path.h"
#include "util/text.h"

namespace kelvara {

namespace {
constexpr std::size_t kDataTypeLength = 100;

// Whether an operation tag in a name ("maxmax", "k5.", "trim1") leaves the values' quantity as
// it was: maxima, chosen steps, joined runs and capped values are still of the input's quantity.
bool keepsQuantity(const std::string& tag) {
    for (const char* word : {"maxmax", "con", "k", "r", "trim"}) {
        if (tag.compare(0, std::string(word).size(), word) == 0) return true;
    }
    return false;
}
}  // namespace

DataKind dataKindOf(const std::string& fileName) {
    const std::string suffix = FILE___EXT(trimRight(fileName));  // lower case, "_d(maxmax)"
    if (suffix.size() < 2) return DataKind::Unknown;
    std::size_t at = suffix.find('(');
    const std::string letters(trimRight(suffix.substr(1, at == std::string::npos ? at : at - 1)));
    DataKind kind = letters == "h"   ? DataKind::WaterLevel
                    : letters == "d" ? DataKind::Depth
                    : letters == "v" ? DataKind::Velocity
                                     : DataKind::Unknown;
    // Every tag that follows must keep the quantity, and nothing but tags may follow.
    while (kind != DataKind::Unknown && at != std::string::npos) {
        const std::size_t close = suffix.find(')', at);
        if (close == std::string::npos || !keepsQuantity(suffix.substr(at + 1, close - at - 1))) {
            return DataKind::Unknown;
        }
        at = close + 1;
        if (at == suffix.size()) break;
        if (suffix[at] != '(') return DataKind::Unknown;
    }
    return kind;
}

std::string dataKindText(DataKind kind) {
    switch (kind) {
    case DataKind::WaterLevel: return "water levels (_h)";
    case DataKind::Depth: return "depths (_d)";
    case DataKind::Velocity: return "velocities (_V)";
    case DataKind::Unknown: break;
    }
    return "values of no known type";
}

DataTypeInfo IDENTIFY_DATA_TYPE(const std::string& fileName, const std::string& label,
                                const MessageSink& messages) {
    const auto say = [&messages](const std::string& line) {
        if (messages) messages(line);
    };
    DataTypeInfo info;
    info.rawSuffix = std::string(trimRight(FILE___EXT(trimRight(fileName))));
    if (info.rawSuffix.size() > kDataTypeLength) {
        info.rawSuffix = std::string(trimRight(info.rawSuffix.substr(0, kDataTypeLength)));
    }

    say("");
    if (info.rawSuffix.size() > 1) {
        info.dataType = info.rawSuffix;
        std::string prefix(trimRight(label));
        if (!prefix.empty()) prefix += ' ';
        say(prefix + '"' + info.rawSuffix + '"');
    } else {
        info.dataType = "XX";
        say("WARNING - Could not identify data type - this may effect results");
    }
    info.isWaterLevel = info.dataType == "_h";
    info.kind = dataKindOf(fileName);
    return info;
}

}  // namespace kelvara
