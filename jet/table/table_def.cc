#include "jet/table/table_def.h"

#include <algorithm>
#include <array>
#include <set>

#include "jet/base/byte_writer.h"
#include "jet/text/text_codec.h"
#include "jet/text/unicode.h"

namespace jet {
namespace {

// Table definition pages (type 0x02) form a chain: 0x04 holds the next page (0 = last). The
// definition is the first page followed by each further page without its 8-byte header.
// Offsets below are into that concatenation; Format holds the per-version values.
//
// Header, Jet 4 (Jet 3 in brackets):
//   0x08 (0x08) 4  definition length          0x10 (0x0C) 4  row count
//   0x14 (0x10) 4  last AutoNumber issued     0x28 (0x14) 1  table type (0x4E user, 0x53 system)
//   0x29 (0x15) 2  highest column number + 1  0x2B (0x17) 2  variable columns
//   0x2D (0x19) 2  columns                    0x2F (0x1B) 4  logical indexes
//   0x33 (0x1F) 4  physical indexes           0x37 (0x23) 4  usage map (row pointer)
//   0x3B (0x27) 4  free-space map (row pointer)
// Then, in order:
//   physical index counts, 12 (8) bytes each: entries when the index was last built over
//     existing rows (4; 0 when it was created empty and filled row by row), distinct keys (4;
//     Access counts each new key and never counts down on deletes)[, 4 bytes 0]
//   column descriptors, 25 (18) bytes each: type, number, variable-offset slot, misc (text sort
//     order or decimal precision/scale), flags, extended flags (Jet 4), fixed offset, length;
//     text sort order at 0x0B (0x09), 2 bytes, its version at 0x0E (Jet 4 only), 1 byte
//   column names, each a 2-byte (1-byte) length and the name (UCS-2 in Jet 4)
//   physical index definitions, 52 (39) bytes each: [4 unknown,] 10 x (column number 2, order 1
//     where 1 = ascending), usage map 4, first page 4, [4 unknown,] flags 1[, 5 unknown]
//   logical index definitions, 28 (20) bytes each: [4 unknown,] number 4, physical index 4,
//     related table type 1, related index 4, related table page 4, cascade updates 1,
//     cascade deletes 1 (bit 0x01 cascade, 0x02 set Null), index type 1
//   logical index names, as column names
//   Jet 4: per long-value column (column number 2, usage map 4, free-space map 4), ended by 0xFFFF
constexpr std::size_t kNextPageOffset = 0x04;
constexpr std::size_t kPageHeaderSize = 8;
constexpr std::size_t kIndexColumnSlots = 10;
constexpr std::uint16_t kNoColumn = 0xFFFF;
constexpr std::uint8_t kIndexAscending = 0x01;
constexpr std::size_t kMaxDefinitionPages = 1024;
constexpr std::size_t kLongValueMapEntry = 10;
// Offsets inside a physical index definition, after the column pairs.
constexpr std::size_t kRealIdxColumnsSize = kIndexColumnSlots * 3;
// Offsets inside a logical index definition, after the leading skip.
constexpr std::size_t kLogicalNumber = 0;
constexpr std::size_t kLogicalRealIndex = 4;
constexpr std::size_t kLogicalRelTableType = 8;
constexpr std::size_t kLogicalRelIndex = 9;
constexpr std::size_t kLogicalRelTablePage = 13;
constexpr std::size_t kLogicalCascadeUpdates = 17;
constexpr std::size_t kLogicalCascadeDeletes = 18;
constexpr std::size_t kLogicalIndexType = 19;
// Bits of the cascade-deletes byte.
constexpr std::uint8_t kCascadeDeletesBit = 0x01;
constexpr std::uint8_t kCascadeNullBit = 0x02;

Status Corrupt(const std::string& table, std::uint32_t page, const std::string& why) {
  return Status::Corrupt("Beschädigte Tabellendefinition von '" + table + "' (Seite " +
                         std::to_string(page) + "): " + why + ".");
}

}  // namespace

bool Column::known_type() const {
  switch (type()) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kBinary:
    case ColumnType::kText:
    case ColumnType::kOle:
    case ColumnType::kMemo:
    case ColumnType::kGuid:
    case ColumnType::kDecimal:
    case ColumnType::kBinaryData:
      return true;
    case ColumnType::kComplex:
      return false;
  }
  return false;
}

const Column* TableDef::FindColumn(std::string_view wanted) const {
  for (const Column& c : columns) {
    if (NamesEqual(c.name, wanted)) return &c;
  }
  return nullptr;
}

