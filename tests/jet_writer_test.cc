// Writing rows: inserts and deletes on copies of the sample target, read back by our reader,
// mdb-export and mdb-reader; long values of every size; counters, free pages, rollback, the
// write lock and the atomic file replacement.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "jet/base/decimal_convert.h"
#include "jet/base/large_allocator.h"
#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/file_commit.h"
#include "jet/file/file_source.h"
#include "jet/file/page_store.h"
#include "jet/page/data_page.h"
#include "jet/page/data_page_writer.h"
#include "jet/page/usage_map.h"
#include "tests/encrypted_copy.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"

namespace fs = std::filesystem;

namespace jet {
// Values in failure messages as the inspector prints them.
inline void PrintTo(const Value& v, std::ostream* os) { *os << inspect::CsvField(v); }
}  // namespace jet

namespace {

using testing_support::kTargetPassword;

using jet::Value;
using testing_support::DbFile;
using testing_support::TempFile;

using testing_support::RowsOf;
using testing_support::TargetCopy;

std::unique_ptr<jet::Database> OpenWritable(const fs::path& path) {
  auto db = jet::Database::Open(path.string(), {.password = kTargetPassword, .writable = true});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(*db) : nullptr;
}

std::vector<std::vector<Value>> ValuesOf(const jet::Database& db, const std::string& table) {
  auto t = db.GetTable(table);
  EXPECT_TRUE(t.ok());
  return testing_support::ReadAllRows(db, **t);
}

std::string Export(const fs::path& file, const std::string& table) {
  auto db = jet::Database::Open(file.string(), {.password = kTargetPassword});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  std::ostringstream out;
  EXPECT_TRUE(inspect::ExportCsv(**db, table, out).ok());
  return out.str();
}

// The in-memory state of `db` as a file, for the independent readers.
void WriteImage(const jet::Database& db, const fs::path& to) {
  testing_support::WriteFileBytes(to, db.pages().Image());
}

std::string Memo(std::size_t chars, bool unicode) {
  std::string s;
  const std::string piece = unicode ? "Grüße € „Zitat“ — " : "Rechnung bitte an Frau Müller. ";
  while (s.size() < chars * 2) s += piece;
  // Cut at a character boundary after `chars` code points.
  std::size_t count = 0, pos = 0;
  while (pos < s.size() && count < chars) {
    const unsigned char c = static_cast<unsigned char>(s[pos]);
    pos += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    ++count;
  }
  return s.substr(0, pos);
}

TEST(Writer, EmptiesAndRefillsTheProductTablesReadableByEveryReader) {
  PI_REQUIRE_MDB_EXPORT();
  PI_REQUIRE_MDB_READER();
  TargetCopy copy;
  const std::vector<std::string> untouched = {"tbl_Kunden", "tbl_Einstellungen"};
  std::map<std::string, std::string> before;
  for (const auto& t : untouched) before[t] = Export(copy.path(), t);

  auto db = OpenWritable(copy.path());
  ASSERT_TRUE(db);
  const std::string prices = "tbl_Verwaltung_Produkte_Preise";
  const std::string products = "tbl_Verwaltung_Produkte";
  for (const std::string& t : {prices, products}) {
    for (jet::RowPointer r : RowsOf(*db, t)) ASSERT_TRUE(db->DeleteRow(t, r).ok());
    EXPECT_EQ((*db->GetTable(t))->row_count, 0u);
    EXPECT_TRUE(RowsOf(*db, t).empty());
  }
  const std::uint32_t counter_before = (*db->GetTable(products))->autonumber;
  EXPECT_EQ(counter_before, 122u);  // the last number issued, not reset by deleting

  // Thousands of product rows with every column kind of the table, then their prices.
  std::mt19937 rng(7);
  std::vector<std::vector<Value>> written;
  const auto def = *db->GetTable(products);
  for (int i = 0; i < 3000; ++i) {
    std::vector<Value> row(def->columns.size());
    for (std::size_t c = 0; c < def->columns.size(); ++c) {
      const jet::Column& col = def->columns[c];
      switch (col.type()) {
        case jet::ColumnType::kLong:
          if (!col.autonumber()) row[c] = Value(static_cast<std::int32_t>(rng() % 1000));
          break;
        case jet::ColumnType::kText:
          if (i % 7 != 0) row[c] = Value("Prödukt " + std::to_string(i) + (i % 3 ? " €" : ""));
          break;
        case jet::ColumnType::kMemo:
          row[c] = Value(i % 5 == 0 ? Memo(10 + i % 300, i % 2 == 0) : std::string());
          break;
        case jet::ColumnType::kDouble:
          row[c] = Value(i * 0.25);
          break;
        case jet::ColumnType::kDateTime:
          row[c] = Value(jet::DateTime{45000.5 + i});
          break;
        default:
          break;
      }
    }
    auto where = db->InsertRow(products, row);
    ASSERT_TRUE(where.ok()) << where.status().ToString();
    written.push_back(row);
  }
  EXPECT_EQ((*db->GetTable(products))->row_count, 3000u);
  EXPECT_EQ((*db->GetTable(products))->autonumber, counter_before + 3000);
  EXPECT_EQ(written.front()[0], Value(static_cast<std::int32_t>(counter_before + 1)));
  EXPECT_EQ(ValuesOf(*db, products), written);

  TempFile image("writer-target");
  WriteImage(*db, image.path());
  // Our reader on the file, mdb-export and mdb-reader agree.
  EXPECT_EQ(ValuesOf(**jet::Database::Open(image.path().string(), {.password = kTargetPassword}),
                     products),
            written);
  const std::string ours = Export(image.path(), products);
  auto oracle = testing_support::RunCommand(
      "LC_ALL=C mdb-export " + testing_support::ShellQuote(image.path().string()) + " " + products);
  EXPECT_EQ(oracle.exit_code, 0);
  EXPECT_EQ(oracle.out, ours);
  auto counts = testing_support::RunCommand(
      testing_support::MdbReaderCommand(DbFile{image.path(), kTargetPassword}));
  EXPECT_NE(counts.out.find(products + "\t3000\n"), std::string::npos) << counts.out;
  EXPECT_NE(counts.out.find(prices + "\t0\n"), std::string::npos) << counts.out;
  for (const auto& t : untouched) EXPECT_EQ(Export(image.path(), t), before[t]) << t;
}

TEST(Writer, LongValuesOfEverySizeAndTheirPagesFreedOnDelete) {
  PI_REQUIRE_MDB_EXPORT();
  TargetCopy copy;
  auto db = OpenWritable(copy.path());
  ASSERT_TRUE(db);
  const std::string table = "tbl_Kunden";
  const auto def = *db->GetTable(table);
  const auto memo = static_cast<std::size_t>(def->FindColumn("txt_Notiz") - def->columns.data());
  const std::vector<std::size_t> sizes = {0, 1, 30, 64, 65, 2000, 4000, 4100, 9000, 30000};
  std::vector<std::vector<Value>> rows;
  for (std::size_t n : sizes) {
    for (bool unicode : {false, true}) {
      std::vector<Value> row(def->columns.size());
      row[memo] = Value(Memo(n, unicode));
      ASSERT_TRUE(db->InsertRow(table, row).ok());
      rows.push_back(row);
    }
  }
  const std::uint32_t pages_with_values = db->pages().page_count();
  auto all = ValuesOf(*db, table);
  ASSERT_GE(all.size(), rows.size());
  std::vector<std::vector<Value>> tail(all.end() - static_cast<std::ptrdiff_t>(rows.size()),
                                       all.end());
  EXPECT_EQ(tail, rows);

  TempFile image("writer-memo");
  WriteImage(*db, image.path());
  auto oracle = testing_support::RunCommand(
      "LC_ALL=C mdb-export " + testing_support::ShellQuote(image.path().string()) + " " + table);
  EXPECT_EQ(oracle.out, Export(image.path(), table));

  // Deleting every row frees the data and long-value pages; inserting again reuses them.
  for (jet::RowPointer r : RowsOf(*db, table)) ASSERT_TRUE(db->DeleteRow(table, r).ok());
  EXPECT_EQ((*db->GetTable(table))->row_count, 0u);
  auto data_pages = jet::ReadUsageMap(db->pages(), def->usage_map);
  ASSERT_TRUE(data_pages.ok());
  EXPECT_TRUE(data_pages->empty());
  for (const auto& row : rows) {
    auto again = row;
    again[0] = Value();  // the key is assigned anew
    ASSERT_TRUE(db->InsertRow(table, again).ok());
  }
  EXPECT_EQ(db->pages().page_count(), pages_with_values);  // no page more than before
}

TEST(Writer, RollbackRestoresEveryByteAndCommitWritesTheRow) {
  TargetCopy copy;
  const auto original = testing_support::ReadFileBytes(copy.path());
  auto db = OpenWritable(copy.path());
  ASSERT_TRUE(db);
  const std::string table = "tbl_Verwaltung_Produkte_Extras";
  for (jet::RowPointer r : RowsOf(*db, table)) ASSERT_TRUE(db->DeleteRow(table, r).ok());
  std::vector<Value> row((*db->GetTable(table))->columns.size());
  for (int i = 0; i < 2000; ++i) {
    auto r = row;
    ASSERT_TRUE(db->InsertRow(table, r).ok());
  }
  EXPECT_TRUE(db->dirty());
  db->Rollback();
  EXPECT_FALSE(db->dirty());
  EXPECT_EQ(db->pages().Image(), original);
  EXPECT_EQ((*db->GetTable(table))->row_count, 595u);

  // A commit writes the row, with the table's indexes rebuilt (jet_index_writer_test).
  auto r = row;
  ASSERT_TRUE(db->InsertRow(table, r).ok());
  const jet::Status s = db->Commit();
  EXPECT_TRUE(s.ok()) << s.ToString();
  EXPECT_FALSE(db->dirty());
  db.reset();
  auto again = jet::Database::Open(copy.path().string(), {.password = kTargetPassword});
  ASSERT_TRUE(again.ok()) << again.status().ToString();
  EXPECT_EQ((*(*again)->GetTable(table))->row_count, 596u);
}

TEST(PageStoreSavepoint, ReturnsToItsPointOrKeepsTheChanges) {
  jet::MemoryFile file(testing_support::ReadFileBytes(TargetCopy().path()));
  auto loaded = jet::PageStore::Load(file);
  ASSERT_TRUE(loaded.ok()) << loaded.status().ToString();
  jet::PageStore& store = **loaded;
  const auto clean = store.Image();
  auto page = [&](std::uint32_t n) { return *store.MutablePage(n); };
  page(5)[100] ^= 0xFF;  // changed before the savepoint: stays changed
  ASSERT_TRUE(store.AppendPage().ok());
  const auto at_savepoint = store.Image();

  store.BeginSavepoint();
  page(5)[101] ^= 0xFF;
  page(7)[200] ^= 0xFF;
  const std::uint32_t appended = *store.AppendPage();
  page(appended)[10] = 1;
  page(appended - 1)[20] = 2;  // appended before the savepoint
  store.RollbackToSavepoint();
  EXPECT_EQ(store.Image(), at_savepoint);

  store.BeginSavepoint();
  page(9)[300] ^= 0xFF;
  store.EndSavepoint();
  store.RollbackToSavepoint();  // none open: changes nothing
  EXPECT_NE(store.Image(), at_savepoint);
  // The undo log still holds the state before every change.
  store.Rollback();
  EXPECT_EQ(store.Image(), clean);
}

// Pages appended after SpillAppendedPages() live in a scratch file of which only a few chunks
// stay resident: views stay valid across trims, every page keeps its bytes, a rollback drops
// appended pages, and the image is the one a store in memory gives for the same changes: for a
// plain file and for an encrypted one, whose image encrypts the pages again on the way out.
void CheckSpilledPagesAgainstMemory(const std::vector<std::uint8_t>& bytes, const fs::path& dir) {
  jet::MemoryFile spilled_file(bytes);
  jet::MemoryFile memory_file(bytes);
  auto spilled = jet::PageStore::Load(spilled_file);
  auto memory = jet::PageStore::Load(memory_file);
  ASSERT_TRUE(spilled.ok() && memory.ok());
  (*spilled)->SpillAppendedPages(dir.string());
  const std::uint32_t first_new = (*spilled)->page_count();
  const jet::Bytes first_view = [&] {
    std::uint32_t n = *(*spilled)->AppendPage();
    (*(*spilled)->MutablePage(n))[0] = 0xAB;
    return *(*spilled)->Page(n);
  }();
  ASSERT_TRUE((*memory)->AppendPage().ok());
  (*(*memory)->MutablePage(first_new))[0] = 0xAB;
  // 10,240 pages, twenty chunks: far more than stay resident.
  auto fill = [&](jet::PageStore& store, std::uint32_t pages, std::uint8_t mark) {
    for (std::uint32_t i = 0; i < pages; ++i) {
      const std::uint32_t n = *store.AppendPage();
      auto page = *store.MutablePage(n);
      page[1] = static_cast<std::uint8_t>(n);
      page[2] = static_cast<std::uint8_t>(n >> 8);
      page[page.size() - 1] = mark;
    }
  };
  (*spilled)->MarkClean();
  (*memory)->MarkClean();
  fill(**spilled, 40 * 256, 1);
  fill(**memory, 40 * 256, 1);
  EXPECT_EQ(first_view[0], 0xAB);  // mapped in again after the trims
  for (std::uint32_t n = first_new + 1; n < (*spilled)->page_count(); n += 97) {
    const jet::Bytes page = *(*spilled)->Page(n);
    ASSERT_EQ(page[1] | page[2] << 8, static_cast<int>(n & 0xFFFF)) << "page " << n;
  }
  EXPECT_EQ((*spilled)->Image(), (*memory)->Image());
  // A page of a long-spilled chunk changed through its mapping, the chunk then trimmed again:
  // the image, copied from the scratch file, has the change.
  for (jet::PageStore* store : {spilled->get(), memory->get()}) {
    (*store->MutablePage(first_new + 700))[100] = 0x5C;
    fill(*store, 10 * 256, 3);
  }
  EXPECT_EQ((*spilled)->Image(), (*memory)->Image());

  // A rollback drops the appended pages; pages appended again start as zeros.
  (*spilled)->Rollback();
  (*memory)->Rollback();
  EXPECT_EQ((*spilled)->page_count(), first_new + 1);
  fill(**spilled, 3 * 256, 2);
  fill(**memory, 3 * 256, 2);
  EXPECT_EQ((*spilled)->Image(), (*memory)->Image());
  // The scratch file has no name: the folder holds only the database.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(PageStoreSpill, PagesInTheScratchFileKeepTheirBytesThroughTrimsAndRollbacks) {
  const TargetCopy copy;
  const auto plain = testing_support::ReadFileBytes(copy.path());
  {
    SCOPED_TRACE("plain");
    CheckSpilledPagesAgainstMemory(plain, copy.dir());
  }
  auto encrypted = testing_support::MakeEncryptedCopy(plain, 0x5A17C0DE);
  ASSERT_TRUE(encrypted.ok()) << encrypted.status().ToString();
  SCOPED_TRACE("encrypted");
  CheckSpilledPagesAgainstMemory(*encrypted, copy.dir());
}

// True when every byte of [p, p + bytes) lies in a mapping of this process.
bool Mapped(const void* p, std::size_t bytes) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(p) & ~(page - 1);
  return msync(reinterpret_cast<void*>(start), reinterpret_cast<std::uintptr_t>(p) + bytes - start,
               MS_ASYNC) == 0;
}

