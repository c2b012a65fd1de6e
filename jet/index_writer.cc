#include "jet/index_writer.h"

#include <algorithm>
#include <string>

#include "jet/data_page.h"
#include "jet/index_key.h"
#include "jet/row_reader.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

// What a written index page holds (Jet 4; the layout is index_page.h's):
//
//   0x00    1  0x04 leaf, 0x03 intermediate
//   0x01    1  0x01
//   0x02    2  free space: page size - 0x1E0 - end of the last entry
//   0x04    4  the table's definition page
//   0x08    4  0
//   0x0C    4  previous page of the level (0 for the first)
//   0x10    4  next page of the level (0 for the last)
//   0x14    4  intermediate pages with two or more children: the last child; else 0
//   0x18    2  prefix length (0 when the complete entries fit)
//   0x1A    1  0x01 on intermediate pages, 0x00 on leaves (as Access writes them)
//   0x1B  453  entry bitmap: bit n set where an entry ends n bytes into the entry area
//   0x1E0      entries: the first complete, each further one without the prefix; zeros after
constexpr std::uint8_t kPageMarker = 0x01;
constexpr std::uint8_t kIntermediateMarker = 0x01;
// A moved row is followed to its bytes at most this often (more hops mean a cycle).
constexpr int kMaxRowHops = 16;
// Count entry of a physical index in the definition: entries (4), then distinct keys (4).
constexpr std::size_t kCountDistinctKeys = 4;

void Put16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void AppendBigEndian32(ByteString& out, std::uint32_t v, std::size_t bytes) {
  for (std::size_t i = bytes; i > 0; --i)
    out.push_back(static_cast<std::uint8_t>(v >> (8 * (i - 1))));
}

// Bytes an entry area holds.
std::size_t EntryCapacity(JetVersion version) {
  return FormatFor(version).page_size - IndexPageLayoutFor(version).entries;
}

// Leading bytes two keys share.
std::size_t SharedPrefix(Bytes a, Bytes b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// The names of the logical indexes a physical index backs, for messages.
std::string IndexName(const TableDef& table, const RealIndex& index) {
  std::string names;
  for (const Index& x : table.indexes) {
    if (x.real_index != index.number) continue;
    if (!names.empty()) names += "/";
    names += x.name;
  }
  return names.empty() ? std::to_string(index.number) : names;
}

bool MustBeUnique(const TableDef& table, const RealIndex& index) {
  if (index.unique()) return true;
  return std::any_of(table.indexes.begin(), table.indexes.end(),
                     [&](const Index& x) { return x.real_index == index.number && x.primary(); });
}

std::string RowName(RowPointer p) { return std::to_string(p.page) + ":" + std::to_string(p.row); }

// Every live row of the table with the pointer its index entries carry: the row's slot, which
// for a moved row is the slot holding the forwarding pointer.
template <typename Visit>
Status ForEachLiveRow(const PageStore& store, const TableDef& table, Visit visit) {
  JET_ASSIGN_OR_RETURN(std::vector<std::uint32_t> pages, ReadUsageMap(store, table.usage_map));
  std::vector<Value> values;
  for (std::uint32_t number : pages) {
    JET_ASSIGN_OR_RETURN(DataPage page, DataPage::Open(store, number));
    if (page.owner() != table.page) {
      return Status::Corrupt("Beschädigte Datenbank: Datenseite " + std::to_string(number) +
                             " gehört nicht zur Tabelle '" + table.name + "'.");
    }
    for (std::uint16_t row = 0; row < page.row_count(); ++row) {
      JET_ASSIGN_OR_RETURN(RowSlot slot, page.Row(row));
      if (slot.deleted) continue;
      for (int hops = 0; slot.overflow; ++hops) {
        ByteReader r(slot.data);
        const RowPointer target = RowPointer::FromRaw(r.U32(0));
        if (!r.ok() || hops >= kMaxRowHops) {
          return Status::Corrupt("Beschädigte Datenbank: Verschobene Zeile " +
                                 RowName({number, static_cast<std::uint8_t>(row)}) +
                                 " der Tabelle '" + table.name + "' ist nicht auffindbar.");
        }
        JET_ASSIGN_OR_RETURN(DataPage target_page, DataPage::Open(store, target.page));
        JET_ASSIGN_OR_RETURN(slot, target_page.Row(target.row));
      }
      JET_RETURN_IF_ERROR(DecodeRow(store, table, slot.data, values));
      JET_RETURN_IF_ERROR(visit(RowPointer{number, static_cast<std::uint8_t>(row)}, values));
    }
  }
  return Status::Ok();
}

struct KeyedRow {
  IndexEntry entry;
  bool null_key = false;  // every key column Null: never a duplicate
};

// The first eight key bytes as a big-endian number: comparing these numbers orders keys as their
// bytes do, up to ties, which the full comparison settles.
std::uint64_t KeyPrefix(const ByteString& key) {
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < 8; ++i) prefix = (prefix << 8) | (i < key.size() ? key[i] : 0);
  return prefix;
}

