// Databases with encrypted pages ("encrypt database" in Access): each test database is copied
// with a database key in its header and every page after the header RC4-encrypted under it
// (tests/encrypted_copy.h). Our reader must read the copy exactly as the plain file, and so must
// mdb-reader and mdb-export, which both decrypt such files: that they agree shows the copy is
// encrypted the way Access does it, not merely the way our reader expects. Jet 3 uses the same
// scheme as Jet 4 (mdb-reader and Jackcess treat both alike), so the Access-made Jet 3 files are
// included.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "jet/database/database.h"
#include "jet/file/file_source.h"
#include "jet/file/header.h"
#include "tests/encrypted_copy.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"

namespace {

namespace fs = std::filesystem;
using testing_support::DbFile;
using testing_support::RunCommand;
using testing_support::ShellQuote;

constexpr std::uint32_t kKey = 0x7A3C5E91;

// Every table of a database as our CSV, keyed by table name (in list order).
std::vector<std::pair<std::string, std::string>> ExportAll(const jet::Database& db) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& name : db.TableNames()) {
    std::ostringstream csv;
    const jet::Status s = inspect::ExportCsv(db, name, csv);
    EXPECT_TRUE(s.ok()) << name << ": " << s.ToString();
    out.emplace_back(name, csv.str());
  }
  return out;
}

jet::Result<std::unique_ptr<jet::Database>> OpenBytes(std::vector<std::uint8_t> bytes,
                                                      const std::string& password) {
  jet::MemoryFile file(std::move(bytes));
  return jet::Database::Open(file, {.password = password});
}

std::string MdbExport(const fs::path& file, const std::string& table) {
  const auto r = RunCommand("LC_ALL=C mdb-export " + ShellQuote(file.string()) + " " +
                            ShellQuote(table) + " 2>/dev/null");
  EXPECT_EQ(r.exit_code, 0) << "mdb-export " << file << " " << table;
  return r.out;
}

class EncryptedCopy : public testing::TestWithParam<DbFile> {
 protected:
  void SetUp() override {
    testing_support::SkipWithoutDatabase(GetParam());
    if (IsSkipped()) return;
    plain_ = testing_support::ReadFileBytes(GetParam().path);
    auto copy = testing_support::MakeEncryptedCopy(plain_, kKey);
    ASSERT_TRUE(copy.ok()) << copy.status().ToString();
    encrypted_ = std::move(*copy);
  }

  std::vector<std::uint8_t> plain_;
  std::vector<std::uint8_t> encrypted_;
};

TEST_P(EncryptedCopy, OnlyTheKeyAndThePagesAfterTheHeaderChange) {
  ASSERT_EQ(encrypted_.size(), plain_.size());
  auto header = jet::ParseHeader(encrypted_);
  ASSERT_TRUE(header.ok()) << header.status().ToString();
  EXPECT_EQ(header->database_key, kKey);
  const std::size_t page_size = header->format().page_size;
  // Page 0: the four key bytes (masked) differ, nothing else.
  for (std::size_t i = 0; i < page_size; ++i) {
    if (i >= 0x3E && i < 0x42) continue;
    ASSERT_EQ(encrypted_[i], plain_[i]) << "header byte " << i;
  }
  std::size_t changed = 0;
  for (std::size_t p = 1; p < plain_.size() / page_size; ++p) {
    changed += !std::equal(plain_.begin() + static_cast<std::ptrdiff_t>(p * page_size),
                           plain_.begin() + static_cast<std::ptrdiff_t>((p + 1) * page_size),
                           encrypted_.begin() + static_cast<std::ptrdiff_t>(p * page_size));
  }
  EXPECT_EQ(changed, plain_.size() / page_size - 1) << "every page after the header";
}

TEST_P(EncryptedCopy, OurReaderExportsEveryTableAsFromThePlainFile) {
  auto plain_db = OpenBytes(plain_, GetParam().password);
  ASSERT_TRUE(plain_db.ok()) << plain_db.status().ToString();
  auto encrypted_db = OpenBytes(encrypted_, GetParam().password);
  ASSERT_TRUE(encrypted_db.ok()) << encrypted_db.status().ToString();
  EXPECT_EQ((*encrypted_db)->header().database_key, kKey);
  EXPECT_EQ((*encrypted_db)->header().password, (*plain_db)->header().password);
  const auto expected = ExportAll(**plain_db);
  const auto actual = ExportAll(**encrypted_db);
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].first, expected[i].first);
    EXPECT_EQ(actual[i].second, expected[i].second) << expected[i].first;
  }
}

