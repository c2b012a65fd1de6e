// Writing indexes. Every index of every Jet 4 test database is rebuilt from its rows on a copy in
// memory and must hold exactly the entries Access (or the original writer) stored, pass the tree
// check and the checks of jet_index_test against the rows; trees of Access-made files must come
// out page for page as Access laid them out. Commits through Database::Commit() on copies of the
// sample target: refilled product tables read by us, mdb-export and mdb-reader; duplicate keys in
// unique indexes and keys that cannot be built refused with the file unchanged; 200,000 rows in
// one table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/file_source.h"
#include "jet/file/page_store.h"
#include "jet/index/index_entry_store.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"
#include "jet/index/index_page_plan.h"
#include "jet/index/index_reader.h"
#include "jet/index/index_writer.h"
#include "jet/page/page_allocator.h"
#include "jet/page/usage_map.h"
#include "jet/table/catalog.h"
#include "jet/table/table_scan.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kTargetPassword;

using jet::ByteString;
using jet::Value;
using testing_support::DbFile;
using testing_support::EntriesOf;
using testing_support::RowsOf;

constexpr std::size_t kJetVersionOffset = 0x14;  // header byte: 0 for Jet 3

// The Jet 4 databases of tests/data and of access-made/ (an empty entry when that is missing).
std::vector<DbFile> Jet4Databases() {
  std::vector<DbFile> all;
  for (const auto& list :
       {testing_support::ProjectDatabases(), testing_support::AccessMadeDatabases()}) {
    for (const DbFile& f : list) {
      const auto bytes = testing_support::ReadFileBytes(f.path);
      if (bytes.size() > kJetVersionOffset && bytes[kJetVersionOffset] != 0) all.push_back(f);
    }
  }
  if (!testing_support::AccessMadeDir()) all.push_back(DbFile{});
  return all;
}

bool AccessMade(const DbFile& f) { return f.path.parent_path().filename() == "access-made"; }

std::unique_ptr<jet::Database> OpenImage(std::vector<std::uint8_t> bytes,
                                         const std::string& password) {
  jet::MemoryFile file(std::move(bytes));
  auto db = jet::Database::Open(file, {.password = password});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(*db) : nullptr;
}

// The problems the integrity checker finds, one a line.
std::string Problems(const jet::Database& db) {
  auto report = jet::CheckIntegrity(db);
  if (!report.ok()) return report.status().ToString();
  std::string all;
  for (const std::string& p : report->problems) all += p + "\n";
  return all;
}

void ExpectSameEntries(const std::vector<jet::IndexEntry>& got,
                       const std::vector<jet::IndexEntry>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_TRUE(got[i].key == want[i].key && got[i].row.Raw() == want[i].row.Raw())
        << "entry " << i << " of " << got.size();
  }
}

std::uint32_t DefinitionU32(const jet::PageStore& store, std::uint32_t page, std::size_t at) {
  auto bytes = store.Page(page);
  EXPECT_TRUE(bytes.ok());
  jet::ByteReader in(*bytes);
  return in.U32(at);
}

// True when a column of the index is Binary.
bool HasBinaryKey(const jet::TableDef& table, const jet::RealIndex& index) {
  for (const jet::IndexColumn& ic : index.columns) {
    for (const jet::Column& c : table.columns) {
      if (c.number == ic.column_number && c.type() == jet::ColumnType::kBinary) return true;
    }
  }
  return false;
}

