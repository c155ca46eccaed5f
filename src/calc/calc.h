// The calculator: a quantity computed node by node from the values of one output time, written
// as an expression ("d*v^2", "if(d > 0.3 && v > 1, 1, 0)") or named by a ready-made quantity
// ("froude"). Expressions are parsed and evaluated by muParser, which no other part of kelvara
// uses; a build without it has the same interface, with available() false and every Expression
// refusing.
//
// Names an expression may use: d depth, h water level, v speed (the magnitude of the velocity),
// vx and vy its components, z the bed elevation, t the step's time in hours, g = 9.81 and nan
// (no data). Functions: sqrt, abs, min, max, if(c, a, b), muParser's others (exp, ln, log10,
// sin, ...); operators + - * / ^, comparisons, && and ||, and c ? a : b. The ready-made
// quantities are names for expressions (readyMadeQuantities()) and may stand alone or inside an
// expression ("froude > 1").
//
// Arithmetic: the inputs are 4-byte floats; each node is evaluated in double precision and the
// result rounded once to a float. Numbers written in the expression (and g) are rounded to
// floats first, as they are when numpy combines them with float32 arrays, so that "d > 0.3" is
// false for a depth stored as 0.3. A single operation on the inputs therefore gives exactly
// numpy's float32 result; a chain of them is within a float's rounding of it at each step.
//
// A result that comes out not a number or infinite is stored as not a number and counted (for
// one WARNING from the caller); where the expression itself says nan (as froude does where the
// depth is 0.01 m or less) the node has no data and is not counted.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kelvara::calc {

// Whether this build has the calculator (it was built with muParser).
bool available();

// The per-node values an expression can read, and the step's time.
enum class Input { Depth, Level, Speed, VelocityX, VelocityY, Bed, Time };
constexpr std::size_t kInputCount = 7;

// The name an expression uses for an input ("d", "h", "v", "vx", "vy", "z", "t"), and what it
// is ("depth", ...).
const char* inputName(Input input);
const char* inputMeaning(Input input);

struct ReadyMade {
    const char* name;     // "froude"
    const char* formula;  // the expression it stands for
    const char* meaning;  // a few words for lists and usage text
};
// depth, dv, dv2, froude and energy, in that order.
const std::vector<ReadyMade>& readyMadeQuantities();

// An expression checked and compiled from its text. Copies share the compiled form; an
// Expression can be read from any number of threads at once. Throws kelvara::Error: a syntax
// error shows the expression with a caret under the fault; an unknown name lists the names there
// are; a build without muParser says so and names the package that brings it.
class Expression {
public:
    explicit Expression(const std::string& text);

    // As given.
    const std::string& text() const;
    // With the ready-made quantities written out: what muParser evaluates.
    const std::string& formula() const;
    // The ready-made quantity the whole text names ("froude" for " froude "), else "".
    const std::string& readyMade() const;

    bool uses(Input input) const;
    // The inputs read node by node (every used input but Time), in the order of Input.
    std::vector<Input> nodeInputs() const;

    struct Compiled;
    const std::shared_ptr<const Compiled>& compiled() const { return compiled_; }

private:
    std::shared_ptr<const Compiled> compiled_;
};

// The values of one block or step: for every node input the expression uses, an array with one
// value per node (the others may be null), and the step's time in hours.
struct Inputs {
    std::array<const float*, kInputCount> values{};
    float hours = 0.0f;

    const float*& operator[](Input input) { return values[static_cast<std::size_t>(input)]; }
    const float* operator[](Input input) const {
        return values[static_cast<std::size_t>(input)];
    }
};

// Evaluates one expression; one Evaluator per thread (it holds the parser's work space). Nodes
// go through muParser's bulk mode a few thousand at a time; a ready-made quantity standing alone
// is computed by a loop of its own that gives the same values bit for bit.
class Evaluator {
public:
    explicit Evaluator(const Expression& expression);
    ~Evaluator();
    Evaluator(Evaluator&&) noexcept;
    Evaluator& operator=(Evaluator&&) noexcept;

    // out[i] for the nodes [0, count) from the inputs' [0, count); returns the number of values
    // that came out not a number or infinite (stored as not a number), the nodes where the
    // expression says nan not counted. out may be one of the input arrays.
    std::size_t evaluate(const Inputs& inputs, std::size_t count, float* out);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A whole step shared out over the cores, one Evaluator per part.
class StepCalculator {
public:
    explicit StepCalculator(const Expression& expression);
    ~StepCalculator();

    // As Evaluator::evaluate, over every core.
    std::size_t evaluate(const Inputs& inputs, std::size_t count, float* out);
    // As Evaluator::evaluate for the nodes [begin, end) alone, on the evaluator of one part
    // of a step shared out over the cores (part below partCount()): for work on the pieces of
    // a step as they are read, each part on its own thread.
    std::size_t evaluatePiece(std::size_t part, const Inputs& inputs, std::size_t begin,
                              std::size_t end, float* out);

private:
    std::vector<Evaluator> evaluators_;
};

}  // namespace kelvara::calc
