// The calculator's parser and evaluator, through muParser (the only file of kelvara that
// includes it). Without muParser (KELVARA_HAVE_MUPARSER undefined) the same functions refuse.
#include "calc/engine.h"

#include "fileio/error.h"

#ifdef KELVARA_HAVE_MUPARSER

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include <dlfcn.h>

#include <muParser.h>

namespace kelvara::calc::detail {
namespace {

constexpr Input kInputs[] = {Input::Depth,     Input::Level, Input::Speed, Input::VelocityX,
                             Input::VelocityY, Input::Bed,   Input::Time};

// A number in the expression, read as a float the way the data are: "0.3" is 0.3f.
int readNumber(const char* text, int* position, double* value) {
    const char* end = text;
    while (*end >= '0' && *end <= '9') ++end;
    const bool whole = end != text;
    if (*end == '.') {
        ++end;
        const char* fraction = end;
        while (*end >= '0' && *end <= '9') ++end;
        if (!whole && end == fraction) return 0;
    } else if (!whole) {
        return 0;
    }
    if (*end == 'e' || *end == 'E') {
        const char* exponent = end + 1;
        if (*exponent == '+' || *exponent == '-') ++exponent;
        if (*exponent >= '0' && *exponent <= '9') {
            end = exponent;
            while (*end >= '0' && *end <= '9') ++end;
        }
    }
    double read = 0.0;
    const auto result = std::from_chars(text, end, read);
    if (result.ec == std::errc::invalid_argument) return 0;
    // Out of range of a double: infinity for a large exponent, zero for a small one.
    if (result.ec == std::errc::result_out_of_range) {
        const char* e = std::find_if(text, end, [](char c) { return c == 'e' || c == 'E'; });
        read = e != end && e[1] != '-' ? std::numeric_limits<double>::infinity() : 0.0;
    }
    *value = static_cast<double>(static_cast<float>(read));
    *position += static_cast<int>(end - text);
    return 1;
}

// if(c, a, b): a where c is not zero (nan counts as true, as in numpy), else b. Both are
// evaluated, as numpy's where does.
double ifThenElse(double condition, double a, double b) { return condition != 0.0 ? a : b; }
// abs, min and max as numpy has them: a nan argument gives nan.
double absolute(double x) { return std::fabs(x); }
double minimum(const double* values, int count) {
    double result = values[0];
    for (int i = 1; i < count; ++i)
        result = std::isnan(result) || std::isnan(values[i]) ? result + values[i]
                                                             : std::min(result, values[i]);
    return result;
}
double maximum(const double* values, int count) {
    double result = values[0];
    for (int i = 1; i < count; ++i)
        result = std::isnan(result) || std::isnan(values[i]) ? result + values[i]
                                                             : std::max(result, values[i]);
    return result;
}

void defineNames(mu::Parser& parser, double* const* buffers) {
    for (Input input : kInputs)
        parser.DefineVar(inputName(input), buffers[static_cast<std::size_t>(input)]);
    parser.DefineConst("g", static_cast<double>(9.81f));
    parser.DefineConst("nan", noDataDouble());
    parser.DefineFun("if", ifThenElse);
    parser.DefineFun("abs", absolute);
    parser.DefineFun("min", minimum);
    parser.DefineFun("max", maximum);
    parser.AddValIdent(readNumber);
}

bool isNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// muParser evaluates a bulk on as many OpenMP threads as there are cores when it was built with
// OpenMP (Debian's is). The calculator shares a step out over the cores itself, one parser per
// thread, so each thread that evaluates asks OpenMP for a team of one.
void oneOpenMpThreadHere() {
    using SetThreads = void (*)(int);
    static const SetThreads setThreads = [] {
        void* library = dlopen("libgomp.so.1", RTLD_LAZY | RTLD_NOLOAD);
        if (library == nullptr) return SetThreads{};
        return reinterpret_cast<SetThreads>(dlsym(library, "omp_set_num_threads"));
    }();
    thread_local bool done = false;
    if (done || setThreads == nullptr) return;
    setThreads(1);
    done = true;
}

}  // namespace

bool engineAvailable() { return true; }

unsigned checkFormula(const std::string& formula) {
    // "a = b" assigns in muParser; here it can only be a mistake for ==.
    for (std::size_t i = 0; i < formula.size(); ++i) {
        if (formula[i] != '=') continue;
        const bool after = i > 0 && std::string("<>!=").find(formula[i - 1]) != std::string::npos;
        const bool before = i + 1 < formula.size() && formula[i + 1] == '=';
        if (!after && !before) throw ParseFault{false, i, "=", "\"=\" does not compare (use ==)"};
    }
    std::vector<double> space(kInputCount, 0.0);
    double* buffers[kInputCount];
    for (std::size_t i = 0; i < kInputCount; ++i) buffers[i] = &space[i];
    mu::Parser parser;
    try {
        defineNames(parser, buffers);
        parser.SetExpr(formula);
        parser.Eval();
        if (parser.GetNumResults() != 1) {
            const std::size_t comma = formula.find(',');
            throw ParseFault{false, comma == std::string::npos ? 0 : comma, ",",
                             "one expression only (\",\" outside a function's brackets)"};
        }
        unsigned used = 0;
        for (const auto& [name, pointer] : parser.GetUsedVar())
            for (std::size_t i = 0; i < kInputCount; ++i)
                if (pointer == buffers[i]) used |= 1u << i;
        return used;
    } catch (const mu::Parser::exception_type& error) {
        ParseFault fault;
        fault.position = error.GetPos() < 0 ? 0 : static_cast<std::size_t>(error.GetPos());
        fault.token = error.GetToken();
        fault.message = error.GetMsg();
        fault.unknownName = error.GetCode() == mu::ecUNASSIGNABLE_TOKEN && !fault.token.empty() &&
                            isNameStart(fault.token[0]);
        throw fault;
    }
}

std::vector<std::string> functionNames() {
    double space[kInputCount] = {};
    double* buffers[kInputCount];
    for (std::size_t i = 0; i < kInputCount; ++i) buffers[i] = &space[i];
    mu::Parser parser;
    defineNames(parser, buffers);
    std::vector<std::string> names;
    for (const auto& entry : parser.GetFunDef())
        if (isNameStart(entry.first[0]) && entry.first[0] != '_') names.push_back(entry.first);
    return names;
}

struct Engine::Impl {
    std::vector<double> space;
    double* buffers[kInputCount];
    mu::Parser parser;
};

Engine::Engine(const std::string& formula) : impl_(std::make_unique<Impl>()) {
    impl_->space.assign(kInputCount * kBlock, 0.0);
    for (std::size_t i = 0; i < kInputCount; ++i)
        impl_->buffers[i] = impl_->space.data() + i * kBlock;
    defineNames(impl_->parser, impl_->buffers);
    impl_->parser.SetExpr(formula);
}

Engine::~Engine() = default;

double* Engine::buffer(Input input) { return impl_->buffers[static_cast<std::size_t>(input)]; }

void Engine::run(std::size_t count, double* results) {
    if (count == 0) return;
    oneOpenMpThreadHere();
    impl_->parser.Eval(results, static_cast<int>(count));
}

}  // namespace kelvara::calc::detail

#else  // no muParser

namespace kelvara::calc::detail {
namespace {

[[noreturn]] void refuse() {
    throw Error({"",
                 "ERROR - This build of kelvara has no calculator: it was built without "
                 "muParser. Install muParser's development package (Debian: libmuparser-dev) and "
                 "build kelvara again."},
                ErrorCode::Usage);
}

}  // namespace

bool engineAvailable() { return false; }
unsigned checkFormula(const std::string&) { refuse(); }
std::vector<std::string> functionNames() { return {}; }

struct Engine::Impl {};
Engine::Engine(const std::string&) { refuse(); }
Engine::~Engine() = default;
double* Engine::buffer(Input) { return nullptr; }
void Engine::run(std::size_t, double*) {}

}  // namespace kelvara::calc::detail

#endif