// The checks of jet_index_test on every index of a table: the tree; (a) one entry per live row
// (less rows without key values where the index ignores Nulls); (b) every entry names a live row,
// none twice; (c) entries strictly ascending; (d) every key the encoder's key of its row's values.
// With `rebuilt`, also the definition's counts and the usage map, which only a rebuild sets.
std::vector<jet::IndexTreeStats> ExpectIndexesTrue(const jet::Database& db,
                                                   const jet::TableDef& table, bool rebuilt) {
  struct Row {
    jet::RowPointer at;
    std::vector<Value> values;
  };
  std::vector<Row> rows;
  jet::TableScan scan(db, table);
  while (true) {
    auto more = scan.Next();
    EXPECT_TRUE(more.ok()) << more.status().ToString();
    if (!more.ok() || !*more) break;
    rows.push_back({scan.position(), scan.values()});
  }
  std::map<std::uint32_t, const Row*> live;
  for (const Row& r : rows) live[r.at.Raw()] = &r;

  std::vector<jet::IndexTreeStats> all;
  for (const jet::RealIndex& index : table.real_indexes) {
    SCOPED_TRACE(table.name + ", index " + std::to_string(index.number));
    auto tree = jet::CheckIndexTree(db.pages(), table, index);
    EXPECT_TRUE(tree.ok()) << tree.status().ToString();
    if (!tree.ok()) continue;
    all.push_back(*tree);
    const std::vector<jet::IndexEntry> entries = EntriesOf(db.pages(), table, index);
    EXPECT_EQ(entries.size(), tree->entries);
    std::set<std::uint32_t> named;
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const jet::IndexEntry& e = entries[i];
      if (i > 0) {
        EXPECT_LT(jet::CompareEntries(entries[i - 1], e), 0) << i;  // (c)
      }
      if (i == 0 || entries[i - 1].key != e.key) ++distinct;
      EXPECT_TRUE(named.insert(e.row.Raw()).second) << "row named twice";  // (b)
      const auto row = live.find(e.row.Raw());
      if (row == live.end()) {
        ADD_FAILURE() << "entry " << i << " names no live row";
        continue;
      }
      auto key = jet::EncodeIndexKey(table, index, row->second->values, db.header());  // (d)
      // Binary keys (in Access's own system tables, never written) are not built.
      if (!key.ok() && key.status().code() == jet::ErrorCode::kNotSupported &&
          HasBinaryKey(table, index)) {
        continue;
      }
      EXPECT_TRUE(key.ok() && *key == e.key) << "entry " << i << ": " << key.status().ToString();
    }
    std::size_t left_out = 0;  // (a)
    for (const Row& r : rows) {
      if (index.ignore_nulls() && jet::AllKeyColumnsNull(table, index, r.values)) ++left_out;
    }
    EXPECT_EQ(entries.size(), rows.size() - left_out);
    if (!rebuilt) continue;
    EXPECT_EQ(DefinitionU32(db.pages(), table.page, index.counts_at), entries.size());
    EXPECT_EQ(DefinitionU32(db.pages(), table.page, index.counts_at + 4), distinct);
    auto owned = jet::ReadUsageMap(db.pages(), index.usage_map);
    EXPECT_TRUE(owned.ok()) << owned.status().ToString();
    if (!owned.ok()) continue;
    EXPECT_EQ(owned->size(), tree->leaves + tree->intermediates);
    EXPECT_TRUE(std::count(owned->begin(), owned->end(), index.first_page) == 1);
    // No page of the tree is listed as free.
    auto free_pages = jet::ReadUsageMap(db.pages(), jet::kGlobalFreeMap);
    EXPECT_TRUE(free_pages.ok()) << free_pages.status().ToString();
    if (!free_pages.ok()) continue;
    for (std::uint32_t p : *owned)
      EXPECT_FALSE(std::binary_search(free_pages->begin(), free_pages->end(), p)) << p;
  }
  return all;
}

// The pages of a tree level by level, each level left to right.
std::vector<std::vector<jet::IndexPage>> Levels(const jet::PageStore& store, std::uint32_t root) {
  std::vector<std::vector<jet::IndexPage>> levels;
  std::vector<std::uint32_t> numbers = {root};
  while (!numbers.empty()) {
    levels.emplace_back();
    std::vector<std::uint32_t> below;
    for (std::uint32_t n : numbers) {
      auto page = jet::ReadIndexPage(store, n);
      EXPECT_TRUE(page.ok()) << page.status().ToString();
      if (!page.ok()) return levels;
      if (!page->leaf) {
        for (const jet::IndexEntry& e : page->entries) below.push_back(e.child);
        if (page->child_tail != 0) below.push_back(page->child_tail);
      }
      levels.back().push_back(*page);
    }
    numbers = std::move(below);
  }
  return levels;
}

// Pages of type 0x03/0x04 that no index tree of any table reaches.
std::size_t StrayIndexPages(const jet::Database& db) {
  std::set<std::uint32_t> reached;
  for (const jet::CatalogEntry& e : db.catalog()) {
    if (!e.is_table()) continue;
    auto t = db.GetTable(e.name);
    if (!t.ok()) continue;
    for (const jet::RealIndex& index : (*t)->real_indexes) {
      for (const auto& level : Levels(db.pages(), index.first_page)) {
        for (const jet::IndexPage& p : level) reached.insert(p.number);
      }
    }
  }
  std::size_t stray = 0;
  for (std::uint32_t n = 1; n < db.pages().page_count(); ++n) {
    const std::uint8_t type = (*db.pages().Page(n))[0];
    if ((type == 0x03 || type == 0x04) && !reached.count(n)) ++stray;
  }
  return stray;
}

