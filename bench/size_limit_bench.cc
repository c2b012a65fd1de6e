// size_limit_bench: Jet's 2 GB limit at real size. A copy of the sample target grows in memory
// past 2 GB (product rows with long Memo values), the commit must fail with error 3036 and leave
// the file byte for byte as it was; then the same growth stopped just below the limit commits.
// Needs about 2.2 GB of memory and 2 GB of disk; prints figures and ends with 0 when both hold.
//
//   size_limit_bench [TARGET]   (default: tests/data/target.mdb)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jet/database/database.h"
#include "jet/file/page_store.h"

namespace fs = std::filesystem;

namespace {

constexpr char kPassword[] = "pwok572hafxi317nrb";
constexpr char kTable[] = "tbl_Verwaltung_Produkte";
constexpr std::size_t kMemoChars = 60000;

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

std::vector<char> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Adds rows until the pages reach `stop_bytes`; the status of the commit after it.
jet::Status GrowAndCommit(const fs::path& file, std::uint64_t stop_bytes, long& rows,
                          double& seconds) {
  const auto start = std::chrono::steady_clock::now();
  auto db = jet::Database::Open(file.string(), {.password = kPassword, .writable = true});
  if (!db.ok()) return db.status();
  const auto def = *(*db)->GetTable(kTable);
  rows = 0;
  while (std::uint64_t{(*db)->pages().page_count()} * (*db)->pages().page_size() < stop_bytes) {
    std::vector<jet::Value> row(def->columns.size());
    for (std::size_t c = 0; c < def->columns.size(); ++c) {
      const jet::Column& col = def->columns[c];
      if (col.type() == jet::ColumnType::kMemo) {
        row[c] = jet::Value(std::string(kMemoChars, static_cast<char>('a' + rows % 26)));
      } else if (col.type() == jet::ColumnType::kLong && !col.autonumber()) {
        row[c] = jet::Value(static_cast<std::int32_t>(rows % 1000));
      }
    }
    auto at = (*db)->InsertRow(kTable, row);
    if (!at.ok()) return at.status();
    ++rows;
  }
  jet::Status s = (*db)->Commit();
  seconds = Since(start);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path source = argc > 1 ? fs::path(argv[1]) : fs::path(PI_BENCH_TARGET);
  const fs::path dir =
      fs::temp_directory_path() / ("pi-size-limit-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "DBZentavo.mdb";
  fs::copy_file(source, file);
  const auto before = ReadAll(file);
  bool good = true;

  long rows = 0;
  double seconds = 0;
  jet::Status over = GrowAndCommit(file, jet::kMaxDatabaseBytes + (64u << 20), rows, seconds);
  const bool unchanged = ReadAll(file) == before;
  std::printf("past the limit: %ld rows, commit: %s (%.1f s); file unchanged: %s\n", rows,
              over.ok() ? "stored" : over.ToString().c_str(), seconds, unchanged ? "yes" : "NO");
  good = good && over.code() == jet::ErrorCode::kDatabaseFull && unchanged;

  jet::Status below = GrowAndCommit(file, jet::kMaxDatabaseBytes - (256u << 20), rows, seconds);
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  std::printf("below the limit: %ld rows, commit: %s (%.1f s); file: %llu bytes\n", rows,
              below.ok() ? "stored" : below.ToString().c_str(), seconds,
              static_cast<unsigned long long>(size));
  good = good && below.ok() && size <= jet::kMaxDatabaseBytes;
  fs::remove_all(dir, ec);
  std::printf("%s\n", good ? "size limit: as Jet" : "size limit: WRONG");
  return good ? 0 : 1;
}
