// The calculator: every ready-made quantity and free expressions against a reference computed as
// numpy computes on float32 arrays, on random nodes wet and dry (division by zero, square roots
// of negative numbers, not-a-number inputs); the ready-made loops against their formulas through
// muParser, bit for bit; numbers in the text taken as floats; the names an expression uses; the
// faults, reported with a caret under them; the time; blocks, parts and results in place.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calc/calc.h"
#include "fileio/error.h"
#include "support/tool_runner.h"

namespace kelvara::calc {
namespace {

using test::contains;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// One node's values, as a reference sees them.
struct Node {
    float d, h, v, vx, vy, z, t;
};

// Nodes of a run at one time: a third dry (depth 0, the level on or under the bed), a few with a
// negative depth (a model's round-off), some on the limits 0.01 and 0.3, still and fast water,
// and a few inputs that are not a number. More than two blocks of the evaluator, not a multiple.
struct Nodes {
    std::vector<float> d, h, v, vx, vy, z;
    float hours = 1.5f;

    explicit Nodes(std::size_t count, unsigned seed = 11) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (std::size_t i = 0; i < count; ++i) {
            const float bed = 10.0f * unit(random);
            const float pick = unit(random);
            float depth = 3.0f * unit(random);
            if (pick < 0.33f) depth = 0.0f;
            else if (pick < 0.38f) depth = -0.2f * unit(random);
            else if (pick < 0.41f) depth = 0.01f;
            else if (pick < 0.44f) depth = 0.3f;
            float level = bed + depth;
            if (depth == 0.0f && unit(random) < 0.5f) level = bed - unit(random);  // under the bed
            float speed = depth > 0.0f ? 3.0f * unit(random) : 0.0f;
            if (depth > 0.0f && unit(random) < 0.1f) speed = 1.0f;
            const float angle = 6.2831853f * unit(random);
            float x = speed * std::cos(angle), y = speed * std::sin(angle);
            if (unit(random) < 0.01f) depth = kNaN;
            if (unit(random) < 0.01f) speed = x = kNaN;
            d.push_back(depth);
            h.push_back(level);
            v.push_back(speed);
            vx.push_back(x);
            vy.push_back(y);
            z.push_back(bed);
        }
    }

