#include "jet/table/null_keys.h"

#include <algorithm>
#include <string>

#include "jet/base/errors.h"

namespace jet {

bool BacksPrimaryKey(const TableDef& table, const RealIndex& index) {
  return std::any_of(table.indexes.begin(), table.indexes.end(),
                     [&](const Index& x) { return x.real_index == index.number && x.primary(); });
}

bool RefusesNullKeys(const TableDef& table, const RealIndex& index) {
  return index.required() || BacksPrimaryKey(table, index);
}

Status CheckKeysNotNull(const TableDef& table, const std::vector<Value>& row) {
  for (const RealIndex& index : table.real_indexes) {
    if (!RefusesNullKeys(table, index)) continue;
    for (const IndexColumn& key : index.columns) {
      for (std::size_t i = 0; i < table.columns.size() && i < row.size(); ++i) {
        const Column& c = table.columns[i];
        if (c.number != key.column_number || !row[i].is_null()) continue;
        if (c.type() == ColumnType::kBoolean || c.autonumber() || c.guid_autonumber()) continue;
        return Status(ErrorCode::kNullInKey, std::string(StandardText(ErrorCode::kNullInKey)) +
                                                 " (Feld '" + c.name + "' im Index '" +
                                                 IndexNames(table, index) + "' der Tabelle '" +
                                                 table.name + "').");
      }
    }
  }
  return Status::Ok();
}

}  // namespace jet
