// kelvara.dll as a Fortran or C program loads it at run time: every routine of the export list
// under its plain name and under its decorated alias (one address for both), nothing else in
// the export table, and a handful of routines called through each name.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "kelvara.h"

namespace {

struct Listed {
    const char* name;
    const char* positions;  // a number, "DATA" or "ENTRY"
};
const Listed kExportList[] = {
#include "export_list.inc"
};

bool isRoutine(const Listed& e) {
    return std::strcmp(e.positions, "DATA") != 0 && std::strcmp(e.positions, "ENTRY") != 0;
}

// _NAME@bytes, 4 bytes per argument position.
std::string decorated(const Listed& e) {
    return "_" + std::string(e.name) + "@" + std::to_string(4 * std::stoi(e.positions));
}

std::string besideThisProgram(const std::string& name) {
    char self[MAX_PATH * 4];
    DWORD n = ::GetModuleFileNameA(nullptr, self, sizeof self);
    return (std::filesystem::path(std::string(self, n)).parent_path() / name).string();
}

// The names in the export table of a loaded module.
std::set<std::string> exportTable(HMODULE module) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    if (entry.Size == 0) return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameOffsets[i]));
    return names;
}

class Dll : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module_ = ::LoadLibraryA(besideThisProgram(KELVARA_DLL_NAME).c_str()); }
    static void TearDownTestSuite() {
        if (module_ != nullptr) ::FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "LoadLibrary failed: " << ::GetLastError(); }

    static void* address(const std::string& name) {
        return reinterpret_cast<void*>(::GetProcAddress(module_, name.c_str()));
    }
    template <typename F>
    static F routine(const std::string& name) {
        void* p = address(name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(p);
    }

    static HMODULE module_;
};
HMODULE Dll::module_ = nullptr;

TEST_F(Dll, EveryListedRoutineUnderBothNamesAndNothingElse) {
    std::set<std::string> expected;
    for (const Listed& e : kExportList) {
        expected.insert(e.name);
        if (!isRoutine(e)) continue;
        expected.insert(decorated(e));
        void* plain = address(e.name);
        EXPECT_NE(plain, nullptr) << e.name;
        EXPECT_EQ(address(decorated(e)), plain) << decorated(e);
    }
    EXPECT_EQ(exportTable(module_), expected);
    EXPECT_EQ(decorated({"INSIDE_POLYGON", "8"}), "_INSIDE_POLYGON@32");
}

using TextToText = void(KELVARA_CALL*)(char*, int32_t, const char*, int32_t);
using Distance = float(KELVARA_CALL*)(const float*, const float*, const float*, const float*);
using InsidePolygon = kelvara_logical(KELVARA_CALL*)(const float*, const float*, const float*,
                                                     const float*, const int32_t*, const float*,
                                                     const int32_t*, const int32_t*);
using IntegerText = void(KELVARA_CALL*)(char*, int32_t, const int32_t*);
using Flag = kelvara_logical(KELVARA_CALL*)(const char*, int32_t, const char*, int32_t);
using NoArguments = void(KELVARA_CALL*)();

std::string field(const std::string& text, std::size_t length) {
    std::string f = text.substr(0, length);
    f.resize(length, ' ');
    return f;
}

TEST_F(Dll, RoutinesCalledThroughEitherName) {
    const std::string path = field("C:\\runs\\Base_D.DAT", 40);
    std::string line = field("kelvara -MAX a_h.dat", 100);
    std::string flag = field("-max", 10);
    float x1 = 0, y1 = 0, x2 = 3, y2 = 4;
    // The unit square, closed by its first two vertices again; one ring ending at entry 5.
    float x[6] = {0, 1, 1, 0, 0, 1}, y[6] = {0, 0, 1, 1, 0, 0};
    int32_t n = 6, ends[1] = {5}, rings = 1;
    float xmin = 0, inX = 0.5f, inY = 0.5f, outX = 1.5f;

    for (bool useAlias : {false, true}) {
        SCOPED_TRACE(useAlias ? "decorated names" : "plain names");
        auto name = [&](const char* plain, int positions) {
            return useAlias ? decorated({plain, std::to_string(positions).c_str()}) : std::string(plain);
        };

        std::string result(20, '#');
        routine<TextToText>(name("FILEEXT", 4))(result.data(), 20, path.data(), 40);
        EXPECT_EQ(result, field(".dat", 20));
        routine<TextToText>(name("FILENAMEPATHNO_", 4))(result.data(), 20, path.data(), 40);
        EXPECT_EQ(result, field("C:\\runs\\Base", 20));

        EXPECT_EQ(routine<Flag>(name("FLAGEXISTS", 4))(line.data(), 100, flag.data(), 10), -1);
        EXPECT_EQ(routine<Distance>(name("DISTANCE", 4))(&x1, &y1, &x2, &y2), 5.0f);

        auto inside = routine<InsidePolygon>(name("INSIDE_POLYGON", 8));
        EXPECT_EQ(inside(&inX, &inY, x, y, &n, &xmin, ends, &rings), -1);
        EXPECT_EQ(inside(&outX, &inY, x, y, &n, &xmin, ends, &rings), 0);

        const int32_t unit = 901;
        result.assign(20, '#');
        routine<IntegerText>(name("AINTEGER", 3))(result.data(), 6, &unit);
        EXPECT_EQ(result.substr(0, 7), "901   #");
    }
}

TEST_F(Dll, TheMessageRecordIsTheOneTheRoutinesUse) {
    auto* record = static_cast<kelvara_dmessages*>(address("DMESSAGES"));
    ASSERT_NE(record, nullptr);
    std::memset(record->text[0], 'x', sizeof record->text[0]);
    record->x = 5.0;
    routine<NoArguments>("_DMESSAGECLEAR@0")();
    EXPECT_EQ(std::string(record->text[0], 1000), std::string(1000, ' '));
    EXPECT_EQ(record->x, -99999.0);
}

}  // namespace