    std::size_t size() const { return d.size(); }
    Node node(std::size_t i) const { return {d[i], h[i], v[i], vx[i], vy[i], z[i], hours}; }
    Inputs inputs() const {
        Inputs in;
        in[Input::Depth] = d.data();
        in[Input::Level] = h.data();
        in[Input::Speed] = v.data();
        in[Input::VelocityX] = vx.data();
        in[Input::VelocityY] = vy.data();
        in[Input::Bed] = z.data();
        in.hours = hours;
        return in;
    }
};

std::vector<float> evaluate(const Expression& expression, const Inputs& inputs, std::size_t count,
                            std::size_t* bad = nullptr) {
    std::vector<float> out(count);
    Evaluator evaluator(expression);
    const std::size_t counted = evaluator.evaluate(inputs, count, out.data());
    if (bad != nullptr) *bad = counted;
    return out;
}

std::uint32_t bitsOf(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

class Calculator : public ::testing::Test {
protected:
    void SetUp() override {
        if (!available()) GTEST_SKIP() << "built without muParser";
    }
};

// The reference of one node in float32 arithmetic, as numpy gives it on float32 arrays (a
// Python number combined with them is a float32); nullopt where the expression says no data.
using Reference = std::function<std::optional<float>(const Node&)>;

struct Case {
    const char* expression;
    Reference reference;
    bool exact;  // one rounded operation: numpy's float32 value itself
};

using Value = std::optional<float>;

const std::vector<Case> kCases = {
    // The ready-made quantities.
    {"depth", [](const Node& n) -> Value { return n.h <= n.z ? 0.0f : n.h - n.z; }, true},
    {"dv", [](const Node& n) -> Value { return n.d * n.v; }, true},
    {"dv2", [](const Node& n) -> Value { return n.d * (n.v * n.v); }, false},
    {"froude",
     [](const Node& n) -> Value {
         if (n.d <= 0.01f) return std::nullopt;
         return n.v / std::sqrt(9.81f * n.d);
     },
     false},
    {"energy", [](const Node& n) -> Value { return n.h + (n.v * n.v) / 19.62f; }, false},
    // Free expressions: a negative square root, a division by zero, a mask on the float limits,
    // numpy's abs, maximum and minimum, the time and the ternary.
    {"sqrt(h - z)", [](const Node& n) -> Value { return std::sqrt(n.h - n.z); }, false},
    {"v / d", [](const Node& n) -> Value { return n.v / n.d; }, true},
    {"if(d > 0.3 && v > 1, 1, 0)",
     [](const Node& n) -> Value { return n.d > 0.3f && n.v > 1.0f ? 1.0f : 0.0f; }, true},
    {"max(abs(vx), abs(vy)) - min(d, h)",
     [](const Node& n) -> Value {
         const float a = std::fabs(n.vx), b = std::fabs(n.vy);
         const float most = std::isnan(a) || std::isnan(b) ? kNaN : std::max(a, b);
         const float least = std::isnan(n.d) || std::isnan(n.h) ? kNaN : std::min(n.d, n.h);
         return most - least;
     },
     true},
    {"d > 0.3 || t >= 2 ? d*t : -v",
     [](const Node& n) -> Value { return n.d > 0.3f || n.t >= 2.0f ? n.d * n.t : -n.v; }, true},
    {"froude > 1 && dv > 0.5",
     [](const Node& n) -> Value {
         const float froude = n.d <= 0.01f ? kNaN : n.v / std::sqrt(9.81f * n.d);
         return froude > 1.0f && n.d * n.v > 0.5f ? 1.0f : 0.0f;
     },
     false},
};

TEST_F(Calculator, MatchesNumpyInFloat32) {
    const Nodes run(3 * 8192 + 1234);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.expression);
        std::size_t bad = 0;
        const auto out = evaluate(Expression(c.expression), run.inputs(), run.size(), &bad);
        std::size_t expectedBad = 0, noData = 0, finite = 0;
        for (std::size_t i = 0; i < run.size(); ++i) {
            const auto expected = c.reference(run.node(i));
            if (!expected) {
                ++noData;
                ASSERT_TRUE(std::isnan(out[i])) << "node " << i;
                continue;
            }
            if (!std::isfinite(*expected)) {
                ++expectedBad;
                ASSERT_TRUE(std::isnan(out[i])) << "node " << i << ": " << out[i];
                ASSERT_EQ(bitsOf(out[i]), bitsOf(kNaN)) << "stored as the plain NaN";
                continue;
            }
            ++finite;
            // Evaluated in double and rounded once: within a float's rounding per operation.
            const float tolerance =
                c.exact ? 0.0f : 4 * std::numeric_limits<float>::epsilon() * std::fabs(*expected);
            ASSERT_NEAR(out[i], *expected, tolerance) << "node " << i;
        }
        EXPECT_EQ(bad, expectedBad);
        EXPECT_GT(finite, run.size() / 3);
        if (std::string(c.expression) == "froude") {
            EXPECT_GT(noData, run.size() / 4);
        }
    }
}

TEST_F(Calculator, DivisionByZeroAndNegativeRootsAreCounted) {
    const Nodes run(3 * 8192 + 1234);
    std::size_t bad = 0;
    evaluate(Expression("v / d"), run.inputs(), run.size(), &bad);
    EXPECT_GT(bad, run.size() / 4);  // the dry nodes at least
    evaluate(Expression("sqrt(h - z)"), run.inputs(), run.size(), &bad);
    EXPECT_GT(bad, run.size() / 10);  // levels under the bed
}

// Whether a node's nan was said by the expression or came out of the arithmetic decides whether
// it is counted.
TEST_F(Calculator, OnlyUnintendedNotANumberIsCounted) {
    const std::vector<float> d = {0.0f, 0.5f, 2.0f, kNaN};
    Inputs in;
    in[Input::Depth] = d.data();
    const struct {
        const char* expression;
        std::size_t bad;
    } cases[] = {
        {"if(d > 1, nan, d)", 1},          // only the nan input counts
        {"nan * (d > 5) + 1", 0},          // arithmetic on nan keeps it no data
        {"if(d > 1, nan, 0/0 + d*0)", 3},  // 0/0 does count, and so does the nan input
        {"d / 0", 4},                      // infinities and nan
        {"1e38 * (d + 5)", 4},             // beyond a float: infinite once rounded
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        std::size_t bad = 0;
        const auto out = evaluate(Expression(c.expression), in, d.size(), &bad);
        EXPECT_EQ(bad, c.bad);
        for (float x : out) {
            if (!std::isfinite(x)) {
                EXPECT_EQ(bitsOf(x), bitsOf(kNaN));
            }
        }
    }
}

