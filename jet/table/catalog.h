// The catalog: the system table MSysObjects, which names every table (and the other objects) of
// a database and keeps their properties.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/page_store.h"
#include "jet/table/table_def.h"

namespace jet {

// Object types and flags of catalog entries (MSysObjects.Type and .Flags).
inline constexpr std::int16_t kCatalogTypeTable = 1;
inline constexpr std::uint32_t kCatalogSystemFlag = 0x80000000u;
inline constexpr std::uint32_t kCatalogAltSystemFlag = 0x00000002u;
// The catalog's own table definition is always on this page.
inline constexpr std::uint32_t kCatalogPage = 2;
// Catalog ids of tables: the definition page in the low 24 bits.
inline constexpr std::uint32_t kCatalogIdPageMask = 0x00FFFFFFu;
// The catalog's name, as its definition is read.
inline constexpr char kCatalogName[] = "MSysObjects";

struct CatalogEntry {
  std::string name;
  std::int32_t id = 0;
  std::int32_t parent_id = 0;
  std::int16_t type = 0;
  std::uint32_t flags = 0;
  ByteString properties;  // the LvProp blob
  bool is_table() const { return type == kCatalogTypeTable; }
  bool is_system() const { return (flags & (kCatalogSystemFlag | kCatalogAltSystemFlag)) != 0; }
  std::uint32_t page() const { return static_cast<std::uint32_t>(id) & kCatalogIdPageMask; }
};

// The catalog's table definition (from kCatalogPage), checked to have the columns ReadCatalog()
// needs.
Result<TableDef> ReadCatalogDef(const PageStore& store);

// The entries of the catalog whose definition is `def`, in storage order.
Result<std::vector<CatalogEntry>> ReadCatalog(const PageStore& store, const TableDef& def);

}  // namespace jet
