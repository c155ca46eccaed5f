// Value extraction and number-to-text conversion, inside the library and through the exported
// C functions with caller fields exactly as long as the lengths passed. A field that cannot be
// converted stops the run, as it must; every other outcome returns.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "harness.h"
#include "library/values.h"
#include "util/text.h"

#include "kelvara.h"

namespace {

using kelvara::fuzz::broken;

std::unique_ptr<char[]> field(const std::string& text, std::size_t length) {
    std::unique_ptr<char[]> f(new char[length ? length : 1]);
    for (std::size_t i = 0; i < length; ++i) f[i] = i < text.size() ? text[i] : ' ';
    return f;
}

void checkNumberText(const std::string& text, const char* routine) {
    if (text.size() > 20) broken(std::string(routine) + " longer than 20 characters");
    if (!text.empty() && (text.front() == ' ' || text.back() == ' '))
        broken(std::string(routine) + " not trimmed");
}

template <typename Call>
void expectStopOrReturn(Call call) {
    kelvara::ErrorScope scope;
    try {
        call();
    } catch (const kelvara::Error&) {
        // a field that cannot be converted: the documented stop
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvara;
    fuzz::scratchFolder();
    FuzzedDataProvider in(data, size);
    const int32_t column = in.ConsumeIntegralInRange<int32_t>(-2, 30);
    const int32_t digits = in.ConsumeIntegralInRange<int32_t>(-5, 30);
    const std::size_t resultLength = in.ConsumeIntegralInRange<std::size_t>(0, 64);
    const int32_t integer = in.ConsumeIntegral<int32_t>();
    const int64_t integer8 = in.ConsumeIntegral<int64_t>();
    const float real = in.ConsumeFloatingPoint<float>();
    const double real8 = in.ConsumeFloatingPoint<double>();
    const bool ownLowerCopy = in.ConsumeBool();
    const std::string name = in.ConsumeRandomLengthString(32);
    const std::string other = in.ConsumeRandomLengthString(256);
    const std::string line = in.ConsumeRemainingBytesAsString();
    // The lower-case copy is normally the line lowered; it may also be any other text.
    const std::string lower = ownLowerCopy ? other : LOWERCASE(line);

    // Inside the library.
    const std::string s = EXTRACTSTRING(line, lower, name, column);
    if (s.size() > line.size()) broken("EXTRACTSTRING longer than its line");
    expectStopOrReturn([&] { EXTRACTINTEGER(line, lower, name, column, 7); });
    expectStopOrReturn([&] { EXTRACTREAL(line, lower, name, column, 7.0f); });
    checkNumberText(AINTEGERPREC0(integer, digits), "AINTEGERPREC0");
    checkNumberText(AINTEGER8PREC0(integer8, digits), "AINTEGER8PREC0");
    checkNumberText(AREALD(real, digits), "AREALD");
    checkNumberText(AREAL8(real8), "AREAL8");
    checkNumberText(AREAL(real), "AREAL");
    AINTEGER(integer);
    std::int32_t i32 = 0;
    float f32 = 0.0f;
    readFreeInteger(line, i32);
    readFreeReal(line, f32);
    formatFixed(real8, digits, column);
    formatInteger(integer8, digits, column);

    // Through the exported functions.
    auto result = field(std::string(), resultLength);
    const auto r = static_cast<int32_t>(resultLength);
    auto lineField = field(line, line.size());
    auto lowerField = field(lower, lower.size());
    auto nameField = field(name, name.size());
    const auto lineLength = static_cast<int32_t>(line.size());
    const auto lowerLength = static_cast<int32_t>(lower.size());
    const auto nameLength = static_cast<int32_t>(name.size());
    ::EXTRACTSTRING(result.get(), r, lineField.get(), lineLength, lowerField.get(), lowerLength,
                    nameField.get(), nameLength, &column);
    const int32_t defaultInteger = 7;
    const float defaultReal = 7.0f;
    expectStopOrReturn([&] {
        ::EXTRACTINTEGER(lineField.get(), lineLength, lowerField.get(), lowerLength,
                         nameField.get(), nameLength, &column, &defaultInteger);
    });
    expectStopOrReturn([&] {
        ::EXTRACTREAL(lineField.get(), lineLength, lowerField.get(), lowerLength, nameField.get(),
                      nameLength, &column, &defaultReal);
    });
    ::AINTEGERPREC0(result.get(), r, &integer, &digits);
    ::AINTEGER8PREC0(result.get(), r, &integer8, &digits);
    ::AREALD(result.get(), r, &real, &digits);
    ::AREAL8(result.get(), r, &real8);
    return 0;
}