// Sorts entries as an index orders them (key bytes, then row pointer). Rows read in storage
// order often come sorted already (AutoNumber keys); otherwise an index array is sorted by the
// keys' prefixes first, so that most comparisons touch no key bytes at all.
void SortByEntry(std::vector<KeyedRow>& rows) {
  const auto less = [](const KeyedRow& a, const KeyedRow& b) {
    return CompareEntries(a.entry, b.entry) < 0;
  };
  if (std::is_sorted(rows.begin(), rows.end(), less)) return;
  struct Item {
    std::uint64_t prefix;
    std::uint32_t length;  // of the key
    std::uint32_t row;     // the row pointer, raw
    std::uint32_t position;
  };
  constexpr std::uint32_t kPrefixBytes = 8;
  std::vector<Item> items(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const IndexEntry& e = rows[r].entry;
    items[r] = {KeyPrefix(e.key), static_cast<std::uint32_t>(e.key.size()), e.row.Raw(),
                static_cast<std::uint32_t>(r)};
  }
  std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (a.length <= kPrefixBytes && b.length <= kPrefixBytes) {
      // Whole keys in the prefix: the shorter key first, then the row pointer.
      if (a.length != b.length) return a.length < b.length;
      return a.row < b.row;
    }
    return less(rows[a.position], rows[b.position]);
  });
  std::vector<KeyedRow> sorted;
  sorted.reserve(rows.size());
  for (const Item& item : items) sorted.push_back(std::move(rows[item.position]));
  rows = std::move(sorted);
}

// The pages an index's usage map lists, each checked to be an index page of the table.
Result<std::vector<std::uint32_t>> OldPages(const PageStore& store, const TableDef& table,
                                            const RealIndex& index) {
  JET_ASSIGN_OR_RETURN(std::vector<std::uint32_t> pages, ReadUsageMap(store, index.usage_map));
  for (std::uint32_t number : pages) {
    JET_ASSIGN_OR_RETURN(IndexPage page, ReadIndexPage(store, number));
    if (page.owner != table.page) {
      return Status::Corrupt("Beschädigte Datenbank: Indexseite " + std::to_string(number) +
                             " des Index '" + IndexName(table, index) +
                             "' gehört nicht zur Tabelle '" + table.name + "'.");
    }
  }
  return pages;
}

