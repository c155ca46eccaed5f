#include "library/lines.h"

#include <algorithm>
#include <cstdio>

#include "fileio/console.h"
#include "fileio/units.h"
#include "library/messages.h"
#include "library/values.h"
#include "util/text.h"

namespace kelvara {

namespace {

bool isBlank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The text cut at a working size, left-adjusted, without trailing blanks.
std::string leftAdjusted(std::string_view text, std::size_t workSize) {
    return std::string(trimRight(TRIMF(text.substr(0, workSize))));
}

std::string withoutAny(std::string_view text, std::string_view removed) {
    text = trimRight(text);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (removed.find(c) == std::string_view::npos) out += c;
    }
    return out;
}

[[noreturn]] void readFailure(const char* what, int unit) {
    setRecordText(messageRecord().text[0], std::string(what) + formatInteger(unit, 3));
    DMESSAGE(1);
    FATALSTOP();
}

}  // namespace

std::string SS256(std::string_view text) {
    return std::string(trimRight(text.substr(0, 256)));
}

bool READLINE(int unit, std::string& line, std::size_t capacity) {
    std::FILE* f = unitStream(unit);
    if (f == nullptr) readFailure("ERROR - Reading text line from file unit number", unit);

    line.clear();
    std::size_t recordLength = 0;
    char last = '\0';
    int ch = 0;
    bool readAny = false;
    while ((ch = std::getc(f)) != EOF) {
        readAny = true;
        if (ch == '\n') break;
        last = static_cast<char>(ch);
        if (recordLength++ < capacity) line += last;
    }
    if (ch == EOF && std::ferror(f)) {
        readFailure("ERROR - Reading text line from file unit number", unit);
    }
    if (!readAny) {
        readFailure("ERROR - End-of-file encountered reading text line from file unit number",
                    unit);
    }
    // A record ended by a carriage return and line feed.
    if (last == '\r' && recordLength <= capacity) line.pop_back();

    line = REMOVETABS(line);
    const bool comment = COMMENTLINE(line);
    const bool number = NUMBERLINE(line);
    return !comment && !number;
}

bool COMMENTLINE(std::string& line) {
    line = leftAdjusted(line, kLineWork);
    const bool result = line.empty() || line[0] == '!' || line[0] == '#';
    const std::size_t cut = line.find_first_of("#!");
    if (cut != std::string::npos) line = std::string(trimRight(line.substr(0, cut)));
    return result;
}

bool NUMBERLINE(std::string& line) {
    line = leftAdjusted(line, kLineWork);
    return line.empty() || isDigit(line[0]) || line[0] == '-' || line[0] == '.';
}