// Everything of two pages but page numbers: header fields, prefix, marker and bitmap, and the
// entry bytes of leaves (intermediate entries end in child page numbers; they are compared
// decoded, child pages aside).
void ExpectSameLayout(const jet::PageStore& ours, const jet::IndexPage& got,
                      const jet::PageStore& access, const jet::IndexPage& want) {
  const jet::IndexPageLayout& l = jet::kJet4IndexPage;
  SCOPED_TRACE("page " + std::to_string(got.number) + " against Access's " +
               std::to_string(want.number));
  EXPECT_EQ(got.leaf, want.leaf);
  EXPECT_EQ(got.free_space, want.free_space);
  EXPECT_EQ(got.prefix_length, want.prefix_length);
  EXPECT_EQ(got.node_marker, want.node_marker);
  EXPECT_EQ(got.child_tail != 0, want.child_tail != 0);
  ExpectSameEntries(got.entries, want.entries);
  const jet::Bytes a = *ours.Page(got.number);
  const jet::Bytes b = *access.Page(want.number);
  const std::size_t end = got.leaf ? a.size() - got.free_space : l.entries;
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + 4, b.begin()));
  EXPECT_TRUE(std::equal(a.begin() + static_cast<std::ptrdiff_t>(l.prefix_length),
                         a.begin() + static_cast<std::ptrdiff_t>(end),
                         b.begin() + static_cast<std::ptrdiff_t>(l.prefix_length)));
}

class RebuiltIndexes : public testing::TestWithParam<DbFile> {};

TEST_P(RebuiltIndexes, HoldTheOriginalEntriesAndPassEveryCheck) {
  const DbFile& file = GetParam();
  if (file.path.empty()) GTEST_SKIP() << "no Access-made databases";
  const auto bytes = testing_support::ReadFileBytes(file.path);
  const auto original = OpenImage(bytes, file.password);
  ASSERT_TRUE(original);
  jet::MemoryFile source(bytes);
  auto loaded = jet::PageStore::Load(source);
  ASSERT_TRUE(loaded.ok()) << loaded.status().ToString();
  jet::PageStore& store = **loaded;
  jet::PageAllocator allocator(store);

  std::vector<std::string> names;
  for (const jet::CatalogEntry& e : original->catalog()) {
    if (!e.is_table()) continue;
    auto def = jet::ReadTableDef(store, e.page(), e.name);
    ASSERT_TRUE(def.ok()) << def.status().ToString();
    const jet::Status s = jet::RebuildIndexes(store, allocator, *def);
    // Access's own system tables may have keys the writer does not build (Binary columns): they
    // are never written.
    if (e.is_system() && s.code() == jet::ErrorCode::kNotSupported) continue;
    ASSERT_TRUE(s.ok()) << e.name << ": " << s.ToString();
    names.push_back(e.name);
  }
  // The old pages were given back and used again: the file did not grow.
  EXPECT_EQ(store.page_count(), original->pages().page_count());

  const auto rebuilt = OpenImage(store.Image(), file.password);
  ASSERT_TRUE(rebuilt);
  std::size_t indexes = 0;
  for (const std::string& name : names) {
    const auto before = *original->GetTable(name);
    const auto after = *rebuilt->GetTable(name);
    ExpectIndexesTrue(*rebuilt, *after, /*rebuilt=*/true);
    ASSERT_EQ(before->real_indexes.size(), after->real_indexes.size());
    for (std::size_t i = 0; i < after->real_indexes.size(); ++i, ++indexes) {
      SCOPED_TRACE(name + ", index " + std::to_string(i));
      ExpectSameEntries(EntriesOf(rebuilt->pages(), *after, after->real_indexes[i]),
                        EntriesOf(original->pages(), *before, before->real_indexes[i]));
      if (!AccessMade(file)) continue;
      const auto ours = Levels(rebuilt->pages(), after->real_indexes[i].first_page);
      const auto access = Levels(original->pages(), before->real_indexes[i].first_page);
      ASSERT_EQ(ours.size(), access.size());
      for (std::size_t level = 0; level < ours.size(); ++level) {
        ASSERT_EQ(ours[level].size(), access[level].size()) << "level " << level;
        for (std::size_t p = 0; p < ours[level].size(); ++p) {
          ExpectSameLayout(rebuilt->pages(), ours[level][p], original->pages(), access[level][p]);
        }
      }
    }
  }
  EXPECT_GT(indexes, 0u);
  EXPECT_EQ(StrayIndexPages(*rebuilt), StrayIndexPages(*original));
  EXPECT_EQ(Problems(*rebuilt), Problems(*original));
}

INSTANTIATE_TEST_SUITE_P(Jet4, RebuiltIndexes, testing::ValuesIn(Jet4Databases()),
                         [](const testing::TestParamInfo<DbFile>& p) {
                           return p.param.path.empty() ? std::string("AccessMadeMissing")
                                                       : p.param.TestName();
                         });

