#include "jet/index_writer.h"

#include <algorithm>
#include <array>
#include <bit>
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
// A data page holds at most this many rows (row numbers are one byte).
constexpr std::size_t kMaxRowsPerDataPage = 256;
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

// The complete bytes of an entry: key, row pointer (page 3, row 1) and, on intermediate pages,
// the child page (4), all big-endian.
void AppendEntryTail(ByteString& out, RowPointer row, bool leaf, std::uint32_t child) {
  const std::size_t at = out.size();
  out.resize(at + (leaf ? kIndexEntryRowSize : kIndexEntryRowSize + kIndexEntryChildSize));
  const std::uint32_t raw = row.Raw();  // page (3 bytes) then row (1 byte), big-endian
  for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(raw >> (24 - 8 * i));
  if (!leaf) {
    for (std::size_t i = 0; i < 4; ++i) {
      out[at + 4 + i] = static_cast<std::uint8_t>(child >> (24 - 8 * i));
    }
  }
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

// Every live row of the table with the pointer its index entries carry (the row's slot, which
// for a moved row is the slot holding the forwarding pointer) and the row's bytes.
template <typename Visit>
Status ForEachLiveRow(const PageStore& store, const TableDef& table,
                      const std::vector<std::uint32_t>& pages, Visit visit) {
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
      JET_RETURN_IF_ERROR(visit(RowPointer{number, static_cast<std::uint8_t>(row)}, slot.data));
    }
  }
  return Status::Ok();
}

// The entries of one index, sixteen bytes each, so that an index of millions of rows fits in
// little memory:
//
//   0   8  the key's first eight bytes as a big-endian number (zeros past a shorter key)
//   8   4  the row pointer, raw (page << 8 | row)
//   12  4  bit 31 clear: the key is at most eight bytes long, bits 0-29 give its length;
//          bit 31 set: bits 0-29 give where the key's length (2 bytes) and bytes start in the
//          list's key store; bit 30: every key column of the row is Null
//
// Comparing the first eight bytes as numbers orders keys as their bytes do, up to ties, which
// the lengths (short keys) or the complete bytes (longer keys) settle.
class EntryList {
 public:
  static constexpr std::size_t kInlineKey = 8;

  void Reserve(std::size_t n) { items_.reserve(n); }

