// The line reading and parsing routines, called both inside the library and through the
// exported C functions with caller fields exactly as long as the lengths passed (so that any
// access past a field is caught). READLINE reads the whole input as a file, line by line, to its
// end, where it stops the run as it must.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "harness.h"
#include "library/lines.h"

// The exported C functions (declared in kelvara.h) keep the routines' names at global scope.
#include "kelvara.h"

namespace {

using kelvara::fuzz::broken;

// A caller's text field of exactly the given length, filled with the given text.
struct Field {
    explicit Field(const std::string& text, std::size_t length)
        : data(new char[length ? length : 1]), size(static_cast<int32_t>(length)) {
        for (std::size_t i = 0; i < length; ++i) data[i] = i < text.size() ? text[i] : ' ';
    }
    std::unique_ptr<char[]> data;
    int32_t size;
};

void checkLogical(int32_t value) {
    if (value != 0 && value != -1) broken("a logical that is neither 0 nor -1");
}

void callExported(const std::string& a, const std::string& b, const std::string& c,
                  int32_t number, std::size_t resultLength) {
    Field result(std::string(), resultLength);
    Field line(a, a.size());
    Field word(b, b.size());
    Field other(c, c.size());
    Field right(std::string(), resultLength);
    Field left(std::string(), resultLength / 2);

    ::SS256(result.data.get(), result.size, line.data.get(), line.size);
    checkLogical(::COMMENTLINE(Field(a, a.size()).data.get(), line.size));
    {
        Field f(a, a.size());
        checkLogical(::NUMBERLINE(f.data.get(), f.size));
        checkLogical(::POSITIVEINTEGERNUMBER(f.data.get(), f.size));
        checkLogical(::BLANK(f.data.get(), f.size));
    }
    checkLogical(::ASAME(line.data.get(), line.size, word.data.get(), word.size));
    checkLogical(::ASAMECS(line.data.get(), line.size, word.data.get(), word.size));
    checkLogical(::CHECKLINE(line.data.get(), line.size, word.data.get(), word.size,
                             other.data.get(), other.size, &number, right.data.get(), right.size,
                             left.data.get(), left.size));
    ::REMOVETABS(result.data.get(), result.size, line.data.get(), line.size);
    ::REMOVESPACES(result.data.get(), result.size, line.data.get(), line.size);
    ::REMOVEQUOTES(result.data.get(), result.size, line.data.get(), line.size);
    ::DOUBLEQUOTE(result.data.get(), result.size, line.data.get(), line.size);
    ::REPLACE(result.data.get(), result.size, line.data.get(), line.size, word.data.get(),
              word.size, other.data.get(), other.size);
    ::CSVCOLUMN(line.data.get(), line.size, word.data.get(), word.size, &number);
    float value = 0.0f;
    checkLogical(::CSVVALUE(line.data.get(), line.size, &number, &value));
    ::SUBSTRING(result.data.get(), result.size, line.data.get(), line.size, other.data.get(),
                other.size, &number);
    ::NUMBEROFNUMBERS(line.data.get(), line.size);
}

void callInternal(const std::string& a, const std::string& b, const std::string& c, int number) {
    using namespace kelvara;
    std::string s = a;
    COMMENTLINE(s);
    s = a;
    NUMBERLINE(s);
    s = a;
    POSITIVEINTEGERNUMBER(s);
    s = a;
    BLANK(s);
    if (SS256(a).size() > 256) broken("SS256 longer than 256");
    ASAME(a, b);
    ASAMECS(a, b);
    std::string right, left;
    CHECKLINE(a, b, c, number, right, left);
    if (right.size() > a.size() || left.size() > a.size()) broken("CHECKLINE parts grew");
    REMOVETABS(a);
    REMOVESPACES(a);
    REMOVEQUOTES(a);
    DOUBLEQUOTE(a);
    REPLACE(a, b, c);
    const int column = CSVCOLUMN(a, b, number);
    (void)column;
    float value = 0.0f;
    if (!CSVVALUE(a, number, value) && value != 0.0f) broken("CSVVALUE failed with a value");
    SUBSTRING(a, c, number);
    SUBSTRING(a, ",", number);
    const int count = NUMBEROFNUMBERS(a);
    if (count > static_cast<int>(a.size()) || -count > static_cast<int>(a.size()))
        broken("more numbers than characters");
}

void readAllLines(const std::string& text, std::size_t capacity) {
    using namespace kelvara::fuzz;
    const std::string path = scratchFile("lines.txt");
    writeFile(path, text);
    kelvara::INITFILEUNITS();
    kelvara::ErrorScope scope;
    try {
        const int unit = kelvara::OPENFILEUNIT("I ", path);
        for (int i = 0; i < 100000; ++i) {
            std::string line;
            kelvara::READLINE(unit, line, capacity);
            if (line.size() > capacity) broken("READLINE line over its capacity");
        }
        broken("READLINE never met the end of the file");
    } catch (const kelvara::Error&) {
        // the end of the file, as documented
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvara::fuzz::scratchFolder();
    FuzzedDataProvider in(data, size);
    const int32_t number = in.ConsumeIntegralInRange<int32_t>(-3, 40);
    const std::size_t resultLength = in.ConsumeIntegralInRange<std::size_t>(0, 300);
    const std::size_t capacity = in.ConsumeIntegralInRange<std::size_t>(0, 300);
    const std::string b = in.ConsumeRandomLengthString(64);
    const std::string c = in.ConsumeRandomLengthString(16);
    const std::string a = in.ConsumeRemainingBytesAsString();

    callInternal(a, b, c, number);
    callExported(a, b, c, number, resultLength);
    readAllLines(a, capacity);
    return 0;
}
