// How a statement runs, worked out before any row is read: its column names found once, its
// condition bound to column positions beside the parsed statement (which stays as parsed), and
// the way to its rows chosen from what the table keeps for any column:
//
//   - a look-up in the table's equality map of a column, when the condition requires that column
//     to equal a literal (of several such columns, the one with the fewest rows); the whole
//     condition then filters those rows;
//   - the table's row count and its kept maxima and minima, when the statement is made of
//     COUNT(*), MAX() and MIN() over the whole table, without condition or grouping;
//   - otherwise every row, in storage order.
//
// Each way gives the rows a scan would, in the same order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/sql/ast.h"
#include "db/sql/table_data.h"

namespace db::sql {

// A WHERE condition with its column found; kind, operator and literal are the parsed ones.
struct BoundCondition {
  const Condition* parsed = nullptr;
  int column = -1;  // comparisons and IS [NOT] NULL
  std::unique_ptr<BoundCondition> left;
  std::unique_ptr<BoundCondition> right;
};

// How the rows a statement works on are reached.
struct AccessPath {
  enum class Kind {
    kScan,        // every row
    kLookup,      // the rows whose `column` holds a value equal to `key` (an EqualityKey)
    kStatistics,  // no rows: the table's row count, maxima and minima answer the statement
  };
  Kind kind = Kind::kScan;
  int column = -1;
  std::string key;
};

// The rows of one table a condition selects.
struct RowsPlan {
  TableData* table = nullptr;
  std::unique_ptr<BoundCondition> filter;  // null without a condition
  AccessPath access;
};

// One column of a SELECT's result: a table column or an aggregate over one (-1 for COUNT(*)).
struct OutputColumn {
  SelectItem::Kind kind = SelectItem::Kind::kColumn;
  int column = -1;
  std::string name;
};

struct SelectPlan {
  RowsPlan rows;
  std::vector<OutputColumn> outputs;  // `*` stands as one kColumn per table column
  std::vector<int> group_columns;
  bool grouped = false;  // aggregates or GROUP BY: one result row per group
};

// Binds `where` to the columns of `table` and chooses the access. Throws DbError 3061 for unknown
// columns and 3464 for a literal of the wrong kind, also when the table has no rows.
RowsPlan PlanRows(TableData& table, const Condition* where);

// Throws DbError for unknown tables (3078) and columns (3061), for columns neither grouped nor
// aggregated (3122) and for mismatched criteria (3464).
SelectPlan PlanSelect(TableProvider& tables, const SelectStatement& select);

}  // namespace db::sql
