// Killed at any moment, a writer leaves the database either exactly as it was or exactly as it
// would have been after the commit: the process is killed (SIGKILL) at random points of a large
// commit, of a whole import run and of a restore of a backup, and the file is checked every time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/rollback_journal.h"
#include "jet/table/table_scan.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kTargetPassword;

constexpr char kPrices[] = "tbl_Verwaltung_Produkte_Preise";

// Rows of a table and whether the whole file passes the integrity check.
struct State {
  std::size_t rows = 0;
  bool sound = false;
};

State Inspect(const fs::path& file, const char* table) {
  State s;
  auto db = jet::Database::Open(file.string(), {.password = kTargetPassword});
  if (!db.ok()) return s;
  auto t = (*db)->GetTable(table);
  auto report = jet::CheckIntegrity(**db);
  s.rows = t.ok() ? (*t)->row_count : 0;
  s.sound = report.ok() && report->ok();
  return s;
}

// The work of one writer: replace every price row by 60,000 new ones in one commit.
[[noreturn]] void RewritePrices(const fs::path& file) {
  auto db = jet::Database::Open(file.string(), {.password = kTargetPassword, .writable = true});
  if (!db.ok()) ::_exit(2);
  auto t = (*db)->GetTable(kPrices);
  std::vector<jet::RowPointer> rows;
  jet::TableScan scan(**db, **t);
  while (*scan.Next()) rows.push_back(scan.position());
  for (jet::RowPointer r : rows) {
    if (!(*db)->DeleteRow(kPrices, r).ok()) ::_exit(3);
  }
  for (int i = 0; i < 60000; ++i) {
    std::vector<jet::Value> row((*t)->columns.size());
    row[1] = jet::Value(static_cast<std::int32_t>(i / 10));
    row[2] = jet::Value(static_cast<std::int32_t>(i % 10 + 1));
    row[3] = jet::Value(i * 0.5);
    row[4] = jet::Value(std::int32_t{2});
    if (!(*db)->InsertRow(kPrices, row).ok()) ::_exit(4);
  }
  ::_exit((*db)->Commit().ok() ? 0 : 5);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST(Crash, KilledDuringALargeCommitTheFileIsOldOrNew) {
  testing_support::ScratchDir folder("crash");
  const fs::path original = testing_support::Fixture("target.mdb");
  const fs::path file = folder.path() / "DBZentavo.mdb";
  const auto old_bytes = testing_support::ReadFileBytes(original);

  // One undisturbed run: how long the work takes, and what the file holds afterwards.
  fs::copy_file(original, file);
  auto start = std::chrono::steady_clock::now();
  pid_t child = ::fork();
  if (child == 0) RewritePrices(file);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const double duration = Seconds(start);
  const auto new_bytes = testing_support::ReadFileBytes(file);
  ASSERT_NE(new_bytes, old_bytes);
  const State done = Inspect(file, kPrices);
  EXPECT_EQ(done.rows, 60000u);
  EXPECT_TRUE(done.sound);

  std::mt19937 rng(20261208);
  std::uniform_real_distribution<double> when(0.0, duration * 1.1);
  int old_seen = 0, new_seen = 0;
  for (int round = 0; round < 50; ++round) {
    fs::remove(file);
    fs::copy_file(original, file);
    child = ::fork();
    if (child == 0) RewritePrices(file);
    std::this_thread::sleep_for(std::chrono::duration<double>(when(rng)));
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    const auto bytes = testing_support::ReadFileBytes(file);
    if (bytes == old_bytes) {
      ++old_seen;
    } else {
      ++new_seen;
      EXPECT_EQ(bytes, new_bytes) << "round " << round << ": neither the old nor the new file";
    }
    // Whatever the moment, the next writer gets the lock, finds a sound file and clears away
    // the killed writer's unfinished new file.
    auto db = jet::Database::Open(file.string(), {.password = kTargetPassword, .writable = true});
    ASSERT_TRUE(db.ok()) << "round " << round << ": " << db.status().ToString();
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder.path())) ++files;
    EXPECT_EQ(files, 2u) << "round " << round;  // the database and its lock file
  }
  std::printf("50 kills: %d times the old file, %d times the new one\n", old_seen, new_seen);
  EXPECT_GT(old_seen, 0);
}

