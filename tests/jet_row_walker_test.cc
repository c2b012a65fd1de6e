// The one walk over a table's live rows (jet/table/row_walker.h), which the table scan and the
// index rebuild share: a moved row is read where its pointer leads even though that slot carries
// the deleted flag, as every moved row's target does; a pointer to a deleted slot without bytes is
// damage, reported alike by the walk and by the rebuild that reads the rows for the indexes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/byte_writer.h"
#include "jet/database/database.h"
#include "jet/file/file_source.h"
#include "jet/file/page_store.h"
#include "jet/index/index_writer.h"
#include "jet/page/data_page.h"
#include "jet/page/page_allocator.h"
#include "jet/page/usage_map.h"
#include "jet/table/row_walker.h"
#include "tests/test_support.h"

namespace {

constexpr char kTable[] = "tbl_Einstellungen";

using Walked = std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>;

// The sample target's pages in memory, with the definition of kTable.
class RowWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::DbFile target;
    for (const auto& f : testing_support::ProjectDatabases()) {
      if (f.path.filename() == "target.mdb") target = f;
    }
    ASSERT_FALSE(target.path.empty());
    const auto bytes = testing_support::ReadFileBytes(target.path);
    auto db = jet::Database::Open(target.path.string(), {.password = target.password});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto def = (*db)->GetTable(kTable);
    ASSERT_TRUE(def.ok()) << def.status().ToString();
    jet::MemoryFile file(bytes);
    auto store = jet::PageStore::Load(file);
    ASSERT_TRUE(store.ok()) << store.status().ToString();
    store_ = std::move(*store);
    def_ = **def;
    auto pages = jet::ReadUsageMap(*store_, def_.usage_map);
    ASSERT_TRUE(pages.ok() && !pages->empty());
    page_ = pages->front();
    auto page = jet::DataPage::Open(*store_, page_);
    ASSERT_TRUE(page.ok());
    ASSERT_GE(page->row_count(), 2);
  }

  // Every row the walk reports: its position's raw pointer and its bytes.
  jet::Result<Walked> Walk() {
    Walked rows;
    jet::RowWalker walker(*store_, def_);
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, walker.Next());
      if (!more) return rows;
      rows.emplace_back(walker.position().Raw(),
                        std::vector<std::uint8_t>(walker.row().begin(), walker.row().end()));
    }
  }

  std::size_t EntryAt(std::uint16_t row) const {
    return store_->format().data_row_table_offset + 2 * std::size_t{row};
  }
  std::uint16_t Entry(std::uint16_t row) {
    return jet::ByteReader(*store_->Page(page_)).U16(EntryAt(row));
  }
  void SetEntry(std::uint16_t row, std::uint16_t value) {
    jet::ByteWriter(*store_->MutablePage(page_)).Put16(EntryAt(row), value);
  }
  // Row 0 becomes a moved row whose pointer names row 1, which carries the deleted flag as the
  // target of a move does.
  void MoveRow0ToRow1() {
    const std::size_t start = Entry(0) & jet::kRowOffsetMask;
    jet::ByteWriter page(*store_->MutablePage(page_));
    page.Put32(start, jet::RowPointer{page_, 1}.Raw());
    SetEntry(0, static_cast<std::uint16_t>(Entry(0) | jet::kRowOverflowFlag));
    SetEntry(1, static_cast<std::uint16_t>(Entry(1) | jet::kRowDeletedFlag));
  }

  std::unique_ptr<jet::PageStore> store_;
  jet::TableDef def_;
  std::uint32_t page_ = 0;
};

TEST_F(RowWalk, AMovedRowIsReadAtItsTargetAndReportedAtItsPointer) {
  auto before = Walk();
  ASSERT_TRUE(before.ok()) << before.status().ToString();
  ASSERT_GE(before->size(), 2u);
  ASSERT_EQ((*before)[1].first, (jet::RowPointer{page_, 1}.Raw()));
  MoveRow0ToRow1();
  auto after = Walk();
  ASSERT_TRUE(after.ok()) << after.status().ToString();
  ASSERT_EQ(after->size(), before->size() - 1);
  EXPECT_EQ((*after)[0].first, (jet::RowPointer{page_, 0}.Raw()));
  EXPECT_EQ((*after)[0].second, (*before)[1].second);
  EXPECT_NE((*after)[1].first, (jet::RowPointer{page_, 1}.Raw()));

  // The rebuild reads the same rows: every index of the table is written from them.
  jet::PageAllocator allocator(*store_);
  const jet::Status s = jet::RebuildIndexes(*store_, allocator, def_);
  EXPECT_TRUE(s.ok()) << s.ToString();
}

TEST_F(RowWalk, APointerToADeletedSlotWithoutBytesIsDamageForScanAndRebuild) {
  MoveRow0ToRow1();
  // Row 1 deleted with a start inside the row table: a slot whose bytes are gone.
  SetEntry(1, jet::kRowDeletedFlag);
  auto walked = Walk();
  ASSERT_FALSE(walked.ok());
  EXPECT_EQ(walked.status().code(), jet::ErrorCode::kCorrupt);
  EXPECT_EQ(walked.status().message(), "Beschädigte Datenbank: Verschobene Zeile auf Seite " +
                                           std::to_string(page_) +
                                           " zeigt auf eine ungültige Zeile.");

  jet::PageAllocator allocator(*store_);
  const jet::Status rebuilt = jet::RebuildIndexes(*store_, allocator, def_);
  EXPECT_EQ(rebuilt.code(), walked.status().code());
  EXPECT_EQ(rebuilt.message(), walked.status().message());
}

}  // namespace
