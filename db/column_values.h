// Values as a table's columns take them: the conversion of a value written into a column, the
// column's default, and the checks Jet makes before it stores a row.
#pragma once

#include <string>
#include <vector>

#include "db/value.h"
#include "jet/table_def.h"

namespace db {

// Error numbers of these checks (Jet's).
inline constexpr int kErrConversion = 3421;     // the value cannot become the column's kind
inline constexpr int kErrFieldTooSmall = 3163;  // text longer than the column
inline constexpr int kErrRequired = 3314;       // Null in a required column
inline constexpr int kErrZeroLength = 3315;     // "" where the column does not allow it
inline constexpr int kErrBadDefault = 3388;     // a default the engine cannot evaluate
inline constexpr int kErrNullInKey = 3058;      // Null in a primary key
inline constexpr int kErrDuplicateKey = 3022;   // unique index violated
inline constexpr int kErrReadOnlyField = 3164;  // AutoNumber written

// Converts a value written into a column to the column's kind, as the engine does: the text "1"
// into a Long stores 1, a 16-bit integer into a Long stays the number, any number into a Double
// is that number, a text into a text column stays as it is; Null stays Null. Throws DbError 3421
// (naming table and column) when the value cannot be converted or is out of range.
Value ConvertForColumn(const jet::TableDef& table, const jet::Column& column, const Value& value);

// The value a new row starts with in the column: its DefaultValue property evaluated as Jet
// evaluates it (numbers, quoted texts, True/False/Yes/No/On/Off, Null, Date(), Now(), Time(),
// optionally after "="), converted to the column's kind; Null without a default. Throws DbError
// 3388 naming table and column for a default it cannot evaluate.
// With `varies`, tells whether the default changes from call to call (Date(), Now(), Time()).
Value DefaultFor(const jet::TableDef& table, const jet::Column& column, bool* varies = nullptr);

// What Jet checks of each column before it stores a row, read once from the column's properties.
struct ColumnRule {
  bool required = false;          // Required: no Null
  bool allow_zero_length = true;  // AllowZeroLength (Text, Memo): "" allowed
  std::size_t max_units = 0;      // Text: at most this many UTF-16 units; 0: no limit
};
std::vector<ColumnRule> RulesOf(const jet::TableDef& table);

// Jet's checks of a row about to be stored: Required, AllowZeroLength and text lengths. Throws
// DbError 3314, 3315 or 3163 naming table and column.
void CheckRow(const jet::TableDef& table, const std::vector<ColumnRule>& rules,
              const std::vector<Value>& row);
inline void CheckRow(const jet::TableDef& table, const std::vector<Value>& row) {
  CheckRow(table, RulesOf(table), row);
}

}  // namespace db