TEST(RebuiltIndexes, DefinitionSpanningTwoPagesGetsItsRootPointers) {
  const auto dir = testing_support::AccessMadeDir();
  if (!dir) GTEST_SKIP() << "no Access-made databases";
  jet::MemoryFile source(testing_support::ReadFileBytes(*dir / "test2V2000.mdb"));
  auto loaded = jet::PageStore::Load(source);
  ASSERT_TRUE(loaded.ok());
  jet::PageStore& store = **loaded;
  jet::PageAllocator allocator(store);
  const std::uint32_t table_page = 15;  // MSP_PROJECTS: a definition of two pages
  auto def = jet::ReadTableDef(store, table_page, "MSP_PROJECTS");
  ASSERT_TRUE(def.ok());
  ASSERT_GE(def->real_indexes.at(0).first_page_at, store.page_size());  // on the second page
  // Move the old roots away, so that the new ones land on other pages.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(allocator.Allocate().ok());
  ASSERT_TRUE(jet::RebuildIndexes(store, allocator, *def).ok());
  auto again = jet::ReadTableDef(store, table_page, "MSP_PROJECTS");
  ASSERT_TRUE(again.ok());
  for (std::size_t i = 0; i < def->real_indexes.size(); ++i) {
    EXPECT_EQ(again->real_indexes[i].first_page, def->real_indexes[i].first_page);
    EXPECT_TRUE(jet::CheckIndexTree(store, *again, again->real_indexes[i]).ok());
  }

  // A value across the page boundary: its first bytes end page one, the rest follow page two's
  // 8-byte header.
  const std::size_t at = store.page_size() - 2;
  ASSERT_TRUE(jet::PutDefinitionU32(store, table_page, at, 0xA1B2C3D4).ok());
  const std::uint32_t second = DefinitionU32(store, table_page, 4);
  const jet::Bytes one = *store.Page(table_page);
  const jet::Bytes two = *store.Page(second);
  EXPECT_EQ(one[at], 0xD4);
  EXPECT_EQ(one[at + 1], 0xC3);
  EXPECT_EQ(two[8], 0xB2);
  EXPECT_EQ(two[9], 0xA1);
  const jet::Status past = jet::PutDefinitionU32(store, table_page, 3 * store.page_size(), 1);
  EXPECT_EQ(past.code(), jet::ErrorCode::kCorrupt) << past.ToString();
}

TEST(RebuiltIndexes, Jet3FilesAreRefused) {
  const auto dir = testing_support::AccessMadeDir();
  if (!dir) GTEST_SKIP() << "no Access-made databases";
  jet::MemoryFile source(testing_support::ReadFileBytes(*dir / "indexTestV1997.mdb"));
  auto loaded = jet::PageStore::Load(source);
  ASSERT_TRUE(loaded.ok());
  auto def = jet::ReadTableDef(**loaded, 2, "MSysObjects");
  ASSERT_TRUE(def.ok());
  const auto image = (*loaded)->Image();
  jet::PageAllocator allocator(**loaded);
  EXPECT_EQ(jet::RebuildIndexes(**loaded, allocator, *def).code(), jet::ErrorCode::kNotSupported);
  EXPECT_EQ((*loaded)->Image(), image);
}

// ---- Page plans ----

jet::IndexEntry Entry(ByteString key, std::uint32_t n) {
  return {std::move(key), {0x100 + n, static_cast<std::uint8_t>(n)}, 0};
}

std::vector<std::size_t> PageSizes(const std::vector<jet::PlannedIndexPage>& level) {
  std::vector<std::size_t> sizes;
  sizes.reserve(level.size());
  for (const auto& p : level) sizes.push_back(p.end - p.begin);
  return sizes;
}

// The entry store's radix sort orders entries as a comparison sort does: key bytes (a shorter
// key before a longer one it begins), then row pointer. The inputs mimic what tables give:
// sorted runs, few distinct keys with rows in any order, shared leading bytes, empty keys.
TEST(IndexEntries, SortOrdersLikeAComparisonSort) {
  std::mt19937 random(7);
  for (int round = 0; round < 6; ++round) {
    jet::IndexEntryStore store;
    std::vector<std::pair<std::vector<std::uint8_t>, std::uint32_t>> expected;
    const int n = 5000 + round * 3000;
    for (int i = 0; i < n; ++i) {
      std::vector<std::uint8_t> key;
      const std::size_t length = round == 0 ? 5 : random() % 9;
      for (std::size_t b = 0; b < length; ++b) {
        // Few distinct bytes, mostly at the end: ties and long shared prefixes.
        key.push_back(static_cast<std::uint8_t>(b + 2 < length ? 0x7F : random() % (round + 2)));
      }
      const std::uint32_t page = round % 2 == 0 ? static_cast<std::uint32_t>(i / 50 + 1)
                                                : static_cast<std::uint32_t>(random() % 70000 + 1);
      const auto row = jet::RowPointer{page, static_cast<std::uint8_t>(random() % 200)};
      ASSERT_TRUE(store.Add(key, row, false).ok());
      expected.emplace_back(key, row.Raw());
    }
    store.Sort();
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(store.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      jet::IndexEntryStore::Scratch scratch;
      const jet::Bytes key = store.Key(i, scratch);
      ASSERT_EQ(std::vector<std::uint8_t>(key.begin(), key.end()), expected[i].first)
          << "round " << round << ", entry " << i;
      ASSERT_EQ(store.Row(i).Raw(), expected[i].second) << "round " << round << ", entry " << i;
    }
  }
}