TEST_P(EncryptedCopy, MdbReaderAndMdbExportReadTheEncryptedFileToo) {
  PI_REQUIRE_MDB_EXPORT();
  PI_REQUIRE_MDB_READER();
  testing_support::TempFile file("encrypted-" + GetParam().TestName());
  testing_support::WriteFileBytes(file.path(), encrypted_);
  const DbFile encrypted{file.path(), GetParam().password};

  // Our reader from disk, for the table list.
  auto db = jet::Database::Open(file.path().string(), {.password = GetParam().password});
  ASSERT_TRUE(db.ok()) << db.status().ToString();

  // mdb-reader: the same tables and row counts as on the plain file.
  const auto plain_dump = RunCommand(testing_support::MdbReaderCommand(GetParam()));
  const auto encrypted_dump = RunCommand(testing_support::MdbReaderCommand(encrypted));
  ASSERT_EQ(plain_dump.exit_code, 0);
  ASSERT_EQ(encrypted_dump.exit_code, 0);
  EXPECT_EQ(encrypted_dump.out, plain_dump.out);

  // mdb-export: byte for byte what it prints for the plain file.
  for (const std::string& name : (*db)->TableNames()) {
    EXPECT_EQ(MdbExport(file.path(), name), MdbExport(GetParam().path, name)) << name;
  }
}

std::vector<DbFile> Databases() {
  std::vector<DbFile> files = testing_support::ProjectDatabases();
  std::vector<DbFile> made = testing_support::AccessMadeDatabases();
  if (made.empty()) made.push_back(DbFile{});  // skips with a message
  files.insert(files.end(), made.begin(), made.end());
  return files;
}

INSTANTIATE_TEST_SUITE_P(All, EncryptedCopy, testing::ValuesIn(Databases()),
                         [](const testing::TestParamInfo<DbFile>& p) {
                           return p.param.path.empty() ? std::string("AccessMadeMissing")
                                                       : p.param.TestName();
                         });

// ---------------------------------------------------------------------------------------------

fs::path Source() { return fs::path(testing_support::kFixtures) / "source.mdb"; }

TEST(EncryptionKeys, AnyNonZeroKeyReadsTheSame) {
  const auto plain = testing_support::ReadFileBytes(Source());
  auto plain_db = OpenBytes(plain, "");
  ASSERT_TRUE(plain_db.ok());
  const auto expected = ExportAll(**plain_db);
  // The page key is the database key XOR the page number: keys that flip the page number's
  // bits and keys with every byte set.
  for (std::uint32_t key : {0x00000001u, 0x000000FFu, 0x00FF00FFu, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(key);
    auto copy = testing_support::MakeEncryptedCopy(plain, key);
    ASSERT_TRUE(copy.ok()) << copy.status().ToString();
    auto db = OpenBytes(*copy, "");
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_EQ(ExportAll(**db), expected);
  }
}

TEST(EncryptionKeys, AKeyOverPlainPagesIsNotReadable) {
  // The key alone, pages left plain: decrypting them gives garbage, which must be refused.
  auto plain = testing_support::ReadFileBytes(Source());
  auto copy = testing_support::MakeEncryptedCopy(plain, kKey);
  ASSERT_TRUE(copy.ok());
  auto header_only = plain;
  std::copy(copy->begin(), copy->begin() + 4096, header_only.begin());
  auto db = OpenBytes(header_only, "");
  EXPECT_FALSE(db.ok());
}

TEST(EncryptionKeys, HelperRefusesKeyZeroAndEncryptedInput) {
  const auto plain = testing_support::ReadFileBytes(Source());
  EXPECT_FALSE(testing_support::MakeEncryptedCopy(plain, 0).ok());
  auto once = testing_support::MakeEncryptedCopy(plain, kKey);
  ASSERT_TRUE(once.ok());
  EXPECT_FALSE(testing_support::MakeEncryptedCopy(*once, kKey).ok());
  EXPECT_FALSE(testing_support::MakeEncryptedCopy({1, 2, 3}, kKey).ok());
}

}  // namespace
