// Runs parsed statements against the tables of a connection.
#pragma once

#include <string>
#include <vector>

#include "db/sql/ast.h"
#include "db/sql/table_data.h"

namespace db::sql {

struct ResultSet {
  std::vector<std::string> names;  // column names of the result, in order
  std::vector<Row> rows;
  TableData* table = nullptr;  // the one table the statement reads
};

// SELECT: filters, projects, groups and aggregates. Throws DbError for unknown tables (3078) and
// columns (3061), for columns neither grouped nor aggregated (3122) and for mismatched criteria
// (3464).
ResultSet ExecuteSelect(TableProvider& tables, const SelectStatement& select);

// The rows of `table` that `where` selects (all rows without a condition), ascending.
std::vector<std::uint32_t> MatchingRows(TableData& table, const Condition* where);

}  // namespace db::sql
