#include "fuzz/open_write_body.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/table/catalog.h"
#include "jet/table/table_scan.h"

namespace fuzz {
namespace {

namespace fs = std::filesystem;

// The six product tables the import empties and fills.
constexpr const char* kProductTables[] = {"tbl_Verwaltung_Produkte",
                                          "tbl_Verwaltung_Produkte_Extras",
                                          "tbl_Verwaltung_Produkte_Preise",
                                          "tbl_Verwaltung_ProdukteExtras",
                                          "tbl_Verwaltung_ProdukteExtras_Preise",
                                          "tbl_Verwaltung_ProdukteKategorien"};
constexpr int kRowsPerTable = 4;

// A folder of this process for the database file, in memory where the system has such a folder
// (the commit syncs the file), removed when the process ends.
const fs::path& ScratchFolder() {
  static const fs::path folder = [] {
    std::string base = fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0
                           ? std::string("/dev/shm")
                           : fs::temp_directory_path().string();
    std::string name = base + "/pi-write-fuzz-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(ScratchFolder(), ec);
    });
    return fs::path(name);
  }();
  return folder;
}

[[noreturn]] void Finding(const std::string& what) {
  std::fprintf(stderr, "write fuzzer: %s\n", what.c_str());
  std::abort();
}

// A value of the column's kind for the i-th new row; Null for kinds the import never writes.
jet::Value ValueFor(const jet::Column& c, int i) {
  switch (c.type()) {
    case jet::ColumnType::kBoolean:
      return jet::Value(i % 2 == 0);
    case jet::ColumnType::kByte:
      return jet::Value(static_cast<std::uint8_t>(i + 1));
    case jet::ColumnType::kInteger:
      return jet::Value(static_cast<std::int16_t>(i + 1));
    case jet::ColumnType::kLong:
      return c.autonumber() ? jet::Value() : jet::Value(static_cast<std::int32_t>(i + 1));
    case jet::ColumnType::kCurrency:
      return jet::Value(jet::Currency{(i + 1) * std::int64_t{10000}});
    case jet::ColumnType::kSingle:
      return jet::Value(static_cast<float>(i) + 0.5f);
    case jet::ColumnType::kDouble:
      return jet::Value(i * 1.25);
    case jet::ColumnType::kDateTime:
      return jet::Value(jet::DateTime{45000.0 + i});
    case jet::ColumnType::kText:
      return jet::Value(("F" + std::to_string(i)).substr(0, c.length / 2));
    case jet::ColumnType::kMemo:
      return jet::Value(std::string(static_cast<std::size_t>(30 + i * 700), 'm'));
    default:
      return jet::Value();
  }
}

// Deletes every row of `table` and adds kRowsPerTable rows: the rows as stored (AutoNumbers
// filled in), or the error that stopped it.
jet::Status Refill(jet::Database& db, const char* table,
                   std::vector<std::vector<jet::Value>>& added) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const jet::TableDef> def, db.GetTable(table));
  std::vector<jet::RowPointer> rows;
  jet::TableScan scan(db, *def);
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.Next());
    if (!more) break;
    rows.push_back(scan.position());
  }
  for (jet::RowPointer r : rows) JET_RETURN_IF_ERROR(db.DeleteRow(table, r));
  for (int i = 0; i < kRowsPerTable; ++i) {
    std::vector<jet::Value> row;
    for (const jet::Column& c : def->columns) row.push_back(ValueFor(c, i));
    auto at = db.InsertRow(table, row);
    if (!at.ok()) return at.status();
    added.push_back(std::move(row));
  }
  return jet::Status::Ok();
}

// The damage the check finds in the file (empty when it does not open or cannot be checked).
std::set<std::string> ProblemsOf(const fs::path& file) {
  auto db = jet::Database::Open(file.string());
  if (!db.ok()) return {};
  auto report = jet::CheckIntegrity(**db);
  if (!report.ok()) return {};
  return {report->problems.begin(), report->problems.end()};
}