bool POSITIVEINTEGERNUMBER(std::string& text) {
    text = leftAdjusted(text, kLineWork);
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

bool BLANK(std::string& text) {
    text = REMOVETABS(text.substr(0, kLineWork));
    return isBlank(text);
}

namespace {

std::string reducedWord(std::string_view word, bool ignoreCase) {
    std::string w = leftAdjusted(REMOVETABS(word), kWordWork);
    return ignoreCase ? UPPERCASE(w) : w;
}

}  // namespace

bool ASAME(std::string_view a, std::string_view b) {
    return trimRight(reducedWord(a, true)) == trimRight(reducedWord(b, true));
}

bool ASAMECS(std::string_view a, std::string_view b) {
    return reducedWord(a, false) == reducedWord(b, false);
}

bool CHECKLINE(std::string_view line, std::string_view keyword, std::string_view separator,
               int column, std::string& right, std::string& left) {
    line = trimRight(line);
    // Column splits stay inside the line: a negative column takes nothing to the left.
    const std::size_t c = std::min(static_cast<std::size_t>(std::max(column, 0)), line.size());
    bool separatorMissing = true;
    if (!isBlank(separator)) {
        const std::size_t p = line.find(separator);
        if (p != std::string_view::npos) {
            separatorMissing = false;
            right = std::string(line.substr(p + separator.size()));
            left = std::string(line.substr(0, p));
        } else if (column == 0) {
            right.clear();
            left = std::string(line);
        } else {
            right = std::string(line.substr(c));
            left = std::string(line.substr(0, c));
        }
    } else {
        right = std::string(line.substr(c));
        left = std::string(line.substr(0, c));
    }
    const bool keywordFound = isBlank(keyword) || FLAGEXISTS(left, keyword);
    return keywordFound && (!isBlank(left) || (column == 0 && separatorMissing));
}

std::string REMOVETABS(std::string_view text) { return withoutAny(text, "\t"); }

std::string REMOVESPACES(std::string_view text) { return withoutAny(text, " "); }

std::string REMOVEQUOTES(std::string_view text) { return withoutAny(text, "\"'"); }

std::string DOUBLEQUOTE(std::string_view text) {
    text = trimRight(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        out += c;
        if (c == '"') out += '"';
    }
    return out;
}

std::string REPLACE(std::string_view text, std::string_view oldWord, std::string_view newWord) {
    const std::string_view work = trimRight(text.substr(0, kLineWork));
    const std::string_view oldText = trimRight(oldWord);
    const std::size_t p = UPPERCASE(work).find(UPPERCASE(oldText));
    if (p == std::string::npos) return std::string(work);
    std::string result(work.substr(0, p));
    result += trimRight(newWord);
    result += work.substr(std::min(p + oldText.size(), work.size()));
    return std::string(trimRight(std::string_view(result).substr(0, kLineWork)));
}

int CSVCOLUMN(std::string_view header, std::string_view name, int defaultColumn) {
    std::string work(trimRight(header.substr(0, kLineWork)));
    int count = 0;
    while (!BLANK(work)) {
        ++count;
        const std::size_t c = work.find(',');
        if (ASAME(std::string_view(work).substr(0, c), name)) return count;
        if (c == std::string::npos) break;
        work.erase(0, c + 1);
    }
    return defaultColumn;
}

bool CSVVALUE(std::string_view line, int column, float& value) {
    value = 0.0f;
    std::string_view work = trimRight(line.substr(0, kLineWork));
    for (int i = 1; i < column; ++i) {
        const std::size_t c = work.find(',');
        if (c == std::string_view::npos) return false;
        work.remove_prefix(c + 1);
    }
    const std::string_view field = work.substr(0, work.find(','));
    // Blanks (and tabs) inside the field carry no meaning.
    const std::string packed = withoutAny(field, " \t");
    if (packed.empty()) return false;
    float v = 0.0f;
    if (!parseReal(packed, v)) return false;
    value = v;
    return true;
}

std::string SUBSTRING(std::string_view text, std::string_view delimiter, int n) {
    text = trimRight(text);
    // Without a delimiter the whole text is the only field.
    if (delimiter.empty()) return n == 1 ? leftAdjusted(text, kLineWork) : std::string();
    std::size_t start = 0;
    int k = 1;
    while (k < n) {
        const std::size_t p = text.find(delimiter, start);
        if (p == std::string_view::npos) break;
        ++k;
        start = p + delimiter.size();
    }
    if (k != n) return {};
    const std::size_t end = text.find(delimiter, start);
    const std::string_view field =
        text.substr(start, end == std::string_view::npos ? end : end - start);
    return leftAdjusted(field, kLineWork);
}

int NUMBEROFNUMBERS(std::string_view line) {
    line = trimRight(line);
    int count = 0;
    bool inNumber = false;
    for (char c : line) {
        if (isDigit(c) || c == '.' || c == '-' || c == 'E' || c == 'e') {
            if (!inNumber) ++count;
            inNumber = true;
        } else if (c == '!' || c == '#') {
            return count;
        } else if (c == ' ' || c == '\t' || c == ',') {
            inNumber = false;
        } else {
            return -count;
        }
    }
    return count;
}

}  // namespace kelvara