// Splits `count` items of one level into pages, filling each as far as it goes. `size(i)` is the
// complete size of item i's entry, `key(i)` its key. With `tails`, the last item of every page
// with two or more items is its child tail and has no entry.
template <typename Size, typename Key>
std::vector<PlannedIndexPage> FillLevel(std::size_t count, bool tails, std::size_t capacity,
                                        Size size, Key key) {
  std::vector<PlannedIndexPage> pages;
  std::size_t begin = 0;
  while (begin < count) {
    // Entries [begin, entries_end) with complete sizes adding up to `total`.
    std::size_t entries_end = begin + 1;
    std::size_t total = size(begin);
    auto fits_with = [&](std::size_t next) {
      const std::size_t with = total + size(next);
      if (with <= capacity) return true;
      const std::size_t prefix = SharedPrefix(key(begin), key(next));
      return with - (next - begin) * prefix <= capacity;
    };
    std::size_t end = entries_end;  // items of the page
    if (!tails) {
      while (entries_end < count && fits_with(entries_end)) total += size(entries_end++);
      end = entries_end;
    } else if (begin + 1 < count) {
      // Item `end - 1` is the tail; taking one more item gives it an entry.
      end = begin + 2;
      while (end < count && fits_with(end - 1)) total += size(end++ - 1);
      entries_end = end - 1;
    }
    PlannedIndexPage page;
    page.begin = begin;
    page.end = end;
    page.prefix = total <= capacity ? 0 : SharedPrefix(key(begin), key(entries_end - 1));
    pages.push_back(page);
    begin = end;
  }
  return pages;
}

// The complete bytes of an entry: key, row pointer (page 3, row 1) and, on intermediate pages,
// the child page (4), all big-endian.
ByteString EntryBytes(const IndexEntry& e, bool leaf, std::uint32_t child) {
  ByteString out = e.key;
  AppendBigEndian32(out, e.row.page, 3);
  out.push_back(e.row.row);
  if (!leaf) AppendBigEndian32(out, child, 4);
  return out;
}

struct PageLinks {
  std::uint32_t prev = 0;
  std::uint32_t next = 0;
  std::uint32_t tail = 0;
};

void WriteIndexPage(std::span<std::uint8_t> page, JetVersion version, std::uint32_t owner,
                    bool leaf, const PageLinks& links, std::size_t prefix,
                    const std::vector<ByteString>& entries) {
  const IndexPageLayout& l = IndexPageLayoutFor(version);
  std::fill(page.begin(), page.end(), 0);
  page[0] = static_cast<std::uint8_t>(leaf ? PageType::kLeafIndex : PageType::kIntermediateIndex);
  page[1] = kPageMarker;
  Put32(page, kIndexPageOwnerOffset, owner);
  Put32(page, l.prev_page, links.prev);
  Put32(page, l.next_page, links.next);
  Put32(page, l.child_tail, links.tail);
  if (l.prefix_length_size == 2) {
    Put16(page, l.prefix_length, static_cast<std::uint16_t>(prefix));
  } else {
    page[l.prefix_length] = static_cast<std::uint8_t>(prefix);
  }
  if (!leaf) page[l.node_marker] = kIntermediateMarker;
  std::size_t end = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t skip = i == 0 ? 0 : prefix;
    const ByteString& e = entries[i];
    std::copy(e.begin() + static_cast<std::ptrdiff_t>(skip), e.end(),
              page.begin() + static_cast<std::ptrdiff_t>(l.entries + end));
    end += e.size() - skip;
    page[l.bitmap + end / 8] |= static_cast<std::uint8_t>(1u << (end % 8));
  }
  Put16(page, kIndexPageFreeSpaceOffset, static_cast<std::uint16_t>(page.size() - l.entries - end));
}

}  // namespace

