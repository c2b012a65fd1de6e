// Values as a table's columns take them: the conversion of a value written into a column, the
// column's default, and the checks Jet makes before it stores a row.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/value.h"
#include "jet/expr/expression.h"
#include "jet/table/table_def.h"

namespace db {

// Error numbers of these checks (Jet's).

// Converts a value written into a column to the column's kind, as the engine does: the text "1"
// into a Long stores 1, a 16-bit integer into a Long stays the number, any number into a Double
// is that number, a text into a text column stays as it is; Null stays Null. Throws DbError 3421
// (naming table and column) when the value cannot be converted or is out of range.
Value ConvertForColumn(const jet::TableDef& table, const jet::Column& column, const Value& value);

// The column's DefaultValue parsed by the expression service; null without a default. Throws
// DbError 3388 naming table, column and the default for one that does not parse or calls a
// function the service does not have.
std::shared_ptr<const jet::Expression> ParseDefault(const jet::TableDef& table,
                                                    const jet::Column& column);

// The value a new row starts with in the column: the default evaluated and converted to the
// column's kind as Jet converts it (a text column takes the value's text form). Throws DbError
// 3388 for a default whose evaluation fails, 3349 for a number outside the column's range, 3421
// for a value of another kind, each naming table, column and default.
Value EvaluateDefault(const jet::TableDef& table, const jet::Column& column,
                      const jet::Expression& expression);

// Both in one; Null without a default. With `varies`, tells whether the default changes from
// call to call (Date(), Now(), Time(), GenGUID()).
Value DefaultFor(const jet::TableDef& table, const jet::Column& column, bool* varies = nullptr);

// What Jet checks of each column before it stores a row, read once from the column's properties.
struct ColumnRule {
  bool required = false;          // Required: no Null
  bool allow_zero_length = true;  // AllowZeroLength (Text, Memo): "" allowed
  std::size_t max_units = 0;      // Text: at most this many UTF-16 units; 0: no limit
  std::shared_ptr<const jet::Expression> validation;  // ValidationRule, if any
  std::string validation_text;                        // ValidationText, if any
};

// The checks of a whole row: each column's, and the table's own ValidationRule.
struct RowRules {
  std::vector<ColumnRule> columns;
  std::shared_ptr<const jet::Expression> validation;
  std::string validation_text;
  bool any_validation = false;  // some column or the table has a ValidationRule
};
// Throws DbError 3388 naming the rule for a validation rule that does not parse.
RowRules RulesOf(const jet::TableDef& table);

// Jet's checks of a row about to be stored: Required, AllowZeroLength, text lengths, then the
// columns' validation rules and the table's. Throws DbError 3314, 3315 or 3163 naming table and
// column; for a broken rule 3316 with its ValidationText, or 3317 naming rule and column or
// table; a rule whose evaluation fails gives the evaluation's error.
void CheckRow(const jet::TableDef& table, const RowRules& rules, const std::vector<Value>& row);
inline void CheckRow(const jet::TableDef& table, const std::vector<Value>& row) {
  CheckRow(table, RulesOf(table), row);
}

}  // namespace db
