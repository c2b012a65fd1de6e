// Rows re-encoded from their decoded values come out byte for byte as stored, for every live row
// of every table (system tables included) of every Jet 4 test database: the row encoder writes
// what Access and the other writers of these files wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "jet/database/database.h"
#include "jet/file/page_store.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/table/catalog.h"
#include "jet/table/row_reader.h"
#include "jet/table/row_writer.h"
#include "tests/test_support.h"

namespace {

using testing_support::DbFile;

std::string Hex(jet::Bytes b) {
  static const char* kDigits = "0123456789abcdef";
  std::string s;
  for (std::uint8_t x : b) {
    s.push_back(kDigits[x >> 4]);
    s.push_back(kDigits[x & 15]);
  }
  return s;
}

// Access at times ends a compressed text with a switch to two-byte characters that no character
// follows (FF FE ... 00); it means nothing, and the encoder does not write it. True when that is
// the only difference between the two rows.
bool SameFieldsButToggles(const jet::Format& f, const jet::TableDef& t,
                          const std::vector<std::uint8_t>& stored,
                          const std::vector<std::uint8_t>& encoded) {
  jet::RowFields a, b;
  if (!jet::SplitRow(f, t, stored, a).ok() || !jet::SplitRow(f, t, encoded, b).ok()) return false;
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const jet::FieldSlot& x = a.fields[i];
    const jet::FieldSlot& y = b.fields[i];
    if (x.bit != y.bit || x.stored != y.stored) return false;
    if (std::equal(x.data.begin(), x.data.end(), y.data.begin(), y.data.end())) continue;
    const bool trailing_toggle = t.columns[i].type() == jet::ColumnType::kText &&
                                 x.data.size() == y.data.size() + 1 && x.data.size() > 2 &&
                                 x.data[0] == 0xFF && x.data[1] == 0xFE && x.data.back() == 0 &&
                                 std::equal(y.data.begin(), y.data.end(), x.data.begin());
    if (!trailing_toggle) return false;
  }
  return true;
}

struct Counts {
  int rows = 0;
  int mismatches = 0;
};

void CheckTable(const jet::Database& db, const jet::TableDef& t, Counts& counts) {
  const jet::PageStore& store = db.pages();
  auto pages = jet::ReadUsageMap(store, t.usage_map);
  ASSERT_TRUE(pages.ok()) << pages.status().ToString();
  for (std::uint32_t p : *pages) {
    auto page = jet::DataPage::Open(store, p);
    ASSERT_TRUE(page.ok()) << page.status().ToString();
    for (std::uint16_t r = 0; r < page->row_count(); ++r) {
      auto slot = page->Row(r);
      ASSERT_TRUE(slot.ok()) << slot.status().ToString();
      if (slot->deleted || slot->overflow) continue;
      jet::RowFields fields;
      ASSERT_TRUE(jet::SplitRow(store.format(), t, slot->data, fields).ok());
      std::vector<jet::Value> values;
      ASSERT_TRUE(jet::DecodeRow(store, t, slot->data, values).ok());
      std::vector<jet::ByteString> long_fields(t.columns.size());
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        if (t.columns[i].long_value() && fields.fields[i].stored) {
          long_fields[i].assign(fields.fields[i].data.begin(), fields.fields[i].data.end());
        }
      }
      // Rows written before columns were added keep their shorter layout; new rows get the
      // table's whole layout, so only rows of the current layout can come out the same.
      if (fields.row_columns != t.max_cols) continue;
      auto encoded = jet::EncodeRow(store.format(), t, values, long_fields);
      ++counts.rows;
      // The fixed bytes of a Null column carry no meaning (writers leave whatever was there);
      // the encoder writes zeros, so compare them as zeros.
      std::vector<std::uint8_t> stored(slot->data.begin(), slot->data.end());
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const jet::Column& c = t.columns[i];
        if (!c.fixed() || c.type() == jet::ColumnType::kBoolean || fields.fields[i].bit) continue;
        const std::size_t at = store.format().row_count_size + c.fixed_offset;
        for (std::size_t k = 0; k < jet::FixedSize(c) && at + k < stored.size(); ++k) {
          stored[at + k] = 0;
        }
      }
      if (encoded.ok() && *encoded != stored &&
          SameFieldsButToggles(store.format(), t, stored, *encoded)) {
        continue;
      }
      if (!encoded.ok() || *encoded != stored) {
        if (++counts.mismatches <= 5) {
          ADD_FAILURE() << t.name << " page " << p << " row " << r << "\n stored  " << Hex(stored)
                        << "\n encoded "
                        << (encoded.ok() ? Hex(*encoded) : encoded.status().ToString());
        }
      }
    }
  }
}

class RowCodec : public ::testing::TestWithParam<DbFile> {};

TEST_P(RowCodec, ReencodesEveryRowAsStored) {
  const DbFile& file = GetParam();
  auto db = jet::Database::Open(file.path.string(), {.password = file.password});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  if ((*db)->version() != jet::JetVersion::kJet4) GTEST_SKIP() << "Jet 3 files are only read";
  Counts counts;
  for (const jet::CatalogEntry& e : (*db)->catalog()) {
    if (!e.is_table()) continue;
    auto t = (*db)->GetTable(e.name);
    ASSERT_TRUE(t.ok()) << t.status().ToString();
    // Deleted columns leave their data in older rows; the encoder only knows live columns.
    if ((*t)->columns.size() != (*t)->max_cols) continue;
    CheckTable(**db, **t, counts);
  }
  EXPECT_EQ(counts.mismatches, 0) << "of " << counts.rows << " rows";
}

std::vector<DbFile> AllDatabases() {
  std::vector<DbFile> all = testing_support::ProjectDatabases();
  for (DbFile& f : testing_support::AccessMadeDatabases()) all.push_back(f);
  return all;
}

INSTANTIATE_TEST_SUITE_P(AllFiles, RowCodec, ::testing::ValuesIn(AllDatabases()),
                         [](const auto& p) { return p.param.TestName(); });

}  // namespace