// A ready-made quantity standing alone has a loop of its own; it must give what its formula
// gives through muParser, bit for bit, and count the same.
TEST_F(Calculator, ReadyMadeLoopsEqualTheirFormulas) {
    const Nodes run(2 * 8192 + 77, 5);
    for (const auto& quantity : readyMadeQuantities()) {
        SCOPED_TRACE(quantity.name);
        const Expression named(quantity.name), written(quantity.formula);
        ASSERT_EQ(named.readyMade(), quantity.name);
        ASSERT_EQ(written.readyMade(), "");
        std::size_t badNamed = 0, badWritten = 0;
        const auto a = evaluate(named, run.inputs(), run.size(), &badNamed);
        const auto b = evaluate(written, run.inputs(), run.size(), &badWritten);
        EXPECT_EQ(badNamed, badWritten);
        for (std::size_t i = 0; i < run.size(); ++i) ASSERT_EQ(bitsOf(a[i]), bitsOf(b[i])) << i;
    }
}

// Numbers are floats, as the data: a depth stored as 0.3 is not above 0.3.
TEST_F(Calculator, NumbersAreTakenAsFloats) {
    const struct {
        const char* expression;
        float d, expected;
    } cases[] = {
        {"d > 0.3", 0.3f, 0.0f},   {"d >= 0.3", 0.3f, 1.0f},  {"d == 0.1", 0.1f, 1.0f},
        {"d <= 0.01", 0.01f, 1.0f}, {"d < 1.5e-1", 0.15f, 0.0f}, {"d == .25", 0.25f, 1.0f},
        {"d * 2.5E+2", 2.0f, 500.0f}, {"g", 0.0f, 9.81f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        Inputs in;
        in[Input::Depth] = &c.d;
        EXPECT_EQ(evaluate(Expression(c.expression), in, 1)[0], c.expected);
    }
}

TEST_F(Calculator, NamesUsed) {
    const struct {
        const char* expression;
        std::vector<Input> nodeInputs;
        bool time;
    } cases[] = {
        {"dv2", {Input::Depth, Input::Speed}, false},
        {"depth", {Input::Level, Input::Bed}, false},
        {"energy", {Input::Level, Input::Speed}, false},
        {"froude > 1 && t > 2", {Input::Depth, Input::Speed}, true},
        {"g*2 + nan", {}, false},
        {"max(vx, vy) + 1e5*z", {Input::VelocityX, Input::VelocityY, Input::Bed}, false},
        {"if(h > z, h - z, 0)", {Input::Level, Input::Bed}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        const Expression expression(c.expression);
        EXPECT_EQ(expression.nodeInputs(), c.nodeInputs);
        EXPECT_EQ(expression.uses(Input::Time), c.time);
    }
}

TEST_F(Calculator, ReadyMadeNamesStandAloneOrWithin) {
    EXPECT_EQ(Expression(" froude ").readyMade(), "froude");
    EXPECT_EQ(Expression("froude > 1").readyMade(), "");
    EXPECT_EQ(Expression("froude > 1").formula(), "(if(d <= 0.01, nan, v/sqrt(g*d))) > 1");
}

// The text of an error and where its caret stands (under which character of the expression).
std::vector<std::string> errorLines(const std::string& text) {
    try {
        Expression expression(text);
    } catch (const Error& error) {
        return error.lines();
    }
    return {};
}

TEST_F(Calculator, FaultsShowTheExpressionWithACaret) {
    const struct {
        const char* expression;
        const char* first;  // a part of the ERROR line
        std::size_t caret;  // 0-based, in the expression as given
    } cases[] = {
        {"d*/v", "Syntax error in the expression at character 3", 2},
        {"sqrt(d", "at character 7: Missing parenthesis", 6},
        {"d v", "at character 3", 2},
        {"d = 1", "\"=\" does not compare (use ==)", 2},
        {"d, v", "one expression only", 1},
        {"froude + )", "at character 10", 9},  // after a ready-made name written out
        {"dv2 * foo(d)", "Unknown name \"foo\" in the expression at character 7", 6},
        {"d*x", "Unknown name \"x\"", 2},
        {"depth - Z", "Unknown name \"Z\"", 8},
        {"dv + dvx", "Unknown name \"dvx\"", 5},  // not the ready-made dv and an x
    };
    const std::string indent(8, ' ');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        const auto lines = errorLines(c.expression);
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[0], "");
        EXPECT_EQ(lines[1].rfind("ERROR - ", 0), 0u) << lines[1];
        EXPECT_TRUE(contains(lines[1], c.first)) << lines[1];
        EXPECT_EQ(lines[2], indent + c.expression);
        EXPECT_EQ(lines[3], indent + std::string(c.caret, ' ') + "^");
    }
}

