#include "jet/table/table_scan.h"

#include "jet/table/row_reader.h"
#include "jet/table/table_set.h"

namespace jet {

TableScan::TableScan(const TableSet& db, const TableDef& table)
    : store_(&db.pages()), table_(&table), rows_(db.pages(), table) {}

Result<bool> TableScan::Next() {
  JET_ASSIGN_OR_RETURN(bool more, rows_.Next());
  if (!more) return false;
  JET_RETURN_IF_ERROR(DecodeRow(*store_, *table_, rows_.row(), values_));
  return true;
}

}  // namespace jet
