// Decimal values from numbers and texts, with a column's precision and scale, as Jet converts
// them: exact from integers, Currency and texts, from a Double through its 15 significant digits,
// rounded half to even to the scale.
#pragma once

#include <string_view>

#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

// Decimal digits with an optional sign, one decimal separator ("." or ",") and an optional
// exponent ("1.5E-3"), surrounding blanks allowed. Fails with kNumericOverflow when the rounded
// value has more than `precision` digits and kTypeMismatch for a text that is no number.
Result<Decimal> DecimalFromText(std::string_view text, int precision, int scale);

// Any number (Byte to Double, Currency, Decimal, Yes/No as -1/0) or numeric text.
Result<Decimal> DecimalFromValue(const Value& v, int precision, int scale);

// The value as a double (rounded to the nearest).
double DecimalToDouble(const Decimal& d);

}  // namespace jet