  Status Add(Bytes key, RowPointer row, bool null_key) {
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < kInlineKey; ++i)
      prefix = (prefix << 8) | (i < key.size() ? key[i] : 0);
    std::uint32_t meta = null_key ? kNullKey : 0;
    if (key.size() <= kInlineKey) {
      meta |= static_cast<std::uint32_t>(key.size());
    } else {
      if (store_.size() + 2 + key.size() > kValueMask || key.size() > 0xFFFF) {
        return Status(ErrorCode::kNotSupported, "Der Index ist zu groß, um ihn zu schreiben.");
      }
      meta |= kLongKey | static_cast<std::uint32_t>(store_.size());
      store_.push_back(static_cast<std::uint8_t>(key.size()));
      store_.push_back(static_cast<std::uint8_t>(key.size() >> 8));
      store_.insert(store_.end(), key.begin(), key.end());
    }
    items_.push_back({prefix, row.Raw(), meta});
    return Status::Ok();
  }

  // Index order: key bytes, then row pointer. Rows read in storage order often come sorted
  // already (AutoNumber keys).
  void Sort() {
    const auto less = [this](const Item& a, const Item& b) { return Less(a, b); };
    if (std::is_sorted(items_.begin(), items_.end(), less)) return;
    if (store_.empty()) {
      RadixSort(items_.data(), items_.data() + items_.size(), 0);
    } else {
      std::sort(items_.begin(), items_.end(), less);
    }
  }

  std::size_t size() const { return items_.size(); }
  RowPointer Row(std::size_t i) const { return RowPointer::FromRaw(items_[i].row); }
  bool NullKey(std::size_t i) const { return (items_[i].meta & kNullKey) != 0; }
  std::size_t KeySize(std::size_t i) const {
    const Item& item = items_[i];
    if ((item.meta & kLongKey) == 0) return item.meta & kValueMask;
    const std::size_t at = item.meta & kValueMask;
    return store_[at] | std::size_t{store_[at + 1]} << 8;
  }
  bool SameKey(std::size_t i, std::size_t j) const {
    const Item& a = items_[i];
    const Item& b = items_[j];
    if (a.prefix != b.prefix) return false;
    if (((a.meta | b.meta) & kLongKey) == 0) return (a.meta & kValueMask) == (b.meta & kValueMask);
    Scratch sa, sb;
    return CompareKeys(Key(a, sa), Key(b, sb)) == 0;
  }
  std::size_t Shared(std::size_t i, std::size_t j) const {
    const Item& a = items_[i];
    const Item& b = items_[j];
    if (((a.meta | b.meta) & kLongKey) == 0) {
      // Leading equal bytes of the prefixes, up to the shorter key's length.
      const std::size_t equal =
          a.prefix == b.prefix
              ? kInlineKey
              : static_cast<std::size_t>(std::countl_zero(a.prefix ^ b.prefix)) / 8;
      return std::min({equal, std::size_t{a.meta & kValueMask}, std::size_t{b.meta & kValueMask}});
    }
    Scratch sa, sb;
    return SharedPrefix(Key(a, sa), Key(b, sb));
  }
  void AppendKey(std::size_t i, ByteString& out) const {
    const Item& item = items_[i];
    if ((item.meta & kLongKey) == 0) {
      const std::size_t at = out.size();
      const std::size_t length = item.meta & kValueMask;
      out.resize(at + length);
      for (std::size_t k = 0; k < length; ++k) {
        out[at + k] = static_cast<std::uint8_t>(item.prefix >> (8 * (kInlineKey - 1 - k)));
      }
      return;
    }
    Scratch scratch;
    const Bytes key = Key(item, scratch);
    out.insert(out.end(), key.begin(), key.end());
  }

 private:
  struct Item {
    std::uint64_t prefix;
    std::uint32_t row;
    std::uint32_t meta;
  };
  static_assert(sizeof(Item) == 16);
  static constexpr std::uint32_t kLongKey = 1u << 31;
  static constexpr std::uint32_t kNullKey = 1u << 30;
  static constexpr std::uint32_t kValueMask = kNullKey - 1;
  using Scratch = std::array<std::uint8_t, kInlineKey>;

  Bytes Key(const Item& item, Scratch& scratch) const {
    if ((item.meta & kLongKey) != 0) {
      const std::size_t at = item.meta & kValueMask;
      const std::size_t length = store_[at] | std::size_t{store_[at + 1]} << 8;
      return Bytes(store_).subspan(at + 2, length);
    }
    for (std::size_t i = 0; i < kInlineKey; ++i) {
      scratch[i] = static_cast<std::uint8_t>(item.prefix >> (8 * (kInlineKey - 1 - i)));
    }
    return Bytes(scratch.data(), item.meta & kValueMask);
  }

  bool Less(const Item& a, const Item& b) const {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (((a.meta | b.meta) & kLongKey) == 0) {
      // Whole keys in the prefix: the shorter key first, then the row pointer.
      const std::uint32_t la = a.meta & kValueMask;
      const std::uint32_t lb = b.meta & kValueMask;
      if (la != lb) return la < lb;
      return a.row < b.row;
    }
    Scratch sa, sb;
    if (const int c = CompareKeys(Key(a, sa), Key(b, sb)); c != 0) return c < 0;
    return a.row < b.row;
  }

  // Short keys only: the order of (key prefix, key length, row pointer) taken a byte at a time,
  // most significant first, as digits 0-7 (prefix), 8 (length) and 9-12 (row pointer).
  static constexpr int kDigits = 13;
  static constexpr std::size_t kSmallRange = 64;  // sorted by comparisons instead
  static unsigned Digit(const Item& item, int digit) {
    if (digit < 8) return static_cast<unsigned>(item.prefix >> (56 - 8 * digit)) & 0xFF;
    if (digit == 8) return item.meta & 0xFF;  // a short key's length (at most 8)
    return (item.row >> (24 - 8 * (digit - 9))) & 0xFF;
  }

  // In-place most-significant-digit radix sort (each level distributes its range into 256
  // buckets by swapping items along cycles, then sorts every bucket by the next digit).
  void RadixSort(Item* first, Item* last, int digit) const {
    while (true) {
      const auto n = static_cast<std::size_t>(last - first);
      if (n <= kSmallRange) {
        std::sort(first, last, [this](const Item& a, const Item& b) { return Less(a, b); });
        return;
      }
      if (digit >= kDigits) return;
      std::array<std::size_t, 256> count{};
      for (const Item* p = first; p != last; ++p) ++count[Digit(*p, digit)];
      if (count[Digit(*first, digit)] == n) {
        ++digit;  // one bucket: the next digit decides
        continue;
      }
      std::array<std::size_t, 256> begin{};
      std::array<std::size_t, 256> next{};
      for (std::size_t b = 0, at = 0; b < 256; ++b) {
        begin[b] = next[b] = at;
        at += count[b];
      }
      for (std::size_t b = 0; b < 256; ++b) {
        const std::size_t end = begin[b] + count[b];
        while (next[b] < end) {
          Item item = first[next[b]];
          for (unsigned d = Digit(item, digit); d != b; d = Digit(item, digit)) {
            std::swap(item, first[next[d]++]);
          }
          first[next[b]++] = item;
        }
      }
      for (std::size_t b = 0; b < 256; ++b) {
        if (count[b] > 1) RadixSort(first + begin[b], first + begin[b] + count[b], digit + 1);
      }
      return;
    }
  }

  std::vector<Item> items_;
  ByteString store_;  // keys longer than eight bytes: length (2, little-endian), then the bytes
};

