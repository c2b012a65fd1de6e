#include "db/connection.h"

#include <algorithm>
#include <variant>

#include "db/error.h"
#include "db/recordset.h"
#include "db/sql/parser.h"

namespace db {
namespace {

[[noreturn]] void Throw(const jet::Status& s) { throw DbError(s.number(), s.message()); }

}  // namespace

Connection::~Connection() {
  if (IsOpen()) Close();
}

void Connection::Open(const std::string& connection_string, const std::string& /*user_id*/,
                      const std::string& /*password*/, int /*options*/) {
  if (IsOpen()) throw DbError(kErrNotAllowedWhenOpen, "Die Verbindung ist bereits geöffnet.");
  ConnectionSettings settings = ParseConnectionString(connection_string);
  auto db = jet::Database::Open(settings.data_source, {.password = settings.database_password});
  if (!db.ok()) Throw(db.status());
  settings_ = std::move(settings);
  db_ = std::move(*db);
  tables_ = std::make_unique<sql::DatabaseTables>(*db_);
}

void Connection::Execute(const std::string& command_text, int /*options*/) {
  sql::TableProvider& t = tables();
  sql::Statement statement = sql::Parse(command_text);
  if (auto* select = std::get_if<sql::SelectStatement>(&statement)) {
    (void)sql::ExecuteSelect(t, *select);  // the caller drops the result
    return;
  }
  const auto& del = std::get<sql::DeleteStatement>(statement);
  sql::TableData& table = t.Table(del.table);
  (void)sql::MatchingRows(table, del.where.get());  // names and criteria are checked first
  if (settings_.read_only()) {
    throw DbError(kErrNotUpdatable, "Die Datenbank ist schreibgeschützt geöffnet.");
  }
  throw DbError(kErrNotUpdatable, "Das Löschen von Zeilen wird noch nicht unterstützt.");
}

void Connection::Close() {
  if (!IsOpen()) throw DbError(kErrNotAllowedWhenClosed, "Die Verbindung ist geschlossen.");
  std::vector<Recordset*> open = std::move(open_);
  open_.clear();
  for (Recordset* rs : open) rs->CloseQuietly();
  tables_.reset();
  db_.reset();
}

sql::TableProvider& Connection::tables() {
  if (!IsOpen()) {
    throw DbError(kErrNoConnection,
                  "Die Verbindung ist geschlossen und kann für diesen Vorgang nicht verwendet "
                  "werden.");
  }
  return *tables_;
}

void Connection::Register(Recordset* rs) { open_.push_back(rs); }

void Connection::Unregister(Recordset* rs) {
  open_.erase(std::remove(open_.begin(), open_.end(), rs), open_.end());
}

}  // namespace db
