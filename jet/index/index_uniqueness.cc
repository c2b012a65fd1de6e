#include "jet/index/index_uniqueness.h"

#include <algorithm>

#include "jet/base/errors.h"
#include "jet/index/index_key.h"

namespace jet {

namespace {

bool BacksPrimaryKey(const TableDef& table, const RealIndex& index) {
  return std::any_of(table.indexes.begin(), table.indexes.end(),
                     [&](const Index& x) { return x.real_index == index.number && x.primary(); });
}

}  // namespace

bool MustBeUnique(const TableDef& table, const RealIndex& index) {
  return index.unique() || BacksPrimaryKey(table, index);
}

bool UniqueEntriesCollide(Bytes key_a, bool null_a, Bytes key_b, bool null_b) {
  if (null_a || null_b) return false;
  return std::equal(key_a.begin(), key_a.end(), key_b.begin(), key_b.end());
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

Result<RowEntry> EntryOfRow(const TableDef& table, const RealIndex& index,
                            const std::vector<Value>& row, const Header& header) {
  RowEntry entry;
  JET_ASSIGN_OR_RETURN(entry.key, EncodeIndexKey(table, index, row, header));
  entry.null_entry = AllKeyColumnsNull(table, index, row);
  return entry;
}

Result<bool> RowsCollideInIndex(const TableDef& table, const RealIndex& index,
                                const std::vector<Value>& a, const std::vector<Value>& b,
                                const Header& header) {
  if (!MustBeUnique(table, index)) return false;
  JET_ASSIGN_OR_RETURN(RowEntry entry_a, EntryOfRow(table, index, a, header));
  JET_ASSIGN_OR_RETURN(RowEntry entry_b, EntryOfRow(table, index, b, header));
  return UniqueEntriesCollide(entry_a, entry_b);
}

}  // namespace jet
