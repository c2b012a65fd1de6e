#include "jet/index_uniqueness.h"

#include <algorithm>

#include "jet/index_key.h"

namespace jet {

bool MustBeUnique(const TableDef& table, const RealIndex& index) {
  if (index.unique()) return true;
  return std::any_of(table.indexes.begin(), table.indexes.end(),
                     [&](const Index& x) { return x.real_index == index.number && x.primary(); });
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
