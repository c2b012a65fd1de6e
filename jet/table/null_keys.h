// Keys without Null: the rule an index's definition sets for the rows of its table, checked
// before a row is stored (table_writer.h) and by the record layer before it takes a row.
#pragma once

#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/table/table_def.h"

namespace jet {

// True when `index` backs the table's primary key.
bool BacksPrimaryKey(const TableDef& table, const RealIndex& index);

// Keys without Null: an index whose Required flag is set (kIndexRequired), and every index that
// backs the primary key, refuses a row in which any of its key columns is Null, whatever its
// IgnoreNulls flag says; Jet reports error 3058. DAO's documentation of the Index object's
// IgnoreNulls and Required properties gives the table: Required True means "Null value not
// allowed", IgnoreNulls only decides whether an allowed Null gets an entry. A column counts as
// Null only when the stored row will hold Null there: a Yes/No column stores Null as No, and an
// AutoNumber column left Null receives its number (table_writer.h).
bool RefusesNullKeys(const TableDef& table, const RealIndex& index);
// ErrorCode::kNullInKey naming index, table and column for the first index the row (values in
// the order of table.columns) breaks that way; Ok otherwise.
Status CheckKeysNotNull(const TableDef& table, const std::vector<Value>& row);

}  // namespace jet