// Splits `count` items of one level into pages, filling each as far as it goes. `size(i)` is the
// complete size of item i's entry, `shared(i, j)` the key bytes items i and j share. With `tails`,
// the last item of every page with two or more items is its child tail and has no entry.
template <typename Size, typename Shared>
std::vector<PlannedIndexPage> FillLevel(std::size_t count, bool tails, std::size_t capacity,
                                        Size size, Shared shared) {
  std::vector<PlannedIndexPage> pages;
  std::size_t begin = 0;
  while (begin < count) {
    // Entries [begin, entries_end) with complete sizes adding up to `total`.
    std::size_t entries_end = begin + 1;
    std::size_t total = size(begin);
    auto fits_with = [&](std::size_t next) {
      const std::size_t with = total + size(next);
      if (with <= capacity) return true;
      const std::size_t prefix = shared(begin, next);
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
    page.prefix = total <= capacity ? 0 : shared(begin, entries_end - 1);
    pages.push_back(page);
    begin = end;
  }
  return pages;
}

// The levels of a tree over `count` sorted entries, leaves first; `key_size(i)` and
// `shared(i, j)` describe the entries' keys.
template <typename KeySize, typename Shared>
std::vector<std::vector<PlannedIndexPage>> PlanLevels(JetVersion version, std::size_t count,
                                                      KeySize key_size, Shared shared) {
  const std::size_t capacity = EntryCapacity(version);
  std::vector<std::vector<PlannedIndexPage>> levels;
  // Leaves; an empty index is one empty leaf.
  levels.push_back(FillLevel(
      count, /*tails=*/false, capacity,
      [&](std::size_t i) { return key_size(i) + kIndexEntryRowSize; }, shared));
  if (levels.back().empty()) levels.back().push_back(PlannedIndexPage{});
  for (PlannedIndexPage& p : levels.back()) p.last_entry = p.end == 0 ? 0 : p.end - 1;
  // Intermediate levels until one page is left: the root.
  while (levels.back().size() > 1) {
    const std::vector<PlannedIndexPage>& below = levels.back();
    auto last = [&](std::size_t i) { return below[i].last_entry; };
    std::vector<PlannedIndexPage> level = FillLevel(
        below.size(), /*tails=*/true, capacity,
        [&](std::size_t i) {
          return key_size(last(i)) + kIndexEntryRowSize + kIndexEntryChildSize;
        },
        [&](std::size_t i, std::size_t j) { return shared(last(i), last(j)); });
    for (PlannedIndexPage& p : level) p.last_entry = below[p.end - 1].last_entry;
    levels.push_back(std::move(level));
  }
  return levels;
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

struct PageLinks {
  std::uint32_t prev = 0;
  std::uint32_t next = 0;
  std::uint32_t tail = 0;
};

// Writes one index page holding `count` entries; `entry(k, out)` appends the complete bytes of
// the page's entry k to `out`.
template <typename Entry>
void WriteIndexPage(std::span<std::uint8_t> page, JetVersion version, std::uint32_t owner,
                    bool leaf, const PageLinks& links, std::size_t prefix, std::size_t count,
                    Entry entry) {
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
  ByteString bytes;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t skip = i == 0 ? 0 : prefix;
    bytes.clear();
    entry(i, bytes);
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end(),
              page.begin() + static_cast<std::ptrdiff_t>(l.entries + end));
    end += bytes.size() - skip;
    page[l.bitmap + end / 8] |= static_cast<std::uint8_t>(1u << (end % 8));
  }
  Put16(page, kIndexPageFreeSpaceOffset, static_cast<std::uint16_t>(page.size() - l.entries - end));
}

