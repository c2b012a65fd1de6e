#include "db/connection.h"

#include <algorithm>
#include <exception>
#include <new>
#include <utility>
#include <variant>

#include "db/column_values.h"
#include "db/error.h"
#include "db/sql/executor.h"
#include "db/sql/jet_rules.h"
#include "db/sql/parser.h"
#include "jet/index/index_uniqueness.h"
#include "jet/table/null_keys.h"

namespace db {
namespace {

[[noreturn]] void Throw(const jet::Status& s) {
  if (s.code() == ErrorCode::kPathNotValid) throw NotAFileError(s.code(), s.message());
  if (s.code() == ErrorCode::kResourcesExceeded) throw OutOfResourcesError(s.code(), s.message());
  throw DbError(s.code(), s.message());
}

// Throws the exception being handled on as a DbError: out of memory as Jet's 3035.
[[noreturn]] void RethrowAsDbError() {
  try {
    throw;
  } catch (const DbError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw OutOfResourcesError(ErrorCode::kResourcesExceeded,
                              std::string(StandardText(ErrorCode::kResourcesExceeded)) +
                                  ": Der Arbeitsspeicher reicht nicht aus.");
  } catch (const std::exception& e) {
    throw DbError(ErrorCode::kInternalError,
                  std::string(StandardText(ErrorCode::kInternalError)) + ": " + e.what());
  } catch (...) {
    throw DbError(ErrorCode::kInternalError);
  }
}

}  // namespace

namespace {

// A unique index would hold the new row twice, by the engine's rule (jet/index/index_uniqueness.h):
// its key equals that of a stored row and not every key column is Null. The candidates are the
// rows that hold the new row's value in one key column that is not Null; whether one of them
// collides is the engine's decision, by the index key bytes.
void CheckUniqueIndexes(sql::TableData& table, const std::vector<Value>& row,
                        const jet::Header& header) {
  const jet::TableDef& t = table.def();
  for (const jet::Index& index : t.indexes) {
    const jet::RealIndex& real = t.real_indexes[index.real_index];
    if (!real.unique() && !index.primary()) continue;
    // The key columns' places in the row (an index has few columns: looked up each time, which
    // costs no allocation for every row).
    const auto for_each_key_column = [&](const auto& visit) {
      for (const jet::IndexColumn& ic : real.columns) {
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
          if (t.columns[i].number == ic.column_number) visit(i);
        }
      }
    };
    // An AutoNumber key left Null gets a number never used before: it cannot duplicate.
    bool numbered = false;
    for_each_key_column([&](std::size_t i) {
      numbered = numbered || (t.columns[i].autonumber() && row[i].is_null());
    });
    if (numbered) continue;
    int present = -1;  // the first key column that is not Null
    for_each_key_column([&](std::size_t i) {
      if (!row[i].is_null() && present < 0) present = static_cast<int>(i);
    });
    if (present < 0) continue;  // every key column Null: a Null entry never collides
    const std::vector<std::uint32_t>& candidates =
        table.RowsWithKey(present, sql::EqualityKey(row[static_cast<std::size_t>(present)]));
    if (candidates.empty()) continue;
    const jet::Result<jet::RowEntry> entry = jet::EntryOfRow(t, real, row, header);
    if (!entry.ok()) Throw(entry.status());
    for (std::uint32_t r : candidates) {
      const jet::Result<jet::RowEntry> stored = jet::EntryOfRow(t, real, table.rows()[r], header);
      if (!stored.ok()) Throw(stored.status());
      if (jet::UniqueEntriesCollide(*entry, *stored)) {
        throw DbError(ErrorCode::kDuplicateKey,
                      "Die Änderungen wurden nicht durchgeführt, da sie doppelte Werte im Index "
                      "'" +
                          index.name + "' der Tabelle '" + t.name + "' erzeugen würden.");
      }
    }
  }
}

}  // namespace

Connection::~Connection() {
  if (!IsOpen()) return;
  try {
    Close();
  } catch (...) {
    // Released without Close: the changes could not be stored and the file stays as it was.
  }
}

void Connection::PrepareWrite() {
  tables();  // throws when closed
  if (mode_read_only_ || read_only_) {
    throw DbError(ErrorCode::kNotSupported, "Die Datenbank ist schreibgeschützt geöffnet.");
  }
  const jet::Status s = db_->EnableWriting();
  if (!s.ok()) Throw(s);
}

void Connection::Forget() {
  db_->Rollback();
  tables_->Clear();
  if (integrity_) integrity_->Forget();
}

