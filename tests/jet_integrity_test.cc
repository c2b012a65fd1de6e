// The integrity checker: every test database passes it, the result of an import passes it, and
// deliberately damaged copies fail it with a problem that names what is wrong. The check before
// writing: damage of a table refuses the first change to it with 3049 and leaves the file as it
// was; what Access leaves as well is repaired or kept clear of, and the writes go through.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "jet/base/format.h"
#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/file_source.h"
#include "jet/file/page_store.h"
#include "jet/page/data_page.h"
#include "jet/page/long_value.h"
#include "jet/page/page_allocator.h"
#include "jet/page/usage_map.h"
#include "jet/table/row_reader.h"
#include "jet/table/table_scan.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace {

using testing_support::kTargetPassword;

using testing_support::DbFile;

std::vector<DbFile> AllDatabases() {
  std::vector<DbFile> all = testing_support::ProjectDatabases();
  for (DbFile& f : testing_support::AccessMadeDatabases()) all.push_back(f);
  return all;
}

class EveryDatabase : public ::testing::TestWithParam<DbFile> {};

TEST_P(EveryDatabase, PassesTheCheck) {
  auto db = jet::Database::Open(GetParam().path.string(), {.password = GetParam().password});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto report = jet::CheckIntegrity(**db);
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  for (const auto& p : report->problems) ADD_FAILURE() << p;
  EXPECT_GT(report->rows, 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, EveryDatabase, ::testing::ValuesIn(AllDatabases()),
                         [](const auto& p) { return p.param.TestName(); });

// target.mdb in memory, to be damaged and checked again.
class Damaged : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = testing_support::ReadFileBytes(testing_support::Fixture("target.mdb"));
    db_ = Open(bytes_);
  }
  static std::unique_ptr<jet::Database> Open(const std::vector<std::uint8_t>& bytes) {
    jet::MemoryFile file(bytes, "target.mdb");
    auto db = jet::Database::Open(file, {.password = kTargetPassword});
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    return db.ok() ? std::move(*db) : nullptr;
  }
  std::uint8_t* PageAt(std::uint32_t page) { return bytes_.data() + std::size_t{page} * 4096; }
  void Put32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  // The problems of the damaged copy, one of which must contain `expected`.
  void ExpectProblem(const std::string& expected) {
    auto db = Open(bytes_);
    ASSERT_TRUE(db);
    auto report = jet::CheckIntegrity(*db);
    ASSERT_TRUE(report.ok());
    ASSERT_FALSE(report->ok()) << "no problem found";
    const bool named =
        std::any_of(report->problems.begin(), report->problems.end(),
                    [&](const std::string& p) { return p.find(expected) != std::string::npos; });
    EXPECT_TRUE(named) << "expected '" << expected << "' in: " << report->problems.front();
  }
  // The findings of the edited copy that Access leaves as well, one of which must contain
  // `expected`; no damage.
  void ExpectTolerated(const std::string& expected) {
    auto db = Open(bytes_);
    ASSERT_TRUE(db);
    auto report = jet::CheckIntegrity(*db);
    ASSERT_TRUE(report.ok());
    for (const auto& p : report->problems) ADD_FAILURE() << p;
    const bool named =
        std::any_of(report->tolerated.begin(), report->tolerated.end(),
                    [&](const std::string& p) { return p.find(expected) != std::string::npos; });
    EXPECT_TRUE(named) << "expected '" << expected << "' among what Access leaves";
  }
  // The damaged copy as a file: deleting a row of `table` and storing one are refused with 3049
  // naming the damage, and the file stays byte for byte as it was.
  void ExpectWriteRefused(const char* table, const std::string& expected) {
    const testing_support::TempFile file("refused");
    testing_support::WriteFileBytes(file.path(), bytes_);
    {
      auto db = jet::Database::Open(file.path().string(),
                                    {.password = kTargetPassword, .writable = true});
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      jet::TableScan scan(*db_, *Table(table));  // a row of the undamaged original
      ASSERT_TRUE(*scan.Next());
      const jet::Status deleted = (*db)->DeleteRow(table, scan.position());
      EXPECT_EQ(deleted.code(), jet::ErrorCode::kCorrupt) << deleted.ToString();
      EXPECT_NE(deleted.message().find("beschädigt"), std::string::npos) << deleted.ToString();
      EXPECT_NE(deleted.message().find(expected), std::string::npos) << deleted.ToString();
      std::vector<jet::Value> values = scan.values();
      const auto stored = (*db)->InsertRow(table, values);
      EXPECT_EQ(stored.status().code(), jet::ErrorCode::kCorrupt) << stored.status().ToString();
      EXPECT_TRUE((*db)->Commit().ok());  // nothing to store
    }
    EXPECT_TRUE(testing_support::ReadFileBytes(file.path()) == bytes_) << "the file changed";
  }
  // Edits the copy's pages through a page store of its own (usage-map bits set by the engine's
  // writer of them, which other tests cover).
  template <typename Edit>
  void EditPages(Edit edit) {
    jet::MemoryFile file(bytes_);
    auto store = jet::PageStore::Load(file);
    ASSERT_TRUE(store.ok());
    jet::PageAllocator allocator(**store);
    edit(**store, allocator);
    bytes_ = (*store)->Image();
  }
  std::shared_ptr<const jet::TableDef> Table(const char* name) { return *db_->GetTable(name); }

  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<jet::Database> db_;
};