TEST_F(Calculator, AnUnknownNameListsTheNames) {
    const auto lines = errorLines("d*speed");
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    for (const char* part : {"d (depth)", "h (water level)", "v (speed)", "vx", "vy",
                             "z (bed elevation)", "t (time in hours)", "g (9.81)", "nan (no data)",
                             "depth, dv, dv2, froude, energy", "sqrt, abs, min, max, if(c, a, b)"})
        EXPECT_TRUE(contains(all, part)) << part << " in\n" << all;
}

TEST_F(Calculator, AnEmptyExpressionIsRefused) {
    for (const char* text : {"", "   "}) {
        const auto lines = errorLines(text);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_TRUE(contains(lines[1], "ERROR - The expression is empty")) << lines[1];
    }
}

// The time is the step's: an evaluator given another step's time uses it.
TEST_F(Calculator, TimeFollowsTheStep) {
    const Expression expression("t * 2 + d");
    Evaluator evaluator(expression);
    const std::vector<float> d(9000, 1.0f);
    std::vector<float> out(d.size());
    Inputs in;
    in[Input::Depth] = d.data();
    for (float hours : {0.5f, 0.5f, 3.0f, 0.0f}) {
        in.hours = hours;
        evaluator.evaluate(in, d.size(), out.data());
        EXPECT_EQ(out.front(), hours * 2 + 1);
        EXPECT_EQ(out.back(), hours * 2 + 1);
    }
}

// Over every core, in one call on one thread, and in place: the same values whatever the blocks.
TEST_F(Calculator, PartsBlocksAndInPlaceAgree) {
    const Nodes run(5 * 8192 + 3, 3);
    for (const char* text : {"dv2", "d*v^2 + sqrt(h - z)"}) {
        SCOPED_TRACE(text);
        const Expression expression(text);
        std::size_t badOne = 0;
        const auto one = evaluate(expression, run.inputs(), run.size(), &badOne);

        StepCalculator calculator(expression);
        std::vector<float> shared(run.size());
        EXPECT_EQ(calculator.evaluate(run.inputs(), run.size(), shared.data()), badOne);

        Nodes copy = run;
        Inputs in = copy.inputs();
        Evaluator evaluator(expression);
        std::size_t badPieces = 0;
        for (std::size_t begin = 0; begin < copy.size(); begin += 1000) {
            const std::size_t n = std::min<std::size_t>(1000, copy.size() - begin);
            Inputs piece = in;
            for (auto& values : piece.values)
                if (values != nullptr) values += begin;
            badPieces += evaluator.evaluate(piece, n, copy.d.data() + begin);  // over the depths
        }
        EXPECT_EQ(badPieces, badOne);
        for (std::size_t i = 0; i < run.size(); ++i) {
            ASSERT_EQ(bitsOf(shared[i]), bitsOf(one[i])) << i;
            ASSERT_EQ(bitsOf(copy.d[i]), bitsOf(one[i])) << i;
        }
    }
}

#ifdef KELVARA_HAVE_MUPARSER
TEST(CalculatorBuild, HasTheCalculator) { EXPECT_TRUE(available()); }
#else
// A build without muParser refuses every expression, naming the package to install.
TEST(CalculatorBuild, RefusesWithoutMuparser) {
    EXPECT_FALSE(available());
    const auto lines = errorLines("d*v");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains(lines[1], "ERROR - This build of kelvara has no calculator")) << lines[1];
    EXPECT_TRUE(contains(lines[1], "libmuparser-dev")) << lines[1];
}
#endif

}  // namespace
}  // namespace kelvara::calc