void Connection::Store() {
  if (failed_write_) {
    failed_write_ = false;
    store_failed_ = true;
    Forget();
    throw DbError(ErrorCode::kNotSupported,
                  "Ein Schreibvorgang ist gescheitert; die Änderungen werden "
                  "verworfen und die Datenbank bleibt unverändert.");
  }
  jet::Status s;
  try {
    // Open recordsets keep copies of the rows they show, so that the tables' rows all go.
    for (OpenRecordset* rs : open_) rs->KeepOwnRows();
    tables_->ReleaseRows();
    jet::ReplaceOptions options;
    options.keep_old_as = std::exchange(keep_old_as_, std::string());
    s = db_->Commit(options);
  } catch (...) {
    try {
      RethrowAsDbError();
    } catch (const DbError& e) {
      s = jet::Status(e.code(), e.description());
    }
  }
  if (s.ok()) return;
  // A failed commit is over: nothing of it is stored later, neither by Close nor by another
  // commit.
  store_failed_ = true;
  if (db_->commit_replaced_file_despite_failure()) {
    tables_->Clear();
    if (integrity_) integrity_->Forget();
    throw StoredDespiteError(s.code(), s.message());
  }
  Forget();
  Throw(s);
}

void Connection::BeginTrans() {
  PrepareWrite();
  if (in_transaction_) {
    throw DbError(ErrorCode::kNestedTransaction,
                  "Transaktionen können nicht verschachtelt werden.");
  }
  // Changes made before the transaction are stored first, so that a rollback keeps them.
  if (db_->dirty()) Store();
  store_failed_ = false;
  in_transaction_ = true;
}

void Connection::CommitTrans() {
  tables();
  if (!in_transaction_) {
    throw DbError(ErrorCode::kCommitWithoutTransaction, "Commit ohne BeginTrans.");
  }
  in_transaction_ = false;
  Store();
}

void Connection::RollbackTrans() {
  tables();
  if (!in_transaction_) {
    throw DbError(ErrorCode::kCommitWithoutTransaction, "Rollback ohne BeginTrans.");
  }
  in_transaction_ = false;
  failed_write_ = false;
  Forget();
}

void Connection::InsertRow(sql::TableData& table, const std::vector<Value>& row) {
  std::vector<Value>& values = inserted_;
  values = row;  // a copy into the room of the one before; `row` stays as it was
  PrepareWrite();
  CheckRow(table.def(), table.rules(), values);
  // Null in the key of a Required index or the primary key: 3058 (the engine checks it too).
  if (const jet::Status s = jet::CheckKeysNotNull(table.def(), values); !s.ok()) Throw(s);
  CheckUniqueIndexes(table, values, db_->header());
  integrity().CheckInsert(*tables_, table, values);
  auto place = db_->InsertRow(table.def().name, values);
  if (!place.ok()) {
    // The engine checks a row fully before it writes anything; a failure after that leaves
    // the pages half changed, and nothing is stored from here on.
    const jet::ErrorCode code = place.status().code();
    if (code != jet::ErrorCode::kInvalidValue && code != jet::ErrorCode::kRecordTooLarge &&
        code != jet::ErrorCode::kNullInKey) {
      failed_write_ = true;
    }
    Throw(place.status());
  }
  store_failed_ = false;
  try {
    table.Append(values, *place);
  } catch (...) {
    failed_write_ = true;  // the engine holds a row the decoded table lacks
    RethrowAsDbError();
  }
}

void Connection::Open(const std::string& connection_string, const std::string& /*user_id*/,
                      const std::string& /*password*/, int /*options*/) {
  if (IsOpen())
    throw DbError(ErrorCode::kNotAllowedWhenOpen, "Die Verbindung ist bereits geöffnet.");
  ConnectionSettings settings = ParseConnectionString(connection_string);
  auto db = jet::Database::Open(settings.data_source,
                                {.password = settings.database_password, .test = test_});
  // A FIFO, a device, a socket or a folder is refused by the engine before it reads anything.
  if (!db.ok()) Throw(db.status());
  settings_ = std::move(settings);
  mode_read_only_ = settings_.read_only();
  db_ = std::move(*db);
  tables_ = std::make_unique<sql::DatabaseTables>(*db_);
  integrity_.reset();
}

std::string Connection::RolledBack() const { return db_ ? db_->rolled_back() : std::string(); }

void Connection::Execute(const std::string& command_text, int /*options*/) {
  sql::TableProvider& t = tables();
  const std::shared_ptr<const sql::Statement> parsed = Statement(command_text);
  const sql::Statement& statement = *parsed;
  if (const auto* select = std::get_if<sql::SelectStatement>(&statement)) {
    (void)sql::ExecuteSelect(t, *select);  // the caller drops the result
    return;
  }
  const auto& del = std::get<sql::DeleteStatement>(statement);
  sql::TableData& table = t.Table(del.table);
  const std::vector<std::uint32_t> rows = sql::MatchingRows(table, del.where.get());
  PrepareWrite();
  DeleteRows(table, rows);
}

