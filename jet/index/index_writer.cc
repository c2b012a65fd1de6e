#include "jet/index/index_writer.h"

#include <algorithm>
#include <string>
#include <vector>

#include "jet/base/parallel.h"
#include "jet/index/index_entry_store.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page_plan.h"
#include "jet/index/index_page_writer.h"
#include "jet/index/index_uniqueness.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/table/row_reader.h"
#include "jet/table/row_walker.h"

namespace jet {
namespace {

// Two physical indexes with the same entries: the same key columns in the same directions, and
// the same handling of rows whose key columns are all Null.
bool SameEntries(const RealIndex& a, const RealIndex& b) {
  if (a.ignore_nulls() != b.ignore_nulls() || a.columns.size() != b.columns.size()) return false;
  for (std::size_t i = 0; i < a.columns.size(); ++i) {
    if (a.columns[i].column_number != b.columns[i].column_number ||
        a.columns[i].ascending != b.columns[i].ascending) {
      return false;
    }
  }
  return true;
}

std::string RowName(RowPointer p) { return std::to_string(p.page) + ":" + std::to_string(p.row); }

// The row layout FindFixedField() reads (Jet 4): the column count in two bytes, the fixed part,
// the null mask at the end; a table without variable columns has nothing between them.
constexpr std::size_t kNumberKeyRowCountSize = 2;

enum class FixedField { kUnsound, kNull, kPresent };

// Finds fixed column `c` in a row of a table without variable columns: kPresent with its stored
// bytes in `field`, kNull, or kUnsound when the row's bytes are not plainly sound (the general
// path then reports what is wrong with them).
// Always inlined: it runs once per row and index at every commit.
[[gnu::always_inline]] inline FixedField FindFixedField(const Column& c, Bytes row, Bytes& field) {
  ByteReader in(row);
  const std::size_t row_columns = in.U16(0);
  const std::size_t mask_size = (row_columns + 7) / 8;
  if (!in.ok() || row.size() < kNumberKeyRowCountSize + mask_size) return FixedField::kUnsound;
  const std::size_t mask_at = row.size() - mask_size;
  if (c.number >= row_columns || (row[mask_at + c.number / 8] & (1u << (c.number % 8))) == 0) {
    return FixedField::kNull;
  }
  const std::size_t start = kNumberKeyRowCountSize + c.fixed_offset;
  const std::size_t size = FixedSize(c);
  if (start + size > mask_at) return FixedField::kUnsound;
  field = row.subspan(start, size);
  return FixedField::kPresent;
}

// The key of a one-column number index from a row of a table without variable columns, as
// SplitRow and the general path would give it. False, with `key` empty, when the row's bytes are
// not plainly sound.
bool NumberKeyOfRow(const Column& c, bool ascending, const Header& header, Bytes row,
                    std::vector<std::uint8_t>& key, bool& null_key) {
  Bytes field;
  switch (FindFixedField(c, row, field)) {
    case FixedField::kUnsound:
      return false;
    case FixedField::kNull:
      null_key = true;
      if (AppendKeyColumn(c, ascending, Value(), header, key).ok()) return true;
      break;
    case FixedField::kPresent:
      null_key = false;
      if (AppendStoredNumberKey(c, ascending, field, key)) return true;
      break;
  }
  key.clear();
  return false;
}

// NumberKeyOfRow() for a present value whose key fits an entry's prefix (a flag byte and at
// most seven value bytes): the prefix straight away. False when the general way is needed.
bool NumberPrefixOfRow(const Column& c, bool ascending, Bytes row, std::uint64_t& prefix,
                       std::size_t& length) {
  Bytes field;
  if (FindFixedField(c, row, field) != FixedField::kPresent) return false;
  if (field.size() + 1 > IndexEntryStore::kInlineKey) return false;
  std::uint64_t value = 0;
  std::size_t value_size = 0;
  if (!StoredNumberKey(c, ascending, field, value, value_size)) return false;
  const std::uint64_t flag = ascending ? kKeyPresentAscending : kKeyPresentDescending;
  constexpr std::size_t kTopShift = 8 * (IndexEntryStore::kInlineKey - 1);
  prefix = flag << kTopShift | value << (kTopShift - 8 * value_size);
  length = 1 + value_size;
  return true;
}

// Data pages of a table from which on the entries are collected by two threads.
constexpr std::size_t kParallelPages = 256;

// The entries of `index` (and of every index with the same entries) from the rows on these data
// pages of the table: only the key columns are decoded.
Status CollectEntries(const PageStore& store, const TableDef& table, const RealIndex& index,
                      std::vector<std::uint32_t> pages, IndexEntryStore& entries) {
  const std::size_t capacity = IndexEntryCapacity(store.format().version);
  // Where each key column sits in table.columns, in the index's order.
  std::vector<std::size_t> slots;
  for (const IndexColumn& ic : index.columns) {
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      if (table.columns[i].number == ic.column_number) {
        slots.push_back(i);
        break;
      }
    }
  }
  RowFields fields;
  std::vector<Value> values(table.columns.size());
  std::vector<std::uint8_t> key;
  // The common index of one number column in a table of fixed columns only: its key straight
  // from the row's bytes.
  const Column* number_key = nullptr;
  const bool number_ascending = !index.columns.empty() && index.columns[0].ascending;
  if (slots.size() == 1 && index.columns.size() == 1 && table.var_cols == 0 &&
      store.format().row_count_size == kNumberKeyRowCountSize &&
      IsFixedNumber(table.columns[slots[0]])) {
    number_key = &table.columns[slots[0]];
  }
  // Room for an entry per row, as far as the pages can hold the rows the table counts.
  entries.Reserve(
      std::min<std::size_t>(table.row_count, pages.size() * std::size_t{kMaxRowsPerDataPage}));
  // Nothing changes the pages while the entries are collected.
  RowWalker rows(store, table, std::move(pages), RowWalker::Pages::kUnchanged);
  std::uint32_t last_page = 0;  // of the row before
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, rows.Next());
    if (!more) return Status::Ok();
    const RowPointer at = rows.position();
    if (last_page != 0 && PageStore::ChunkOf(at.page) != PageStore::ChunkOf(last_page)) {
      store.LeaveChunkOf(last_page);  // passed: may leave resident memory while others read
    }
    last_page = at.page;
    const Bytes row = rows.row();
    bool null_key = true;  // a Yes/No column is never Null
    key.clear();
    std::uint64_t prefix = 0;
    std::size_t length = 0;
    if (number_key != nullptr &&
        NumberPrefixOfRow(*number_key, number_ascending, row, prefix, length)) {
      entries.AddShort(prefix, length, at, false);
      continue;
    }
    if (number_key != nullptr &&
        NumberKeyOfRow(*number_key, number_ascending, store.header(), row, key, null_key)) {
      if (null_key && index.ignore_nulls()) continue;
      JET_RETURN_IF_ERROR(entries.Add(key, at, null_key));
      continue;
    }
    JET_RETURN_IF_ERROR(SplitRow(store.format(), table, row, fields, slots));
    for (std::size_t slot : slots) {
      if (table.columns[slot].type() == ColumnType::kBoolean || fields.fields[slot].stored) {
        null_key = false;
      }
    }
    if (null_key && index.ignore_nulls()) continue;
    key.clear();
    Status s = Status::Ok();
    if (slots.size() == index.columns.size()) {
      for (std::size_t k = 0; k < slots.size() && s.ok(); ++k) {
        const Column& c = table.columns[slots[k]];
        const FieldSlot& field = fields.fields[slots[k]];
        const bool ascending = index.columns[k].ascending;
        // Numbers go from their stored bytes to the key; other values are decoded first.
        if (field.stored && AppendStoredNumberKey(c, ascending, field.data, key)) continue;
        Value& v = values[slots[k]];
        if (c.type() == ColumnType::kBoolean) {
          v = Value(field.bit);
        } else if (!field.stored) {
          v = Value();
        } else {
          JET_ASSIGN_OR_RETURN(v, DecodeColumnData(store, c, field.data));
        }
        s = AppendKeyColumn(c, ascending, v, store.header(), key);
      }
    } else {
      s = AppendIndexKey(table, index, values, store.header(), key);  // names the lost column
    }
    if (!s.ok()) {
      return Status(s.code(), "Tabelle '" + table.name + "', Index '" + IndexNames(table, index) +
                                  "', Zeile " + RowName(at) + ": " + s.message());
    }
    if (key.size() + kIndexEntryRowSize + kIndexEntryChildSize > capacity) {
      return Status(ErrorCode::kNotSupported,
                    "Der Schlüssel von Zeile " + RowName(at) + " ist für den Index '" +
                        IndexNames(table, index) + "' der Tabelle '" + table.name + "' zu lang (" +
                        std::to_string(key.size()) + " Bytes).");
    }
    JET_RETURN_IF_ERROR(entries.Add(key, at, null_key));
  }
}