bool NamesEqual(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

Result<TableDef> ReadTableDef(const PageStore& store, std::uint32_t first_page, std::string name) {
  const Format& f = store.format();
  // Concatenate the chain, refusing cycles.
  std::vector<std::uint8_t> buf;
  std::set<std::uint32_t> seen;
  for (std::uint32_t page = first_page; page != 0;) {
    if (!seen.insert(page).second || seen.size() > kMaxDefinitionPages) {
      return Corrupt(name, first_page, "die Seitenkette ist zyklisch");
    }
    JET_ASSIGN_OR_RETURN(Bytes bytes, store.TypedPage(page, PageType::kTableDefinition));
    if (buf.empty()) {
      buf.assign(bytes.begin(), bytes.end());
    } else {
      buf.insert(buf.end(), bytes.begin() + kPageHeaderSize, bytes.end());
    }
    page = ByteReader(bytes).U32(kNextPageOffset);
  }

  ByteReader in(buf);
  TableDef t;
  t.name = std::move(name);
  t.page = first_page;
  t.row_count = in.U32(f.tdef_row_count_offset);
  t.autonumber = in.U32(f.tdef_autonumber_offset);
  t.table_type = in.U8(f.tdef_table_type_offset);
  t.max_cols = in.U16(f.tdef_max_cols_offset);
  t.var_cols = in.U16(f.tdef_var_cols_offset);
  const std::uint16_t num_cols = in.U16(f.tdef_num_cols_offset);
  const std::uint32_t num_idx = in.U32(f.tdef_num_idx_offset);
  const std::uint32_t num_real_idx = in.U32(f.tdef_num_real_idx_offset);
  t.usage_map = RowPointer::FromRaw(in.U32(f.tdef_usage_map_offset));
  t.free_map = RowPointer::FromRaw(in.U32(f.tdef_free_map_offset));
  if (!in.ok()) return Corrupt(t.name, first_page, "der Kopf ist unvollständig");
  // Counts beyond what the buffer can hold are corrupt (and would overflow the arithmetic).
  if (num_real_idx > buf.size() / f.tdef_real_idx_count_entry ||
      num_idx > buf.size() / f.tdef_logical_idx_entry ||
      num_cols > buf.size() / f.tdef_column_entry) {
    return Corrupt(t.name, first_page, "unmögliche Spalten- oder Indexanzahl");
  }

  std::size_t pos = f.tdef_header_end + num_real_idx * f.tdef_real_idx_count_entry;
  std::vector<Column> cols(num_cols);
  for (Column& c : cols) {
    c.type_code = in.U8(pos + f.col_type);
    c.number = in.U16(pos + f.col_number);
    c.var_index = in.U16(pos + f.col_var_index);
    c.flags = in.U8(pos + f.col_flags);
    if (f.col_ext_flags != 0) c.ext_flags = in.U8(pos + f.col_ext_flags);
    c.fixed_offset = in.U16(pos + f.col_fixed_offset);
    c.length = in.U16(pos + f.col_length);
    if (c.type() == ColumnType::kDecimal) {
      c.precision = in.U8(pos + f.col_misc);
      c.scale = in.U8(pos + f.col_misc + 1);
    } else if (c.type() == ColumnType::kText || c.type() == ColumnType::kMemo) {
      c.sort_order = in.U16(pos + f.col_misc);
      if (f.col_sort_version != 0) c.sort_version = in.U8(pos + f.col_sort_version);
    }
    pos += f.tdef_column_entry;
  }
  auto read_name = [&](std::string& out) {
    const std::size_t len = f.tdef_name_length_size == 2 ? in.U16(pos) : in.U8(pos);
    pos += f.tdef_name_length_size;
    Bytes raw = in.Slice(pos, len);
    pos += len;
    out = f.unicode_text ? DecodeJet4Text(raw) : DecodeCodePage(raw);
  };
  for (Column& c : cols) read_name(c.name);
  if (!in.ok()) return Corrupt(t.name, first_page, "die Spaltenbeschreibungen sind unvollständig");

  t.real_indexes.resize(num_real_idx);
  for (std::uint32_t i = 0; i < num_real_idx; ++i) {
    RealIndex& r = t.real_indexes[i];
    r.number = i;
    const std::size_t cols_at = pos + f.tdef_real_idx_columns_at;
    for (std::size_t s = 0; s < kIndexColumnSlots; ++s) {
      const std::uint16_t col = in.U16(cols_at + 3 * s);
      const std::uint8_t order = in.U8(cols_at + 3 * s + 2);
      if (col != kNoColumn) r.columns.push_back({col, order == kIndexAscending});
    }
    const std::size_t tail = cols_at + kRealIdxColumnsSize;
    r.usage_map = RowPointer::FromRaw(in.U32(tail));
    r.first_page = in.U32(tail + 4);
    r.first_page_at = tail + 4;
    r.counts_at = f.tdef_header_end + i * f.tdef_real_idx_count_entry;
    r.flags = in.U8(pos + f.tdef_real_idx_flags_at);
    pos += f.tdef_real_idx_entry;
  }
  t.indexes.resize(num_idx);
  for (Index& x : t.indexes) {
    const std::size_t at = pos + f.tdef_logical_idx_skip;
    x.number = in.U32(at + kLogicalNumber);
    x.real_index = in.U32(at + kLogicalRealIndex);
    x.rel_table_type = in.U8(at + kLogicalRelTableType);
    x.rel_index = in.U32(at + kLogicalRelIndex);
    x.rel_table_page = in.U32(at + kLogicalRelTablePage);
    x.cascade_updates = in.U8(at + kLogicalCascadeUpdates) != 0;
    x.cascade_deletes = (in.U8(at + kLogicalCascadeDeletes) & kCascadeDeletesBit) != 0;
    x.cascade_null = (in.U8(at + kLogicalCascadeDeletes) & kCascadeNullBit) != 0;
    x.type = in.U8(at + kLogicalIndexType);
    pos += f.tdef_logical_idx_entry;
  }
  for (Index& x : t.indexes) read_name(x.name);
  if (!in.ok()) return Corrupt(t.name, first_page, "die Indexbeschreibungen sind unvollständig");
  // Jet 4: the usage maps of the pages that hold each long-value column's data, as
  // (column number 2, used pages 4, pages with free space 4) until a column number of 0xFFFF.
  if (f.version == JetVersion::kJet4) {
    while (in.Has(pos, 2) && in.U16(pos) != kNoColumn && in.Has(pos, kLongValueMapEntry)) {
      t.long_value_maps.push_back({in.U16(pos), RowPointer::FromRaw(in.U32(pos + 2)),
                                   RowPointer::FromRaw(in.U32(pos + 6))});
      pos += kLongValueMapEntry;
    }
  }
  for (const Index& x : t.indexes) {
    if (x.real_index >= t.real_indexes.size()) {
      return Corrupt(t.name, first_page, "Index '" + x.name + "' verweist auf keinen Indexbaum");
    }
  }

  std::stable_sort(cols.begin(), cols.end(),
                   [](const Column& a, const Column& b) { return a.number < b.number; });
  for (std::size_t i = 1; i < cols.size(); ++i) {
    if (cols[i].number == cols[i - 1].number) {
      return Corrupt(t.name, first_page,
                     "zwei Spalten tragen die Nummer " + std::to_string(cols[i].number));
    }
  }
  t.columns = std::move(cols);
  return t;
}

std::string IndexNames(const TableDef& table, const RealIndex& index) {
  std::string names;
  for (const Index& x : table.indexes) {
    if (x.real_index != index.number) continue;
    if (!names.empty()) names += "/";
    names += x.name;
  }
  return names.empty() ? std::to_string(index.number) : names;
}

Status PutDefinitionU32(PageStore& store, std::uint32_t first_page, std::size_t offset,
                        std::uint32_t value) {
  const std::size_t page_size = store.page_size();
  std::array<std::uint8_t, 4> bytes_of_value{};
  ByteWriter(bytes_of_value).Put32(0, value);
  for (std::size_t i = 0; i < 4; ++i) {
    // Find the page that holds byte offset + i.
    std::uint32_t page = first_page;
    std::size_t at = offset + i;
    std::size_t hops = 0;
    std::size_t room = page_size;  // bytes of the definition on the current page
    while (at >= room) {
      at -= room;
      JET_ASSIGN_OR_RETURN(Bytes bytes, store.TypedPage(page, PageType::kTableDefinition));
      page = ByteReader(bytes).U32(kNextPageOffset);
      if (page == 0 || ++hops > kMaxDefinitionPages) {
        return Status::Corrupt("Beschädigte Tabellendefinition (Seite " +
                               std::to_string(first_page) + "): Byte " +
                               std::to_string(offset + i) + " liegt hinter ihrem Ende.");
      }
      room = page_size - kPageHeaderSize;
    }
    const std::size_t in_page = hops == 0 ? at : at + kPageHeaderSize;
    JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bytes, store.MutablePage(page));
    ByteWriter(bytes).Put8(in_page, bytes_of_value[i]);
  }
  return Status::Ok();
}

}  // namespace jet
