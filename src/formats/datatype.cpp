#include "formats/datatype.h"

#include "fileio/console.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {

namespace {
constexpr std::size_t kDataTypeLength = 100;
}

DataTypeInfo IDENTIFY_DATA_TYPE(const std::string& fileName, const std::string& label) {
    DataTypeInfo info;
    info.rawSuffix = std::string(trimRight(FILE___EXT(trimRight(fileName))));
    if (info.rawSuffix.size() > kDataTypeLength) {
        info.rawSuffix = std::string(trimRight(info.rawSuffix.substr(0, kDataTypeLength)));
    }

    consoleLine();
    if (info.rawSuffix.size() > 1) {
        info.dataType = info.rawSuffix;
        std::string prefix(trimRight(label));
        if (!prefix.empty()) prefix += ' ';
        consoleLine(prefix + '"' + info.rawSuffix + '"');
    } else {
        info.dataType = "XX";
        consoleLine("WARNING - Could not identify data type - this may effect results");
    }
    info.isWaterLevel = info.dataType == "_h";
    return info;
}

}  // namespace kelvara
