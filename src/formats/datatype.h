// The quantity of a dataset, told by the suffix of its file name (run_h.dat holds water levels).
#pragma once

#include <string>

namespace kelvara {

struct DataTypeInfo {
    std::string dataType;   // the lower-case suffix with its underscore ("_h"), or "XX"
    std::string rawSuffix;  // the suffix as found: "" or "_" when there is none
    bool isWaterLevel = false;
};

// Prints an empty line and either label followed by the suffix in double quotes, or the warning
// that the type could not be identified. The label is followed by one blank whether or not the
// caller passes it with its trailing blank ("SMS data type identified as: ").
DataTypeInfo IDENTIFY_DATA_TYPE(const std::string& fileName, const std::string& label);

}  // namespace kelvara