// The committed file must pass the check, but for damage the input had already in what the
// writes do not touch, and hold exactly the rows added.
void CheckCommitted(const fs::path& file, const std::set<std::string>& before,
                    const std::vector<std::vector<std::vector<jet::Value>>>& added) {
  auto db = jet::Database::Open(file.string());
  if (!db.ok()) Finding("the committed file does not open: " + db.status().ToString());
  auto report = jet::CheckIntegrity(**db);
  if (!report.ok()) Finding("the committed file cannot be checked: " + report.status().ToString());
  for (const std::string& problem : report->problems) {
    if (!before.count(problem)) Finding("the committed file fails the check: " + problem);
  }
  for (std::size_t t = 0; t < std::size(kProductTables); ++t) {
    auto def = (*db)->GetTable(kProductTables[t]);
    if (!def.ok()) Finding(std::string("a written table is gone: ") + kProductTables[t]);
    std::vector<std::vector<jet::Value>> rows;
    jet::TableScan scan(**db, **def);
    while (true) {
      auto more = scan.Next();
      if (!more.ok()) Finding("a written table does not read back: " + more.status().ToString());
      if (!*more) break;
      rows.push_back(scan.values());
    }
    if (rows.size() != added[t].size() || (*def)->row_count != added[t].size()) {
      Finding(std::string("wrong row count in ") + kProductTables[t]);
    }
    for (const auto& row : added[t]) {
      bool found = false;
      for (const auto& got : rows) found = found || got == row;
      if (!found) Finding(std::string("a row added to ") + kProductTables[t] + " reads back wrong");
    }
  }
}

// Stores the bytes as the scratch database, runs the writes on it and returns the outcome with
// the rows added; a failure must leave the file as it was.
WriteOutcome WriteOnce(std::span<const std::uint8_t> bytes, const fs::path& file,
                       std::vector<std::vector<std::vector<jet::Value>>>& added,
                       std::set<std::string>* damage_before = nullptr,
                       bool check_before_writing = true) {
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) Finding("the scratch file cannot be written");
  }
  if (damage_before != nullptr) *damage_before = ProblemsOf(file);
  WriteOutcome outcome;
  added.assign(std::size(kProductTables), {});
  auto db = jet::Database::Open(
      file.string(),
      {.password = "", .writable = true, .test = {.check_before_writing = check_before_writing}});
  if (!db.ok()) {
    outcome.error = db.status();
    return outcome;
  }
  for (std::size_t t = 0; t < std::size(kProductTables) && outcome.error.ok(); ++t) {
    outcome.error = Refill(**db, kProductTables[t], added[t]);
  }
  if (outcome.error.ok()) outcome.error = (*db)->Commit();
  if (outcome.error.ok()) {
    outcome.committed = true;
    return outcome;
  }
  if (outcome.error.message().empty()) Finding("an error without a description");
  // A refused commit leaves the file as it was.
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> now{std::istreambuf_iterator<char>(in), {}};
  if (now.size() != bytes.size() || !std::equal(now.begin(), now.end(), bytes.begin())) {
    Finding("a failed write changed the file: " + outcome.error.ToString());
  }
  return outcome;
}

// Reads every table of a file committed from a damaged input: errors are allowed (the damage was
// there before), a crash or a read outside a buffer is not.
void ReadEverything(const fs::path& file) {
  auto db = jet::Database::Open(file.string());
  if (!db.ok()) return;
  for (const jet::CatalogEntry& e : (*db)->catalog()) {
    if (!e.is_table()) continue;
    auto def = (*db)->GetTable(e.name);
    if (!def.ok()) continue;
    jet::TableScan scan(**db, **def);
    for (auto more = scan.Next(); more.ok() && *more; more = scan.Next()) {
    }
  }
}

}  // namespace

WriteOutcome OpenWriteAndCheck(std::span<const std::uint8_t> bytes) {
  const fs::path file = ScratchFolder() / "DBZentavo.mdb";
  std::vector<std::vector<std::vector<jet::Value>>> added;
  std::set<std::string> before;  // the input's damage, named as in the file written from it
  WriteOutcome outcome = WriteOnce(bytes, file, added, &before);
  if (outcome.committed) {
    CheckCommitted(file, before, added);
    return outcome;
  }
  // A file the engine refuses as damaged: the writer itself must still stay within its pages
  // when the check is left out (the result need not pass the check then).
  if (outcome.error.code() == jet::ErrorCode::kCorrupt) {
    const WriteOutcome unchecked =
        WriteOnce(bytes, file, added, /*damage_before=*/nullptr, /*check_before_writing=*/false);
    if (unchecked.committed) ReadEverything(file);
  }
  return outcome;
}

}  // namespace fuzz
