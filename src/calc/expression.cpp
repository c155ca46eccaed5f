// Expressions from the user's text: the ready-made quantities written out, the faults reported
// against the text as given, and the evaluation of blocks and steps.
#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>

#include "calc/calc.h"
#include "calc/engine.h"
#include "fileio/error.h"
#include "fileio/workers.h"

namespace kelvara::calc {

using detail::kBlock;

namespace {

struct InputText {
    const char* name;
    const char* meaning;
};
constexpr InputText kInputTexts[kInputCount] = {
    {"d", "depth"},      {"h", "water level"},         {"v", "speed"},
    {"vx", "velocity x"}, {"vy", "velocity y"},        {"z", "bed elevation"},
    {"t", "time in hours"},
};

enum class Kernel { None, Depth, DepthSpeed, DepthSpeed2, Froude, Energy };
constexpr Kernel kKernels[] = {Kernel::Depth, Kernel::DepthSpeed, Kernel::DepthSpeed2,
                               Kernel::Froude, Kernel::Energy};

bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The text with every ready-made quantity's name replaced by its formula in brackets, and for
// each character of the result the position in the text it came from (an expansion's characters
// all come from its name's first one).
struct Rewritten {
    std::string formula;
    std::vector<std::size_t> origin;
};

Rewritten expandReadyMade(const std::string& text) {
    Rewritten out;
    auto copy = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) {
            out.formula += text[k];
            out.origin.push_back(k);
        }
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (isDigit(c) || (c == '.' && i + 1 < text.size() && isDigit(text[i + 1]))) {
            // A number, its exponent included ("1e5" holds no name "e5").
            std::size_t end = i;
            while (end < text.size() && (isDigit(text[end]) || text[end] == '.')) ++end;
            if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
                std::size_t exponent = end + 1;
                if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
                    ++exponent;
                if (exponent < text.size() && isDigit(text[exponent])) {
                    end = exponent;
                    while (end < text.size() && isDigit(text[end])) ++end;
                }
            }
            copy(i, end);
            i = end;
        } else if (isNameStart(c)) {
            std::size_t end = i;
            while (end < text.size() && isNameChar(text[end])) ++end;
            const std::string name = text.substr(i, end - i);
            const auto& quantities = readyMadeQuantities();
            const auto found = std::find_if(quantities.begin(), quantities.end(),
                                            [&](const ReadyMade& q) { return name == q.name; });
            if (found == quantities.end()) {
                copy(i, end);
            } else {
                const std::string expansion = std::string("(") + found->formula + ")";
                out.formula += expansion;
                out.origin.insert(out.origin.end(), expansion.size(), i);
            }
            i = end;
        } else {
            copy(i, i + 1);
            ++i;
        }
    }
    out.origin.push_back(text.size());
    return out;
}

// muParser's words without the position it gives in the formula (which may differ from the
// text's): "Unexpected operator "/" found at position 2." becomes "Unexpected operator "/" found".
std::string withoutPosition(std::string message) {
    const auto at = message.find(" at position ");
    if (at != std::string::npos) {
        std::size_t end = at + 13;
        while (end < message.size() && isDigit(message[end])) ++end;
        message.erase(at, end - at);
    }
    while (!message.empty() && (message.back() == '.' || message.back() == ' ')) message.pop_back();
    return message;
}

const std::string kIndent(8, ' ');

// The expression and a caret under the character at position (0-based; past the end: after it).
void addCaret(std::vector<std::string>& lines, const std::string& text, std::size_t position) {
    std::string shown = text;
    for (char& c : shown)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    lines.push_back(kIndent + shown);
    lines.push_back(kIndent + std::string(std::min(position, shown.size()), ' ') + "^");
}

std::string namesAvailable() {
    std::string names = "The names: ";
    for (std::size_t i = 0; i < kInputCount; ++i)
        names += std::string(kInputTexts[i].name) + " (" + kInputTexts[i].meaning + "), ";
    names += "g (9.81), nan (no data).";
    return names;
}

std::string readyMadeNames() {
    std::string list;
    for (const auto& q : readyMadeQuantities())
        list += std::string(list.empty() ? "" : ", ") + q.name;
    return list;
}

std::string functionList() {
    std::vector<std::string> names = detail::functionNames();
    const std::vector<std::string> leading = {"sqrt", "abs", "min", "max", "if"};
    std::sort(names.begin(), names.end());
    std::string list = "The functions: sqrt, abs, min, max, if(c, a, b)";
    for (const auto& name : names)
        if (std::find(leading.begin(), leading.end(), name) == leading.end()) list += ", " + name;
    return list + ".";
}

