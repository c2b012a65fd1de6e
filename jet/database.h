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
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "jet/file_commit.h"
#include "jet/file_source.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/page_allocator.h"
#include "jet/page_store.h"
#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/table_writer.h"
#include "jet/value.h"

namespace jet {

// Jet's maximum database size, 2 GB: a commit whose file would be larger fails with
// ErrorCode::kDatabaseFull and changes nothing.
inline constexpr std::uint64_t kMaxDatabaseBytes = std::uint64_t{1} << 31;
// Lowers that limit for every database of the process (tests only); 0 restores Jet's.
void SetMaxDatabaseBytesForTesting(std::uint64_t bytes);

// Leaves out the integrity check when writing begins (see EnableWriting()), so that the write
// fuzzer reaches the writer with damaged pages too (tests only).
void SetWriteCheckForTesting(bool check);

struct OpenOptions {
  std::string password;   // the database password; empty for databases without one
  bool writable = false;  // take the write lock and allow changes (Jet 4 files only)
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

  // Writing (databases opened writable). Changes stay in memory until Commit(), which replaces
  // the file atomically; Rollback() forgets them. Definitions handed out by GetTable() show the
  // changed row counts and counters at once.
  //
  // Stores a row; `values` follow the table's columns, each Null or of the column's kind; an
  // AutoNumber column must be Null and receives its number in `values`.
  Result<RowPointer> InsertRow(std::string_view table, std::vector<Value>& values);
  // Deletes the row a TableScan reported at `row`.
  Status DeleteRow(std::string_view table, RowPointer row);
  // Stores `values` in place of the row a TableScan reported at `row`: where it lies when only
  // fixed-size columns become Null, elsewhere otherwise; AutoNumber values are kept as given.
  // Relationships are kept by the record layer (db/referential_integrity.h), which calls these
  // three.
  Result<RowPointer> ReplaceRow(std::string_view table, RowPointer row, std::vector<Value>& values);
  // True when there are changes that Commit() would write.
  bool dirty() const { return pages_->dirty(); }
  Status Commit();
  void Rollback();
  bool writable() const { return lock_ != nullptr; }
  // Takes the write lock of a database opened for reading, so that it can be changed; fails
  // when another program holds the lock or changed the file since it was read, and refuses a
  // file that may not be changed (see CheckReplaceable() in file_commit.h) and a file that fails
  // the integrity check (kCorrupt, integrity_check.h). Symbolic links are
  // resolved when the database is opened: the lock, the new file and the commit work beside the
  // file they name.
  Status EnableWriting();

 private:
  Database() = default;
  Status ReadCatalog();
  Result<TableWriter*> WriterFor(std::string_view table);
  Status RebuildIndexes();

  std::string path_;  // the file itself, symbolic links resolved
  FileIdentity identity_;
  std::unique_ptr<WriteLock> lock_;
  std::unique_ptr<PageStore> pages_;
  std::vector<CatalogEntry> catalog_;
  std::unordered_map<std::string, std::size_t> tables_by_name_;  // folded name -> catalog_ index
  mutable std::map<std::uint32_t, std::shared_ptr<TableDef>> tables_;
  std::unique_ptr<PageAllocator> allocator_;
  std::map<std::uint32_t, std::unique_ptr<TableWriter>> writers_;
  std::set<std::uint32_t> written_tables_;
  std::string last_writer_name_;  // the name WriterFor() was last asked for, as given
  TableWriter* last_writer_ = nullptr;
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
