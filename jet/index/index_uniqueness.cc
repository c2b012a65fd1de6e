#include "jet/index/index_uniqueness.h"

#include <algorithm>

#include "jet/index/index_key.h"
#include "jet/table/null_keys.h"

namespace jet {

bool MustBeUnique(const TableDef& table, const RealIndex& index) {
  return index.unique() || BacksPrimaryKey(table, index);
}

bool UniqueEntriesCollide(Bytes key_a, bool null_a, Bytes key_b, bool null_b) {
  if (null_a || null_b) return false;
  return std::equal(key_a.begin(), key_a.end(), key_b.begin(), key_b.end());
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
