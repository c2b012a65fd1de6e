// read_bench: how fast the engine reads every row of every user table of a database, and how
// fast mdb-export (mdbtools) prints the same tables, measured in the same run.
//
//   read_bench [FILE] [--password PW] [--repeat N]
//
// FILE defaults to tests/data/source-large.mdb. Each pass opens the file and reads all rows of all
// user tables; the figures are totals over N passes (default 5). The mdb-export passes start one
// process per table and discard its output, so they include process start-up and CSV formatting.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/database/database.h"
#include "jet/table/table_scan.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

int Usage() {
  std::fprintf(stderr, "Aufruf: read_bench [DATEI] [--password PW] [--repeat N]\n");
  return 2;
}

// One pass of our reader: rows read, or -1 after printing the error.
long long ReadEverything(const std::string& path, const std::string& password) {
  auto db = jet::Database::Open(path, {.password = password});
  if (!db.ok()) {
    std::fprintf(stderr, "read_bench: %s\n", db.status().ToString().c_str());
    return -1;
  }
  long long rows = 0;
  for (const std::string& name : (*db)->TableNames()) {
    auto table = (*db)->GetTable(name);
    if (!table.ok()) {
      std::fprintf(stderr, "read_bench: %s\n", table.status().ToString().c_str());
      return -1;
    }
    jet::TableScan scan(**db, **table);
    while (true) {
      auto more = scan.Next();
      if (!more.ok()) {
        std::fprintf(stderr, "read_bench: %s\n", more.status().ToString().c_str());
        return -1;
      }
      if (!*more) break;
      ++rows;
    }
  }
  return rows;
}

// Runs mdb-export on one table and discards its output: false when it failed.
bool MdbExport(const std::string& path, const std::string& table, long long& bytes) {
  const std::string cmd =
      "LC_ALL=C mdb-export " + ShellQuote(path) + " " + ShellQuote(table) + " 2>/dev/null";
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (pipe == nullptr) return false;
  char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) bytes += static_cast<long long>(n);
  const int status = ::pclose(pipe);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

// An exception may end the bench with std::terminate's message; it measures, it does not recover.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
  std::string path = PI_BENCH_DEFAULT_FILE;
  std::string password;
  int repeats = 5;
  bool have_path = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--password" && i + 1 < argc) {
      password = argv[++i];
    } else if (a == "--repeat" && i + 1 < argc) {
      repeats = std::atoi(argv[++i]);
      if (repeats < 1) return Usage();
    } else if (!have_path && a.rfind("--", 0) != 0) {
      path = a;
      have_path = true;
    } else {
      return Usage();
    }
  }

  std::error_code ec;
  const auto file_size = std::filesystem::file_size(path, ec);
  if (ec) {
    std::fprintf(stderr, "read_bench: %s: %s\n", path.c_str(), ec.message().c_str());
    return 1;
  }
  auto db = jet::Database::Open(path, {.password = password});
  if (!db.ok()) {
    std::fprintf(stderr, "read_bench: %s\n", db.status().ToString().c_str());
    return 1;
  }
  const std::vector<std::string> tables = (*db)->TableNames();
  std::printf("file: %s (%.2f MB, %zu user tables), %d passes\n", path.c_str(),
              static_cast<double>(file_size) / 1e6, tables.size(), repeats);

  // Our reader.
  long long rows_per_pass = 0;
  const auto start = Clock::now();
  for (int r = 0; r < repeats; ++r) {
    rows_per_pass = ReadEverything(path, password);
    if (rows_per_pass < 0) return 1;
  }
  const double ours = Seconds(Clock::now() - start);
  const double total_rows = static_cast<double>(rows_per_pass) * repeats;
  const double ours_rows_per_s = total_rows / ours;
  std::printf("jet engine:  %lld rows a pass, %.3f s per pass, %.0f rows/s, %.1f MB/s\n",
              rows_per_pass, ours / repeats, ours_rows_per_s,
              static_cast<double>(file_size) * repeats / ours / 1e6);

  // mdb-export on the same tables.
  long long csv_bytes = 0;
  const auto export_start = Clock::now();
  for (int r = 0; r < repeats; ++r) {
    for (const std::string& table : tables) {
      if (!MdbExport(path, table, csv_bytes)) {
        std::printf("mdb-export:  failed on table %s (is mdbtools installed?)\n", table.c_str());
        return 0;
      }
    }
  }
  const double theirs = Seconds(Clock::now() - export_start);
  const double theirs_rows_per_s = total_rows / theirs;
  std::printf("mdb-export:  %.3f s per pass, %.0f rows/s, %.1f MB of CSV a pass\n",
              theirs / repeats, theirs_rows_per_s, static_cast<double>(csv_bytes) / repeats / 1e6);
  std::printf("ratio:       the jet engine reads %.1f times as many rows per second\n",
              ours_rows_per_s / theirs_rows_per_s);
  return 0;
}