// The entries of `index` (and of every index with the same entries) from the table's rows:
// only the key columns are decoded.
Status CollectEntries(const PageStore& store, const TableDef& table, const RealIndex& index,
                      EntryList& entries) {
  const std::size_t capacity = EntryCapacity(store.format().version);
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
  ByteString key;
  JET_ASSIGN_OR_RETURN(std::vector<std::uint32_t> pages, ReadUsageMap(store, table.usage_map));
  // Room for an entry per row, as far as the table's pages can hold the rows it counts.
  entries.Reserve(std::min<std::size_t>(table.row_count, pages.size() * kMaxRowsPerDataPage));
  return ForEachLiveRow(store, table, pages, [&](RowPointer at, Bytes row) -> Status {
    JET_RETURN_IF_ERROR(SplitRow(store.format(), table, row, fields, slots));
    bool null_key = true;  // a Yes/No column is never Null
    for (std::size_t slot : slots) {
      if (table.columns[slot].type() == ColumnType::kBoolean || fields.fields[slot].stored) {
        null_key = false;
      }
    }
    if (null_key && index.ignore_nulls()) return Status::Ok();
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
      return Status(s.code(), "Tabelle '" + table.name + "', Index '" + IndexName(table, index) +
                                  "', Zeile " + RowName(at) + ": " + s.message());
    }
    if (key.size() + kIndexEntryRowSize + kIndexEntryChildSize > capacity) {
      return Status(ErrorCode::kNotSupported, "Der Schlüssel von Zeile " + RowName(at) +
                                                  " ist für den Index '" + IndexName(table, index) +
                                                  "' der Tabelle '" + table.name + "' zu lang (" +
                                                  std::to_string(key.size()) + " Bytes).");
    }
    return entries.Add(key, at, null_key);
  });
}

// Counts the different keys among the sorted entries and refuses a key that a unique index would
// hold twice.
Result<std::uint32_t> CheckEntries(const TableDef& table, const RealIndex& index,
                                   const EntryList& entries) {
  const bool unique = MustBeUnique(table, index);
  std::uint32_t distinct = 0;
  for (std::size_t r = 0; r < entries.size(); ++r) {
    const bool same_key = r > 0 && entries.SameKey(r - 1, r);
    if (!same_key) ++distinct;
    if (same_key && unique && !entries.NullKey(r)) {
      // Worded as the record layer words it; where the rows lie is no concern of the user's.
      return Status(ErrorCode::kDuplicateKey,
                    "Die Änderungen wurden nicht durchgeführt, da sie doppelte Werte im Index '" +
                        IndexName(table, index) + "' der Tabelle '" + table.name +
                        "' erzeugen würden.");
    }
  }
  return distinct;
}