TEST(IndexPlan, LeavesTakeCompleteEntriesWhileTheyFitThenEntriesWithoutTheSharedPrefix) {
  const auto v = jet::JetVersion::kJet4;
  // 9-byte entries whose keys share nothing across a page: 401 fill 3609 of 3616 bytes.
  std::vector<jet::IndexEntry> entries;
  for (std::uint32_t i = 0; i < 1000; ++i) {
    entries.push_back(Entry({static_cast<std::uint8_t>(i / 4), 1, 2, 3, 4}, i));
  }
  auto levels = jet::PlanIndexPages(v, entries);
  ASSERT_EQ(levels.size(), 2u);
  EXPECT_EQ(PageSizes(levels[0]), (std::vector<std::size_t>{401, 401, 198}));
  for (const auto& p : levels[0]) EXPECT_EQ(p.prefix, 0u);
  // The root names the first two leaves by entries and the third as its child tail.
  EXPECT_EQ(PageSizes(levels[1]), (std::vector<std::size_t>{3}));
  EXPECT_EQ(levels[1][0].last_entry, 999u);

  // Keys sharing 4 bytes: the first page compresses (9 + 721 * 5 = 3614 bytes), the rest of the
  // entries fit whole on the second page.
  entries.clear();
  for (std::uint32_t i = 0; i < 1000; ++i) {
    entries.push_back(Entry({0x7F, 0x80, 0, 0, static_cast<std::uint8_t>(i / 4)}, i));
  }
  levels = jet::PlanIndexPages(v, entries);
  EXPECT_EQ(PageSizes(levels[0]), (std::vector<std::size_t>{722, 278}));
  EXPECT_EQ(levels[0][0].prefix, 4u);
  EXPECT_EQ(levels[0][1].prefix, 0u);

  levels = jet::PlanIndexPages(v, {});
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(PageSizes(levels[0]), (std::vector<std::size_t>{0}));
}

TEST(IndexPlan, IntermediatePagesEndInAChildTailAndASingleChildGetsAnEntry) {
  // Keys of 2,000 bytes: one entry a page on every level.
  std::vector<jet::IndexEntry> entries;
  for (std::uint32_t i = 0; i < 5; ++i) {
    entries.push_back(Entry(ByteString(2000, static_cast<std::uint8_t>(i)), i));
  }
  const auto levels = jet::PlanIndexPages(jet::JetVersion::kJet4, entries);
  ASSERT_EQ(levels.size(), 4u);
  EXPECT_EQ(PageSizes(levels[0]), (std::vector<std::size_t>(5, 1)));
  EXPECT_EQ(PageSizes(levels[1]), (std::vector<std::size_t>{2, 2, 1}));
  EXPECT_EQ(PageSizes(levels[2]), (std::vector<std::size_t>{2, 1}));
  EXPECT_EQ(PageSizes(levels[3]), (std::vector<std::size_t>{2}));
  EXPECT_EQ(levels[1][1].last_entry, 3u);
  EXPECT_EQ(levels[2][1].last_entry, 4u);
}

// ---- Commits on copies of the sample target ----

using testing_support::TargetCopy;

std::unique_ptr<jet::Database> Open(const fs::path& path, bool writable) {
  auto db = jet::Database::Open(path.string(), {.password = kTargetPassword, .writable = writable});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(*db) : nullptr;
}

// A row of plausible values for every column kind of the target's tables; references point into
// 1..`refs`.
std::vector<Value> MakeRow(const jet::TableDef& def, int i, int refs, std::mt19937& rng) {
  std::vector<Value> row(def.columns.size());
  for (std::size_t c = 0; c < def.columns.size(); ++c) {
    const jet::Column& col = def.columns[c];
    switch (col.type()) {
      case jet::ColumnType::kLong:
        // Every seventh row leaves its numbers Null: Null keys in number indexes.
        if (!col.autonumber() && i % 7 != 3) {
          row[c] = Value(static_cast<std::int32_t>(1 + rng() % refs));
        }
        break;
      case jet::ColumnType::kText: {
        std::string s = (i % 3 ? "Größe " : "Stück ") + std::to_string(i % 997);
        row[c] = Value(s.substr(0, col.length / 2));
        break;
      }
      case jet::ColumnType::kMemo:
        row[c] = Value(i % 4 ? std::string() : "Beschreibung „" + std::to_string(i) + "“");
        break;
      case jet::ColumnType::kDouble:
        row[c] = Value(i * 0.5);
        break;
      case jet::ColumnType::kCurrency:
        row[c] = Value(jet::Currency{std::int64_t{i} * 125});
        break;
      case jet::ColumnType::kDateTime:
        row[c] = Value(jet::DateTime{45000.25 + i});
        break;
      case jet::ColumnType::kBoolean:
        row[c] = Value(i % 2 == 0);
        break;
      default:
        break;
    }
  }
  return row;
}