// Counts the different keys among the sorted entries and refuses a key that a unique index would
// hold twice (index_uniqueness.h has the rule).
Result<std::uint32_t> CheckEntries(const TableDef& table, const RealIndex& index,
                                   const IndexEntryStore& entries) {
  const bool unique = MustBeUnique(table, index);
  std::uint32_t distinct = 0;
  IndexEntryStore::Scratch before, here;
  for (std::size_t r = 0; r < entries.size(); ++r) {
    const bool same_key = r > 0 && entries.SameKey(r - 1, r);
    if (!same_key) ++distinct;
    if (same_key && unique &&
        UniqueEntriesCollide(entries.Key(r - 1, before), entries.NullKey(r - 1),
                             entries.Key(r, here), entries.NullKey(r))) {
      // Worded as the record layer words it; where the rows lie is no concern of the user's.
      return Status(ErrorCode::kDuplicateKey,
                    "Die Änderungen wurden nicht durchgeführt, da sie doppelte Werte im Index '" +
                        IndexNames(table, index) + "' der Tabelle '" + table.name +
                        "' erzeugen würden.");
    }
  }
  return distinct;
}

// The entries of `index` from the rows on the table's data pages `pages`: on a large table, the
// second half of the pages by another thread. A failure is the one a single walk would meet
// first.
Status CollectAllEntries(PageStore& store, const TableDef& table, const RealIndex& index,
                         const std::vector<std::uint32_t>& pages, IndexEntryStore& entries) {
  if (pages.size() < kParallelPages) return CollectEntries(store, table, index, pages, entries);
  const auto middle = pages.begin() + static_cast<std::ptrdiff_t>(pages.size() / 2);
  // Room for all entries here, so that those of the second half join them without a copy of
  // the first's.
  entries.Reserve(
      std::min<std::size_t>(table.row_count, pages.size() * std::size_t{kMaxRowsPerDataPage}));
  IndexEntryStore rest;
  // The same room: only the part the rows fill becomes resident, and the store never moves
  // while it fills.
  rest.Reserve(
      std::min<std::size_t>(table.row_count, pages.size() * std::size_t{kMaxRowsPerDataPage}));
  Status first_half = Status::Ok();
  Status second_half = Status::Ok();
  store.BeginParallelReads();
  try {
    RunBoth(
        [&] {
          first_half = CollectEntries(store, table, index, {pages.begin(), middle}, entries);
        },
        [&] {
          second_half = CollectEntries(store, table, index, {middle, pages.end()}, rest);
        });
  } catch (...) {
    store.EndParallelReads();  // out of memory: the commit that called this is undone
    throw;
  }
  store.EndParallelReads();
  JET_RETURN_IF_ERROR(first_half);
  JET_RETURN_IF_ERROR(second_half);
  return entries.Append(rest);
}

}  // namespace