// Replaces the tree of `index` by one over `entries` spread as `levels` plan.
Status WriteIndex(PageStore& store, PageAllocator& allocator, TableDef& table, RealIndex& index,
                  const EntryList& entries,
                  const std::vector<std::vector<PlannedIndexPage>>& levels,
                  std::uint32_t distinct_keys) {
  const JetVersion version = store.format().version;
  JET_ASSIGN_OR_RETURN(std::vector<std::uint32_t> old_pages, OldPages(store, table, index));
  for (std::uint32_t page : old_pages) {
    JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, index.usage_map, page, false));
    JET_RETURN_IF_ERROR(allocator.Free(page));
  }
  // Page numbers from the root down, each level left to right.
  std::vector<std::vector<std::uint32_t>> numbers(levels.size());
  for (std::size_t level = levels.size(); level-- > 0;) {
    for (std::size_t i = 0; i < levels[level].size(); ++i) {
      JET_ASSIGN_OR_RETURN(std::uint32_t number, allocator.Allocate());
      numbers[level].push_back(number);
    }
  }
  for (std::size_t level = 0; level < levels.size(); ++level) {
    const bool leaf = level == 0;
    const std::vector<PlannedIndexPage>& pages = levels[level];
    for (std::size_t i = 0; i < pages.size(); ++i) {
      const PlannedIndexPage& p = pages[i];
      PageLinks links;
      links.prev = i == 0 ? 0 : numbers[level][i - 1];
      links.next = i + 1 == pages.size() ? 0 : numbers[level][i + 1];
      JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bytes, store.MutablePage(numbers[level][i]));
      if (leaf) {
        WriteIndexPage(bytes, version, table.page, true, links, p.prefix, p.end - p.begin,
                       [&](std::size_t k, ByteString& out) {
                         entries.AppendKey(p.begin + k, out);
                         AppendEntryTail(out, entries.Row(p.begin + k), true, 0);
                       });
      } else {
        const std::vector<PlannedIndexPage>& below = levels[level - 1];
        const std::size_t with_entry = p.end - p.begin >= 2 ? p.end - 1 : p.end;
        if (with_entry < p.end) links.tail = numbers[level - 1][p.end - 1];
        WriteIndexPage(bytes, version, table.page, false, links, p.prefix, with_entry - p.begin,
                       [&](std::size_t k, ByteString& out) {
                         const std::size_t child = p.begin + k;
                         const std::size_t e = below[child].last_entry;
                         entries.AppendKey(e, out);
                         AppendEntryTail(out, entries.Row(e), false, numbers[level - 1][child]);
                       });
      }
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
                                       static_cast<std::uint32_t>(entries.size())));
  JET_RETURN_IF_ERROR(
      PutDefinitionU32(store, table.page, index.counts_at + kCountDistinctKeys, distinct_keys));
  index.first_page = root;
  return Status::Ok();
}

}  // namespace

std::vector<std::vector<PlannedIndexPage>> PlanIndexPages(JetVersion version,
                                                          const std::vector<IndexEntry>& entries) {
  return PlanLevels(
      version, entries.size(), [&](std::size_t i) { return entries[i].key.size(); },
      [&](std::size_t i, std::size_t j) { return SharedPrefix(entries[i].key, entries[j].key); });
}

Status RebuildIndexes(PageStore& store, PageAllocator& allocator, TableDef& table) {
  const JetVersion version = store.format().version;
  if (version != JetVersion::kJet4) {
    return Status(ErrorCode::kNotSupported,
                  "Indizes von Jet-3-Datenbanken (Access 97) werden nicht geschrieben.");
  }
  std::vector<bool> written(table.real_indexes.size(), false);
  for (std::size_t i = 0; i < table.real_indexes.size(); ++i) {
    if (written[i]) continue;
    EntryList entries;
    JET_RETURN_IF_ERROR(CollectEntries(store, table, table.real_indexes[i], entries));
    entries.Sort();
    const auto levels = PlanLevels(
        version, entries.size(), [&](std::size_t e) { return entries.KeySize(e); },
        [&](std::size_t a, std::size_t b) { return entries.Shared(a, b); });
    for (std::size_t j = i; j < table.real_indexes.size(); ++j) {
      RealIndex& index = table.real_indexes[j];
      if (written[j] || !SameEntries(table.real_indexes[i], index)) continue;
      JET_ASSIGN_OR_RETURN(std::uint32_t distinct, CheckEntries(table, index, entries));
      JET_RETURN_IF_ERROR(WriteIndex(store, allocator, table, index, entries, levels, distinct));
      written[j] = true;
    }
  }
  return Status::Ok();
}

}  // namespace jet