std::string ExportCsv(const fs::path& file, const std::string& table) {
  auto db = Open(file, false);
  std::ostringstream out;
  EXPECT_TRUE(db && inspect::ExportCsv(*db, table, out).ok());
  return out.str();
}

const std::vector<std::string> kProductTables = {
    "tbl_Verwaltung_Produkte",        "tbl_Verwaltung_Produkte_Preise",
    "tbl_Verwaltung_ProdukteExtras",  "tbl_Verwaltung_ProdukteExtras_Preise",
    "tbl_Verwaltung_Produkte_Extras", "tbl_Verwaltung_ProdukteKategorien",
};

TEST(CommittedIndexes, RefilledProductTablesAreReadByEveryReader) {
  PI_REQUIRE_MDB_EXPORT();
  PI_REQUIRE_MDB_READER();
  TargetCopy copy;
  const std::string untouched = ExportCsv(copy.path(), "tbl_Kunden");
  {
    auto db = Open(copy.path(), true);
    ASSERT_TRUE(db);
    for (const std::string& t : kProductTables) {
      for (jet::RowPointer r : RowsOf(*db, t)) ASSERT_TRUE(db->DeleteRow(t, r).ok());
    }
    std::mt19937 rng(11);
    const std::map<std::string, int> counts = {
        {"tbl_Verwaltung_ProdukteKategorien", 40},
        {"tbl_Verwaltung_Produkte", 3000},
        {"tbl_Verwaltung_Produkte_Preise", 6000},
        {"tbl_Verwaltung_ProdukteExtras", 30},
        // Enough rows in one table for its entries to be collected and sorted by two threads.
        {"tbl_Verwaltung_ProdukteExtras_Preise", 300},
        {"tbl_Verwaltung_Produkte_Extras", 80000}};
    for (const auto& [table, n] : counts) {
      const auto def = *db->GetTable(table);
      for (int i = 0; i < n; ++i) {
        std::vector<Value> row = MakeRow(*def, i, 3000, rng);
        ASSERT_TRUE(db->InsertRow(table, row).ok());
      }
    }
    const jet::Status s = db->Commit();
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  auto db = Open(copy.path(), false);
  ASSERT_TRUE(db);
  EXPECT_EQ(Problems(*db), "");
  for (const std::string& t : kProductTables) {
    SCOPED_TRACE(t);
    ExpectIndexesTrue(*db, **db->GetTable(t), /*rebuilt=*/true);
    auto oracle = testing_support::RunCommand(
        "LC_ALL=C mdb-export " + testing_support::ShellQuote(copy.path().string()) + " " + t);
    EXPECT_EQ(oracle.exit_code, 0);
    EXPECT_EQ(oracle.out, ExportCsv(copy.path(), t));
  }
  for (const char* t : {"tbl_Kunden", "tbl_Einstellungen"}) {
    ExpectIndexesTrue(*db, **db->GetTable(t), /*rebuilt=*/false);
  }
  EXPECT_EQ(ExportCsv(copy.path(), "tbl_Kunden"), untouched);
  auto counts = testing_support::RunCommand(
      testing_support::MdbReaderCommand(DbFile{copy.path(), kTargetPassword}));
  EXPECT_EQ(counts.exit_code, 0);
  for (const char* line :
       {"tbl_Verwaltung_Produkte\t3000\n", "tbl_Verwaltung_Produkte_Preise\t6000\n",
        "tbl_Verwaltung_Produkte_Extras\t80000\n", "tbl_Verwaltung_ProdukteKategorien\t40\n",
        "tbl_Kunden\t297\n"}) {
    EXPECT_NE(counts.out.find(line), std::string::npos) << line << counts.out;
  }
}

std::size_t Column(const jet::TableDef& def, const char* name) {
  return static_cast<std::size_t>(def.FindColumn(name) - def.columns.data());
}

TEST(CommittedIndexes, UniqueIndexRefusesADuplicateKeyAndTheFileStaysAsItWas) {
  TargetCopy copy;
  const auto file = testing_support::ReadFileBytes(copy.path());
  auto db = Open(copy.path(), true);
  ASSERT_TRUE(db);
  // A table written before the refused one (definition page 24 < 126) has its indexes rebuilt
  // first, and so does the refused table's primary key: the refusal undoes both.
  std::vector<Value> customer((*db->GetTable("tbl_Kunden"))->columns.size());
  ASSERT_TRUE(db->InsertRow("tbl_Kunden", customer).ok());
  const std::string table = "tbl_Einstellungen";
  const auto def = *db->GetTable(table);
  std::vector<Value> row(def->columns.size());
  row[Column(*def, "txt_Schluessel")] = Value(std::string("EXPORT.PFAD"));  // "Export.Pfad" exists
  auto duplicate = db->InsertRow(table, row);
  ASSERT_TRUE(duplicate.ok());
  const auto pages = db->pages().Image();
  const auto roots = [&] {
    std::vector<std::uint32_t> numbers;
    for (const char* name : {"tbl_Kunden", "tbl_Einstellungen"}) {
      for (const auto& index : (*db->GetTable(name))->real_indexes) {
        numbers.push_back(index.first_page);
      }
    }
    return numbers;
  };
  const auto roots_before = roots();
  const jet::Status s = db->Commit();
  EXPECT_EQ(s.code(), jet::ErrorCode::kDuplicateKey) << s.ToString();
  // Worded as the record layer's 3022, without where the rows lie.
  EXPECT_EQ(s.message(),
            "Die Änderungen wurden nicht durchgeführt, da sie doppelte Werte im Index "
            "'txt_Schluessel' der Tabelle 'tbl_Einstellungen' erzeugen würden.");
  EXPECT_EQ(testing_support::ReadFileBytes(copy.path()), file);
  EXPECT_EQ(db->pages().Image(), pages);
  EXPECT_EQ(roots(), roots_before);

  // Without the duplicate the same changes commit, and every index reads true.
  ASSERT_TRUE(db->DeleteRow(table, *duplicate).ok());
  const jet::Status fixed = db->Commit();
  ASSERT_TRUE(fixed.ok()) << fixed.ToString();
  db.reset();
  db = Open(copy.path(), true);
  ExpectIndexesTrue(*db, **db->GetTable("tbl_Kunden"), /*rebuilt=*/true);
  ExpectIndexesTrue(*db, **db->GetTable(table), /*rebuilt=*/true);

  // Keys whose columns are all Null never collide.
  for (int i = 0; i < 2; ++i) {
    std::vector<Value> nulls(def->columns.size());
    ASSERT_TRUE(db->InsertRow(table, nulls).ok());
  }
  const jet::Status ok = db->Commit();
  ASSERT_TRUE(ok.ok()) << ok.ToString();
  db.reset();
  db = Open(copy.path(), false);
  const auto stats = ExpectIndexesTrue(*db, **db->GetTable(table), /*rebuilt=*/true);
  ASSERT_EQ(stats.size(), 2u);
  EXPECT_EQ(stats[1].entries, 23u);
}

TEST(CommittedIndexes, EveryPrimaryKeyRefusesADuplicate) {
  TargetCopy copy;
  const auto file = testing_support::ReadFileBytes(copy.path());
  auto db = Open(copy.path(), true);
  ASSERT_TRUE(db);
  std::size_t refused = 0;
  for (const std::string& table : db->TableNames()) {
    SCOPED_TRACE(table);
    const auto def = *db->GetTable(table);
    ASSERT_TRUE(def->row_count > 0);
    // A counter that lags behind the keys (as files that lost their counter have it) hands out
    // a number a row already holds: the highest one.
    auto& counter = const_cast<jet::TableDef&>(*def).autonumber;
    counter = 0;
    for (const auto& values : testing_support::ReadAllRows(*db, *def)) {
      counter = std::max(counter, static_cast<std::uint32_t>(values[0].as<std::int32_t>()));
    }
    --counter;
    std::vector<Value> row(def->columns.size());
    ASSERT_TRUE(db->InsertRow(table, row).ok());
    const jet::Status s = db->Commit();
    EXPECT_EQ(s.code(), jet::ErrorCode::kDuplicateKey) << s.ToString();
    EXPECT_NE(s.message().find("'PrimaryKey'"), std::string::npos) << s.message();
    EXPECT_EQ(testing_support::ReadFileBytes(copy.path()), file);
    db->Rollback();
    ++refused;
  }
  EXPECT_EQ(refused, 8u);
}

// Sets the sort order (collation id) of a Jet 4 text column in the file: the two bytes at +11 of
// its 25-byte descriptor on the table's first definition page, after the 63-byte header and 12
// bytes per physical index; the descriptor's column number is at +5.
void SetSortOrder(const fs::path& file, const std::string& table, const char* column,
                  std::uint16_t sort_order) {
  std::uint32_t page = 0;
  std::size_t real_indexes = 0;
  std::uint16_t number = 0;
  {
    auto db = Open(file, false);
    ASSERT_TRUE(db);
    const auto def = *db->GetTable(table);
    page = def->page;
    real_indexes = def->real_indexes.size();
    number = def->FindColumn(column)->number;
  }
  auto bytes = testing_support::ReadFileBytes(file);
  const jet::Format& f = jet::FormatFor(jet::JetVersion::kJet4);
  const std::size_t start = static_cast<std::size_t>(page) * f.page_size;
  const std::size_t columns =
      bytes[start + f.tdef_num_cols_offset] | bytes[start + f.tdef_num_cols_offset + 1] << 8;
  std::size_t at = start + f.tdef_header_end + real_indexes * f.tdef_real_idx_count_entry;
  for (std::size_t i = 0; i < columns; ++i, at += f.tdef_column_entry) {
    ASSERT_LT(at + f.tdef_column_entry, start + f.page_size);
    if ((bytes[at + f.col_number] | bytes[at + f.col_number + 1] << 8) != number) continue;
    bytes[at + f.col_misc] = static_cast<std::uint8_t>(sort_order);
    bytes[at + f.col_misc + 1] = static_cast<std::uint8_t>(sort_order >> 8);
    testing_support::WriteFileBytes(file, bytes);
    return;
  }
  FAIL() << "no descriptor for " << column;
}

TEST(CommittedIndexes, ATextKeyInASortOrderTheEncoderDoesNotKnowStopsTheCommit) {
  TargetCopy copy;
  ASSERT_NO_FATAL_FAILURE(SetSortOrder(copy.path(), "tbl_Kunden", "txt_Nachname", 1053));
  const auto file = testing_support::ReadFileBytes(copy.path());
  auto db = Open(copy.path(), true);
  ASSERT_TRUE(db);
  const std::string table = "tbl_Kunden";
  const auto def = *db->GetTable(table);
  std::vector<Value> row(def->columns.size());
  row[Column(*def, "txt_Nachname")] = Value(std::string("M\xC3\xBCller"));
  ASSERT_TRUE(db->InsertRow(table, row).ok());
  const auto pages = db->pages().Image();
  const jet::Status s = db->Commit();
  EXPECT_EQ(s.code(), jet::ErrorCode::kNotSupported) << s.ToString();
  EXPECT_NE(s.message().find("tbl_Kunden"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("1053"), std::string::npos) << s.message();
  EXPECT_EQ(db->pages().Image(), pages);
  EXPECT_EQ(testing_support::ReadFileBytes(copy.path()), file);
}

TEST(CommittedIndexes, TwoHundredThousandPricesGiveTreesWithIntermediateLevels) {
  TargetCopy copy;
  const std::string table = "tbl_Verwaltung_Produkte_Preise";
  {
    auto db = Open(copy.path(), true);
    ASSERT_TRUE(db);
    const auto def = *db->GetTable(table);
    std::mt19937 rng(5);
    for (int i = 0; i < 200000; ++i) {
      std::vector<Value> row = MakeRow(*def, i, 20000, rng);
      ASSERT_TRUE(db->InsertRow(table, row).ok());
    }
    ASSERT_TRUE(db->Commit().ok());
  }
  auto db = Open(copy.path(), false);
  ASSERT_TRUE(db);
  const auto def = *db->GetTable(table);
  EXPECT_EQ(Problems(*db), "");
  const auto stats = ExpectIndexesTrue(*db, *def, /*rebuilt=*/true);
  ASSERT_EQ(stats.size(), 3u);
  for (const jet::IndexTreeStats& s : stats) {
    EXPECT_EQ(s.entries, 201190u);
    EXPECT_GT(s.leaves, 280u);
  }
  // The two indexes over the AutoNumber (about 600 compressed entries a leaf) need two
  // intermediate pages under a root; the one over lng_ProduktID, whose leaves are fewer, a root.
  EXPECT_EQ(stats[0].depth, 3u);
  EXPECT_EQ(stats[1].depth, 3u);
  EXPECT_EQ(stats[0].intermediates, 3u);
  EXPECT_EQ(stats[2].depth, 2u);
  // Look-ups through the levels find exactly the rows of a key.
  const jet::RealIndex& by_product = def->real_indexes.at(2);
  const auto entries = EntriesOf(db->pages(), *def, by_product);
  for (std::size_t i = 0; i < entries.size(); i += 9973) {
    auto found = jet::FindEqual(db->pages(), *def, by_product, entries[i].key);
    ASSERT_TRUE(found.ok()) << found.status().ToString();
    const auto lo = std::lower_bound(entries.begin(), entries.end(), entries[i],
                                     [](const auto& a, const auto& b) { return a.key < b.key; });
    const auto hi = std::upper_bound(entries.begin(), entries.end(), entries[i],
                                     [](const auto& a, const auto& b) { return a.key < b.key; });
    EXPECT_EQ(found->size(), static_cast<std::size_t>(hi - lo));
  }
}

}  // namespace