Status RebuildIndexes(PageStore& store, PageAllocator& allocator, TableDef& table) {
  const JetVersion version = store.format().version;
  if (version != JetVersion::kJet4) {
    return Status(ErrorCode::kNotSupported,
                  "Indizes von Jet-3-Datenbanken (Access 97) werden nicht geschrieben.");
  }
  if (table.real_indexes.empty()) return Status::Ok();
  JET_ASSIGN_OR_RETURN(const std::vector<std::uint32_t> pages,
                       ReadUsageMap(store, table.usage_map));
  std::vector<bool> written(table.real_indexes.size(), false);
  for (std::size_t i = 0; i < table.real_indexes.size(); ++i) {
    if (written[i]) continue;
    IndexEntryStore entries;
    JET_RETURN_IF_ERROR(CollectAllEntries(store, table, table.real_indexes[i], pages, entries));
    entries.Sort();
    const auto levels = PlanLevels(
        version, entries.size(), [&](std::size_t e) { return entries.KeySize(e); },
        [&](std::size_t a, std::size_t b) { return entries.Shared(a, b); });
    for (std::size_t j = i; j < table.real_indexes.size(); ++j) {
      RealIndex& index = table.real_indexes[j];
      if (written[j] || !SameEntries(table.real_indexes[i], index)) continue;
      JET_ASSIGN_OR_RETURN(std::uint32_t distinct, CheckEntries(table, index, entries));
      JET_RETURN_IF_ERROR(
          WriteIndexTree(store, allocator, table, index, entries, levels, distinct));
      written[j] = true;
    }
  }
  return Status::Ok();
}

}  // namespace jet
