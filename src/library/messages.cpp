#include "library/messages.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fileio/console.h"
#include "fileio/units.h"
#include "library/lines.h"
#include "library/values.h"
#include "util/text.h"

// The exported record: static storage, so zero-filled when the library is loaded.
kelvara_dmessages DMESSAGES;

namespace kelvara {

namespace {

struct Classification {
    Severity severity = kSeverityNone;
    std::size_t wordLength = 0;
};

// The severity word at the very start of text line 1, compared exactly.
Classification classify(std::string_view line1) {
    static const struct { const char* word; Severity severity; } kWords[] = {
        {"ERROR", kSeverityError},
        {"WARNING", kSeverityWarning},
        {"CHECK", kSeverityCheck},
        {"UNSTABLE", kSeverityUnstable},
    };
    for (const auto& w : kWords) {
        std::string_view word(w.word);
        if (line1.substr(0, word.size()) == word) return {w.severity, word.size()};
    }
    return {};
}

// The message number read in free form from the six columns after the severity word; 0 when
// there is none or it cannot be read.
std::int32_t messageNumber(std::string_view line1, const Classification& c) {
    if (c.severity == kSeverityNone || line1.size() <= c.wordLength) return 0;
    std::int32_t number = 0;
    if (!readFreeInteger(line1.substr(c.wordLength, 6), number)) return 0;
    return number;
}

void writeUnitLine(int unit, std::string_view text) {
    if (unit <= 0) return;
    std::FILE* f = unitStream(unit);
    if (f == nullptr) return;
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
}

bool isBlank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// The lines of the message as shown on the console and in the message file.
std::vector<std::string> displayLines(const MessageRecord& r) {
    std::string first;
    std::string prefix = recordText(r.prefix);
    if (!isBlank(prefix)) first = prefix + " ";
    first += recordText(r.text[0]);
    std::vector<std::string> lines{first};
    const bool oneLine = (r.oneLine & 1) != 0;
    for (int i = 1; i < 4; ++i) {
        std::string t = recordText(r.text[i]);
        if (isBlank(t)) continue;
        if (oneLine) {
            lines.front() += "  " + t;
        } else {
            lines.push_back(t);
        }
    }
    return lines;
}

std::string quoted(std::string_view text) {
    std::string q = "\"";
    q += text;
    q += '"';
    return q;
}

}  // namespace

MessageRecord& messageRecord() { return ::DMESSAGES; }

std::string recordText(const char* field, std::size_t size) {
    std::size_t n = size;
    while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == '\0')) --n;
    return std::string(field, n);
}

void setRecordText(char* field, std::size_t size, std::string_view value) {
    std::size_t k = std::min(size, value.size());
    if (k > 0) std::memmove(field, value.data(), k);
    std::memset(field + k, ' ', size - k);
}

void DMESSAGE(int n) {
    MessageRecord& r = messageRecord();

    const std::string line1 = recordText(r.text[0]);
    const Classification c = classify(line1);
    switch (c.severity) {
        case kSeverityError: ++r.errorCount; break;
        case kSeverityWarning: ++r.warningCount; break;
        case kSeverityCheck: ++r.checkCount; break;
        default: break;
    }
    r.severity = c.severity;
    r.messageNumber = messageNumber(line1, c);

    if (c.severity != kSeverityNone && r.logUnit > 0) {
        std::string texts = line1 + "  " + recordText(r.text[1]) + "  " + recordText(r.text[2]);
        texts = std::string(trimRight(texts));
        std::string log = formatInteger(r.messageNumber, 5, 4) + "," +
                          formatInteger(r.severity, 2) + "," + formatFixed(r.x, 16, 3) + "," +
                          formatFixed(r.y, 16, 3) + ", " + quoted(texts);
        for (const auto& extra : r.extra) log += ", " + quoted(recordText(extra));
        writeUnitLine(r.logUnit, log);
    }

    std::string line4 = recordText(r.extra[0]);
    for (int i = 1; i < 3; ++i) {
        std::string extra = recordText(r.extra[i]);
        if (!isBlank(extra)) line4 = std::string(trimRight(line4)) + "; " + extra;
    }
    setRecordText(r.text[3], line4);

    if (n >= 0 || (n > -2 && r.messageUnit > 0)) {
        const std::vector<std::string> lines = displayLines(r);
        if (n >= 0) {
            for (int i = 0; i < n; ++i) consoleLine();
            for (const auto& l : lines) consoleLine(l);
        }
        if (n > -2 && r.messageUnit > 0) {
            for (int i = 0; i < n; ++i) writeUnitLine(r.messageUnit, "");
            for (const auto& l : lines) writeUnitLine(r.messageUnit, l);
        }
    }

    DMESSAGECLEAR();
}