ReferentialIntegrity& Connection::integrity() {
  if (!integrity_) {
    auto relationships = jet::ReadRelationships(*db_);
    if (!relationships.ok()) Throw(relationships.status());
    integrity_ = std::make_unique<ReferentialIntegrity>(std::move(*relationships));
  }
  return *integrity_;
}

void Connection::DeleteRows(sql::TableData& table, const std::vector<std::uint32_t>& rows) {
  if (rows.empty()) return;
  const std::vector<ReferentialIntegrity::TableChange> changes =
      integrity().PlanDelete(*tables_, table, rows);
  integrity_->Forget();
  // Rows and places are taken before anything changes; the decoded tables follow the engine.
  std::vector<std::vector<RowReplacement>> replaced(changes.size());
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const auto& change = changes[i];
    for (const auto& [position, columns] : change.nulled) {
      sql::Row row = change.table->rows()[position];
      for (int c : columns) row[static_cast<std::size_t>(c)] = Value();
      // A reference set to Null in the key of a Required index is refused before any change.
      if (const jet::Status s = jet::CheckKeysNotNull(change.table->def(), row); !s.ok()) {
        Throw(s);
      }
      replaced[i].push_back({position, std::move(row), change.table->places()[position]});
    }
  }
  store_failed_ = false;
  try {
    ChangeRows(changes, replaced);
  } catch (...) {
    // Half a statement must never reach the file: nothing is stored from here on.
    failed_write_ = true;
    RethrowAsDbError();
  }
}

void Connection::ChangeRows(const std::vector<ReferentialIntegrity::TableChange>& changes,
                            std::vector<std::vector<RowReplacement>>& replaced) {
  for (std::size_t i = 0; i < changes.size(); ++i) {
    sql::TableData& t = *changes[i].table;
    const std::string& name = t.def().name;
    for (std::uint32_t r : changes[i].deleted) {
      const jet::Status s = db_->DeleteRow(name, t.places()[r]);
      if (!s.ok()) {
        // Half a statement must never reach the file: nothing is stored from here on.
        failed_write_ = true;
        Throw(s);
      }
    }
    for (RowReplacement& rep : replaced[i]) {
      std::vector<Value> values = rep.row;
      auto place = db_->ReplaceRow(name, rep.place, values);
      if (!place.ok()) {
        failed_write_ = true;
        Throw(place.status());
      }
      rep.place = *place;
    }
  }
  for (std::size_t i = 0; i < changes.size(); ++i) {
    sql::TableData& t = *changes[i].table;
    if (replaced[i].empty()) {
      t.Remove(changes[i].deleted);
      continue;
    }
    std::vector<std::uint32_t> gone = changes[i].deleted;
    for (const RowReplacement& rep : replaced[i]) gone.push_back(rep.position);
    std::sort(gone.begin(), gone.end());
    t.Remove(gone);
    for (RowReplacement& rep : replaced[i]) t.Append(rep.row, rep.place);
  }
}

void Connection::Close() {
  if (!IsOpen()) throw DbError(ErrorCode::kNotAllowedWhenClosed, "Die Verbindung ist geschlossen.");
  std::vector<OpenRecordset*> open = std::move(open_);
  open_.clear();
  for (OpenRecordset* rs : open) rs->CloseQuietly();
  std::unique_ptr<jet::Database> db = std::move(db_);
  tables_.reset();
  integrity_.reset();
  const bool store_failed = std::exchange(store_failed_, false);
  if (in_transaction_) {
    in_transaction_ = false;
    db->Rollback();  // an unfinished transaction is forgotten
    return;
  }
  if (failed_write_) {
    failed_write_ = false;
    db->Rollback();
    throw DbError(ErrorCode::kNotSupported,
                  "Ein Schreibvorgang ist gescheitert; die Änderungen wurden "
                  "verworfen und die Datenbank bleibt unverändert.");
  }
  // After a failed commit nothing is written, whatever is left of it.
  if (store_failed) {
    db->Rollback();
    return;
  }
  jet::Status s;
  try {
    s = db->Commit();
  } catch (...) {
    RethrowAsDbError();
  }
  if (!s.ok()) {
    if (db->commit_replaced_file_despite_failure()) throw StoredDespiteError(s.code(), s.message());
    Throw(s);
  }
}

sql::TableProvider& Connection::tables() {
  if (!IsOpen()) {
    throw DbError(ErrorCode::kNoConnection,
                  "Die Verbindung ist geschlossen und kann für diesen Vorgang nicht verwendet "
                  "werden.");
  }
  return *tables_;
}

void Connection::Register(OpenRecordset* rs) { open_.push_back(rs); }

void Connection::Unregister(OpenRecordset* rs) {
  open_.erase(std::remove(open_.begin(), open_.end(), rs), open_.end());
}

}  // namespace db
