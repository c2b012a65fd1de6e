// Reading a table's rows as values.
//
//   jet::TableScan scan(*db, *table);
//   while (*scan.Next()) use(scan.values());
#pragma once

#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/table/row_walker.h"
#include "jet/table/table_def.h"

namespace jet {

class TableSet;

// Walks the live rows of a table in storage order (row_walker.h): its data pages in page order,
// the rows of a page in row order. Deleted rows are skipped; a row that moved to another page is
// read there.
class TableScan {
 public:
  TableScan(const TableSet& db, const TableDef& table);

  // Moves to the next live row: true when there is one, false at the end.
  Result<bool> Next();
  const std::vector<Value>& values() const { return values_; }
  RowPointer position() const { return rows_.position(); }

 private:
  const PageStore* store_;
  const TableDef* table_;
  RowWalker rows_;
  std::vector<Value> values_;
};

}  // namespace jet