[[noreturn]] void reportFault(const std::string& text, const Rewritten& rewritten,
                              const detail::ParseFault& fault) {
    const std::size_t position =
        rewritten.origin[std::min(fault.position, rewritten.origin.size() - 1)];
    const std::string where = " at character " + std::to_string(position + 1);
    std::vector<std::string> lines = {""};
    if (fault.unknownName) {
        lines.push_back("ERROR - Unknown name \"" + fault.token + "\" in the expression" + where +
                        ".");
        addCaret(lines, text, position);
        lines.push_back(kIndent + namesAvailable());
        lines.push_back(kIndent + "The ready-made quantities: " + readyMadeNames() + ".");
        lines.push_back(kIndent + functionList());
    } else {
        lines.push_back("ERROR - Syntax error in the expression" + where + ": " +
                        withoutPosition(fault.message) + ".");
        addCaret(lines, text, position);
    }
    throw Error(std::move(lines), ErrorCode::Usage);
}

Kernel kernelOf(const std::string& readyMade) {
    const auto& quantities = readyMadeQuantities();
    for (std::size_t i = 0; i < quantities.size(); ++i)
        if (readyMade == quantities[i].name) return kKernels[i];
    return Kernel::None;
}

// After a block's results were rounded to floats: not a number or infinite becomes the plain NaN,
// counted unless the expression said nan. The common case, every value finite, is one pass that
// the compiler vectorises.
std::size_t settle(float* out, std::size_t count) {
    std::size_t nonFinite = 0;
    for (std::size_t i = 0; i < count; ++i)
        nonFinite += !(std::fabs(out[i]) <= std::numeric_limits<float>::max());
    if (nonFinite == 0) return 0;
    std::size_t bad = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (std::fabs(out[i]) <= std::numeric_limits<float>::max()) continue;
        bad += !detail::isNoData(out[i]);
        out[i] = std::numeric_limits<float>::quiet_NaN();
    }
    return bad;
}

// The ready-made quantities node by node, each operation as muParser performs its formula (in
// double, from floats, constants as floats), so that the values are the same bit for bit.
// A block at a time, so that the check of the results reads them from the cache.
template <class Node>
std::size_t loop(std::size_t count, float* out, Node node) {
    std::size_t bad = 0;
    for (std::size_t begin = 0; begin < count; begin += kBlock) {
        const std::size_t end = std::min(count, begin + kBlock);
        for (std::size_t i = begin; i < end; ++i) out[i] = static_cast<float>(node(i));
        bad += settle(out + begin, end - begin);
    }
    return bad;
}

std::size_t runKernel(Kernel kernel, const Inputs& in, std::size_t count, float* out) {
    const float* d = in[Input::Depth];
    const float* h = in[Input::Level];
    const float* v = in[Input::Speed];
    const float* z = in[Input::Bed];
    const double g = static_cast<double>(9.81f);
    switch (kernel) {
    case Kernel::Depth:  // if(h <= z, 0, h - z)
        return loop(count, out, [=](std::size_t i) {
            const double level = h[i], bed = z[i];
            return level <= bed ? 0.0 : level - bed;
        });
    case Kernel::DepthSpeed:  // d*v
        return loop(count, out, [=](std::size_t i) { return double(d[i]) * double(v[i]); });
    case Kernel::DepthSpeed2:  // d*v^2
        return loop(count, out, [=](std::size_t i) {
            const double speed = v[i];
            return double(d[i]) * (speed * speed);
        });
    case Kernel::Froude: {  // if(d <= 0.01, nan, v/sqrt(g*d))
        const double shallow = static_cast<double>(0.01f);
        const double noData = detail::noDataDouble();
        return loop(count, out, [=](std::size_t i) {
            const double depth = d[i];
            return depth <= shallow ? noData : double(v[i]) / std::sqrt(depth * g);
        });
    }
    case Kernel::Energy: {  // h + v^2/(2*g)
        const double twoG = 2.0 * g;
        return loop(count, out, [=](std::size_t i) {
            const double speed = v[i];
            return double(h[i]) + (speed * speed) / twoG;
        });
    }
    case Kernel::None: break;
    }
    return 0;
}

}  // namespace

bool available() { return detail::engineAvailable(); }

const char* inputName(Input input) { return kInputTexts[static_cast<std::size_t>(input)].name; }
const char* inputMeaning(Input input) {
    return kInputTexts[static_cast<std::size_t>(input)].meaning;
}

const std::vector<ReadyMade>& readyMadeQuantities() {
    static const std::vector<ReadyMade> quantities = {
        {"depth", "if(h <= z, 0, h - z)", "depth from the water level and the bed, 0 where dry"},
        {"dv", "d*v", "depth times speed"},
        {"dv2", "d*v^2", "depth times the square of the speed"},
        {"froude", "if(d <= 0.01, nan, v/sqrt(g*d))", "Froude number, no data where d <= 0.01 m"},
        {"energy", "h + v^2/(2*g)", "specific energy head: level plus velocity head"},
    };
    return quantities;
}

struct Expression::Compiled {
    std::string text;
    std::string formula;
    std::string readyMade;
    unsigned used = 0;
};

