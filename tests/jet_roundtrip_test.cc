// Round trips on copies of every Jet 4 test database, the Access-made ones included: every other
// row of every user table deleted and committed, then stored again and committed; after each
// commit the file passes the integrity check and mdb-export reads what our reader reads, and at
// the end mdb-reader reads the rows the original held.
//
// Some copies are first edited as Access and other writers leave files that are in daily use: a
// system table's stored row count raised or lowered, a system table's page missing from its usage
// map, an emptied index page listed as free while the index's usage map still names it. The
// round trip must succeed on them just the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/file_source.h"
#include "jet/file/page_store.h"
#include "jet/page/page_allocator.h"
#include "jet/page/usage_map.h"
#include "jet/table/table_scan.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"

namespace fs = std::filesystem;

namespace {

using testing_support::DbFile;

// What a copy gets before its round trip.
enum class Edit {
  kNone,
  kSystemRowCountRaised,   // MSysACEs' stored row count 3 above its rows
  kSystemRowCountLowered,  // ... and 3 below (0 when it holds fewer)
  kSystemPageUnmapped,     // MSysACEs' first page cleared in its usage map
  kIndexPageGivenBack,     // a zeroed page in the free map that a user index's usage map names
};

struct Case {
  DbFile file;
  Edit edit = Edit::kNone;
};

std::string CaseName(const Case& c) {
  static const char* kEdits[] = {"", "SystemRowCountRaised", "SystemRowCountLowered",
                                 "SystemPageUnmapped", "IndexPageGivenBack"};
  return c.file.TestName() + kEdits[static_cast<int>(c.edit)];
}
void PrintTo(const Case& c, std::ostream* os) { *os << CaseName(c); }

std::vector<Case> Cases() {
  std::vector<Case> all;
  for (const DbFile& f : testing_support::ProjectDatabases()) {
    if (f.path.filename() == "source-large.mdb") continue;  // the same design as source.mdb
    all.push_back({f});
  }
  for (const DbFile& f : testing_support::AccessMadeDatabases()) {
    if (f.path.filename().string().find("V1997") == std::string::npos) all.push_back({f});
  }
  // The edits on our sample target and on two Access-made files of different designs.
  std::vector<Case> edited;
  for (const Case& c : all) {
    const std::string name = c.file.path.filename().string();
    if (name != "target.mdb" && name != "test2V2000.mdb" && name != "indexTestV2000.mdb") continue;
    for (Edit e : {Edit::kSystemRowCountRaised, Edit::kSystemRowCountLowered,
                   Edit::kSystemPageUnmapped, Edit::kIndexPageGivenBack}) {
      edited.push_back({c.file, e});
    }
  }
  all.insert(all.end(), edited.begin(), edited.end());
  return all;
}

// Applies `edit` to the file at `path`, as the pages' bytes (the engine's usage-map writer sets
// the bits; the checks under test never see this store).
void ApplyEdit(const fs::path& path, const std::string& password, Edit edit) {
  if (edit == Edit::kNone) return;
  const auto bytes = testing_support::ReadFileBytes(path);
  jet::MemoryFile file(bytes);
  auto db = jet::Database::Open(file, {.password = password});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  jet::MemoryFile again(bytes);
  auto loaded = jet::PageStore::Load(again);
  ASSERT_TRUE(loaded.ok());
  jet::PageStore& store = **loaded;
  jet::PageAllocator allocator(store);
  const std::size_t count_at = store.format().tdef_row_count_offset;
  if (edit == Edit::kIndexPageGivenBack) {
    // The first user table with an index: a copy of its root page, emptied and given back.
    for (const std::string& name : (*db)->TableNames()) {
      auto t = *(*db)->GetTable(name);
      if (t->real_indexes.empty()) continue;
      const jet::RealIndex& index = t->real_indexes.front();
      auto page = store.AppendPage();
      ASSERT_TRUE(page.ok());
      auto bytes_of = store.MutablePage(*page);
      ASSERT_TRUE(bytes_of.ok());
      std::fill(bytes_of->begin(), bytes_of->end(), 0);
      ASSERT_TRUE(jet::SetPageInUsageMap(store, allocator, index.usage_map, *page, true).ok());
      ASSERT_TRUE(jet::SetPageInUsageMap(store, allocator, jet::kGlobalFreeMap, *page, true).ok());
      testing_support::WriteFileBytes(path, store.Image());
      return;
    }
    FAIL() << "no user table with an index";
  }
  auto t = (*db)->GetTable("MSysACEs");
  ASSERT_TRUE(t.ok()) << t.status().ToString();
  const jet::TableDef& aces = **t;
  if (edit == Edit::kSystemPageUnmapped) {
    auto pages = jet::ReadUsageMap(store, aces.usage_map);
    ASSERT_TRUE(pages.ok() && !pages->empty());
    ASSERT_TRUE(
        jet::SetPageInUsageMap(store, allocator, aces.usage_map, pages->front(), false).ok());
  } else {
    const std::uint32_t n = edit == Edit::kSystemRowCountRaised
                                ? aces.row_count + 3
                                : (aces.row_count >= 3 ? aces.row_count - 3 : 0);
    ASSERT_TRUE(jet::PutDefinitionU32(store, aces.page, count_at, n).ok());
  }
  testing_support::WriteFileBytes(path, store.Image());
}

// Every user table's rows as mdb-reader reads them, each line its JSON object without the
// AutoNumber columns (the rows stored again get new numbers), sorted.
std::map<std::string, std::vector<std::string>> MdbReaderRows(const jet::Database& db,
                                                              const DbFile& file) {
  std::map<std::string, std::vector<std::string>> rows;
  const auto dump = testing_support::RunCommand(testing_support::MdbReaderCommand(file) + " --all");
  EXPECT_EQ(dump.exit_code, 0) << "mdb_reader_dump.mjs failed on " << file.path;
  for (const std::string& line : testing_support::SplitLines(dump.out)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << line;
      continue;
    }
    const std::string table = line.substr(0, tab);
    auto object = testing_support::ParseJsonObject(std::string_view(line).substr(tab + 1));
    if (!object) {
      ADD_FAILURE() << "not a JSON object: " << line;
      continue;
    }
    auto def = db.GetTable(table);
    std::string text;
    for (const auto& [column, value] : *object) {
      const jet::Column* c = def.ok() ? (*def)->FindColumn(column) : nullptr;
      if (c != nullptr && c->autonumber()) continue;
      text += column + "=" + std::to_string(static_cast<int>(value.kind)) + ":" + value.text +
              (value.boolean ? "1" : "0") + ";";
    }
    rows[table].push_back(std::move(text));
  }
  for (auto& [table, lines] : rows) std::sort(lines.begin(), lines.end());
  return rows;
}

