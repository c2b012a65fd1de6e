// Physical indexes. Every index of every test database is walked in key order and held against
// its table: one entry per live row (rows without any key value left out where the index ignores
// Nulls), entries in order, and the key our encoder builds from each row's values equal to the
// stored key byte for byte. The equality look-up is checked against the walk. Hand-built and
// damaged index pages must decode to their entries or to a corruption error, and the key
// encoding must sort like the values it encodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "jet/database/database.h"
#include "jet/file/file_source.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"
#include "jet/index/index_reader.h"
#include "jet/table/catalog.h"
#include "jet/table/row_writer.h"
#include "jet/table/table_scan.h"
#include "jet/text/text_codec.h"
#include "jet/text/text_sort_key.h"
#include "jet/text/text_sort_tables.h"
#include "jet/text/unicode.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace {

using jet::ByteString;
using testing_support::DbFile;

std::string Hex(const ByteString& b) {
  std::string s;
  char buf[4];
  for (std::uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02X ", x);
    s += buf;
  }
  return s;
}

// The project's databases and the Access-made ones; an empty entry stands for a missing folder.
std::vector<DbFile> Databases() {
  std::vector<DbFile> all = testing_support::ProjectDatabases();
  std::vector<DbFile> made = testing_support::AccessMadeDatabases();
  if (made.empty()) made.push_back(DbFile{});
  all.insert(all.end(), made.begin(), made.end());
  return all;
}

struct Row {
  jet::RowPointer at;
  std::vector<jet::Value> values;
};

const jet::SortCodeTable& CodesOf(jet::TextSortOrder order) {
  switch (order) {
    case jet::TextSortOrder::kGeneralLegacy:
      return jet::kGeneralLegacyCodes;
    case jet::TextSortOrder::kGeneral:
      return jet::kGeneralCodes;
    case jet::TextSortOrder::kGeneral97:
      break;
  }
  return jet::kGeneral97Codes;
}

// Whether some character of the text has no sort code: what the encoder must refuse. In the Jet 4
// orders every code unit has one; a code point past U+FFFF enters as two of them.
bool HasUncoveredCharacter(const std::string& text, jet::TextSortOrder order) {
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = jet::NextCodePoint(text, pos);
    const int unit = order == jet::TextSortOrder::kGeneral97 ? jet::CodePageByte(cp)
                     : cp > 0xFFFF                           ? 0xD800
                                                             : static_cast<int>(cp);
    if (unit < 0 ||
        jet::FindSortCode(CodesOf(order), static_cast<std::uint16_t>(unit)) == nullptr) {
      return true;
    }
  }
  return false;
}

class IndexesOf : public testing::TestWithParam<DbFile> {
 protected:
  void SetUp() override {
    testing_support::SkipWithoutDatabase(GetParam());
    if (IsSkipped()) return;
    auto db = jet::Database::Open(GetParam().path.string(), {.password = GetParam().password});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
    for (const jet::CatalogEntry& e : db_->catalog()) {
      if (!e.is_table()) continue;
      auto table = db_->GetTable(e.name);
      ASSERT_TRUE(table.ok()) << table.status().ToString();
      tables_.push_back(*table);
    }
  }

  std::vector<Row> Rows(const jet::TableDef& table) const {
    std::vector<Row> rows;
    jet::TableScan scan(*db_, table);
    while (true) {
      auto more = scan.Next();
      EXPECT_TRUE(more.ok()) << table.name << ": " << more.status().ToString();
      if (!more.ok() || !*more) break;
      rows.push_back({scan.position(), scan.values()});
    }
    return rows;
  }

  std::vector<jet::IndexEntry> Walk(const jet::TableDef& table, const jet::RealIndex& index) const {
    return testing_support::EntriesOf(db_->pages(), table, index);
  }

  std::unique_ptr<jet::Database> db_;
  std::vector<std::shared_ptr<const jet::TableDef>> tables_;
};