Expression::Expression(const std::string& text) {
    if (!detail::engineAvailable()) detail::checkFormula(text);  // refuses: no muParser
    auto compiled = std::make_shared<Compiled>();
    compiled->text = text;
    if (trimmed(text).empty())
        throw Error({"", "ERROR - The expression is empty: give one such as \"d*v^2\" or a "
                         "ready-made quantity (" + readyMadeNames() + ")."},
                    ErrorCode::Usage);
    Rewritten rewritten = expandReadyMade(text);
    compiled->formula = rewritten.formula;
    if (kernelOf(trimmed(text)) != Kernel::None) compiled->readyMade = trimmed(text);
    try {
        compiled->used = detail::checkFormula(compiled->formula);
    } catch (const detail::ParseFault& fault) {
        reportFault(text, rewritten, fault);
    }
    compiled_ = std::move(compiled);
}

const std::string& Expression::text() const { return compiled_->text; }
const std::string& Expression::formula() const { return compiled_->formula; }
const std::string& Expression::readyMade() const { return compiled_->readyMade; }
bool Expression::uses(Input input) const {
    return (compiled_->used >> static_cast<unsigned>(input)) & 1u;
}
std::vector<Input> Expression::nodeInputs() const {
    std::vector<Input> inputs;
    for (std::size_t i = 0; i < kInputCount; ++i) {
        const auto input = static_cast<Input>(i);
        if (input != Input::Time && uses(input)) inputs.push_back(input);
    }
    return inputs;
}

// ---- Evaluation ------------------------------------------------------------------------------

struct Evaluator::Impl {
    Kernel kernel = Kernel::None;
    std::vector<Input> nodeInputs;
    bool usesTime = false;
    std::unique_ptr<detail::Engine> engine;
    std::vector<double> results;
    float hoursInBuffer = std::numeric_limits<float>::quiet_NaN();
};

Evaluator::Evaluator(const Expression& expression) : impl_(std::make_unique<Impl>()) {
    impl_->kernel = kernelOf(expression.readyMade());
    impl_->nodeInputs = expression.nodeInputs();
    impl_->usesTime = expression.uses(Input::Time);
    if (impl_->kernel == Kernel::None) {
        impl_->engine = std::make_unique<detail::Engine>(expression.formula());
        impl_->results.resize(kBlock);
    }
}

Evaluator::~Evaluator() = default;
Evaluator::Evaluator(Evaluator&&) noexcept = default;
Evaluator& Evaluator::operator=(Evaluator&&) noexcept = default;

std::size_t Evaluator::evaluate(const Inputs& inputs, std::size_t count, float* out) {
    Impl& self = *impl_;
    for (Input input : self.nodeInputs)
        if (count > 0 && inputs[input] == nullptr)
            throw std::invalid_argument(std::string("calculator: no values given for ") +
                                        inputName(input));
    if (self.kernel != Kernel::None) return runKernel(self.kernel, inputs, count, out);

    detail::Engine& engine = *self.engine;
    if (self.usesTime && !(inputs.hours == self.hoursInBuffer)) {
        std::fill_n(engine.buffer(Input::Time), kBlock, static_cast<double>(inputs.hours));
        self.hoursInBuffer = inputs.hours;
    }
    std::size_t bad = 0;
    for (std::size_t begin = 0; begin < count; begin += kBlock) {
        const std::size_t n = std::min(kBlock, count - begin);
        for (Input input : self.nodeInputs) {
            const float* from = inputs[input] + begin;
            double* to = engine.buffer(input);
            for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
        }
        engine.run(n, self.results.data());
        const double* results = self.results.data();
        float* to = out + begin;
        for (std::size_t i = 0; i < n; ++i) to[i] = static_cast<float>(results[i]);
        bad += settle(to, n);
    }
    return bad;
}

StepCalculator::StepCalculator(const Expression& expression) {
    const std::size_t parts = std::max<std::size_t>(1, std::min(partCount(), kMaxParts));
    evaluators_.reserve(parts);
    for (std::size_t i = 0; i < parts; ++i) evaluators_.emplace_back(expression);
}

StepCalculator::~StepCalculator() = default;

std::size_t StepCalculator::evaluatePiece(std::size_t part, const Inputs& inputs,
                                         std::size_t begin, std::size_t end, float* out) {
    Inputs piece = inputs;
    for (auto& values : piece.values)
        if (values != nullptr) values += begin;
    return evaluators_.at(part).evaluate(piece, end - begin, out + begin);
}

std::size_t StepCalculator::evaluate(const Inputs& inputs, std::size_t count, float* out) {
    std::size_t bad[kMaxParts] = {};
    std::exception_ptr failure[kMaxParts];
    const auto work = [&](std::size_t part, std::size_t begin, std::size_t end) {
        try {
            Inputs piece = inputs;
            for (auto& values : piece.values)
                if (values != nullptr) values += begin;
            bad[part] = evaluators_.at(part).evaluate(piece, end - begin, out + begin);
        } catch (...) {
            failure[part] = std::current_exception();
        }
    };
    forEachPart(count, kBlock, 4 * kBlock, work);
    std::size_t total = 0;
    for (std::size_t part = 0; part < kMaxParts; ++part) {
        if (failure[part]) std::rethrow_exception(failure[part]);
        total += bad[part];
    }
    return total;
}

}  // namespace kelvara::calc