TEST(LargeBlock, HugePageBlocksAreAlignedWholeAndGivenBack) {
  // Sizes below, at and above a huge page, and one that ends mid-page; pages that come in on
  // use and pages that come in at once.
  for (const auto touch : {jet::Touch::kOnUse, jet::Touch::kNow}) {
    for (const std::size_t bytes :
         {std::size_t{300} * 1024, jet::kHugePageBytes, 5 * jet::kHugePageBytes + 123}) {
      std::uint8_t* data = nullptr;
      {
        jet::LargeBlock block(bytes, touch);
        data = block.data();
        ASSERT_NE(data, nullptr);
        EXPECT_TRUE(std::all_of(data, data + bytes, [](std::uint8_t b) { return b == 0; }));
        if (bytes >= jet::kHugePageBytes) {
          EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % jet::kHugePageBytes, 0u) << bytes;
        }
        std::memset(data, 0x5A, bytes);  // every byte is writable
        EXPECT_EQ(data[bytes - 1], 0x5A);
        jet::LargeBlock moved = std::move(block);
        // The moved-from block is looked at on purpose. NOLINTNEXTLINE(bugprone-use-after-move)
        EXPECT_EQ(block.data(), nullptr);
        EXPECT_EQ(moved.data(), data);
        EXPECT_TRUE(Mapped(data, bytes));
      }
      EXPECT_FALSE(Mapped(data, bytes)) << bytes << " bytes stay mapped after the block went";
    }
  }
}

