// insert_bench: inserts per second into an indexed table, next to the floor: the time the same
// file's bytes take to write and sync.
//
//   insert_bench [ROWS] [TARGET]   (defaults: 1,000,000 rows; tests/data/target.mdb)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/database/database.h"

namespace fs = std::filesystem;

namespace {

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Writes `bytes` bytes in 4 KiB blocks and syncs them, as `dd bs=4k conv=fsync` does.
double WriteAndSync(const fs::path& path, std::uint64_t bytes) {
  std::vector<char> block(4096, 'x');
  const auto start = std::chrono::steady_clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  for (std::uint64_t done = 0; fd >= 0 && done < bytes; done += block.size()) {
    if (::write(fd, block.data(), block.size()) < 0) break;
  }
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  const double seconds = Since(start);
  fs::remove(path);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const fs::path source = argc > 2 ? fs::path(argv[2]) : fs::path(PI_BENCH_TARGET);
  const fs::path dir =
      fs::temp_directory_path() / ("pi-insert-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "DBZentavo.mdb";
  fs::copy_file(source, file);
  const char* table = "tbl_Verwaltung_Produkte_Preise";  // a key and an index on lng_ProduktID

  auto db =
      jet::Database::Open(file.string(), {.password = "pwok572hafxi317nrb", .writable = true});
  if (!db.ok()) {
    std::fprintf(stderr, "%s\n", db.status().ToString().c_str());
    return 1;
  }
  const auto def = *(*db)->GetTable(table);
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < rows; ++i) {
    std::vector<jet::Value> row(def->columns.size());
    row[1] = jet::Value(static_cast<std::int32_t>(i / 10));
    row[2] = jet::Value(static_cast<std::int32_t>(i % 10 + 1));
    row[3] = jet::Value(static_cast<double>(i % 1000) / 4);
    row[4] = jet::Value(std::int32_t{2});
    if (!(*db)->InsertRow(table, row).ok()) return 1;
  }
  const double inserted = Since(start);
  const auto commit_start = std::chrono::steady_clock::now();
  const jet::Status s = (*db)->Commit();
  const double committed = Since(commit_start);
  if (!s.ok()) {
    std::fprintf(stderr, "%s\n", s.ToString().c_str());
    return 1;
  }
  const std::uint64_t size = fs::file_size(file);
  const double floor = WriteAndSync(dir / "floor.bin", size);
  const double total = inserted + committed;
  std::printf(
      "%ld Zeilen in %s: %.2f s einfügen + %.2f s Commit (Indizes, Schreiben, Sync) = %.2f s\n",
      rows, table, inserted, committed, total);
  std::printf(
      "  %.0f Zeilen/s; Datei %.1f MB; Boden (Schreiben+Sync der Datei): %.2f s; Verhältnis %.1f\n",
      static_cast<double>(rows) / total, static_cast<double>(size) / 1e6, floor, total / floor);
  db->reset();
  fs::remove_all(dir);
  return 0;
}
