// The quantity of a dataset, told by the suffix of its file name (run_h.dat holds water levels).
#pragma once

#include <string>

#include "formats/dataset_io.h"  // MessageSink

namespace kelvara {

// The quantities an operation may require or refuse. Unknown: a name without a suffix, a
// suffix of no quantity listed here, or an output of an operation that changes what the values
// mean (a duration, arrival times, flow angles, hazard maps).
enum class DataKind { Unknown, WaterLevel, Depth, Velocity };

struct DataTypeInfo {
    std::string dataType;   // the lower-case suffix with its underscore ("_h"), or "XX"
    std::string rawSuffix;  // the suffix as found: "" or "_" when there is none
    bool isWaterLevel = false;
    DataKind kind = DataKind::Unknown;
};

// Reports to messages an empty line and either label followed by the suffix in double quotes,
// or the warning that the type could not be identified. The label is followed by one blank
// whether or not the caller passes it with its trailing blank ("SMS data type identified as: ").
DataTypeInfo IDENTIFY_DATA_TYPE(const std::string& fileName, const std::string& label,
                                const MessageSink& messages);

// The quantity a dataset's name says it holds, printing nothing: the letter after the name's
// last underscore (_h, _d, _V in either case), followed by nothing or by the tags of operations
// that keep the quantity: "run_d(maxmax).dat" holds depths, "run_V(trim1)(k5.).dat" velocities,
// "run_d(dur0.3).dat" hours (Unknown).
DataKind dataKindOf(const std::string& fileName);

// The quantity and its suffix for messages: "water levels (_h)", "depths (_d)",
// "velocities (_V)"; "values of no known type" for Unknown.
std::string dataKindText(DataKind kind);

}  // namespace kelvara
