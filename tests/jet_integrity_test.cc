// The integrity checker: every test database passes it, the result of an import passes it, and
// deliberately damaged copies fail it with a problem that names what is wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/file_source.h"
#include "jet/format.h"
#include "jet/integrity_check.h"
#include "jet/long_value.h"
#include "jet/page_store.h"
#include "jet/row_reader.h"
#include "jet/table_scan.h"
#include "jet/usage_map.h"
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
  std::shared_ptr<const jet::TableDef> Table(const char* name) { return *db_->GetTable(name); }

  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<jet::Database> db_;
};

TEST_F(Damaged, RowCountOfTheDefinition) {
  const auto t = Table("tbl_Kunden");
  Put32(PageAt(t->page) + jet::kJet4Format.tdef_row_count_offset, t->row_count + 1);
  ExpectProblem("nennt 298 Zeilen, es sind 297");
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
    std::uint8_t* bits = PageAt(get32(map + jet::kReferenceMapPagesOffset + 4 * (page / per_map)));
    const std::uint32_t bit = page % per_map;
    bits[jet::kMapPageBitmapOffset + bit / 8] &= static_cast<std::uint8_t>(~(1u << (bit % 8)));
  }
  ExpectProblem("fehlt in ihrer Belegungstabelle");
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
