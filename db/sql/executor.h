// Runs parsed statements against the tables of a connection.
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
  std::vector<Row> rows;           // the result's rows, unless it shares the table's (below)
  // A `SELECT *` that selects a good part of its table shares the table's rows as they were when
  // it ran, instead of copying them: `selected` names the result's rows among them.
  std::shared_ptr<const std::vector<Row>> table_rows;
  std::vector<std::uint32_t> selected;
  TableData* table = nullptr;  // the one table the statement reads

  std::size_t size() const { return table_rows ? selected.size() : rows.size(); }
  const Row& row(std::size_t i) const { return table_rows ? (*table_rows)[selected[i]] : rows[i]; }
};

// SELECT: filters, projects, groups and aggregates. Throws DbError for unknown tables (3078) and
// columns (3061), for columns neither grouped nor aggregated (3122) and for mismatched criteria
// (3464).
ResultSet ExecuteSelect(TableProvider& tables, const SelectStatement& select);

// The rows of `table` that `where` selects (all rows without a condition), ascending.
std::vector<std::uint32_t> MatchingRows(TableData& table, const Condition* where);

}  // namespace db::sql