TEST_F(Damaged, RowCountOfTheDefinitionIsRepairedByTheWrites) {
  const auto t = Table("tbl_Kunden");
  Put32(PageAt(t->page) + jet::kJet4Format.tdef_row_count_offset, t->row_count + 1);
  ExpectTolerated("nennt 298 Zeilen, es sind 297");
  const testing_support::TempFile file("count");
  testing_support::WriteFileBytes(file.path(), bytes_);
  {
    auto db =
        jet::Database::Open(file.path().string(), {.password = kTargetPassword, .writable = true});
    ASSERT_TRUE(db.ok());
    jet::TableScan scan(**db, **(*db)->GetTable("tbl_Kunden"));
    ASSERT_TRUE(*scan.Next());
    ASSERT_TRUE((*db)->DeleteRow("tbl_Kunden", scan.position()).ok());
    ASSERT_TRUE((*db)->Commit().ok());
  }
  bytes_ = testing_support::ReadFileBytes(file.path());
  auto db = Open(bytes_);
  EXPECT_EQ((*db->GetTable("tbl_Kunden"))->row_count, 296u);
  auto report = jet::CheckIntegrity(*db);
  ASSERT_TRUE(report.ok());
  EXPECT_TRUE(report->ok());
  EXPECT_TRUE(report->tolerated.empty()) << report->tolerated.front();
}