TEST_P(IndexesOf, EveryEntryStandsForALiveRowAndHoldsTheKeyOfItsValues) {
  std::size_t indexes = 0, verified = 0, unsupported = 0;
  for (const auto& table : tables_) {
    const std::vector<Row> rows = Rows(*table);
    std::set<std::uint32_t> live;
    for (const Row& r : rows) live.insert(r.at.Raw());
    for (const jet::RealIndex& index : table->real_indexes) {
      SCOPED_TRACE(table->name + ", index " + std::to_string(index.number));
      ++indexes;
      const std::vector<jet::IndexEntry> entries = Walk(*table, index);
      auto tree = jet::CheckIndexTree(db_->pages(), *table, index);
      ASSERT_TRUE(tree.ok()) << tree.status().ToString();
      EXPECT_EQ(tree->entries, entries.size());

      // (c) Keys never decrease; (b) every entry names a live row, no row twice.
      std::map<std::uint32_t, const ByteString*> key_of;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) {
          EXPECT_LE(jet::CompareKeys(entries[i - 1].key, entries[i].key), 0) << i;
        }
        const std::uint32_t at = entries[i].row.Raw();
        EXPECT_TRUE(live.count(at)) << "entry " << i << " names no live row";
        EXPECT_TRUE(key_of.emplace(at, &entries[i].key).second) << "row named twice";
      }

      // (a) One entry per row, less the rows an index that ignores Nulls leaves out.
      std::size_t left_out = 0;
      for (const Row& r : rows) {
        if (index.ignore_nulls() && jet::AllKeyColumnsNull(*table, index, r.values)) ++left_out;
      }
      EXPECT_EQ(entries.size(), rows.size() - left_out);

      // (d) The key of every row's values is the stored key.
      for (const Row& r : rows) {
        const auto stored = key_of.find(r.at.Raw());
        if (index.ignore_nulls() && jet::AllKeyColumnsNull(*table, index, r.values)) {
          EXPECT_EQ(stored, key_of.end()) << "row without key values has an entry";
          continue;
        }
        if (stored == key_of.end()) continue;  // reported by (a)
        auto key = jet::EncodeIndexKey(*table, index, r.values, db_->header());
        // The text values of the key's columns, for the two cases below.
        std::vector<std::pair<std::string, jet::TextSortOrder>> texts;
        bool binary = false;  // Binary keys (in Access's own system tables) are not built
        for (const jet::IndexColumn& ic : index.columns) {
          for (std::size_t i = 0; i < table->columns.size(); ++i) {
            const jet::Column& c = table->columns[i];
            if (c.number == ic.column_number && c.type() == jet::ColumnType::kBinary) binary = true;
            if (c.number != ic.column_number || !r.values[i].is<std::string>()) continue;
            auto order = jet::TextSortOrderOf(c, db_->header());
            ASSERT_TRUE(order.ok()) << order.status().ToString();
            texts.emplace_back(r.values[i].as<std::string>(), *order);
          }
        }
        if (!key.ok() && binary) {
          EXPECT_EQ(key.status().code(), jet::ErrorCode::kNotSupported) << key.status().ToString();
          continue;
        }
        if (!key.ok()) {
          EXPECT_EQ(key.status().code(), jet::ErrorCode::kNotSupported) << key.status().ToString();
          EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const auto& t) {
            return HasUncoveredCharacter(t.first, t.second);
          })) << key.status().ToString();
          ++unsupported;
          continue;
        }
        if (*key == *stored->second) {
          ++verified;
          continue;
        }
        ADD_FAILURE() << "row " << r.at.page << ":" << int{r.at.row} << "\n  stored  "
                      << Hex(*stored->second) << "\n  encoded " << Hex(*key);
      }
    }
  }
  EXPECT_EQ(unsupported, 0u) << "every text in the test databases is covered by the tables";
  RecordProperty("indexes", static_cast<int>(indexes));
  RecordProperty("keys_equal", static_cast<int>(verified));
  std::printf("%s: %zu indexes, %zu keys equal byte for byte\n", GetParam().path.filename().c_str(),
              indexes, verified);
}

