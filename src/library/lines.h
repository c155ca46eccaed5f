// Reading lines of control and data files and taking them apart: classification (comment,
// blank, number lines), word comparison, splitting, cleaning and comma-separated fields.
// Texts are std::string whose trailing blanks carry no meaning; routines that change their
// argument in place say so.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvara {

// Working sizes: text beyond them is ignored by the routine that uses them.
constexpr std::size_t kLineWork = 10000;
constexpr std::size_t kWordWork = 1000;

// The text without trailing blanks, cut at 256 characters.
std::string SS256(std::string_view text);

// Reads one record of a text unit into line, cut at capacity characters (a trailing carriage
// return is dropped), removes its tabs, then runs COMMENTLINE and NUMBERLINE on it. True when
// what remains is non-blank text that does not start like a number. A read error or the end
// of the file puts an "ERROR - " text in the message record, shows it with DMESSAGE(1) and ends
// the run through FATALSTOP.
bool READLINE(int unit, std::string& line, std::size_t capacity);

// line is left-adjusted and cut before its first "#" or "!". True when it was blank or began
// with a comment character.
bool COMMENTLINE(std::string& line);
// line is left-adjusted. True when it is blank or starts with a digit, "-" or ".".
bool NUMBERLINE(std::string& line);
// text is left-adjusted. True when it is non-blank and all digits.
bool POSITIVEINTEGERNUMBER(std::string& text);
// text loses its tabs. True when it is then blank.
bool BLANK(std::string& text);
// Same word after removing tabs and leading blanks; ASAME ignores case, ASAMECS keeps it.
bool ASAME(std::string_view a, std::string_view b);
bool ASAMECS(std::string_view a, std::string_view b);

// Splits line at separator (taken with its full length, trailing blanks included) or, when the
// separator is blank or not found, at column. True when the keyword is blank or found in the
// left part (case ignored) and the left part is non-blank, or column is 0 and the separator
// was not found or not given.
bool CHECKLINE(std::string_view line, std::string_view keyword, std::string_view separator,
               int column, std::string& right, std::string& left);

std::string REMOVETABS(std::string_view text);
std::string REMOVESPACES(std::string_view text);
// Without double and single quotes.
std::string REMOVEQUOTES(std::string_view text);
// Every double quote doubled.
std::string DOUBLEQUOTE(std::string_view text);
// The first occurrence of oldWord (trailing blanks dropped, case ignored) replaced by newWord
// (trailing blanks dropped). A blank oldWord puts newWord in front of the text.
std::string REPLACE(std::string_view text, std::string_view oldWord, std::string_view newWord);

// 1-based number of the column of a comma-separated header whose name matches name (ASAME),
// else defaultColumn.
int CSVCOLUMN(std::string_view header, std::string_view name, int defaultColumn);
// The number in the given 1-based column of a comma-separated line (blanks inside the field
// are ignored). False, with value 0, when the field is missing, blank or not a number.
bool CSVVALUE(std::string_view line, int column, float& value);
// Field n (from 1) of text whose fields are separated by delimiter (the whole delimiter, taken
// with its full length), left-adjusted; blank when there are fewer fields or it is empty.
std::string SUBSTRING(std::string_view text, std::string_view delimiter, int n);
// How many numbers stand on the line before any comment; the count negated when other text is
// met first.
int NUMBEROFNUMBERS(std::string_view line);

}  // namespace kelvara