std::vector<std::vector<PlannedIndexPage>> PlanIndexPages(JetVersion version,
                                                          const std::vector<IndexEntry>& entries) {
  const std::size_t capacity = EntryCapacity(version);
  std::vector<std::vector<PlannedIndexPage>> levels;
  // Leaves; an empty index is one empty leaf.
  levels.push_back(FillLevel(
      entries.size(), /*tails=*/false, capacity,
      [&](std::size_t i) { return entries[i].key.size() + kIndexEntryRowSize; },
      [&](std::size_t i) { return Bytes(entries[i].key); }));
  if (levels.back().empty()) levels.back().push_back(PlannedIndexPage{});
  for (PlannedIndexPage& p : levels.back()) p.last_entry = p.end == 0 ? 0 : p.end - 1;
  // Intermediate levels until one page is left: the root.
  while (levels.back().size() > 1) {
    const std::vector<PlannedIndexPage>& below = levels.back();
    auto last = [&](std::size_t i) -> const IndexEntry& { return entries[below[i].last_entry]; };
    std::vector<PlannedIndexPage> level = FillLevel(
        below.size(), /*tails=*/true, capacity,
        [&](std::size_t i) {
          return last(i).key.size() + kIndexEntryRowSize + kIndexEntryChildSize;
        },
        [&](std::size_t i) { return Bytes(last(i).key); });
    for (PlannedIndexPage& p : level) p.last_entry = below[p.end - 1].last_entry;
    levels.push_back(std::move(level));
  }
  return levels;
}

Result<IndexRebuild> PrepareIndexRebuild(const PageStore& store, const TableDef& table) {
  const JetVersion version = store.format().version;
  if (version != JetVersion::kJet4) {
    return Status(ErrorCode::kNotSupported,
                  "Indizes von Jet-3-Datenbanken (Access 97) werden nicht geschrieben.");
  }
  IndexRebuild rebuild;
  rebuild.table_page = table.page;
  if (table.real_indexes.empty()) return rebuild;

  std::vector<std::vector<KeyedRow>> keyed(table.real_indexes.size());
  JET_RETURN_IF_ERROR(
      ForEachLiveRow(store, table, [&](RowPointer at, const std::vector<Value>& row) -> Status {
        for (std::size_t i = 0; i < table.real_indexes.size(); ++i) {
          const RealIndex& index = table.real_indexes[i];
          const bool null_key = AllKeyColumnsNull(table, index, row);
          if (null_key && index.ignore_nulls()) continue;
          Result<ByteString> key = EncodeIndexKey(table, index, row, store.header());
          if (!key.ok()) {
            return Status(key.status().code(), "Tabelle '" + table.name + "', Index '" +
                                                   IndexName(table, index) + "', Zeile " +
                                                   RowName(at) + ": " + key.status().message());
          }
          keyed[i].push_back({IndexEntry{std::move(*key), at, 0}, null_key});
        }
        return Status::Ok();
      }));

  const std::size_t capacity = EntryCapacity(version);
  for (std::size_t i = 0; i < table.real_indexes.size(); ++i) {
    const RealIndex& index = table.real_indexes[i];
    std::vector<KeyedRow>& rows = keyed[i];
    SortByEntry(rows);
    PlannedIndex planned;
    planned.real_index = i;
    const bool unique = MustBeUnique(table, index);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const IndexEntry& e = rows[r].entry;
      if (e.key.size() + kIndexEntryRowSize + kIndexEntryChildSize > capacity) {
        return Status(ErrorCode::kNotSupported,
                      "Der Schlüssel von Zeile " + RowName(e.row) + " ist für den Index '" +
                          IndexName(table, index) + "' der Tabelle '" + table.name + "' zu lang (" +
                          std::to_string(e.key.size()) + " Bytes).");
      }
      const bool same_key = r > 0 && rows[r - 1].entry.key == e.key;
      if (!same_key) ++planned.distinct_keys;
      if (same_key && unique && !rows[r].null_key) {
        return Status(ErrorCode::kDuplicateKey,
                      "Der eindeutige Index '" + IndexName(table, index) + "' der Tabelle '" +
                          table.name + "' würde einen Wert doppelt enthalten (Zeilen " +
                          RowName(rows[r - 1].entry.row) + " und " + RowName(e.row) +
                          "); die Änderungen werden nicht gespeichert.");
      }
    }
    planned.entries.reserve(rows.size());
    for (KeyedRow& r : rows) planned.entries.push_back(std::move(r.entry));
    rows = {};
    planned.levels = PlanIndexPages(version, planned.entries);
    JET_ASSIGN_OR_RETURN(planned.old_pages, OldPages(store, table, index));
    rebuild.indexes.push_back(std::move(planned));
  }
  return rebuild;
}