TEST_P(IndexesOf, EqualityLookUpFindsExactlyTheRowsOfAKey) {
  for (const auto& table : tables_) {
    for (const jet::RealIndex& index : table->real_indexes) {
      SCOPED_TRACE(table->name + ", index " + std::to_string(index.number));
      const std::vector<jet::IndexEntry> entries = Walk(*table, index);
      std::map<ByteString, std::vector<std::uint32_t>> rows_of;
      for (const jet::IndexEntry& e : entries) rows_of[e.key].push_back(e.row.Raw());
      // Every key of small indexes; a spread of keys of the large ones.
      const std::size_t stride = std::max<std::size_t>(1, rows_of.size() / 400);
      std::size_t n = 0;
      for (const auto& [key, rows] : rows_of) {
        if (n++ % stride != 0 && n != rows_of.size()) continue;
        // The key itself, and keys just below and above it that the index does not hold.
        ByteString above = key;
        above.push_back(0xFF);
        ByteString below(key.begin(), key.end() - 1);
        const ByteString* probes[] = {&key, &above, &below};
        for (const ByteString* probe : probes) {
          auto found = jet::FindEqual(db_->pages(), *table, index, *probe);
          ASSERT_TRUE(found.ok()) << found.status().ToString();
          std::vector<std::uint32_t> got;
          for (const jet::RowPointer& p : *found) got.push_back(p.Raw());
          const auto want = rows_of.find(*probe);
          EXPECT_EQ(got, want == rows_of.end() ? std::vector<std::uint32_t>{} : want->second)
              << Hex(*probe);
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, IndexesOf, testing::ValuesIn(Databases()),
                         [](const testing::TestParamInfo<DbFile>& p) {
                           return p.param.path.empty() ? std::string("AccessMadeMissing")
                                                       : p.param.TestName();
                         });

// ---- Index pages built by hand, intact and damaged ----

void Put(ByteString& page, std::size_t at, std::uint32_t v, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) page[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// An index page as index_page.h describes it; every entry must start with the first entry's
// first `prefix` bytes.
ByteString BuildPage(jet::JetVersion version, bool leaf,
                     const std::vector<jet::IndexEntry>& entries, std::size_t prefix,
                     std::uint32_t tail = 0) {
  const jet::IndexPageLayout& l = jet::IndexPageLayoutFor(version);
  ByteString page(jet::FormatFor(version).page_size, 0);
  page[0] = leaf ? 0x04 : 0x03;
  page[1] = 0x01;
  Put(page, jet::kIndexPageOwnerOffset, 99, 4);
  Put(page, l.prev_page, 7, 4);
  Put(page, l.next_page, 8, 4);
  Put(page, l.child_tail, tail, 4);
  Put(page, l.prefix_length, static_cast<std::uint32_t>(prefix), l.prefix_length_size);
  std::size_t pos = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const jet::IndexEntry& e = entries[i];
    ByteString full = e.key;
    const std::uint32_t trailer[] = {e.row.page >> 16, e.row.page >> 8, e.row.page, e.row.row};
    for (std::uint32_t b : trailer) full.push_back(static_cast<std::uint8_t>(b));
    for (int s = 24; !leaf && s >= 0; s -= 8)
      full.push_back(static_cast<std::uint8_t>(e.child >> s));
    const std::size_t skip = i == 0 ? 0 : prefix;
    std::copy(full.begin() + static_cast<std::ptrdiff_t>(skip), full.end(),
              page.begin() + static_cast<std::ptrdiff_t>(l.entries + pos));
    pos += full.size() - skip;
    page[l.bitmap + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
  }
  Put(page, jet::kIndexPageFreeSpaceOffset,
      static_cast<std::uint32_t>(page.size() - l.entries - pos), 2);
  return page;
}

TEST(IndexKey, NumbersFromTheirStoredBytesGiveTheKeysOfTheirValues) {
  // The index rebuild takes numbers straight from the row; the keys must be those of the values.
  std::mt19937_64 rng(3);
  auto bits = [&] { return rng(); };
  const jet::Header header;
  for (const jet::ColumnType type :
       {jet::ColumnType::kByte, jet::ColumnType::kInteger, jet::ColumnType::kLong,
        jet::ColumnType::kCurrency, jet::ColumnType::kSingle, jet::ColumnType::kDouble,
        jet::ColumnType::kDateTime}) {
    jet::Column c;
    c.name = "n";
    c.type_code = static_cast<std::uint8_t>(type);
    c.flags = jet::kColumnFixed;
    std::vector<jet::Value> values;
    for (int i = 0; i < 300; ++i) {
      const std::uint64_t b = i < 4 ? std::uint64_t{0} - (i % 2) : bits();
      switch (type) {
        case jet::ColumnType::kByte:
          values.emplace_back(static_cast<std::uint8_t>(b));
          break;
        case jet::ColumnType::kInteger:
          values.emplace_back(static_cast<std::int16_t>(b));
          break;
        case jet::ColumnType::kLong:
          values.emplace_back(static_cast<std::int32_t>(b));
          break;
        case jet::ColumnType::kCurrency:
          values.emplace_back(jet::Currency{static_cast<std::int64_t>(b)});
          break;
        case jet::ColumnType::kSingle:
          values.emplace_back(static_cast<float>(static_cast<std::int32_t>(b)) / 977.0f);
          break;
        case jet::ColumnType::kDouble:
          values.emplace_back(static_cast<double>(static_cast<std::int64_t>(b)) / 1e9);
          break;
        default:
          values.emplace_back(
              jet::DateTime{static_cast<double>(static_cast<std::int32_t>(b)) / 7.0});
      }
    }
    for (const jet::Value& v : values) {
      auto stored = jet::EncodeColumnData(c, v);
      ASSERT_TRUE(stored.ok()) << stored.status().ToString();
      for (const bool ascending : {true, false}) {
        jet::ByteString from_value, from_bytes;
        ASSERT_TRUE(jet::AppendKeyColumn(c, ascending, v, header, from_value).ok());
        ASSERT_TRUE(jet::AppendStoredNumberKey(c, ascending, *stored, from_bytes));
        EXPECT_EQ(Hex(from_bytes), Hex(from_value)) << jet::ColumnTypeName(type);
      }
    }
  }
  jet::Column text;
  text.type_code = static_cast<std::uint8_t>(jet::ColumnType::kText);
  jet::ByteString untouched;
  EXPECT_FALSE(jet::AppendStoredNumberKey(text, true, jet::Bytes(), untouched));
  EXPECT_TRUE(untouched.empty());
}

std::vector<jet::IndexEntry> SampleEntries(bool leaf) {
  std::vector<jet::IndexEntry> entries;
  for (std::uint32_t i = 0; i < 40; ++i) {
    // Keys of a Long column: 7F 80 00 00 i; up to 4 bytes are shared.
    entries.push_back({{0x7F, 0x80, 0x00, 0x00, static_cast<std::uint8_t>(i)},
                       {0x012345 + i, static_cast<std::uint8_t>(i)},
                       leaf ? 0u : 1000 + i});
  }
  return entries;
}

void ExpectSameEntries(const std::vector<jet::IndexEntry>& got,
                       const std::vector<jet::IndexEntry>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(Hex(got[i].key), Hex(want[i].key)) << i;
    EXPECT_EQ(got[i].row.Raw(), want[i].row.Raw()) << i;
    EXPECT_EQ(got[i].child, want[i].child) << i;
  }
}

TEST(IndexPage, HandBuiltPagesOfBothVersionsDecodeToTheirEntries) {
  for (jet::JetVersion v : {jet::JetVersion::kJet3, jet::JetVersion::kJet4}) {
    for (bool leaf : {true, false}) {
      for (std::size_t prefix : {0, 3, 4}) {
        const auto entries = SampleEntries(leaf);
        const ByteString page = BuildPage(v, leaf, entries, prefix, leaf ? 0 : 555);
        auto p = jet::DecodeIndexPage(v, 12, page);
        ASSERT_TRUE(p.ok()) << p.status().ToString();
        EXPECT_EQ(p->leaf, leaf);
        EXPECT_EQ(p->owner, 99u);
        EXPECT_EQ(p->prev_page, 7u);
        EXPECT_EQ(p->next_page, 8u);
        EXPECT_EQ(p->child_tail, leaf ? 0u : 555u);
        EXPECT_EQ(p->prefix_length, prefix);
        ExpectSameEntries(p->entries, entries);
      }
    }
  }
}

TEST(IndexPage, DamagedPagesAreCorruptNamingThePage) {
  const auto v = jet::JetVersion::kJet4;
  const jet::IndexPageLayout& l = jet::IndexPageLayoutFor(v);
  const ByteString good = BuildPage(v, true, SampleEntries(true), 3);
  auto expect_corrupt = [&](const ByteString& page, const char* fragment) {
    auto p = jet::DecodeIndexPage(v, 12, page);
    ASSERT_FALSE(p.ok()) << fragment;
    EXPECT_EQ(p.status().code(), jet::ErrorCode::kCorrupt);
    EXPECT_NE(p.status().message().find("Indexseite 12"), std::string::npos)
        << p.status().message();
    EXPECT_NE(p.status().message().find(fragment), std::string::npos) << p.status().message();
  };
  ByteString page = good;
  page[0] = 0x01;
  expect_corrupt(page, "keine Indexseite");
  page = good;
  page[l.bitmap + l.bitmap_size - 1] |= 0x80;  // an end past the page
  expect_corrupt(page, "hinter dem Seitenende");
  page = BuildPage(v, true, SampleEntries(true), 0);
  page[l.bitmap] |= 0x02;  // a first entry of one byte, too short for its row pointer
  expect_corrupt(page, "Eintrag von nur 1 Bytes");
  page = good;
  Put(page, l.prefix_length, 200, 2);  // more shared bytes than the first entry has
  expect_corrupt(page, "teilt 200 Bytes");
  page = good;
  Put(page, jet::kIndexPageFreeSpaceOffset, 1000, 2);
  expect_corrupt(page, "freie Bytes");
  page = good;
  Put(page, l.child_tail, 5, 4);
  expect_corrupt(page, "Blatt, nennt aber eine Endseite");
  page = BuildPage(v, true, {}, 0);
  Put(page, l.prefix_length, 2, 2);
  expect_corrupt(page, "keine Einträge, aber eine Präfixlänge");
  page = BuildPage(v, false, SampleEntries(false), 0);  // an 8-byte entry cannot hold a child too
  page[l.bitmap] = 0;
  page[l.bitmap + 1] = 0x01;
  expect_corrupt(page, "Eintrag von nur");
  auto short_page = jet::DecodeIndexPage(v, 12, jet::Bytes(good.data(), 100));
  EXPECT_EQ(short_page.status().code(), jet::ErrorCode::kCorrupt);
}

TEST(IndexPage, RandomDamageToRealPagesIsCorruptOrDecodes) {
  const auto bytes = testing_support::ReadFileBytes(testing_support::Fixture("source.mdb"));
  std::mt19937 rng(20240611);
  std::size_t pages = 0, corrupt = 0;
  for (std::size_t at = 4096; at + 4096 <= bytes.size(); at += 4096) {
    if (bytes[at] != 0x03 && bytes[at] != 0x04) continue;
    ++pages;
    for (int round = 0; round < 300; ++round) {
      ByteString page(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at + 4096));
      // Damage the header and bitmap mostly, the entries sometimes.
      const int hits = 1 + static_cast<int>(rng() % 4);
      for (int h = 0; h < hits; ++h) {
        const std::size_t limit = rng() % 4 == 0 ? page.size() : 0x1E0;
        page[rng() % limit] = static_cast<std::uint8_t>(rng());
      }
      auto p = jet::DecodeIndexPage(jet::JetVersion::kJet4, 1, page);
      if (!p.ok()) {
        EXPECT_EQ(p.status().code(), jet::ErrorCode::kCorrupt);
        ++corrupt;
      }
    }
  }
  EXPECT_GE(pages, 10u);
  EXPECT_GT(corrupt, 0u);
}

// source.mdb with some bytes of one page changed, opened from memory.
class DamagedTree : public testing::Test {
 protected:
  void SetUp() override {
    bytes_ = testing_support::ReadFileBytes(testing_support::Fixture("source.mdb"));
    auto db = Open();
    auto table = db->GetTable("ArtikelStamm");
    ASSERT_TRUE(table.ok());
    // Index 1 (Gruppe) is a root intermediate page over two leaves.
    index_ = (*table)->real_indexes.at(1);
    auto root = jet::ReadIndexPage(db->pages(), index_.first_page);
    ASSERT_TRUE(root.ok());
    ASSERT_FALSE(root->leaf);
    root_ = *root;
  }

  std::unique_ptr<jet::Database> Open() const {
    jet::MemoryFile file(bytes_);
    auto db = jet::Database::Open(file);
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    return db.ok() ? std::move(*db) : nullptr;
  }

  void Set32(std::uint32_t page, std::size_t offset, std::uint32_t v, bool big_endian = false) {
    for (std::size_t i = 0; i < 4; ++i) {
      const std::size_t shift = big_endian ? 8 * (3 - i) : 8 * i;
      bytes_[std::size_t{page} * 4096 + offset + i] = static_cast<std::uint8_t>(v >> shift);
    }
  }

  // Where the root's first entry ends, as an offset into the page: it is stored whole at the start
  // of the entry area, and the bitmap's first bit marks its end.
  std::size_t RootFirstEntryEnd() const {
    const std::size_t bitmap = std::size_t{index_.first_page} * 4096 + jet::kJet4IndexPage.bitmap;
    std::size_t end = 1;
    while (!(bytes_[bitmap + end / 8] & (1u << (end % 8)))) ++end;
    return jet::kJet4IndexPage.entries + end;
  }

  // The first error of a walk, a look-up of every key and the tree check.
  std::vector<jet::Status> Read() const {
    std::vector<jet::Status> errors;
    auto db = Open();
    auto table = db->GetTable("ArtikelStamm");
    const jet::RealIndex& index = (*table)->real_indexes.at(1);
    jet::IndexCursor cursor(db->pages(), **table, index);
    while (true) {
      auto more = cursor.Next();
      if (!more.ok()) errors.push_back(more.status());
      if (!more.ok() || !*more) break;
      auto found = jet::FindEqual(db->pages(), **table, index, cursor.entry().key);
      if (!found.ok()) errors.push_back(found.status());
    }
    auto tree = jet::CheckIndexTree(db->pages(), **table, index);
    if (!tree.ok()) errors.push_back(tree.status());
    for (const jet::Status& s : errors) EXPECT_EQ(s.code(), jet::ErrorCode::kCorrupt);
    return errors;
  }

  std::vector<std::uint8_t> bytes_;
  jet::RealIndex index_;
  jet::IndexPage root_;
};

TEST_F(DamagedTree, IntactTreeReadsWithoutErrors) { EXPECT_TRUE(Read().empty()); }

TEST_F(DamagedTree, LeafChainThatLoopsIsCorrupt) {
  const std::uint32_t first_leaf = root_.entries.front().child;
  Set32(first_leaf, jet::kJet4IndexPage.next_page, first_leaf);
  EXPECT_FALSE(Read().empty());
}

TEST_F(DamagedTree, PageOfAnotherTableIsCorrupt) {
  Set32(root_.entries.front().child, jet::kIndexPageOwnerOffset, 2);
  const auto errors = Read();
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors.front().message().find("gehört zur Tabelle auf Seite 2"), std::string::npos);
}

TEST_F(DamagedTree, ChildPointerToADataPageOrBackToTheRootIsCorrupt) {
  const std::size_t child_at = RootFirstEntryEnd() - 4;  // the child: the entry's last 4 bytes
  const std::vector<std::uint8_t> intact = bytes_;
  for (std::uint32_t target : {std::uint32_t{1}, index_.first_page}) {
    bytes_ = intact;
    Set32(index_.first_page, child_at, target, /*big_endian=*/true);
    auto root = jet::DecodeIndexPage(
        jet::JetVersion::kJet4, index_.first_page,
        jet::Bytes(bytes_.data() + std::size_t{index_.first_page} * 4096, 4096));
    ASSERT_TRUE(root.ok()) << root.status().ToString();
    ASSERT_EQ(root->entries.front().child, target);
    EXPECT_FALSE(Read().empty()) << target;
  }
}

TEST_F(DamagedTree, IntermediateEntryThatDiffersFromItsChildsLastEntryIsCorrupt) {
  // The row number of the root's first entry (before the child page number): the walk along the
  // leaves does not see it, the tree check must.
  bytes_[std::size_t{index_.first_page} * 4096 + RootFirstEntryEnd() - 5] ^= 0x01;
  const auto errors = Read();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors.front().message().find("gleicht nicht dem letzten Eintrag"), std::string::npos)
      << errors.front().message();
}

// ---- Properties of the key encoding ----

jet::Column MakeColumn(jet::ColumnType type) {
  jet::Column c;
  c.name = "c";
  c.type_code = static_cast<std::uint8_t>(type);
  c.sort_order = jet::kGeneralSortOrder;
  return c;
}

jet::Header Jet4Header() {
  jet::Header h;
  h.version = jet::JetVersion::kJet4;
  h.sort_order = {jet::kGeneralSortOrder, 0};
  return h;
}

ByteString Key(jet::ColumnType type, const jet::Value& v, bool ascending,
               const jet::Header& header = Jet4Header()) {
  ByteString key;
  const jet::Status s = jet::AppendKeyColumn(MakeColumn(type), ascending, v, header, key);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return key;
}

TEST(IndexKey, FlagBytesAndNumbersAsDocumented) {
  using T = jet::ColumnType;
  EXPECT_EQ(Hex(Key(T::kLong, std::int32_t{1}, true)), "7F 80 00 00 01 ");
  EXPECT_EQ(Hex(Key(T::kLong, std::int32_t{1}, false)), "80 7F FF FF FE ");
  EXPECT_EQ(Hex(Key(T::kLong, std::int32_t{-2}, true)), "7F 7F FF FF FE ");
  EXPECT_EQ(Hex(Key(T::kLong, jet::Value::Null(), true)), "00 ");
  EXPECT_EQ(Hex(Key(T::kLong, jet::Value::Null(), false)), "FF ");
  EXPECT_EQ(Hex(Key(T::kByte, std::uint8_t{0x12}, false)), "80 ED ");
  EXPECT_EQ(Hex(Key(T::kBoolean, true, true)), "7F 00 ");
  EXPECT_EQ(Hex(Key(T::kBoolean, false, false)), "80 00 ");
  EXPECT_EQ(Hex(Key(T::kDouble, 1.0, true)), "7F BF F0 00 00 00 00 00 00 ");
  EXPECT_EQ(Hex(Key(T::kDouble, -1.0, true)), "7F 40 0F FF FF FF FF FF FF ");
  jet::Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(Hex(Key(T::kGuid, g, true)),
            "7F 03 02 01 00 05 04 07 06 09 08 09 0A 0B 0C 0D 0E 0F 08 ");
  EXPECT_EQ(Hex(Key(T::kGuid, g, false)),
            "80 FC FD FE FF FA FB F8 F9 09 F7 F6 F5 F4 F3 F2 F1 F0 F7 ");
  ByteString key;
  EXPECT_EQ(
      jet::AppendKeyColumn(MakeColumn(T::kOle), true, jet::ByteString{1}, Jet4Header(), key).code(),
      jet::ErrorCode::kNotSupported);
  EXPECT_EQ(jet::AppendKeyColumn(MakeColumn(T::kLong), true, 1.5, Jet4Header(), key).code(),
            jet::ErrorCode::kInvalidValue);
}

// Decimal keys: a sign byte and the magnitude big-endian; ascending keys sort like the values.
// Descending keys keep the order Access 2000-2003 files have (positive values still after
// negative ones), which a writer must reproduce rather than correct.
TEST(IndexKey, DecimalsSortLikeTheirValuesAscending) {
  using T = jet::ColumnType;
  auto dec = [](bool negative, std::uint64_t magnitude) {
    jet::Decimal d;
    d.negative = negative;
    d.precision = 18;
    d.scale = 2;
    d.low = magnitude;
    return jet::Value(d);
  };
  EXPECT_EQ(Hex(Key(T::kDecimal, dec(false, 1), true)),
            "7F FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 ");
  EXPECT_EQ(Hex(Key(T::kDecimal, dec(true, 1), true)),
            "7F 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FE ");
  EXPECT_EQ(Hex(Key(T::kDecimal, dec(false, 1), false)),
            "80 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FE ");
  EXPECT_EQ(Hex(Key(T::kDecimal, dec(true, 1), false)),
            "80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 ");
  const std::vector<jet::Value> ascending = {dec(true, 550),   dec(true, 1),  dec(false, 0),
                                             dec(true, 0),     dec(false, 1), dec(false, 550),
                                             dec(false, 10000)};
  for (std::size_t i = 1; i < ascending.size(); ++i) {
    EXPECT_LE(Key(T::kDecimal, ascending[i - 1], true), Key(T::kDecimal, ascending[i], true)) << i;
  }
  // Zero is one key, whatever its sign bit says.
  EXPECT_EQ(Key(T::kDecimal, dec(true, 0), true), Key(T::kDecimal, dec(false, 0), true));
}

// Keys of ascending columns sort like the values, keys of descending columns the other way round.
template <typename T>
void ExpectKeysSortLikeValues(jet::ColumnType type, std::vector<T> values) {
  std::sort(values.begin(), values.end());
  for (std::size_t i = 1; i < values.size(); ++i) {
    const int asc = jet::CompareKeys(Key(type, values[i - 1], true), Key(type, values[i], true));
    const int desc = jet::CompareKeys(Key(type, values[i - 1], false), Key(type, values[i], false));
    const int want = values[i - 1] < values[i] ? -1 : 0;
    EXPECT_EQ(asc, want) << i;
    EXPECT_EQ(desc, -want) << i;
  }
}

TEST(IndexKey, NumbersSortLikeTheirValues) {
  std::mt19937_64 rng(7);
  std::vector<double> doubles = {
      0.0,   1.0,    -1.0, 1e-300, -1e-300,
      1e300, -1e300, 0.5,  -0.5,   std::numeric_limits<double>::infinity()};
  std::vector<float> floats = {0.0f, 1.0f, -1.0f, 3.4e38f, -3.4e38f, 1e-40f, -1e-40f};
  std::vector<std::int32_t> longs = {0, 1, -1, INT32_MIN, INT32_MAX};
  std::vector<std::int16_t> ints = {0, 1, -1, INT16_MIN, INT16_MAX};
  for (int i = 0; i < 300; ++i) {
    const std::uint64_t bits = rng();
    const double d = std::bit_cast<double>(bits);
    if (std::isfinite(d)) doubles.push_back(d);
    doubles.push_back(static_cast<double>(static_cast<std::int64_t>(bits) >> 20) / 1000.0);
    const float f = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
    if (std::isfinite(f)) floats.push_back(f);
    longs.push_back(static_cast<std::int32_t>(bits));
    ints.push_back(static_cast<std::int16_t>(bits >> 7));
  }
  ExpectKeysSortLikeValues(jet::ColumnType::kDouble, doubles);
  ExpectKeysSortLikeValues(jet::ColumnType::kSingle, floats);
  ExpectKeysSortLikeValues(jet::ColumnType::kLong, longs);
  ExpectKeysSortLikeValues(jet::ColumnType::kInteger, ints);
}

ByteString TextKey(const std::string& text, jet::TextSortOrder order, bool ascending = true) {
  ByteString key;
  const jet::Status s = jet::AppendTextKey(text, order, ascending, key);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return key;
}

TEST(TextKey, GeneralOrdersFoldCaseAndWeighAccentsBelowLetters) {
  for (auto order : {jet::TextSortOrder::kGeneralLegacy, jet::TextSortOrder::kGeneral,
                     jet::TextSortOrder::kGeneral97}) {
    SCOPED_TRACE(static_cast<int>(order));
    EXPECT_EQ(TextKey("MÜLLER", order), TextKey("müller", order));
    const std::vector<std::string> sorted = {"Maler", "Mäler", "Malerin", "Mumm", "Zander"};
    for (std::size_t i = 1; i < sorted.size(); ++i) {
      EXPECT_LT(jet::CompareKeys(TextKey(sorted[i - 1], order), TextKey(sorted[i], order)), 0)
          << sorted[i];
      EXPECT_GT(
          jet::CompareKeys(TextKey(sorted[i - 1], order, false), TextKey(sorted[i], order, false)),
          0)
          << sorted[i];
    }
  }
  // Access 2000-2007 keys ß as ss.
  EXPECT_EQ(TextKey("Straße", jet::TextSortOrder::kGeneralLegacy),
            TextKey("Strasse", jet::TextSortOrder::kGeneralLegacy));
  EXPECT_EQ(Hex(TextKey("a", jet::TextSortOrder::kGeneralLegacy)), "4A 01 00 ");
  EXPECT_EQ(Hex(TextKey("a", jet::TextSortOrder::kGeneralLegacy, false)), "B5 FE FF 00 ");
  EXPECT_EQ(Hex(TextKey("a", jet::TextSortOrder::kGeneral97)), "60 00 ");
}

TEST(TextKey, OnlyTheFirst255CharactersCount) {
  const auto order = jet::TextSortOrder::kGeneralLegacy;
  EXPECT_EQ(TextKey(std::string(300, 'x'), order), TextKey(std::string(255, 'x'), order));
  EXPECT_NE(TextKey(std::string(254, 'x'), order), TextKey(std::string(255, 'x'), order));
}

TEST(TextKey, OnlyJet3RefusesCharactersAndLeavesTheKeyAlone) {
  // Jet 3 keys Windows-1252 bytes; a Jet 3 text cannot hold Cyrillic.
  ByteString key = {0x7F};
  const jet::Status s = jet::AppendTextKey("\xD0\x96", jet::TextSortOrder::kGeneral97, true, key);
  EXPECT_EQ(s.code(), jet::ErrorCode::kNotSupported);
  EXPECT_NE(s.message().find("U+0416"), std::string::npos) << s.message();
  EXPECT_EQ(key, ByteString{0x7F});
  EXPECT_TRUE(HasUncoveredCharacter("\xD0\x96", jet::TextSortOrder::kGeneral97));
}

TEST(TextKey, EveryWindows1252CharacterHasACodeInEveryOrder) {
  for (const jet::SortCodeTable* t :
       {&jet::kGeneralLegacyCodes, &jet::kGeneralCodes, &jet::kGeneral97Codes}) {
    EXPECT_EQ(t->runs[0].first, 0);
    for (std::size_t i = 1; i < t->count; ++i) EXPECT_LT(t->runs[i - 1].first, t->runs[i].first);
  }
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t byte = static_cast<std::uint8_t>(b);
    const std::string text = jet::DecodeCodePage(jet::Bytes(&byte, 1));
    if (b >= 0x80 && b <= 0x9F &&
        text == jet::DecodeUcs2(jet::Bytes(std::vector<std::uint8_t>{byte, 0}))) {
      continue;  // unmapped: read as the C1 control of the same number
    }
    for (auto order : {jet::TextSortOrder::kGeneralLegacy, jet::TextSortOrder::kGeneral,
                       jet::TextSortOrder::kGeneral97}) {
      EXPECT_FALSE(HasUncoveredCharacter(text, order)) << b;
    }
  }
}

TEST(TextKey, SortOrderOfAColumn) {
  jet::Column c = MakeColumn(jet::ColumnType::kText);
  jet::Header h = Jet4Header();
  EXPECT_EQ(*jet::TextSortOrderOf(c, h), jet::TextSortOrder::kGeneralLegacy);
  c.sort_version = 1;
  EXPECT_EQ(*jet::TextSortOrderOf(c, h), jet::TextSortOrder::kGeneral);
  c.sort_order = 0;  // the database's
  h.sort_order = {jet::kGeneralSortOrder, 1};
  EXPECT_EQ(*jet::TextSortOrderOf(c, h), jet::TextSortOrder::kGeneral);
  c.sort_order = 1053;  // Swedish/Finnish
  EXPECT_EQ(jet::TextSortOrderOf(c, h).status().code(), jet::ErrorCode::kNotSupported);
  h.version = jet::JetVersion::kJet3;
  c.sort_order = jet::kGeneralSortOrder;
  EXPECT_EQ(*jet::TextSortOrderOf(c, h), jet::TextSortOrder::kGeneral97);
}

}  // namespace
