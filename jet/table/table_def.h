// Table definitions: columns, indexes, row count, autonumber counter and usage maps of one table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/page_store.h"
#include "jet/table/properties.h"

namespace jet {

// Column flag bits (descriptor byte `col_flags`).
inline constexpr std::uint8_t kColumnFixed = 0x01;
inline constexpr std::uint8_t kColumnNullable = 0x02;
inline constexpr std::uint8_t kColumnAutoLong = 0x04;
inline constexpr std::uint8_t kColumnAutoGuid = 0x40;
inline constexpr std::uint8_t kColumnHyperlink = 0x80;
// Extended flag bits (Jet 4 only, byte `col_ext_flags`).
inline constexpr std::uint8_t kColumnCompressedUnicode = 0x01;

struct Column {
  std::string name;
  std::uint8_t type_code = 0;
  std::uint16_t number = 0;        // position in the row's null mask
  std::uint16_t var_index = 0;     // slot in the variable-offset table (variable columns)
  std::uint16_t fixed_offset = 0;  // offset in the fixed area (fixed columns)
  std::uint16_t length = 0;        // bytes (text: bytes of UCS-2 in Jet 4)
  std::uint8_t flags = 0;
  std::uint8_t ext_flags = 0;
  std::uint8_t precision = 0;     // Decimal
  std::uint8_t scale = 0;         // Decimal
  std::uint16_t sort_order = 0;   // Text and Memo: the collation id (1033: "General")
  std::uint8_t sort_version = 0;  // Jet 4 Text and Memo: 0 Access 2000-2007, 1 Access 2010+
  PropertyMap properties;         // from the catalog (DefaultValue, Required, ...)

  ColumnType type() const { return static_cast<ColumnType>(type_code); }
  bool known_type() const;
  bool fixed() const { return (flags & kColumnFixed) != 0; }
  bool nullable() const { return (flags & kColumnNullable) != 0; }
  bool autonumber() const { return (flags & kColumnAutoLong) != 0; }
  bool guid_autonumber() const { return (flags & kColumnAutoGuid) != 0; }
  bool compressed_unicode() const { return (ext_flags & kColumnCompressedUnicode) != 0; }
  bool long_value() const { return type() == ColumnType::kMemo || type() == ColumnType::kOle; }
};

// Index flag bits of a physical index (the flags byte of its definition). mdbtools' format notes
// and Jackcess agree on the three that carry meaning; Access also sets 0x80 on every index it
// makes, with no known meaning. Whether an index is the primary key is not a flag here but the
// logical index's type (kIndexTypePrimary).
//   0x01 Unique       no key twice (Null entries excepted, index_uniqueness.h)
//   0x02 IgnoreNulls  rows whose key columns are all Null get no entry
//   0x08 Required     no key column may be Null (error 3058, index_uniqueness.h)
inline constexpr std::uint8_t kIndexUnique = 0x01;
inline constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr std::uint8_t kIndexRequired = 0x08;
// Logical index types.
inline constexpr std::uint8_t kIndexTypePrimary = 0x01;
inline constexpr std::uint8_t kIndexTypeForeign = 0x02;

struct IndexColumn {
  std::uint16_t column_number = 0;
  bool ascending = true;
};

// A physical ("real") index: the B-tree that one or more logical indexes share.
struct RealIndex {
  std::uint32_t number = 0;
  std::vector<IndexColumn> columns;
  RowPointer usage_map;
  std::uint32_t first_page = 0;  // root page of the B-tree
  std::uint8_t flags = 0;
  // Where the definition keeps what an index writer changes (offsets into the concatenated
  // definition, see PutDefinitionU32): the root page, and the index's count entry.
  std::size_t first_page_at = 0;
  std::size_t counts_at = 0;
  bool unique() const { return (flags & kIndexUnique) != 0; }
  bool ignore_nulls() const { return (flags & kIndexIgnoreNulls) != 0; }
  bool required() const { return (flags & kIndexRequired) != 0; }
};

// A named index as the user sees it.
struct Index {
  std::string name;
  std::uint32_t number = 0;
  std::uint32_t real_index = 0;  // position in TableDef::real_indexes
  std::uint8_t type = 0;         // kIndexTypePrimary, kIndexTypeForeign or 0
  std::uint8_t rel_table_type = 0;
  std::uint32_t rel_index = 0;
  std::uint32_t rel_table_page = 0;
  bool cascade_updates = false;
  bool cascade_deletes = false;
  bool cascade_null = false;  // deletes set the references to Null
  bool primary() const { return type == kIndexTypePrimary; }
  bool foreign_reference() const { return type == kIndexTypeForeign; }
};

// Where the long values of one Memo or OLE column live (Jet 4).
struct LongValueMaps {
  std::uint16_t column_number = 0;
  RowPointer used;  // LVAL pages holding the column's data
  RowPointer free;  // of those, pages with free space
};

struct TableDef {
  std::string name;
  std::uint32_t page = 0;  // first definition page: the table's identity
  std::uint32_t row_count = 0;
  std::uint32_t autonumber = 0;  // last value issued by the table's AutoNumber column
  std::uint8_t table_type = 0;   // 0x4E user table, 0x53 system table
  std::uint16_t max_cols = 0;
  std::uint16_t var_cols = 0;
  std::vector<Column> columns;  // ordered by column number
  std::vector<RealIndex> real_indexes;
  std::vector<Index> indexes;
  RowPointer usage_map;    // the table's data pages
  RowPointer free_map;     // data pages with free space
  PropertyMap properties;  // table-level properties from the catalog
  std::vector<LongValueMaps> long_value_maps;

  const Column* FindColumn(std::string_view name) const;  // exact name, letter case ignored
};

// Reads the chain of definition pages that starts at `page`.
Result<TableDef> ReadTableDef(const PageStore& store, std::uint32_t page, std::string name);

// The names of the logical indexes a physical index backs, joined by "/" (its number when it backs
// none), for messages.
std::string IndexNames(const TableDef& table, const RealIndex& index);

// Writes `value` (4 bytes, little-endian) at `offset` of the definition that starts at
// `first_page`, offsets counted as ReadTableDef counts them: into the first page and then each
// further page without its 8-byte header. The 4 bytes may straddle two pages of the chain.
Status PutDefinitionU32(PageStore& store, std::uint32_t first_page, std::size_t offset,
                        std::uint32_t value);

// Letter case is ignored in names of tables and columns (ASCII, Latin-1 and the rest of the
// BMP's simple case pairs that German names use).
bool NamesEqual(std::string_view a, std::string_view b);

}  // namespace jet
