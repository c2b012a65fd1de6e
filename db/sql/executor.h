// Runs parsed statements against the tables of a connection, by the plan worked out for each
// (see plan.h): access, filter, then either projection or grouping with aggregates.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/sql/ast.h"
#include "db/sql/table_data.h"

namespace db::sql {

struct ResultSet {
  std::vector<std::string> names;  // column names of the result, in order
  // Grouped results (aggregates or GROUP BY): their rows, made here.
  std::vector<Row> rows;
  // Other results show table rows without copying them: the table's rows as they were when the
  // statement ran (the table adds rows behind them and copies them before it changes or removes
  // any; after KeepOwnRows() a copy of the result's own), the selected ones among them in order,
  // and the table column of each result column.
  std::shared_ptr<const RowStore> table_rows;
  std::vector<std::uint32_t> selected;
  std::vector<int> columns;
  TableData* table = nullptr;  // the one table the statement reads

  std::size_t size() const { return table_rows ? selected.size() : rows.size(); }
  // Copies the rows shown into a store of the result's own and lets go of the table's: before
  // the table lets go of its rows, so that those of a long-lived result lie together instead of
  // holding on to the memory of all the others.
  void KeepOwnRows();
  Value value(std::size_t row, std::size_t column) const {
    return table_rows ? table_rows->value(selected[row], static_cast<std::size_t>(columns[column]))
                      : rows[row][column];
  }
};

// SELECT: plans, reads the rows, projects or groups and aggregates. Throws DbError for unknown
// tables (3078) and columns (3061), for columns neither grouped nor aggregated (3122) and for
// mismatched criteria (3464).
ResultSet ExecuteSelect(TableProvider& tables, const SelectStatement& select);

// The rows of `table` that `where` selects (all rows without a condition), ascending.
std::vector<std::uint32_t> MatchingRows(TableData& table, const Condition* where);

}  // namespace db::sql