Status ApplyIndexRebuild(PageStore& store, PageAllocator& allocator, TableDef& table,
                         const IndexRebuild& rebuild) {
  if (rebuild.table_page != table.page) {
    return Status(ErrorCode::kInvalidValue,
                  "Der Indexplan gehört nicht zur Tabelle '" + table.name + "'.");
  }
  const JetVersion version = store.format().version;
  for (const PlannedIndex& planned : rebuild.indexes) {
    RealIndex& index = table.real_indexes.at(planned.real_index);
    for (std::uint32_t page : planned.old_pages) {
      JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, index.usage_map, page, false));
      JET_RETURN_IF_ERROR(allocator.Free(page));
    }
    // Page numbers from the root down, each level left to right.
    std::vector<std::vector<std::uint32_t>> numbers(planned.levels.size());
    for (std::size_t level = planned.levels.size(); level-- > 0;) {
      for (std::size_t i = 0; i < planned.levels[level].size(); ++i) {
        JET_ASSIGN_OR_RETURN(std::uint32_t number, allocator.Allocate());
        numbers[level].push_back(number);
      }
    }
    for (std::size_t level = 0; level < planned.levels.size(); ++level) {
      const bool leaf = level == 0;
      const std::vector<PlannedIndexPage>& pages = planned.levels[level];
      for (std::size_t i = 0; i < pages.size(); ++i) {
        const PlannedIndexPage& p = pages[i];
        PageLinks links;
        links.prev = i == 0 ? 0 : numbers[level][i - 1];
        links.next = i + 1 == pages.size() ? 0 : numbers[level][i + 1];
        std::vector<ByteString> entries;
        if (leaf) {
          for (std::size_t e = p.begin; e < p.end; ++e) {
            entries.push_back(EntryBytes(planned.entries[e], true, 0));
          }
        } else {
          const std::vector<PlannedIndexPage>& below = planned.levels[level - 1];
          const std::size_t with_entry = p.end - p.begin >= 2 ? p.end - 1 : p.end;
          for (std::size_t c = p.begin; c < with_entry; ++c) {
            entries.push_back(
                EntryBytes(planned.entries[below[c].last_entry], false, numbers[level - 1][c]));
          }
          if (with_entry < p.end) links.tail = numbers[level - 1][p.end - 1];
        }
        JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bytes, store.MutablePage(numbers[level][i]));
        WriteIndexPage(bytes, version, table.page, leaf, links, p.prefix, entries);
      }
    }
    for (const std::vector<std::uint32_t>& level : numbers) {
      for (std::uint32_t page : level) {
        JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, index.usage_map, page, true));
      }
    }
    const std::uint32_t root = numbers.back().front();
    JET_RETURN_IF_ERROR(PutDefinitionU32(store, table.page, index.first_page_at, root));
    JET_RETURN_IF_ERROR(PutDefinitionU32(store, table.page, index.counts_at,
                                         static_cast<std::uint32_t>(planned.entries.size())));
    JET_RETURN_IF_ERROR(PutDefinitionU32(store, table.page, index.counts_at + kCountDistinctKeys,
                                         planned.distinct_keys));
    index.first_page = root;
  }
  return Status::Ok();
}

Status RebuildIndexes(PageStore& store, PageAllocator& allocator, TableDef& table) {
  JET_ASSIGN_OR_RETURN(IndexRebuild rebuild, PrepareIndexRebuild(store, table));
  return ApplyIndexRebuild(store, allocator, table, rebuild);
}

}  // namespace jet
