// What an index demands of a row's key, by Jet's rules: uniqueness, used where the engine
// rebuilds an index at a commit (index_writer.h) and where the record layer checks a new row
// before it stores it. Keys without Null, checked before a row is stored, are in
// table/null_keys.h.
//
// A unique index (or one backing a primary key) refuses two entries whose key bytes
// (index_key.h) are equal, unless they are Null entries: entries whose key columns are all Null,
// which never collide. An entry with only some key columns Null is compared like any other, by
// its key bytes; text keys leave letter case out, so texts that differ only in case collide.
// Whether a key may hold Null at all is the second rule (table/null_keys.h).
//
// Where the rule comes from: Jackcess, the Java library for Access files, checks a new index
// entry against its neighbours in the index by comparing their entry bytes, and exempts an entry
// from the unique check only when every column of the index is Null in the row; its notes say
// that Access allows several Null entries in a unique index and compares only the entry bytes,
// so that texts differing only in letter case violate the constraint.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/header.h"
#include "jet/table/table_def.h"

namespace jet {

// True when an index must hold no key twice: it is unique, or it backs a primary key.
bool MustBeUnique(const TableDef& table, const RealIndex& index);

// True when two entries of a unique index collide: their keys are equal and neither is a Null
// entry (`null_a`, `null_b`: every key column of the row is Null).
bool UniqueEntriesCollide(Bytes key_a, bool null_a, Bytes key_b, bool null_b);

// The entry a row (values in the order of table.columns) has in `index`: its key, and whether
// every key column is Null. A Yes/No column's Null counts as No, as it is stored. Fails when the
// key cannot be built (index_key.h).
struct RowEntry {
  ByteString key;
  bool null_entry = false;
};
Result<RowEntry> EntryOfRow(const TableDef& table, const RealIndex& index,
                            const std::vector<Value>& row, const Header& header);
inline bool UniqueEntriesCollide(const RowEntry& a, const RowEntry& b) {
  return UniqueEntriesCollide(a.key, a.null_entry, b.key, b.null_entry);
}

// True when rows `a` and `b` of `table` would collide in `index`; always false when the index
// may hold a key twice.
Result<bool> RowsCollideInIndex(const TableDef& table, const RealIndex& index,
                                const std::vector<Value>& a, const std::vector<Value>& b,
                                const Header& header);

}  // namespace jet
