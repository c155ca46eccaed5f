// Dataset type identification from the file-name suffix, with its console line.
#include <gtest/gtest.h>

#include <string>

#include "fileio/console.h"
#include "formats/datatype.h"

namespace {

void toConsole(const std::string& line) { kelvara::consoleLine(line); }

TEST(DataTypeIdentification, FromTheFileNameSuffix) {
    const std::string sms = "SMS data type identified as: ";
    struct Case {
        std::string fileName, label;
        std::string dataType, rawSuffix;
        bool isWaterLevel;
        std::string console;
    };
    const std::string unknown =
        "\nWARNING - Could not identify data type - this may effect results\n";
    const Case cases[] = {
        {"run_h.dat", sms, "_h", "_h", true, "\nSMS data type identified as: \"_h\"\n"},
        {"RUN_H.DAT", sms, "_h", "_h", true, "\nSMS data type identified as: \"_h\"\n"},
        {"C:\\a_b\\run_h.dat", "First .dat file type identified as: ", "_h", "_h", true,
         "\nFirst .dat file type identified as: \"_h\"\n"},
        {"/runs/Run_V.dat", "Second .dat file type identified as: ", "_v", "_v", false,
         "\nSecond .dat file type identified as: \"_v\"\n"},
        {"a_b_d.dat   ", sms, "_d", "_d", false, "\nSMS data type identified as: \"_d\"\n"},
        {"run_hmax.dat", sms, "_hmax", "_hmax", false, "\nSMS data type identified as: \"_hmax\"\n"},
        // A label passed without its trailing blank reads the same.
        {"run_h.dat", "SMS data type identified as:", "_h", "_h", true,
         "\nSMS data type identified as: \"_h\"\n"},
        {"run.dat", sms, "XX", "", false, unknown},
        {"C:\\a_b\\run.dat", sms, "XX", "", false, unknown},
        {"run_.dat", sms, "XX", "_", false, unknown},
        {"run_h", sms, "_h", "_h", true, "\nSMS data type identified as: \"_h\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName);
        testing::internal::CaptureStdout();
        const kelvara::DataTypeInfo info = kelvara::IDENTIFY_DATA_TYPE(c.fileName, c.label, toConsole);
        const std::string console = testing::internal::GetCapturedStdout();
        EXPECT_EQ(info.dataType, c.dataType);
        EXPECT_EQ(info.rawSuffix, c.rawSuffix);
        EXPECT_EQ(info.isWaterLevel, c.isWaterLevel);
        EXPECT_EQ(console, c.console);
    }
}

TEST(DataTypeIdentification, LongSuffixIsCutAt100Characters) {
    const std::string suffix = "_" + std::string(150, 'x');
    testing::internal::CaptureStdout();
    const kelvara::DataTypeInfo info = kelvara::IDENTIFY_DATA_TYPE("run" + suffix + ".dat", "L: ", toConsole);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(info.rawSuffix, suffix.substr(0, 100));
    EXPECT_EQ(info.dataType, suffix.substr(0, 100));
}

}  // namespace

namespace {

TEST(DataTypeIdentification, QuantityOfANameAndOfTheOutputsMadeFromIt) {
    using kelvara::DataKind;
    const struct {
        const char* name;
        DataKind kind;
    } cases[] = {
        {"run_h.dat", DataKind::WaterLevel},
        {"RUN_D.DAT", DataKind::Depth},
        {"/runs/a_b/run_V.dat", DataKind::Velocity},
        {"run_v.dat  ", DataKind::Velocity},
        // Outputs that keep the quantity: maxima, chosen steps, joined and capped values.
        {"base_d(maxmax).dat", DataKind::Depth},
        {"run_V(trim1)(k5.).dat", DataKind::Velocity},
        {"run_h(con).dat", DataKind::WaterLevel},
        {"run_h(r99999.).dat", DataKind::WaterLevel},
        // Outputs of another quantity, and names of none.
        {"run_d(dur0.3).dat", DataKind::Unknown},
        {"run_d(arrival0.3).dat", DataKind::Unknown},
        {"run_d(hazard).dat", DataKind::Unknown},
        {"run_V(va).dat", DataKind::Unknown},
        {"run_d(maxmax)x.dat", DataKind::Unknown},
        {"run_hmax.dat", DataKind::Unknown},
        {"run_q.dat", DataKind::Unknown},
        {"run.dat", DataKind::Unknown},
        {"run_.dat", DataKind::Unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kelvara::dataKindOf(c.name), c.kind) << c.name;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(kelvara::IDENTIFY_DATA_TYPE("base_d(maxmax).dat", "L: ", toConsole).kind, DataKind::Depth);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nL: \"_d(maxmax)\"\n");
}

}  // namespace
