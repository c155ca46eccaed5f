// Value extraction from comma-separated data lines, number-to-text conversion, and the small
// formatting and free-format reading helpers that the message log and the line routines share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/numbers.h"

namespace kelvara {

// ---- Value extraction ----------------------------------------------------------------------

// A field of a data line, found by name (keyed form "name = value", searched in the caller's
// lower-case copy lowerLine) or, when the name is blank or is not followed by any "=" in the
// rest of the line, taken by its 1-based column. Quotes are removed and leading blanks dropped.
std::string EXTRACTSTRING(std::string_view line, std::string_view lowerLine,
                          std::string_view name, int column);
// The extracted field read as an integer or a real; a blank field gives the default. A field
// that cannot be read prints "Could not convert ..." and ends the run through FATALSTOP.
std::int32_t EXTRACTINTEGER(std::string_view line, std::string_view lowerLine,
                            std::string_view name, int column, std::int32_t defaultValue);
float EXTRACTREAL(std::string_view line, std::string_view lowerLine, std::string_view name,
                  int column, float defaultValue);

// ---- Number to text --------------------------------------------------------------------------

// Decimal text of a non-negative value zero-padded to at least digits digits (digits above 20
// count as 20); negative values are not padded.
std::string AINTEGERPREC0(std::int32_t value, int digits);
std::string AINTEGER8PREC0(std::int64_t value, int digits);
// Fixed-point text with the given decimals (negative counts as 0), trailing zeros kept; 20
// asterisks when it does not fit 20 characters.
std::string AREALD(float value, int decimals);
// Fixed-point text with decimals chosen by magnitude (at most ten significant places), trailing
// zeros removed; a whole number ends with ".".
std::string AREAL8(double value);

}  // namespace kelvara
