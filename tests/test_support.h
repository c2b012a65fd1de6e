// Helpers shared by the tests that compare the engine with outside programs: the test databases
// and their passwords, running a command, a small JSON reader for mdb-reader's rows, and the
// detection of tables whose rows moved.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/database/database.h"
#include "jet/file/page_store.h"
#include "jet/index/index_page.h"

namespace testing_support {

// A database the tests read, with the password that opens it.
struct DbFile {
  std::filesystem::path path;
  std::string password;
  // Name for test instances: the file name with everything but letters and digits dropped.
  std::string TestName() const;
};
inline void PrintTo(const DbFile& f, std::ostream* os) { *os << f.path; }

// Every .mdb in tests/data that is a database (not-a-database.mdb and truncated.mdb left out),
// sorted by name, with the passwords tests/data/README.md gives.
std::vector<DbFile> ProjectDatabases();

// The folder of Access-made databases, when it exists.
std::optional<std::filesystem::path> AccessMadeDir();
// Every .mdb of that folder and of access-quirks/ (Access-made files with what Access leaves in
// files it uses every day, e.g. a system table's row count that is off), each folder sorted by
// name (none when the folders are missing); no passwords.
std::vector<DbFile> AccessMadeDatabases();

// Wraps text in single quotes for /bin/sh, so that any path or name reaches a command unchanged.
std::string ShellQuote(std::string_view text);

struct CommandResult {
  int exit_code = -1;  // -1 when the command did not end normally
  std::string out;     // everything it wrote to stdout
};
// Runs `command` with /bin/sh and collects its stdout; stderr goes where the command says.
CommandResult RunCommand(const std::string& command);

// Why an outside program a test compares with cannot run here, naming the Debian package (or npm
// step) that brings it; nullopt when it can. kMdbExport is mdbtools' mdb-export, kMdbReader is
// Node.js with the npm package mdb-reader installed by `npm ci`, kWine is wine64 (on PATH or in
// /usr/lib/wine, where Debian puts it).
enum class Oracle { kMdbExport, kMdbReader, kWine };
std::optional<std::string> MissingOracle(Oracle oracle);
// True in CI (CI=true), where tools/test.sh has installed every oracle.
bool InCi();

// Ends the calling test when an oracle is missing: a failure in CI, a skip that names the
// missing package elsewhere. Use in a test body or a fixture's SetUp.
#define PI_REQUIRE_ORACLE(oracle)                                                   \
  do {                                                                              \
    if (auto pi_missing_ = ::testing_support::MissingOracle(oracle)) {              \
      if (::testing_support::InCi()) FAIL() << *pi_missing_ << " (required in CI)"; \
      GTEST_SKIP() << *pi_missing_;                                                 \
    }                                                                               \
  } while (false)
#define PI_REQUIRE_MDB_EXPORT() PI_REQUIRE_ORACLE(::testing_support::Oracle::kMdbExport)
#define PI_REQUIRE_MDB_READER() PI_REQUIRE_ORACLE(::testing_support::Oracle::kMdbReader)

// The command line that runs the mdb-reader oracle on `db` (arguments appended by the caller).
std::string MdbReaderCommand(const DbFile& db);

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::string ReadFileText(const std::filesystem::path& path);

// The lines of a text (without their '\n'); a final line without '\n' counts too.
std::vector<std::string> SplitLines(std::string_view text);

// A new, empty folder in the temporary folder, made with mkdtemp: its name is one that no
// other process and no earlier run (whose leftovers may share a process id) holds. It is removed
// with everything in it on destruction.
class ScratchDir {
 public:
  explicit ScratchDir(std::string_view stem);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

// A file name (not yet a file) in a scratch folder of its own; both go on destruction.
class TempFile {
 public:
  explicit TempFile(std::string_view stem);
  const std::filesystem::path& path() const { return path_; }

 private:
  ScratchDir dir_;
  std::filesystem::path path_;
};

// A writable copy of target.mdb as DBZentavo.mdb in a scratch folder (the lock file goes beside
// it); the folder goes on destruction.
class TargetCopy {
 public:
  TargetCopy();
  std::filesystem::path path() const { return dir_.path() / "DBZentavo.mdb"; }
  const std::filesystem::path& dir() const { return dir_.path(); }

 private:
  ScratchDir dir_;
};

// The message with which a test over the Access-made databases is skipped when they are missing
// (the database lists then hold one empty entry).
void SkipWithoutDatabase(const DbFile& db);

// One value of a JSON object as mdb_reader_dump.mjs writes them (flat objects only).
struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // strings decoded to UTF-8; for numbers the literal as written
};
using JsonObject = std::vector<std::pair<std::string, JsonValue>>;  // in the order written

// Parses one line `{"key":value,...}` with scalar values; nullopt when it is not such an object.
std::optional<JsonObject> ParseJsonObject(std::string_view line);

// True when some row of the table lives elsewhere than its row id says (a row that grew and
// moved: its slot holds a forwarding pointer).
bool HasMovedRows(const jet::Database& db, const jet::TableDef& table);

// All rows of a table through the engine (fails the calling test on an error).
std::vector<std::vector<jet::Value>> ReadAllRows(const jet::Database& db, const jet::TableDef& t);

// Where the live rows of a table are, as a scan reports them (fails the calling test on an
// error).
std::vector<jet::RowPointer> RowsOf(const jet::Database& db, const std::string& table);

// Every entry of an index tree in key order, walked leaf by leaf (fails the calling test on an
// error).
std::vector<jet::IndexEntry> EntriesOf(const jet::PageStore& store, const jet::TableDef& table,
                                       const jet::RealIndex& index);

}  // namespace testing_support
