// Numbers in fixed-width text fields, and the free-format reading of numbers from text, shared
// by the tool's console lines and the library's routines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara {

// ---- Number fields -------------------------------------------------------------------------

// An integer right-aligned in a field of the given width, showing at least minDigits digits
// (zero-padded after any sign); the field is filled with asterisks when the number does not fit.
std::string formatInteger(std::int64_t value, int width, int minDigits = 1);
// A real in fixed-point form with the given decimals, right-aligned in a field of the given
// width, rounded half away from zero: a leading zero before the point when there is room, a
// minus sign for negative values, asterisks filling the field when the value does not fit.
// NaN and infinities print as "NaN", "Infinity"/"Inf" (with a sign when negative).
std::string formatFixed(double value, int width, int decimals);

// ---- Free-format reading ------------------------------------------------------------

// The first item of a free-format text: leading blanks are skipped and the item ends at a
// blank, a comma or a slash. Returns false when the text holds no item (blank, or starting
// with a comma or a slash).
bool freeItem(std::string_view text, std::string_view& item);
// An integer item: an optional sign and decimal digits that fit 32 bits.
bool parseInteger(std::string_view item, std::int32_t& value);
// A real item: an optional sign, digits with an optional decimal point, and an optional
// exponent (E, D or Q, either case, with an optional sign, or a bare sign followed by digits).
bool parseReal(std::string_view item, float& value);
// The same item read in double precision.
bool parseReal(std::string_view item, double& value);
// The first item of text read as an integer or a real.
bool readFreeInteger(std::string_view text, std::int32_t& value);
bool readFreeReal(std::string_view text, float& value);

}  // namespace kelvara