// The work of one writer that commits in place (the file has a second name): 2,000 new price
// rows; killed after `step` of the in-place commit, or not at all (-1).
[[noreturn]] void AddPricesInPlace(const fs::path& file, int step) {
  jet::OpenOptions options{.password = kTargetPassword, .writable = true};
  if (step >= 0) {
    options.test.after_in_place_step = [step](jet::InPlaceStep at) {
      if (static_cast<int>(at) == step) ::raise(SIGKILL);
    };
  }
  auto db = jet::Database::Open(file.string(), options);
  if (!db.ok() || !(*db)->commits_in_place()) ::_exit(2);
  auto t = (*db)->GetTable(kPrices);
  for (int i = 0; i < 2000; ++i) {
    std::vector<jet::Value> row((*t)->columns.size());
    row[1] = jet::Value(static_cast<std::int32_t>(i / 10));
    row[2] = jet::Value(static_cast<std::int32_t>(i % 10 + 1));
    row[3] = jet::Value(i * 0.25);
    row[4] = jet::Value(std::int32_t{2});
    if (!(*db)->InsertRow(kPrices, row).ok()) ::_exit(4);
  }
  ::_exit((*db)->Commit().ok() ? 0 : 5);
}

int RunChild(const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child == 0) work();
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

TEST(Crash, KilledAtEveryStepOfAnInPlaceCommitTheNextStartRollsBack) {
  testing_support::ScratchDir folder("crash-in-place");
  const fs::path original = testing_support::Fixture("target.mdb");
  const fs::path file = folder.path() / "DBZentavo.mdb";
  const fs::path second = folder.path() / "Zweitname.mdb";
  const fs::path journal = jet::JournalPath(file.string());
  const auto old_bytes = testing_support::ReadFileBytes(original);
  auto fresh = [&] {
    fs::remove(second);
    fs::remove(file);
    fs::copy_file(original, file);
    fs::create_hard_link(file, second);
  };
  fresh();
  int status = RunChild([&] { AddPricesInPlace(file, -1); });
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const auto new_bytes = testing_support::ReadFileBytes(file);
  ASSERT_NE(new_bytes, old_bytes);
  EXPECT_FALSE(fs::exists(journal));

  for (int step = 0; step < jet::kInPlaceSteps; ++step) {
    SCOPED_TRACE("killed after step " + std::to_string(step + 1));
    fresh();
    struct stat before;
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    status = RunChild([&] { AddPricesInPlace(file, step); });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    const auto step_kind = static_cast<jet::InPlaceStep>(step);
    const bool committed = step_kind == jet::InPlaceStep::kJournalRemoved;
    const bool torn = step_kind >= jet::InPlaceStep::kHeaderInvalidated &&
                      step_kind <= jet::InPlaceStep::kPagesSynced;
    EXPECT_EQ(fs::exists(journal), !committed);
    if (torn) {
      // A copy without the journal, as another program sees the file: not a database at all.
      const fs::path seen = folder.path() / "gesehen.mdb";
      fs::copy_file(file, seen, fs::copy_options::overwrite_existing);
      auto other = jet::Database::Open(seen.string(), {.password = kTargetPassword});
      EXPECT_EQ(other.status().code(), jet::ErrorCode::kUnrecognizedFormat);
      if (!testing_support::MissingOracle(testing_support::Oracle::kMdbExport)) {
        EXPECT_NE(
            testing_support::RunCommand("mdb-tables " + testing_support::ShellQuote(seen.string()) +
                                        " >/dev/null 2>&1")
                .exit_code,
            0)
            << "mdbtools opens the half-written file";
      }
      fs::remove(seen);
    }
    // The next start: rolled back (and said so) before anything else, under the lock.
    auto db = jet::Database::Open(file.string(), {.password = kTargetPassword, .writable = true});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    const bool said = !(*db)->rolled_back().empty();
    EXPECT_EQ(said, step_kind >= jet::InPlaceStep::kJournalValid && !committed)
        << (*db)->rolled_back();
    db->reset();
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(testing_support::ReadFileBytes(file), committed ? new_bytes : old_bytes);
    struct stat after;
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
  }
}