TEST_F(Damaged, PagesOfTheFreeMapThatAUsageMapStillNamesAreNeverHandedOut) {
  // Another writer emptied an index page of tbl_Kunden and listed it as free, but left it in the
  // index's usage map. Writing other tables must not take it.
  const auto kunden = Table("tbl_Kunden");
  std::uint32_t given_back = 0;
  EditPages([&](jet::PageStore& store, jet::PageAllocator& allocator) {
    given_back = *store.AppendPage();
    ASSERT_TRUE(jet::SetPageInUsageMap(store, allocator, kunden->real_indexes[0].usage_map,
                                       given_back, true)
                    .ok());
    ASSERT_TRUE(
        jet::SetPageInUsageMap(store, allocator, jet::kGlobalFreeMap, given_back, true).ok());
  });
  ExpectTolerated("Seite " + std::to_string(given_back) + " gilt als frei");
  const testing_support::TempFile file("given-back");
  testing_support::WriteFileBytes(file.path(), bytes_);
  {
    auto db =
        jet::Database::Open(file.path().string(), {.password = kTargetPassword, .writable = true});
    ASSERT_TRUE(db.ok());
    const auto t = *(*db)->GetTable("tbl_Verwaltung_ProdukteKategorien");
    std::vector<std::vector<jet::Value>> rows = testing_support::ReadAllRows(**db, *t);
    ASSERT_FALSE(rows.empty());
    for (int copy = 0; copy < 200; ++copy) {  // a few pages' worth
      std::vector<jet::Value> row = rows[static_cast<std::size_t>(copy) % rows.size()];
      for (std::size_t c = 0; c < t->columns.size(); ++c) {
        if (t->columns[c].autonumber()) row[c] = jet::Value();
      }
      ASSERT_TRUE((*db)->InsertRow(t->name, row).ok());
    }
    const jet::Status s = (*db)->Commit();
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  bytes_ = testing_support::ReadFileBytes(file.path());
  auto db = Open(bytes_);
  ASSERT_TRUE(db);
  auto page = db->pages().Page(given_back);
  ASSERT_TRUE(page.ok());
  EXPECT_TRUE(std::all_of(page->begin(), page->end(), [](std::uint8_t b) { return b == 0; }));
  auto report = jet::CheckIntegrity(*db);
  ASSERT_TRUE(report.ok());
  for (const auto& p : report->problems) ADD_FAILURE() << p;
}

TEST_F(Damaged, UsageMapBitsOfAPageGivenBackAreDroppedByTheWrites) {
  // A page emptied and given back (in the free map), still named by the table's usage map and
  // free-space map.
  const auto kunden = Table("tbl_Kunden");
  std::uint32_t given_back = 0;
  EditPages([&](jet::PageStore& store, jet::PageAllocator& allocator) {
    given_back = *store.AppendPage();
    for (jet::RowPointer map : {kunden->usage_map, kunden->free_map, jet::kGlobalFreeMap}) {
      ASSERT_TRUE(jet::SetPageInUsageMap(store, allocator, map, given_back, true).ok());
    }
  });
  ExpectTolerated("Seite " + std::to_string(given_back) +
                  " ihrer Belegungstabelle ist eine freigegebene Seite");
  const testing_support::TempFile file("usage-bits");
  testing_support::WriteFileBytes(file.path(), bytes_);
  {
    auto db =
        jet::Database::Open(file.path().string(), {.password = kTargetPassword, .writable = true});
    ASSERT_TRUE(db.ok());
    jet::TableScan scan(**db, **(*db)->GetTable("tbl_Kunden"));
    ASSERT_TRUE(*scan.Next());
    const jet::Status s = (*db)->DeleteRow("tbl_Kunden", scan.position());
    ASSERT_TRUE(s.ok()) << s.ToString();
    ASSERT_TRUE((*db)->Commit().ok());
  }
  bytes_ = testing_support::ReadFileBytes(file.path());
  auto db = Open(bytes_);
  const auto t = *db->GetTable("tbl_Kunden");
  for (jet::RowPointer map : {t->usage_map, t->free_map}) {
    auto pages = jet::ReadUsageMap(db->pages(), map);
    ASSERT_TRUE(pages.ok());
    EXPECT_FALSE(std::binary_search(pages->begin(), pages->end(), given_back));
  }
  auto report = jet::CheckIntegrity(*db);
  ASSERT_TRUE(report.ok());
  EXPECT_TRUE(report->ok());
  EXPECT_TRUE(report->tolerated.empty()) << report->tolerated.front();
}

TEST_F(Damaged, PageOfAnotherTableInTheUsageMap) {
  const auto kunden = Table("tbl_Kunden");
  const auto other = Table("tbl_Einstellungen");
  const std::uint32_t foreign = jet::ReadUsageMap(db_->pages(), other->usage_map)->front();
  EditPages([&](jet::PageStore& store, jet::PageAllocator& allocator) {
    ASSERT_TRUE(jet::SetPageInUsageMap(store, allocator, kunden->usage_map, foreign, true).ok());
  });
  ExpectProblem("beansprucht");
  ExpectWriteRefused("tbl_Kunden", "Seite " + std::to_string(foreign));
}

TEST_F(Damaged, IndexPageOfAnotherTableInAnIndexUsageMap) {
  const auto kunden = Table("tbl_Kunden");
  const auto other = Table("tbl_Einstellungen");
  const std::uint32_t foreign = other->real_indexes[0].first_page;
  EditPages([&](jet::PageStore& store, jet::PageAllocator& allocator) {
    ASSERT_TRUE(
        jet::SetPageInUsageMap(store, allocator, kunden->real_indexes[0].usage_map, foreign, true)
            .ok());
  });
  ExpectProblem("beansprucht");
  ExpectWriteRefused("tbl_Kunden", "keine Indexseite der Tabelle");
}

TEST_F(Damaged, RowOffsetOutsideItsPage) {
  const auto t = Table("tbl_Kunden");
  const std::uint32_t page = jet::ReadUsageMap(db_->pages(), t->usage_map)->back();
  std::uint8_t* offsets = PageAt(page) + 0x0E;  // Jet 4's row offset table
  offsets[2] = 0xFF;                            // row 1 starts past the page's end
  offsets[3] = 0x1F;
  ExpectProblem("Tabelle 'tbl_Kunden'");
  ExpectWriteRefused("tbl_Kunden", "Tabelle 'tbl_Kunden'");
}

TEST_F(Damaged, AutoNumberCounterBelowAKey) {
  const auto t = Table("tbl_Verwaltung_Produkte");
  Put32(PageAt(t->page) + jet::kJet4Format.tdef_autonumber_offset, 100);
  ExpectProblem("AutoWert-Zähler 100");
}

TEST_F(Damaged, DataPageMissingFromTheUsageMap) {
  const auto t = Table("tbl_Einstellungen");
  auto pages = jet::ReadUsageMap(db_->pages(), t->usage_map);
  ASSERT_TRUE(pages.ok() && !pages->empty());
  // Clear the page's bit wherever the map keeps it: rewrite the inline map row's bitmap.
  auto row = jet::ReadRowAt(db_->pages(), t->usage_map);
  ASSERT_TRUE(row.ok());
  const auto offset =
      static_cast<std::size_t>(row->data() - db_->pages().Page(t->usage_map.page)->data());
  std::uint8_t* map = PageAt(t->usage_map.page) + offset;
  auto get32 = [](const std::uint8_t* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
  };
  const std::uint32_t page = pages->front();
  if (map[0] == jet::kUsageMapInline) {
    const std::uint32_t bit = page - get32(map + jet::kInlineMapStartOffset);
    map[jet::kInlineMapBitmapOffset + bit / 8] &= static_cast<std::uint8_t>(~(1u << (bit % 8)));
  } else {
    const std::uint32_t per_map = (4096 - jet::kMapPageBitmapOffset) * 8;
    std::uint8_t* bits =
        PageAt(get32(map + jet::kReferenceMapPagesOffset + 4 * std::size_t{page / per_map}));
    const std::uint32_t bit = page % per_map;
    bits[jet::kMapPageBitmapOffset + bit / 8] &= static_cast<std::uint8_t>(~(1u << (bit % 8)));
  }
  ExpectProblem("fehlt in ihrer Belegungstabelle");
  // Its indexes still name the rows of that page: the first change is refused.
  ExpectWriteRefused("tbl_Einstellungen", "die die Tabelle nicht hat");
}

TEST_F(Damaged, IndexEntryWithoutItsRow) {
  // A row deleted in memory without rebuilding the indexes leaves an entry too many.
  const testing_support::TempFile file("integrity");
  const std::string path = file.path().string();
  testing_support::WriteFileBytes(path, bytes_);
  auto db = jet::Database::Open(path, {.password = kTargetPassword, .writable = true});
  ASSERT_TRUE(db.ok());
  jet::TableScan scan(**db, **(*db)->GetTable("tbl_Kunden"));
  ASSERT_TRUE(*scan.Next());
  ASSERT_TRUE((*db)->DeleteRow("tbl_Kunden", scan.position()).ok());
  bytes_ = (*db)->pages().Image();
  ExpectProblem("Einträge passen nicht zu den 296 Zeilen");
  ExpectWriteRefused("tbl_Kunden", "die die Tabelle nicht hat");
}

TEST_F(Damaged, LongValueChainCut) {
  // The first piece of the longest note: its next pointer sent nowhere.
  const auto t = Table("tbl_Kunden");
  const auto memo = static_cast<std::size_t>(t->FindColumn("txt_Notiz") - t->columns.data());
  auto pages = jet::ReadUsageMap(db_->pages(), t->usage_map);
  for (std::uint32_t p : *pages) {
    auto page = jet::DataPage::Open(db_->pages(), p);
    for (std::uint16_t r = 0; r < page->row_count(); ++r) {
      auto slot = page->Row(r);
      if (!slot.ok() || slot->deleted || slot->overflow) continue;
      jet::RowFields fields;
      ASSERT_TRUE(jet::SplitRow(db_->pages().format(), *t, slot->data, fields).ok());
      const jet::FieldSlot& f = fields.fields[memo];
      if (!f.stored || f.data[jet::kLongValueKindOffset] != jet::kLongValueChain) continue;
      const jet::RowPointer first =
          jet::RowPointer::FromRaw(f.data[4] | f.data[5] << 8 | f.data[6] << 16 |
                                   static_cast<std::uint32_t>(f.data[7]) << 24);
      auto piece = jet::ReadRowAt(db_->pages(), first);
      ASSERT_TRUE(piece.ok());
      const auto offset =
          static_cast<std::size_t>(piece->data() - db_->pages().Page(first.page)->data());
      Put32(PageAt(first.page) + offset, 0);  // the chain ends after its first piece
      ExpectProblem("Tabelle 'tbl_Kunden'");
      return;
    }
  }
  FAIL() << "no chained note found";
}

}  // namespace