class RoundTrip : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (GetParam().file.path.empty()) GTEST_SKIP() << "no database";
    PI_REQUIRE_MDB_EXPORT();
    PI_REQUIRE_MDB_READER();
    dir_ = std::make_unique<testing_support::ScratchDir>("roundtrip");
    file_ = dir_->path() / GetParam().file.path.filename();
    fs::copy_file(GetParam().file.path, file_);
    // The shared fixtures are read-only files, and a read-only database is not written.
    fs::permissions(file_, fs::perms::owner_write, fs::perm_options::add);
    ApplyEdit(file_, GetParam().file.password, GetParam().edit);
  }

  DbFile Copy() const { return {file_, GetParam().file.password}; }

  std::unique_ptr<jet::Database> Open(bool writable) {
    auto db = jet::Database::Open(file_.string(),
                                  {.password = GetParam().file.password, .writable = writable});
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    return db.ok() ? std::move(*db) : nullptr;
  }

  // The committed file: sound, and read alike by us and by mdb-export.
  void CheckFile(const std::vector<std::string>& tables, const char* when,
                 bool references_may_break = false) {
    auto db = Open(false);
    ASSERT_TRUE(db);
    auto report = jet::CheckIntegrity(*db);
    ASSERT_TRUE(report.ok());
    for (const auto& p : report->problems) {
      // The engine's own deletes leave references to the deleted rows (keeping relationships is
      // the record layer's part), and the rows stored again take new AutoNumbers.
      if (references_may_break && p.rfind("Beziehung '", 0) == 0) continue;
      ADD_FAILURE() << when << ": " << p;
    }
    // What Access leaves may stay in what we do not write, but not in the tables we wrote.
    for (const auto& quirk : report->tolerated) {
      for (const std::string& t : tables) {
        if (quirk.find("Tabelle '" + t + "'") != std::string::npos) {
          ADD_FAILURE() << when << ": " << quirk;
        }
      }
    }
    for (const std::string& t : tables) {
      auto def = db->GetTable(t);
      if (testing_support::HasMovedRows(*db, **def)) continue;  // listed elsewhere by mdbtools
      std::ostringstream ours;
      ASSERT_TRUE(inspect::ExportCsv(*db, t, ours).ok());
      auto oracle = testing_support::RunCommand("LC_ALL=C mdb-export " +
                                                testing_support::ShellQuote(file_.string()) + " " +
                                                testing_support::ShellQuote(t));
      EXPECT_EQ(oracle.out, ours.str()) << when << ": " << t;
    }
  }

  std::unique_ptr<testing_support::ScratchDir> dir_;
  fs::path file_;
};

TEST_P(RoundTrip, DeleteAndStoreAgain) {
  std::vector<std::string> tables;
  std::map<std::string, std::vector<std::vector<jet::Value>>> removed;
  std::map<std::string, std::vector<std::string>> mdb_reader_before;
  {
    auto db = Open(false);
    ASSERT_TRUE(db);
    mdb_reader_before = MdbReaderRows(*db, Copy());
  }
  {
    auto db = Open(true);
    ASSERT_TRUE(db);
    tables = db->TableNames();
    for (const std::string& t : tables) {
      auto def = *db->GetTable(t);
      std::vector<jet::RowPointer> rows;
      std::vector<std::vector<jet::Value>> values;
      jet::TableScan scan(*db, *def);
      while (*scan.Next()) {
        rows.push_back(scan.position());
        values.push_back(scan.values());
      }
      for (std::size_t i = 0; i < rows.size(); i += 2) {
        ASSERT_TRUE(db->DeleteRow(t, rows[i]).ok()) << t;
        removed[t].push_back(values[i]);
      }
    }
    const jet::Status s = db->Commit();
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  CheckFile(tables, "nach dem Löschen", /*references_may_break=*/true);
  {
    auto db = Open(true);
    ASSERT_TRUE(db);
    for (const std::string& t : tables) {
      auto def = *db->GetTable(t);
      for (auto row : removed[t]) {
        for (std::size_t c = 0; c < def->columns.size(); ++c) {
          if (def->columns[c].autonumber()) row[c] = jet::Value();  // numbered anew
        }
        auto stored = db->InsertRow(t, row);
        ASSERT_TRUE(stored.ok()) << t << ": " << stored.status().ToString();
      }
    }
    const jet::Status s = db->Commit();
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  CheckFile(tables, "nach dem Einfügen", /*references_may_break=*/true);
  auto db = Open(false);
  ASSERT_TRUE(db);
  for (const auto& [table, rows] : MdbReaderRows(*db, Copy())) {
    EXPECT_EQ(rows, mdb_reader_before[table]) << "mdb-reader, " << table;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, RoundTrip, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return CaseName(p.param); });

}  // namespace
