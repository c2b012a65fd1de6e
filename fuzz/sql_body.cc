#include "fuzz/sql_body.h"

#include <memory>
#include <string>
#include <variant>

#include "db/error.h"
#include "db/sql/executor.h"
#include "db/sql/parser.h"
#include "jet/database/database.h"

namespace fuzz {
namespace {

// The sample source database the statements run against, opened once.
const jet::Database* Sample() {
  static std::unique_ptr<jet::Database> db = [] {
    auto opened = jet::Database::Open(PI_FUZZ_SQL_DATABASE);
    return opened.ok() ? std::move(*opened) : nullptr;
  }();
  return db.get();
}

}  // namespace

void RunSqlStatement(const std::uint8_t* data, std::size_t size) {
  const std::string sql(reinterpret_cast<const char*>(data), size);
  try {
    db::sql::Statement statement = db::sql::Parse(sql);
    const jet::Database* db = Sample();
    if (db == nullptr) return;
    db::sql::DatabaseTables tables(*db);
    if (auto* select = std::get_if<db::sql::SelectStatement>(&statement)) {
      (void)db::sql::ExecuteSelect(tables, *select);
    } else {
      const auto& del = std::get<db::sql::DeleteStatement>(statement);
      (void)db::sql::MatchingRows(tables.Table(del.table), del.where.get());
    }
  } catch (const db::DbError&) {
    // A statement outside the subset, or naming what the database lacks: an error, as it must.
  }
}

}  // namespace fuzz
