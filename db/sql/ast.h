// Statements of the Jet SQL subset, as the parser produces them.
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "db/value.h"

namespace db::sql {

enum class CompareOp { kEq, kNe, kLt, kLe, kGt, kGe };

// A WHERE condition: comparisons of a column with a literal, BETWEEN two literals (in either
// order, as Jet has it), IS [NOT] NULL, AND and OR.
struct Condition {
  enum class Kind { kCompare, kBetween, kIsNull, kIsNotNull, kAnd, kOr };
  Kind kind = Kind::kCompare;
  std::string column;
  CompareOp op = CompareOp::kEq;
  Value literal;  // text (std::string) or number (std::int32_t or double); BETWEEN's first bound
  Value second;   // BETWEEN's second bound
  std::unique_ptr<Condition> left;
  std::unique_ptr<Condition> right;
};

struct SelectItem {
  enum class Kind { kStar, kColumn, kCountStar, kCount, kMax, kMin };
  Kind kind = Kind::kColumn;
  std::string column;  // the column (or the aggregated column)
  std::string alias;   // AS name; empty when none was given
  bool aggregate() const { return kind != Kind::kStar && kind != Kind::kColumn; }
};

struct SelectStatement {
  std::vector<SelectItem> items;
  std::string table;
  std::unique_ptr<Condition> where;
  std::vector<std::string> group_by;
};

struct DeleteStatement {
  std::string table;
  std::unique_ptr<Condition> where;
};

using Statement = std::variant<SelectStatement, DeleteStatement>;

}  // namespace db::sql