TEST(Crash, KilledDuringAnImportRunTheTargetIsOldOrComplete) {
  const fs::path driver = std::string(PI_BINARY_DIR) + "/bench/import-run";
  if (!fs::exists(driver)) GTEST_SKIP() << "import-run is not built";
  testing_support::ScratchDir folder("crash");
  const fs::path original = testing_support::Fixture("target.mdb");
  const fs::path target = folder.path() / "DBZentavo.mdb";
  const std::string source = testing_support::Fixture("source-large.mdb");
  fs::create_directories(folder.path() / "config");
  {
    std::ofstream ini(folder.path() / "config" / "ZentavoSettings.ini");
    ini << "[DB]\nRoot=" << folder.path().string() << "/\n";
  }
  const auto old_bytes = testing_support::ReadFileBytes(original);
  auto run = [&]() {
    pid_t child = ::fork();
    if (child == 0) {
      ::setenv("XDG_CONFIG_HOME", (folder.path() / "config").c_str(), 1);
      const int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
      ::execl(driver.c_str(), driver.c_str(), source.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return child;
  };

  fs::copy_file(original, target);
  auto start = std::chrono::steady_clock::now();
  int status = 0;
  ::waitpid(run(), &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const double duration = Seconds(start);
  const State complete = Inspect(target, "tbl_Verwaltung_Produkte");
  ASSERT_EQ(complete.rows, 20000u);

  std::mt19937 rng(5);
  std::uniform_real_distribution<double> when(0.0, duration * 1.05);
  for (int round = 0; round < 20; ++round) {
    fs::remove(target);
    fs::copy_file(original, target);
    const pid_t child = run();
    std::this_thread::sleep_for(std::chrono::duration<double>(when(rng)));
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    if (testing_support::ReadFileBytes(target) == old_bytes) continue;
    const State after = Inspect(target, "tbl_Verwaltung_Produkte");
    EXPECT_EQ(after.rows, 20000u) << "round " << round;
    EXPECT_TRUE(after.sound) << "round " << round;
  }
  // A run after the last kill succeeds.
  ::waitpid(run(), &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Runs produkte-import with `arguments`, its output thrown away and its log in `state`.
pid_t StartProgram(const fs::path& state, const std::vector<std::string>& arguments) {
  const std::string program = std::string(PI_BINARY_DIR) + "/app/produkte-import";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    ::unsetenv("DISPLAY");
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return child;
}

int Wait(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Crash, KilledDuringARestoreTheTargetIsOldOrRestored) {
  if (!fs::exists(std::string(PI_BINARY_DIR) + "/app/produkte-import")) {
    GTEST_SKIP() << "produkte-import is not built";
  }
  testing_support::ScratchDir folder("crash-restore");
  testing_support::ScratchDir state("crash-state");
  const fs::path target = folder.path() / "DBZentavo.mdb";
  // The backup: the sample target after an import, under a backup's name of a time after every
  // backup the runs make (so that none of them is taken for newer, and it is never removed).
  fs::copy_file(testing_support::Fixture("target.mdb"), target);
  ASSERT_EQ(Wait(StartProgram(state.path(), {"--source", testing_support::Fixture("source.mdb"),
                                             "--target", target.string()})),
            0);
  const fs::path backup = folder.path() / "DBZentavo vor Import 2099-01-01 00-00.mdb";
  fs::rename(target, backup);
  const auto restored_bytes = testing_support::ReadFileBytes(backup);
  const auto old_bytes = testing_support::ReadFileBytes(testing_support::Fixture("target.mdb"));
  const std::vector<std::string> restore = {"--restore", backup.string(), "--target",
                                            target.string()};
  // Everything but the backup goes; the target is the old file again.
  auto reset = [&] {
    for (const auto& e : fs::directory_iterator(folder.path())) {
      if (e.path() != backup) fs::remove(e.path());
    }
    fs::copy_file(testing_support::Fixture("target.mdb"), target);
  };

  reset();
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Wait(StartProgram(state.path(), restore)), 0);
  const double duration = Seconds(start);
  ASSERT_EQ(testing_support::ReadFileBytes(target), restored_bytes);

  std::mt19937 rng(33);
  std::uniform_real_distribution<double> when(0.0, duration * 1.1);
  int old_seen = 0, restored_seen = 0;
  for (int round = 0; round < 30; ++round) {
    reset();
    const pid_t child = StartProgram(state.path(), restore);
    std::this_thread::sleep_for(std::chrono::duration<double>(when(rng)));
    ::kill(child, SIGKILL);
    Wait(child);
    const auto bytes = testing_support::ReadFileBytes(target);
    if (bytes == old_bytes) {
      ++old_seen;
    } else {
      ++restored_seen;
      EXPECT_EQ(bytes, restored_bytes) << "round " << round << ": neither the old nor the backup";
    }
    EXPECT_EQ(testing_support::ReadFileBytes(backup), restored_bytes) << "round " << round;
    // Whatever the moment, the next restore finds what it needs and completes.
    EXPECT_EQ(Wait(StartProgram(state.path(), restore)), 0) << "round " << round;
    EXPECT_EQ(testing_support::ReadFileBytes(target), restored_bytes) << "round " << round;
  }
  std::printf("30 kills: %d times the old file, %d times the restored one\n", old_seen,
              restored_seen);
}

}  // namespace