void DMESSAGEXY(int n, double x, double y) {
    MessageRecord& r = messageRecord();
    int mifUnit = r.messageMifUnit;
    int midUnit = r.messageMidUnit;
    setRecordText(r.prefix, "XY: ");

    const std::string line1 = recordText(r.text[0]);
    const char* font = nullptr;
    switch (classify(line1).severity) {
        case kSeverityError:
            ++r.xyErrorCount;
            font = "Font (\"Arial\",257,0,16711935,0)";
            break;
        case kSeverityWarning:
            ++r.xyWarningCount;
            font = "Font (\"Arial\",257,0,16776960,0)";
            break;
        case kSeverityUnstable:
            font = "Font (\"Arial\",257,0,16711935,0)";
            break;
        case kSeverityCheck:
            ++r.xyCheckCount;
            font = "Font (\"Arial\",257,0,255,16777215)";
            mifUnit = r.checkMifUnit;
            midUnit = r.checkMidUnit;
            break;
        default:
            font = "Font (\"Arial\",257,0,53248,16777215)";
            mifUnit = r.checkMifUnit;
            midUnit = r.checkMidUnit;
            break;
    }

    const std::string separator = (r.oneLine & 1) != 0 ? "  " : "\\n";
    std::string label = "\"" + DOUBLEQUOTE(line1);
    int k = 1;
    for (int i = 1; i < 4; ++i) {
        std::string t = recordText(r.text[i]);
        if (isBlank(t)) continue;
        label += separator + DOUBLEQUOTE(t);
        ++k;
    }
    label += '"';

    const double w = r.labelWidth;
    const double s = r.labelOffset;
    const double halfHeight = s / (2.0 * k);
    writeUnitLine(mifUnit, "Text");
    writeUnitLine(mifUnit, label);
    writeUnitLine(mifUnit, "    " + formatFixed(x + s, 16, 3) + formatFixed(y - halfHeight, 16, 3) +
                               formatFixed(x + s + w, 16, 3) +
                               formatFixed(y + halfHeight, 16, 3));
    writeUnitLine(mifUnit, std::string("    ") + font);
    writeUnitLine(mifUnit,
                  "    Label Line Arrow " + formatFixed(x, 16, 3) + formatFixed(y, 16, 3));

    writeUnitLine(midUnit, quoted(DOUBLEQUOTE(line1)));

    r.x = x;
    r.y = y;
    DMESSAGE(n);
}

void DMESSAGECLEAR() {
    MessageRecord& r = messageRecord();
    for (auto& t : r.text) setRecordText(t, "");
    setRecordText(r.prefix, "");
    for (auto& e : r.extra) setRecordText(e, "");
    r.x = kNoLocation;
    r.y = kNoLocation;
    r.oneLine = 0;
}

void DMESSAGERESETCOUNTERS() {
    MessageRecord& r = messageRecord();
    r.errorCount = 0;
    r.warningCount = 0;
    r.checkCount = 0;
    r.xyErrorCount = 0;
    r.xyWarningCount = 0;
    r.xyCheckCount = 0;
}

void DLINE(int unit) {
    const std::string line(80, '_');
    consoleLine(line);
    writeUnitLine(unit, line);
}

}  // namespace kelvara
