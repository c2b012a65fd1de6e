// A connection to one Jet database.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/ado.h"
#include "db/connection_string.h"
#include "db/referential_integrity.h"
#include "db/sql/parser.h"
#include "db/sql/table_data.h"
#include "jet/database/database.h"

namespace db {

class Recordset;

// What a connection asks of the recordsets open on it (recordset.h): to keep their rows before
// the connection's tables let go of theirs, and to close with it.
class OpenRecordset {
 public:
  virtual void KeepOwnRows() = 0;
  virtual void CloseQuietly() = 0;

 protected:
  ~OpenRecordset() = default;
};

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the database the connection string names, with its database password. The file is
  // read and never written by opening; a database opened with Mode=Read refuses every write. A
  // path that names no regular file throws NotAFileError (3044) before anything is read.
  // Throws DbError: the engine's error (file missing 3024, not a database 3343, wrong password
  // 3031, damaged 3049, ...) or one of the connection string (3706, 3001); 3705 when open.
  void Open(const std::string& connection_string, const std::string& user_id = "",
            const std::string& password = "", int options = adConnectUnspecified);

  // Runs one statement whose result is not wanted.
  void Execute(const std::string& command_text, int options = adCmdUnspecified);

  // Closes every recordset still open on it, stores what was written outside a transaction
  // (atomically), forgets an unfinished transaction, and closes the database. Writes nothing
  // after a failed commit (CommitTrans) without a write since. Throws 3704 when not open, and
  // the engine's error when the changes cannot be stored (the connection is closed all the same,
  // the file left as it was).
  void Close();

  // Transactions: nothing written after BeginTrans reaches the file before CommitTrans, which
  // replaces the file atomically; RollbackTrans forgets it all. A CommitTrans that fails has
  // ended the transaction and forgotten its changes; out of memory there is Jet's 3035. Outside a
  // transaction the connection keeps its changes until Close. Throws 3251 for a database opened
  // with Mode=Read, the engine's error when the file is in use by another program, and 3034/3033
  // for a commit or rollback without a transaction (and a second BeginTrans, which Jet would nest).
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const { return in_transaction_; }
  // The next store of changes (CommitTrans, or Close outside a transaction) keeps the file it
  // replaces at `backup_path` (see jet::ReplaceOptions); it fails, with the file unchanged, when
  // that cannot be made. Applies once.
  void KeepOldFileOnNextStore(std::string backup_path) { keep_old_as_ = std::move(backup_path); }

  bool IsOpen() const { return db_ != nullptr; }
  // What Open() said about an interrupted commit it rolled back first (German), or "".
  std::string RolledBack() const;
  // Makes the connection refuse every write, whatever the connection string's Mode says (set
  // before Open; the source of an import is opened so and never written).
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  // What tests change in the engine's behaviour for the database (jet::TestOptions; set before
  // Open). The program leaves it as it is.
  void SetTestOptions(jet::TestOptions test) { test_ = std::move(test); }
  const ConnectionSettings& settings() const { return settings_; }
  // The connection string's Mode asks for reading only (worked out once, at Open).
  bool mode_read_only() const { return mode_read_only_; }

  // For the record objects: the tables of the open database (throws 3709 when closed).
  sql::TableProvider& tables();
  const jet::Database& database() const { return *db_; }

  // For recordsets: stores a new row (values converted and checked, its references checked
  // against the database's relationships: 3201) and keeps the decoded table in step. Throws
  // DbError as Update does.
  void InsertRow(sql::TableData& table, const std::vector<Value>& row);
  // The statement a text parses to (parsed once for texts run again). Throws as sql::Parse().
  std::shared_ptr<const sql::Statement> Statement(std::string_view text) {
    return statements_.Get(text);
  }

 private:
  friend class Recordset;
  void Register(OpenRecordset* rs);
  void Unregister(OpenRecordset* rs);
  void PrepareWrite();
  // Commits the engine's changes; throws on failure, after which the changes are forgotten (or,
  // StoredDespiteError, already in the file) and nothing of them is stored later.
  void Store();
  // Forgets the engine's changes and the decoded rows that show them.
  void Forget();
  // The database's relationships, read at the first write.
  ReferentialIntegrity& integrity();
  // Deletes rows of a table with what its relationships take along; throws before any change
  // when a relationship refuses (3200).
  void DeleteRows(sql::TableData& table, const std::vector<std::uint32_t>& rows);
  // A row that a delete sets references of to Null: its place in the decoded table, its new
  // values and where it lies in the file.
  struct RowReplacement {
    std::uint32_t position;
    sql::Row row;
    jet::RowPointer place;
  };
  // DeleteRows' changes to the engine and to the decoded tables.
  void ChangeRows(const std::vector<ReferentialIntegrity::TableChange>& changes,
                  std::vector<std::vector<RowReplacement>>& replaced);

  ConnectionSettings settings_;
  std::unique_ptr<jet::Database> db_;
  std::unique_ptr<sql::DatabaseTables> tables_;
  std::unique_ptr<ReferentialIntegrity> integrity_;
  sql::StatementCache statements_;
  std::vector<OpenRecordset*> open_;
  jet::TestOptions test_;
  bool read_only_ = false;
  bool mode_read_only_ = false;
  bool in_transaction_ = false;
  std::vector<Value> inserted_;  // the row InsertRow() stores, as the engine completes it
  bool failed_write_ = false;    // a write failed half-way: nothing may be stored until rollback
  bool store_failed_ = false;    // the last commit failed, and nothing was written since
  std::string keep_old_as_;      // where the next store keeps the old file; empty: nowhere
};

}  // namespace db
