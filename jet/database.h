// A Jet 3 or Jet 4 database file, opened for reading: the engine's entry point.
//
//   auto db = jet::Database::Open("shop.mdb", {.password = "geheim"});
//   auto table = db->GetTable("ArtikelStamm");
//   auto scan = jet::TableScan(*db, *table);
//   while (*scan.Next()) use(scan.values());
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/file_source.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/page_store.h"
#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

struct OpenOptions {
  std::string password;  // the database password; empty for databases without one
};

// Object types and flags of catalog entries (MSysObjects.Type and .Flags).
inline constexpr std::int16_t kCatalogTypeTable = 1;
inline constexpr std::uint32_t kCatalogSystemFlag = 0x80000000u;
inline constexpr std::uint32_t kCatalogAltSystemFlag = 0x00000002u;
// The catalog's own table definition is always on this page.
inline constexpr std::uint32_t kCatalogPage = 2;
// Catalog ids of tables: the definition page in the low 24 bits.
inline constexpr std::uint32_t kCatalogIdPageMask = 0x00FFFFFFu;

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

class Database {
 public:
  static Result<std::unique_ptr<Database>> Open(const std::string& path,
                                                const OpenOptions& options = {});
  static Result<std::unique_ptr<Database>> Open(FileSource& source,
                                                const OpenOptions& options = {});

  const Header& header() const { return pages_->header(); }
  const Format& format() const { return pages_->format(); }
  JetVersion version() const { return header().version; }
  const PageStore& pages() const { return *pages_; }
  const std::vector<CatalogEntry>& catalog() const { return catalog_; }

  // The names of the user tables (system tables hidden), in catalog order.
  std::vector<std::string> TableNames() const;

  // A table by name (letter case ignored), system tables included; definitions are read once.
  Result<std::shared_ptr<const TableDef>> GetTable(std::string_view name) const;

 private:
  Database() = default;
  Status ReadCatalog();

  std::unique_ptr<PageStore> pages_;
  std::vector<CatalogEntry> catalog_;
  mutable std::map<std::uint32_t, std::shared_ptr<const TableDef>> tables_;
};

// Walks the live rows of a table in storage order: its data pages in page order, the rows of a
// page in row order. Deleted rows are skipped; a row that moved to another page is read there.
class TableScan {
 public:
  TableScan(const Database& db, const TableDef& table) : db_(&db), table_(&table) {}

  // Moves to the next live row: true when there is one, false at the end.
  Result<bool> Next();
  const std::vector<Value>& values() const { return values_; }
  RowPointer position() const { return position_; }

 private:
  Status LoadPage();

  const Database* db_;
  const TableDef* table_;
  bool started_ = false;
  std::vector<std::uint32_t> pages_;
  std::size_t page_index_ = 0;
  std::uint16_t row_ = 0;
  std::uint16_t rows_on_page_ = 0;
  std::vector<Value> values_;
  RowPointer position_;
};

}  // namespace jet
