// The steps of a quantity over a run: the datasets read in step with the primary's times, the
// velocity's magnitude where v is read, the expression over every core, and the flags merged.
#include "calc/quantity_steps.h"

#include <cstdio>
#include <exception>
#include <functional>
#include <vector>

#include "fileio/error.h"
#include "fileio/table_memory.h"
#include "fileio/workers.h"
#include "formats/dataset.h"
#include "maps/pairing.h"
#include "maps/summary.h"
#include "steps/step_times.h"

namespace kelvara::calc {
namespace {

std::size_t indexOf(Source source) { return static_cast<std::size_t>(source); }

// The inputs each source gives, in the order of Input.
std::vector<Input> inputsOf(Source source) {
    switch (source) {
    case Source::Depths: return {Input::Depth};
    case Source::Levels: return {Input::Level};
    case Source::Velocities: return {Input::Speed, Input::VelocityX, Input::VelocityY};
    }
    return {};
}

}  // namespace

bool reads(const Expression& expression, Source source) {
    for (Input input : inputsOf(source))
        if (expression.uses(input)) return true;
    return false;
}

bool readsMesh(const Expression& expression) { return expression.uses(Input::Bed); }

const char* sourceWhat(Source source) {
    switch (source) {
    case Source::Depths: return "depths";
    case Source::Levels: return "water levels";
    case Source::Velocities: return "velocities";
    }
    return "";
}

std::string namesReading(const Expression& expression, Source source) {
    std::vector<std::string> names;
    for (Input input : inputsOf(source)) {
        if (!expression.uses(input)) continue;
        names.push_back(input == Input::Depth || input == Input::Level || input == Input::Speed
                            ? std::string(inputName(input)) + " (" + inputMeaning(input) + ")"
                            : std::string(inputName(input)));
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

CompanionFile companionOf(Source source) {
    switch (source) {
    case Source::Depths: return CompanionFile::Depths;
    case Source::Levels: return CompanionFile::Levels;
    case Source::Velocities: return CompanionFile::Velocities;
    }
    return CompanionFile::Depths;
}

std::string SourceFiles::file(Source source, const std::string& primary) const {
    if (isNamed(source)) return named[indexOf(source)];
    return CompanionResolver(mesh).name(companionOf(source), primary);
}

std::string SourceFiles::meshFile(const std::string& primary) const {
    return CompanionResolver(mesh).name(CompanionFile::Mesh, primary);
}

double hoursPerTimeUnit(std::int32_t units) {
    switch (units) {
    case 1: return 1.0 / 60.0;
    case 2: return 1.0 / 3600.0;
    case 4: return 24.0;
    default: return 1.0;
    }
}

// ---- The steps -------------------------------------------------------------------------------

namespace {

// One dataset being read: its step in hand (values, and flags, which a step without flags
// leaves as the step before gave them), and whether that step waits for a later time.
struct Feed {
    DatasetReader* reader = nullptr;
    bool isVector = false;
    bool valuesUsed = false;  // a source of the expression reads its values
    Table<std::int8_t> ownActive;
    Table<float> ownX, ownY;
    std::int8_t* active = nullptr;
    float* x = nullptr;
    float* y = nullptr;
    bool held = false;  // x and y hold the step at heldTime, not yet passed
    float heldTime = 0.0f;
};

}  // namespace

struct QuantitySteps::State {
    Expression expression;
    StepCalculator calculator;
    MessageSink messages;
    std::int32_t nodes = 0, cells = 0;
    double hoursPerUnit = 1.0;

    std::vector<Feed> feeds;  // feeds[0]: the primary
    std::array<int, kSourceCount> feedOf{{-1, -1, -1}};
    std::vector<std::size_t> flagFeeds;  // the feeds whose flags make the output's

    Table<float> speed;          // magnitudes of vector velocities, when v is read
    Table<float> out;            // the values computed
    Table<std::int8_t> merged;   // the flags, when several feeds give them
    Inputs inputs;               // the tables the expression reads (the time set per step)
    const std::int8_t* flags = nullptr;
    float time = 0.0f;
    std::int64_t steps = 0;
    std::int64_t notANumber = 0;

    // The step is computed piece by piece while the last dataset's values of its time are
    // read, each piece while it is still in the cache; otherwise (a step read before its time
    // came) once the step is in hand.
    bool inPieces = false;
    bool computed = false;
    std::array<std::size_t, kMaxParts> pieceBad{};
    std::array<std::exception_ptr, kMaxParts> pieceFailure{};
    PieceWork onPiece;

    explicit State(const Expression& e) : expression(e), calculator(e) {}

    void say(const std::string& line) const {
        if (messages) messages(line);
    }
    void setTime(float t) {
        time = t;
        inputs.hours = static_cast<float>(static_cast<double>(t) * hoursPerUnit);
    }
    void computeNodes(std::size_t part, std::size_t begin, std::size_t end);
    void endPieces();
    bool advance(Feed& feed, float t, bool last);
    void finishStep();
};

namespace {

[[noreturn]] void wrongInput(const std::string& line) {
    throw Error({"", line}, ErrorCode::WrongInput);
}

}  // namespace

QuantitySteps::QuantitySteps(const Expression& expression, const QuantityInputs& in)
    : state_(std::make_unique<State>(expression)) {
    State& s = *state_;
    s.messages = in.messages;
    DatasetReader& primary = *in.primary;
    s.nodes = primary.header().nodeCount;
    s.cells = primary.header().cellCount;
    s.hoursPerUnit = hoursPerTimeUnit(primary.timeUnits());
    if (readsMesh(expression) && in.bed == nullptr)
        throw Error({"", "ERROR - The expression reads z: the mesh's bed elevations are needed."},
                    ErrorCode::Internal);

    Feed first;
    first.reader = &primary;
    first.isVector = primary.header().isVector;
    s.feeds.push_back(std::move(first));
    for (Source source : kSources) {
        if (!reads(expression, source)) continue;
        DatasetReader* reader = in.sources[indexOf(source)];
        if (reader == nullptr)
            throw Error({"", std::string("ERROR - No ") + sourceWhat(source) +
                                 " were given for the expression."},
                        ErrorCode::Internal);
        const DatasetHeader& h = reader->header();
        const std::string& name = reader->name();
        if (h.nodeCount != s.nodes || h.cellCount != s.cells) {
            wrongInput("ERROR - Number nodes and/or cells in " + name +
                       " not the same as in primary .dat file.");
        }
        const std::string names = namesReading(expression, source);
        if (source != Source::Velocities && h.isVector) {
            wrongInput("ERROR - " + name + " is a vector dataset: the expression reads " + names +
                       " from it, one value per node.");
        }
        if (source == Source::Velocities && !h.isVector &&
            (expression.uses(Input::VelocityX) || expression.uses(Input::VelocityY))) {
            wrongInput("ERROR - " + name + " holds one value per node, not velocity vectors: the "
                       "expression reads vx or vy, their components (v reads it as the speed).");
        }
        std::size_t feed = 0;
        while (feed < s.feeds.size() && s.feeds[feed].reader != reader) ++feed;
        if (feed == s.feeds.size()) {
            Feed added;
            added.reader = reader;
            added.isVector = h.isVector;
            s.feeds.push_back(std::move(added));
        }
        s.feeds[feed].valuesUsed = true;
        s.feedOf[indexOf(source)] = static_cast<int>(feed);
    }

    const auto nodes = static_cast<std::size_t>(s.nodes);
    const auto cells = static_cast<std::size_t>(s.cells);
    for (std::size_t f = 0; f < s.feeds.size(); ++f)
        if (s.feeds[f].valuesUsed) s.flagFeeds.push_back(f);
    if (s.flagFeeds.empty()) s.flagFeeds.push_back(0);  // z, t and numbers only: the run's flags

    for (std::size_t f = 0; f < s.feeds.size(); ++f) {
        Feed& feed = s.feeds[f];
        const bool readsFlags = f != 0 || s.flagFeeds.front() == 0;
        const StepBuffers& given = in.primaryBuffers;
        if (f == 0 && given.active != nullptr && given.values1 != nullptr &&
            (given.values2 != nullptr || !feed.isVector)) {
            feed.active = given.active;
            feed.x = given.values1;
            feed.y = given.values2;
            continue;
        }
        if (readsFlags) {
            feed.ownActive.assign(cells, 1);  // active until a step supplies flags
            feed.active = feed.ownActive.data();
        }
        if (feed.valuesUsed) {
            feed.ownX.resize(nodes);
            feed.x = feed.ownX.data();
            if (feed.isVector) {
                feed.ownY.resize(nodes);
                feed.y = feed.ownY.data();
            }
        }
    }
    s.out.resize(nodes);
    if (s.flagFeeds.size() > 1) s.merged.resize(cells);

    Inputs& inputs = s.inputs;
    inputs[Input::Bed] = in.bed;
    const auto feedOf = [&s](Source source) -> const Feed* {
        const int f = s.feedOf[indexOf(source)];
        return f < 0 ? nullptr : &s.feeds[static_cast<std::size_t>(f)];
    };
    if (const Feed* depths = feedOf(Source::Depths)) inputs[Input::Depth] = depths->x;
    if (const Feed* levels = feedOf(Source::Levels)) inputs[Input::Level] = levels->x;
    if (const Feed* velocities = feedOf(Source::Velocities)) {
        inputs[Input::VelocityX] = velocities->x;
        inputs[Input::VelocityY] = velocities->y;
        inputs[Input::Speed] = velocities->x;
        if (velocities->isVector && expression.uses(Input::Speed)) {
            s.speed.resize(nodes);
            inputs[Input::Speed] = s.speed.data();
        }
    }
    s.onPiece = [&s](std::size_t part, std::size_t begin, std::size_t end) {
        if (!s.inPieces) return;
        try {
            s.computeNodes(part, begin, end);
        } catch (...) {
            s.pieceFailure[part] = std::current_exception();
        }
    };
}

QuantitySteps::~QuantitySteps() = default;

// The speeds and the expression for the nodes [begin, end), on the evaluator of one part.
void QuantitySteps::State::computeNodes(std::size_t part, std::size_t begin, std::size_t end) {
    if (!speed.empty()) {
        const Feed& velocities =
            feeds[static_cast<std::size_t>(feedOf[indexOf(Source::Velocities)])];
        VECTOR_MAGNITUDES(velocities.x + begin, velocities.y + begin, speed.data() + begin,
                          end - begin);
    }
    pieceBad[part] += calculator.evaluatePiece(part, inputs, begin, end, out.data());
}

// After a read worked on piece by piece: its failures and the values it stored as not a number.
void QuantitySteps::State::endPieces() {
    if (!inPieces) return;
    inPieces = false;
    for (const std::exception_ptr& failure : pieceFailure)
        if (failure) std::rethrow_exception(failure);
    for (std::size_t bad : pieceBad) notANumber += static_cast<std::int64_t>(bad);
    computed = true;
}

// Brings a dataset to the step at time t: earlier steps are passed over, a later one is read
// and waits for its time. False when the dataset has no step at t. last: no other dataset is
// read after it for this time.
bool QuantitySteps::State::advance(Feed& feed, float t, bool last) {
    const std::function<bool(float)> wanted = [t](float time) {
        return isOrdinaryTime(time) && (time > t || StepPairing::matches(t, time));
    };
    // Read last, a step of time t is computed on as its values arrive.
    const std::function<bool(float)> watching = [this, &wanted, t](float time) {
        const bool read = wanted(time);
        inPieces = read && StepPairing::matches(t, time);
        if (inPieces) {
            setTime(t);
            pieceBad.fill(0);
        }
        return read;
    };
    StepRequest request;
    request.wanted = last ? &watching : &wanted;
    request.onValues = last ? &onPiece : nullptr;
    for (;;) {
        if (feed.held) {
            if (StepPairing::matches(t, feed.heldTime)) return true;
            if (feed.heldTime > t) return false;
            feed.held = false;
        }
        if (!feed.reader->hasStep()) return false;
        const StepRead step = feed.reader->nextStep({feed.active, feed.x, feed.y}, request);
        endPieces();
        if (step.valuesRead && wanted(step.time)) {
            feed.held = true;
            feed.heldTime = step.time;
        }
    }
}

// The step once every dataset holds its time: the values, unless computed piece by piece, and
// the flags.
void QuantitySteps::State::finishStep() {
    const auto nodes = static_cast<std::size_t>(this->nodes);
    const auto cells = static_cast<std::size_t>(this->cells);
    if (!computed) {
        if (!speed.empty()) {
            const Feed& velocities =
                feeds[static_cast<std::size_t>(feedOf[indexOf(Source::Velocities)])];
            const float* x = velocities.x;
            const float* y = velocities.y;
            float* magnitude = speed.data();
            forEachPart(nodes, 4096, 64 * 1024,
                        [=](std::size_t, std::size_t begin, std::size_t end) {
                            VECTOR_MAGNITUDES(x + begin, y + begin, magnitude + begin,
                                              end - begin);
                        });
        }
        notANumber += static_cast<std::int64_t>(calculator.evaluate(inputs, nodes, out.data()));
    }

    if (flagFeeds.size() == 1) {
        flags = feeds[flagFeeds.front()].active;
        return;
    }
    std::int8_t* merged = this->merged.data();
    std::vector<const std::int8_t*> from;
    for (std::size_t f : flagFeeds) from.push_back(feeds[f].active);
    forEachPart(cells, 4096, 256 * 1024, [&](std::size_t, std::size_t begin, std::size_t end) {
        // Any flag but 0 is active; every entry is stored, so that the loops run on whole
        // vectors of flags.
        const std::size_t n = end - begin;
        std::int8_t* __restrict o = merged + begin;
        const std::int8_t* __restrict first = from[0] + begin;
        for (std::size_t c = 0; c < n; ++c) o[c] = static_cast<std::int8_t>(first[c] != 0);
        for (std::size_t k = 1; k < from.size(); ++k) {
            const std::int8_t* __restrict a = from[k] + begin;
            for (std::size_t c = 0; c < n; ++c)
                o[c] = static_cast<std::int8_t>(o[c] | (a[c] != 0));
        }
    });
    flags = merged;
}

bool QuantitySteps::next() {
    State& s = *state_;
    Feed& primary = s.feeds[0];
    const bool valuesWanted = primary.valuesUsed;
    const std::function<bool(float)> wanted = [valuesWanted](float t) {
        return valuesWanted && isOrdinaryTime(t);
    };
    // Read alone, the primary's values are computed on as they arrive.
    const bool alone = s.feeds.size() == 1;
    const std::function<bool(float)> watching = [&s, &wanted](float t) {
        const bool read = wanted(t);
        s.inPieces = read;
        if (read) {
            s.setTime(t);
            s.pieceBad.fill(0);
        }
        return read;
    };
    StepRequest request;
    request.wanted = alone ? &watching : &wanted;
    request.onValues = alone ? &s.onPiece : nullptr;
    request.flags = s.flagFeeds.front() == 0 ? FlagReading::Read : FlagReading::PassOver;
    while (primary.reader->hasStep()) {
        s.computed = false;
        const StepRead step =
            primary.reader->nextStep({primary.active, primary.x, primary.y}, request);
        s.endPieces();
        const float t = step.time;
        if (!isOrdinaryTime(t)) {
            s.say("The step at " + timeText(t) + " of " + primary.reader->name() +
                  " is not an output time (maxima or a summary): it is left out. -max of the "
                  "output gives the peak of the quantity.");
            continue;
        }
        bool complete = true;
        for (std::size_t f = 1; f < s.feeds.size() && complete; ++f) {
            if (s.advance(s.feeds[f], t, f + 1 == s.feeds.size())) continue;
            s.say("WARNING - " + s.feeds[f].reader->name() + " has no step at time " +
                  timeText(t) + ": that time is left out.");
            complete = false;
        }
        if (!complete) continue;
        s.setTime(t);
        s.finishStep();
        ++s.steps;
        return true;
    }
    return false;
}

float QuantitySteps::time() const { return state_->time; }
const std::int8_t* QuantitySteps::flags() const { return state_->flags; }
const float* QuantitySteps::values() const { return state_->out.data(); }
std::int32_t QuantitySteps::nodeCount() const { return state_->nodes; }
std::int32_t QuantitySteps::cellCount() const { return state_->cells; }
std::int64_t QuantitySteps::stepsComputed() const { return state_->steps; }
std::int64_t QuantitySteps::notANumberCount() const { return state_->notANumber; }

std::string QuantitySteps::notANumberWarning() const {
    const std::int64_t n = state_->notANumber;
    if (n == 0) return {};
    char count[32];
    std::snprintf(count, sizeof count, "%lld", static_cast<long long>(n));
    return std::string("WARNING - ") + count + (n == 1 ? " value" : " values") +
           " came out not a number or infinite (a division by zero, the square root of a "
           "negative number, or an input that is not a number) and " +
           (n == 1 ? "is" : "are") + " stored as not a number.";
}

}  // namespace kelvara::calc
