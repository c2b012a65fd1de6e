// A Jet 3 or Jet 4 database file, opened for reading: the engine's entry point.
//
//   auto db = jet::Database::Open("shop.mdb", {.password = "geheim"});
//   auto table = db->GetTable("ArtikelStamm");
//   auto scan = jet::TableScan(*db, *table);   // table_scan.h
//   while (*scan.Next()) use(scan.values());
//
// The catalog's entries are in catalog.h, the page store behind pages() in page_store.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/file_commit.h"
#include "jet/file/header.h"
#include "jet/file/rollback_journal.h"
#include "jet/table/table_def.h"
#include "jet/table/table_set.h"

namespace jet {

class FileSource;
struct Replacement;

// Jet's maximum database size, 2 GB: a commit whose file would be larger fails with
// ErrorCode::kDatabaseFull and changes nothing.
inline constexpr std::uint64_t kMaxDatabaseBytes = std::uint64_t{1} << 31;

// The time the process has spent in the checks before the first change to each table (see
// Database::EnableWriting()) and in finding the pages the usage maps name, in seconds: for the
// benchmarks, which report it as a share of the import.
double WriteCheckSeconds();

// What tests change in the behaviour of one database, for as long as it is open; the defaults
// are the engine's own.
struct TestOptions {
  // The size limit in place of Jet's (kMaxDatabaseBytes), lowered to stand for a full database.
  std::uint64_t max_database_bytes = kMaxDatabaseBytes;
  // False leaves out the check before the first change to each table (see EnableWriting()), so
  // that the write fuzzer reaches the writer with damaged pages too.
  bool check_before_writing = true;
  // Runs before the commit's index rebuild of each written table: one that throws stands for a
  // failure deep inside the rebuild.
  std::function<void()> before_index_rebuild = {};
  // Runs in each commit that swaps a new file in, just before the path is checked and the file
  // swapped (Replacement::before_swap): another program replacing the file at the last moment.
  std::function<void()> before_swap = {};
  // Runs after each step of each commit written in place (InPlaceChanges::after_step): a
  // process killed there.
  std::function<void(InPlaceStep)> after_in_place_step = {};
};

struct OpenOptions {
  std::string password;   // the database password; empty for databases without one
  bool writable = false;  // take the write lock and allow changes (Jet 4 files only)
  TestOptions test = {};  // left as it is outside tests
};

// No exception leaves the members below: out of memory is ErrorCode::kResourcesExceeded (Jet's
// 3035), any other exception kInternalError.
class Database : public TableSet {
 public:
  static Result<std::unique_ptr<Database>> Open(const std::string& path,
                                                const OpenOptions& options = {});
  static Result<std::unique_ptr<Database>> Open(FileSource& source,
                                                const OpenOptions& options = {});
  ~Database() override;

  const Header& header() const override;
  // The file, symbolic links resolved (empty for a database opened from memory).
  const std::string& path() const;
  const Format& format() const { return header().format(); }
  JetVersion version() const { return header().version; }
  const PageStore& pages() const override;
  const std::vector<CatalogEntry>& catalog() const override;

  // The names of the user tables (system tables hidden), in catalog order.
  std::vector<std::string> TableNames() const;

  // A table by name (letter case ignored), system tables included; definitions are read once.
  Result<std::shared_ptr<const TableDef>> GetTable(std::string_view name) const override;

  // Writing (databases opened writable). Changes stay in memory until Commit(), which replaces
  // the file atomically or writes them into it behind a rollback journal (commits_in_place());
  // Rollback() forgets them. Definitions handed out by GetTable() show the
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
  bool dirty() const;
  // Writes the changes (file_commit.h). A commit refused before it writes (a duplicate key, the
  // size limit) leaves the changes as they were; any later failure, out of memory included,
  // forgets them at once, so that nothing can store them after all. The file then holds its old
  // bytes, unless commit_replaced_file_despite_failure() says otherwise.
  // `options` names where the old file is kept (see ReplaceOptions in file_commit.h).
  Status Commit(const ReplaceOptions& options = {});
  // The last failed Commit() had already put the new file in place (a folder sync that failed
  // after a plain rename): the file holds the changes, which may not be safe from a power loss.
  bool commit_replaced_file_despite_failure() const;
  void Rollback();
  bool writable() const;
  // Takes the write lock of a database opened for reading, so that it can be changed; fails
  // when another program holds the lock or changed the file since it was read, and refuses a
  // file that this user may not write (see CheckReplaceable() in file_commit.h). Decides how
  // commits will write (PlanCommit()). Symbolic links are resolved when the database is opened:
  // the new file, the journal and the commit work beside the file they name; locks are taken
  // beside the file and beside the name the caller gave. The first change to each table is
  // refused with kCorrupt, and changes nothing, when the table is damaged
  // (PrepareTableForWriting() in integrity_check.h).
  Status EnableWriting();
  // Whether commits write into the file itself (rollback_journal.h) rather than swap a new file
  // in: where a new file could not keep the file's identity.
  bool commits_in_place() const;
  // Open() found a commit that had written in place and had been interrupted, and rolled it
  // back: what to tell the user (German), or "".
  const std::string& rolled_back() const;

 private:
  struct State;  // the pages, catalog, definitions and writers (database.cc)

  Database();
  static Result<std::unique_ptr<Database>> OpenFile(const std::string& path,
                                                    const OpenOptions& options);
  static Result<std::unique_ptr<Database>> OpenSource(FileSource& source,
                                                      const OpenOptions& options);
  Status EnableWritingNow();
  Status CommitNow(Replacement& replacement, bool& refused);

  std::unique_ptr<State> state_;
};

}  // namespace jet
