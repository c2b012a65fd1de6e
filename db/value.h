// Field values of the record layer and the conversions the import relies on.
//
// A field value is Null or one value of its column's kind, as the engine delivers it (text as
// UTF-8). The conversions follow the rules the import logic was written against:
//   - to text: every value but Null has a text form; Null fails (error 94);
//   - to a 32-bit integer: numbers round half to even, numeric text is parsed, Yes/No is -1/0;
//     Null fails (94), a value outside the range overflows (6), other text mismatches (13);
//   - to single precision: numbers and numeric text; Null fails (94).
#pragma once

#include <cstdint>
#include <string>

#include "db/error.h"
#include "jet/base/value.h"

namespace db {

using Value = jet::Value;

// The text form of a value: integers as decimal digits, floating-point numbers with up to 15
// (double) or 7 (single) significant digits, currency without trailing zeros, dates as
// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" (time-only values as "HH:MM:SS"), Yes/No as
// "True"/"False". Throws DbError 94 for Null.
std::string ToText(const Value& value);

// Throws DbError 94 for Null, 6 when out of range, 13 for non-numeric text or binary data.
std::int32_t ToInt32(const Value& value);

// Throws DbError 94 for Null, 6 when out of range, 13 for non-numeric text or binary data.
float ToSingle(const Value& value);

// The number a value stands for: integers, floating point, currency, dates (as days), Yes/No
// (-1/0), numeric text. Throws like ToInt32 for Null, text and binary data.
double ToDouble(const Value& value);

}  // namespace db