TEST(Writer, ValuesThatDoNotFitAreRefusedBeforeAnythingChanges) {
  TargetCopy copy;
  auto db = OpenWritable(copy.path());
  ASSERT_TRUE(db);
  const std::string table = "tbl_Verwaltung_Produkte";
  const auto def = *db->GetTable(table);
  const auto before = db->pages().Image();
  std::vector<Value> row(def->columns.size());
  const auto code =
      static_cast<std::size_t>(def->FindColumn("txt_Kurzzeichen") - def->columns.data());
  row[code] = Value(std::string(300, 'x'));
  EXPECT_EQ(db->InsertRow(table, row).status().code(), jet::ErrorCode::kInvalidValue);
  row[code] = Value(std::int32_t{5});
  EXPECT_EQ(db->InsertRow(table, row).status().code(), jet::ErrorCode::kInvalidValue);
  row[code] = Value();
  row[0] = Value(std::int32_t{5});  // the AutoNumber key is the engine's
  EXPECT_EQ(db->InsertRow(table, row).status().code(), jet::ErrorCode::kInvalidValue);
  EXPECT_EQ(db->pages().Image(), before);
}

TEST(WriteLock, OneWriterAtATimeAndStaleLockFilesAreTakenOver) {
  TargetCopy copy;
  const std::string ldb = jet::WriteLock::LockFilePath(copy.path().string());
  EXPECT_EQ(ldb, (copy.dir() / "DBZentavo.ldb").string());
  {
    auto first = OpenWritable(copy.path());
    ASSERT_TRUE(first);
    EXPECT_TRUE(fs::exists(ldb));
    // Another process cannot take the lock while it is held.
    const pid_t child = ::fork();
    if (child == 0) {
      auto second = jet::Database::Open(copy.path().string(),
                                        {.password = kTargetPassword, .writable = true});
      ::_exit(!second.ok() && second.status().code() == jet::ErrorCode::kLocked ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Readers are not blocked.
    EXPECT_TRUE(jet::Database::Open(copy.path().string(), {.password = kTargetPassword}).ok());
  }
  EXPECT_FALSE(fs::exists(ldb));  // removed by the writer that created it
  // A stale one, which no process holds, is taken over, and removed as one we made.
  std::ofstream(ldb) << "stale";
  {
    auto writer = OpenWritable(copy.path());
    EXPECT_TRUE(writer != nullptr);
    EXPECT_TRUE(fs::exists(ldb));
  }
  EXPECT_FALSE(fs::exists(ldb));
}

TEST(AtomicReplace, NewContentOrOldContentNeverAMix) {
  TargetCopy copy;
  const fs::path file = copy.dir() / "daten.bin";
  std::ofstream(file) << "alt";
  const std::string text = "neu";
  ASSERT_TRUE(jet::ReplaceFileAtomically(file.string(), [&](const jet::PieceSink& sink) {
                return sink(
                    jet::Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
              }).ok());
  EXPECT_EQ(testing_support::ReadFileText(file), "neu");
  const jet::Status failed =
      jet::ReplaceFileAtomically(file.string(), [&](const jet::PieceSink& sink) {
        (void)sink(jet::Bytes(reinterpret_cast<const std::uint8_t*>("xx"), 2));
        return jet::Status(jet::ErrorCode::kIoError, "Datenträger voll");
      });
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(testing_support::ReadFileText(file), "neu");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(copy.dir())) ++files;
  EXPECT_EQ(files, 2u);  // the database and daten.bin: no temporary file left
}

}  // namespace

namespace {

TEST(Writer, EncryptedFilesAreWrittenEncrypted) {
  PI_REQUIRE_MDB_EXPORT();
  PI_REQUIRE_MDB_READER();
  TargetCopy copy;
  const auto plain = testing_support::ReadFileBytes(copy.path());
  auto encrypted = testing_support::MakeEncryptedCopy(plain, 0x5A17C0DE);
  ASSERT_TRUE(encrypted.ok()) << encrypted.status().ToString();
  testing_support::WriteFileBytes(copy.path(), *encrypted);
  const std::string table = "tbl_Verwaltung_ProdukteExtras";
  {
    auto db = OpenWritable(copy.path());
    ASSERT_TRUE(db);
    for (int i = 0; i < 500; ++i) {
      std::vector<Value> row((*db->GetTable(table))->columns.size());
      row[1] = Value("Extra " + std::to_string(i));
      ASSERT_TRUE(db->InsertRow(table, row).ok());
    }
    ASSERT_TRUE(db->Commit().ok());
  }
  // Still encrypted: the pages after the header are not readable as plain pages.
  const auto written = testing_support::ReadFileBytes(copy.path());
  ASSERT_GT(written.size(), plain.size());
  EXPECT_NE(written[std::size_t{4096} * 2], 0x02)
      << "the catalog's page reads as a plain definition page";
  auto db = jet::Database::Open(copy.path().string(), {.password = kTargetPassword});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  EXPECT_EQ((*(*db)->GetTable(table))->row_count, 505u);
  // mdb-reader decrypts such files on its own.
  auto counts = testing_support::RunCommand(
      testing_support::MdbReaderCommand(DbFile{copy.path(), kTargetPassword}));
  EXPECT_NE(counts.out.find(table + "\t505\n"), std::string::npos) << counts.out;
  auto oracle = testing_support::RunCommand(
      "LC_ALL=C mdb-export " + testing_support::ShellQuote(copy.path().string()) + " " + table);
  EXPECT_EQ(oracle.out, Export(copy.path(), table));
}

TEST(Writer, Jet3DatabasesAreOnlyRead) {
  const auto dir = testing_support::AccessMadeDir();
  if (!dir) GTEST_SKIP() << "the Access-made databases are not there";
  TargetCopy copy;
  const fs::path file = copy.dir() / "alt.mdb";
  fs::copy_file(*dir / "testV1997.mdb", file);
  auto db = jet::Database::Open(file.string(), {.password = "", .writable = true});
  ASSERT_FALSE(db.ok());
  EXPECT_EQ(db.status().code(), jet::ErrorCode::kNotSupported);
  EXPECT_NE(db.status().message().find("Jet-3"), std::string::npos);
  EXPECT_FALSE(fs::exists(copy.dir() / "alt.ldb"));
}

}  // namespace

namespace {

// A table of small rows takes more rows than a data page may number: the writer starts a new
// page at the page's row limit, and every reader finds every row.
TEST(Writer, SmallRowsFillPagesUpToTheirRowLimit) {
  TargetCopy copy;
  fs::copy_file(fs::path(testing_support::kFixtures) / "designs" / "small-rows.mdb", copy.path(),
                fs::copy_options::overwrite_existing);
  const std::string table = "tbl_Verwaltung_Produkte_Extras";
  constexpr int kRows = 100000;
  std::uint32_t rows_before = 0;
  std::uint32_t first_key = 0;
  {
    auto db = OpenWritable(copy.path());
    ASSERT_TRUE(db);
    const auto def = *db->GetTable(table);
    rows_before = def->row_count;
    first_key = def->autonumber + 1;
    const jet::Column* small = def->FindColumn("lng_ProduktExtraID");
    ASSERT_NE(small, nullptr);
    ASSERT_EQ(small->type(), jet::ColumnType::kInteger);
    const auto small_at = static_cast<std::size_t>(small - def->columns.data());
    const auto product_at =
        static_cast<std::size_t>(def->FindColumn("lng_ProduktID") - def->columns.data());
    for (int i = 0; i < kRows; ++i) {
      std::vector<Value> row(def->columns.size());
      row[small_at] = Value(static_cast<std::int16_t>(i % 30000));
      row[product_at] = Value(static_cast<std::int32_t>(i));
      auto where = db->InsertRow(table, row);
      ASSERT_TRUE(where.ok()) << i << ": " << where.status().ToString();
    }
    const jet::Status committed = db->Commit();
    ASSERT_TRUE(committed.ok()) << committed.ToString();
  }
  auto db = jet::Database::Open(copy.path().string(), {.password = kTargetPassword});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  const auto def = *(*db)->GetTable(table);
  EXPECT_EQ(def->row_count, rows_before + kRows);
  // No page holds more rows than a row pointer can name or Jet puts on a page.
  auto pages = jet::ReadUsageMap((*db)->pages(), def->usage_map);
  ASSERT_TRUE(pages.ok());
  std::size_t most = 0;
  for (std::uint32_t p : *pages) {
    auto page = jet::DataPage::Open((*db)->pages(), p);
    ASSERT_TRUE(page.ok()) << page.status().ToString();
    most = std::max<std::size_t>(most, page->row_count());
  }
  EXPECT_EQ(most, jet::kMaxRowsPerWrittenPage);

  // Every new row once, with its values (rows on reused pages come earlier in a scan).
  const auto rows = ValuesOf(**db, table);
  ASSERT_EQ(rows.size(), rows_before + kRows);
  const auto product_at = def->FindColumn("lng_ProduktID") - def->columns.data();
  std::vector<bool> seen(kRows, false);
  for (const auto& row : rows) {
    const std::int64_t i = std::int64_t{row[0].as<std::int32_t>()} - first_key;
    if (i < 0) continue;
    ASSERT_LT(i, kRows);
    ASSERT_FALSE(seen[static_cast<std::size_t>(i)]);
    seen[static_cast<std::size_t>(i)] = true;
    ASSERT_EQ(row[static_cast<std::size_t>(product_at)], Value(static_cast<std::int32_t>(i)));
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kRows);
  auto report = jet::CheckIntegrity(**db);
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  EXPECT_TRUE(report->ok()) << report->problems.front();

  const std::string ours = Export(copy.path(), table);
  auto oracle = testing_support::RunCommand(
      "LC_ALL=C mdb-export " + testing_support::ShellQuote(copy.path().string()) + " " + table);
  EXPECT_EQ(oracle.exit_code, 0);
  EXPECT_TRUE(oracle.out == ours) << "mdb-export differs";
  auto dump = testing_support::RunCommand(
      testing_support::MdbReaderCommand(DbFile{copy.path(), kTargetPassword}) + " --table " +
      table);
  ASSERT_EQ(dump.exit_code, 0);
  const auto lines = testing_support::SplitLines(dump.out);
  ASSERT_EQ(lines.size(), rows_before + kRows);
  std::size_t new_rows = 0;
  for (const std::string& line : lines) {
    auto row = testing_support::ParseJsonObject(line);
    ASSERT_TRUE(row) << line;
    if (row->front().second.number >= first_key) ++new_rows;
  }
  EXPECT_EQ(new_rows, std::size_t{kRows});
}

}  // namespace

namespace {

// Decimal values converted as Jet converts them into a Decimal(18,2) column, stored, and read
// back alike by us, mdb-export and mdb-reader.
TEST(Writer, DecimalsRoundTripThroughEveryReader) {
  TargetCopy copy;
  fs::copy_file(fs::path(testing_support::kFixtures) / "designs" / "decimal-default.mdb",
                copy.path(), fs::copy_options::overwrite_existing);
  const std::string table = "tbl_Verwaltung_Produkte";
  const std::vector<std::pair<Value, std::string>> cases = {
      {Value(0.1), "0.10"},
      {Value(jet::Currency{49500}), "4.95"},
      {Value(std::int32_t{-42}), "-42.00"},
      {Value(std::string("1234567890123456.785")), "1234567890123456.78"},  // half to even
      {Value(std::string("-0,015")), "-0.02"},
      {Value(std::string("0")), "0.00"},
  };
  std::int32_t first_key = 0;
  {
    auto db = OpenWritable(copy.path());
    ASSERT_TRUE(db);
    const auto def = *db->GetTable(table);
    const jet::Column* dec = def->FindColumn("dec_Menge");
    ASSERT_NE(dec, nullptr);
    ASSERT_EQ(dec->type(), jet::ColumnType::kDecimal);
    const auto at = static_cast<std::size_t>(dec - def->columns.data());
    first_key = static_cast<std::int32_t>(def->autonumber) + 1;
    for (const auto& [value, expected] : cases) {
      auto d = jet::DecimalFromValue(value, dec->precision, dec->scale);
      ASSERT_TRUE(d.ok()) << d.status().ToString();
      ASSERT_EQ(jet::FormatDecimal(*d), expected);
      std::vector<Value> row(def->columns.size());
      row[at] = Value(*d);
      auto where = db->InsertRow(table, row);
      ASSERT_TRUE(where.ok()) << where.status().ToString();
    }
    const jet::Status committed = db->Commit();
    ASSERT_TRUE(committed.ok()) << committed.ToString();
  }
  auto db = jet::Database::Open(copy.path().string(), {.password = kTargetPassword});
  ASSERT_TRUE(db.ok());
  const auto def = *(*db)->GetTable(table);
  const auto at = static_cast<std::size_t>(def->FindColumn("dec_Menge") - def->columns.data());
  std::vector<std::string> ours;
  for (const auto& row : ValuesOf(**db, table)) {
    if (row[0].as<std::int32_t>() >= first_key) {
      ours.push_back(jet::FormatDecimal(row[at].as<jet::Decimal>()));
    }
  }
  std::vector<std::string> expected;
  expected.reserve(cases.size());
  for (const auto& c : cases) expected.push_back(c.second);
  EXPECT_EQ(ours, expected);

  auto oracle = testing_support::RunCommand(
      "LC_ALL=C mdb-export " + testing_support::ShellQuote(copy.path().string()) + " " + table);
  EXPECT_EQ(oracle.exit_code, 0);
  EXPECT_EQ(oracle.out, Export(copy.path(), table));
  for (const auto& c : cases) {
    EXPECT_NE(oracle.out.find("," + c.second + "\n"), std::string::npos) << c.second;
  }
  auto dump = testing_support::RunCommand(
      testing_support::MdbReaderCommand(DbFile{copy.path(), kTargetPassword}) + " --table " +
      table);
  ASSERT_EQ(dump.exit_code, 0);
  std::vector<std::string> theirs;
  for (const std::string& line : testing_support::SplitLines(dump.out)) {
    auto row = testing_support::ParseJsonObject(line);
    ASSERT_TRUE(row);
    if (row->front().second.number < first_key) continue;
    for (const auto& [name, value] : *row) {
      if (name == "dec_Menge") theirs.push_back(value.text);
    }
  }
  EXPECT_EQ(theirs, expected);
}

}  // namespace
