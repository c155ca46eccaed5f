// Text routines on blank-padded text. Inside the library a text is a std::string whose trailing
// blanks carry no meaning; every routine returns its result without trailing blanks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara {

// Whether flag occurs anywhere in line, ignoring case and trailing blanks (a blank flag is
// always found). The line is looked at in a 10000-character work field.
bool FLAGEXISTS(std::string_view line, std::string_view flag);
std::string UPPERCASE(std::string_view text);
std::string LOWERCASE(std::string_view text);
// The text without its leading blanks.
std::string TRIMF(std::string_view text);
// Position (from 1) of the last character that is neither blank nor NUL; 0 if none.
int LENSL(std::string_view text);
// Decimal text of an integer, left-aligned.
std::string AINTEGER(std::int32_t value);
// Short decimal text of a real: decimals chosen by magnitude, trailing zeros removed.
std::string AREAL(float value);

// The text without trailing blanks.
std::string_view trimRight(std::string_view text);

}  // namespace kelvara
