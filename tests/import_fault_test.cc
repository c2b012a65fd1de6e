// An import run on a failing disk: every read, write, fsync, rename and folder sync of a run
// fails in turn, the first, the second and so on to the last. Each time the run ends with its
// unexpected-error message (a read of the validation with the validation's message), the target
// keeps every byte, nothing is left beside it, and a second run succeeds. The refusals of a
// read-only target, of a folder without room for the lock file and of a target that would grow
// past the size limit end the same way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>

#include "import/import_run.h"
#include "jet/database/database.h"
#include "jet/file/file_system.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kFixtures;

constexpr char kValidationMessage[] =
    "Es ist ein Fehler aufgetreten. Die Daten können von dieser Datenbank nicht eingelesen "
    "werden. Das Programm wird jetzt beendet.";
constexpr char kUnexpectedStart[] = "Es ist ein unerwarteter Fehler aufgetreten (Fehler ";
constexpr char kUnexpectedEnd[] =
    "). Die Zieldatenbank wurde nicht verändert. Das Programm wird jetzt beendet.";

class Scratch {
 public:
  Scratch() { fs::copy_file(kFixtures + "/target.mdb", target()); }
  std::string folder() const { return dir_.path().string() + "/"; }
  fs::path target() const { return dir_.path() / "DBZentavo.mdb"; }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) names.insert(e.path().filename());
    return names;
  }

 private:
  testing_support::ScratchDir dir_{"import-fault"};
};

struct RunResult {
  int status = -1;
  std::vector<std::string> prompts;
};

RunResult RunImport(const Scratch& scratch, const jet::TestOptions& test = {}) {
  run::RecordingUserSide user;
  run::DatabaseState state;
  state.strDBRoot = scratch.folder();
  state.target_test = test;
  run::RunContext run{state, kFixtures + "/source.mdb", user};
  RunResult result;
  try {
    import::cmdImport_Click(run);
    ADD_FAILURE() << "the run returned instead of ending the program";
  } catch (const run::ProgramEnd& end) {
    result.status = end.status();
  }
  for (const auto& m : user.messages()) result.prompts.push_back(m.prompt);
  return result;
}

bool IsUnexpectedError(const RunResult& r, int number) {
  const std::string start = kUnexpectedStart + std::to_string(number) + ": ";
  const std::string end = kUnexpectedEnd;
  return r.status == run::kExitUnexpectedError && r.prompts.size() == 1 &&
         r.prompts[0].rfind(start, 0) == 0 && r.prompts[0].size() > end.size() &&
         r.prompts[0].compare(r.prompts[0].size() - end.size(), end.size(), end) == 0;
}

// The calls to fail of a kind with `count` calls: all of them, or the first three, every
// `count / 8`-th and the last three when there are many.
std::vector<int> CallsToFail(int count) {
  std::set<int> picked;
  const int step = count > 24 ? count / 8 : 1;
  for (int n = 1; n <= count; n += step) picked.insert(n);
  for (int n = 1; n <= std::min(3, count); ++n) {
    picked.insert(n);
    picked.insert(count + 1 - n);
  }
  return {picked.begin(), picked.end()};
}

TEST(ImportFaults, EveryFailingCallEndsTheRunAndLeavesTheTargetAsItWas) {
  // The calls of an undisturbed run, and of its validation alone (the first reads).
  jet::FaultInjectingFileSystem counting;
  int validation_reads = 0;
  {
    {
      Scratch scratch;
      jet::FaultInjectingFileSystem validation_only;
      jet::ScopedFileSystem scope(validation_only);
      // A source the validation refuses after opening both databases (which reads them).
      run::RecordingUserSide user;
      run::DatabaseState state;
      state.strDBRoot = scratch.folder();
      run::RunContext run{state, kFixtures + "/source-null-first.mdb", user};
      try {
        import::cmdImport_Click(run);
      } catch (const run::ProgramEnd& end) {
        ASSERT_EQ(end.status(), run::kExitInvalidSource);
      }
      validation_reads = validation_only.calls(jet::FileCall::kRead);
    }
    Scratch scratch;
    jet::ScopedFileSystem scope(counting);
    ASSERT_EQ(RunImport(scratch).status, run::kExitCompleted);
  }
  ASSERT_GT(validation_reads, 0);
  int runs = 0;
  for (std::size_t k = 0; k < jet::kFileCallKinds; ++k) {
    const auto kind = static_cast<jet::FileCall>(k);
    const int count = counting.calls(kind);
    EXPECT_GT(count, 0) << jet::FileCallName(kind);
    for (int n : CallsToFail(count)) {
      SCOPED_TRACE(std::string(jet::FileCallName(kind)) + " call " + std::to_string(n) + " of " +
                   std::to_string(count));
      Scratch scratch;
      const auto before = testing_support::ReadFileBytes(scratch.target());
      RunResult r;
      {
        jet::FaultInjectingFileSystem files(kind, n, EIO);
        jet::ScopedFileSystem scope(files);
        r = RunImport(scratch);
        EXPECT_TRUE(files.injected());
      }
      ++runs;
      if (kind == jet::FileCall::kRead && n <= validation_reads) {
        EXPECT_EQ(r.status, run::kExitInvalidSource);
        EXPECT_EQ(r.prompts, std::vector<std::string>{kValidationMessage});
      } else {
        EXPECT_TRUE(IsUnexpectedError(r, 3043))
            << r.status << " " << (r.prompts.empty() ? "" : r.prompts[0]);
      }
      EXPECT_EQ(testing_support::ReadFileBytes(scratch.target()), before);
      EXPECT_EQ(scratch.Names(), std::set<std::string>{"DBZentavo.mdb"});
      EXPECT_EQ(RunImport(scratch).status, run::kExitCompleted);
    }
  }
  RecordProperty("runs", runs);
  std::cout << "validation reads " << validation_reads << "; calls of an undisturbed run:";
  for (std::size_t k = 0; k < jet::kFileCallKinds; ++k) {
    std::cout << " " << jet::FileCallName(static_cast<jet::FileCall>(k)) << " "
              << counting.calls(static_cast<jet::FileCall>(k));
  }
  std::cout << "; runs with a failure " << runs << "\n";
}

TEST(ImportFaults, ADiskFullWhileWritingIsJetsDiskFullError) {
  Scratch scratch;
  const auto before = testing_support::ReadFileBytes(scratch.target());
  jet::FaultInjectingFileSystem files(jet::FileCall::kWrite, 1, ENOSPC);
  jet::ScopedFileSystem scope(files);
  const RunResult r = RunImport(scratch);
  EXPECT_TRUE(IsUnexpectedError(r, 3026)) << (r.prompts.empty() ? "" : r.prompts[0]);
  EXPECT_EQ(testing_support::ReadFileBytes(scratch.target()), before);
}

TEST(ImportFaults, ARefusedTargetEndsWithTheUnexpectedErrorMessage) {
  {
    SCOPED_TRACE("read-only target");
    Scratch scratch;
    fs::permissions(scratch.target(), fs::perms::owner_read | fs::perms::group_read);
    const auto before = testing_support::ReadFileBytes(scratch.target());
    const RunResult r = RunImport(scratch);
    EXPECT_TRUE(IsUnexpectedError(r, 3027)) << (r.prompts.empty() ? "" : r.prompts[0]);
    EXPECT_EQ(testing_support::ReadFileBytes(scratch.target()), before);
    EXPECT_EQ(scratch.Names(), std::set<std::string>{"DBZentavo.mdb"});
  }
  {
    SCOPED_TRACE("size limit");
    Scratch scratch;
    const auto before = testing_support::ReadFileBytes(scratch.target());
    const RunResult r = RunImport(scratch, {.max_database_bytes = before.size()});
    EXPECT_TRUE(IsUnexpectedError(r, 3036)) << (r.prompts.empty() ? "" : r.prompts[0]);
    EXPECT_EQ(testing_support::ReadFileBytes(scratch.target()), before);
    EXPECT_EQ(scratch.Names(), std::set<std::string>{"DBZentavo.mdb"});
    EXPECT_EQ(RunImport(scratch).status, run::kExitCompleted);
  }
}

// A table the import writes, damaged: the run ends with 3049 after the tables before it were
// changed in memory, and the file stays as it was. What Access leaves as well (a row count that
// is off) does not stop it.
TEST(ImportFaults, ADamagedTableEndsTheRunAndARowCountThatIsOffDoesNot) {
  const auto edit = [](const Scratch& scratch, bool damage) {
    std::uint32_t page = 0;
    std::size_t at = 0, page_size = 0;
    {
      auto db = jet::Database::Open(scratch.target().string(),
                                    {.password = testing_support::kTargetPassword});
      ASSERT_TRUE(db.ok());
      // The fourth of the six tables the run empties first.
      const auto t = *(*db)->GetTable("tbl_Verwaltung_Produkte");
      page = t->page;
      page_size = (*db)->format().page_size;
      at = damage ? t->real_indexes[0].first_page_at : (*db)->format().tdef_row_count_offset;
      ASSERT_LE(at + 4, page_size);
    }
    auto bytes = testing_support::ReadFileBytes(scratch.target());
    std::uint8_t* field = bytes.data() + std::size_t{page} * page_size + at;
    if (damage) {
      field[0] = 1;  // the index's root sent to page 1, the free map's page
      field[1] = field[2] = field[3] = 0;
    } else {
      field[0] += 5;
    }
    testing_support::WriteFileBytes(scratch.target(), bytes);
  };
  {
    SCOPED_TRACE("damaged index");
    Scratch scratch;
    edit(scratch, true);
    const auto before = testing_support::ReadFileBytes(scratch.target());
    const RunResult r = RunImport(scratch);
    EXPECT_TRUE(IsUnexpectedError(r, 3049)) << (r.prompts.empty() ? "" : r.prompts[0]);
    EXPECT_EQ(testing_support::ReadFileBytes(scratch.target()), before);
    EXPECT_EQ(scratch.Names(), std::set<std::string>{"DBZentavo.mdb"});
  }
  {
    SCOPED_TRACE("row count off");
    Scratch scratch;
    edit(scratch, false);
    EXPECT_EQ(RunImport(scratch).status, run::kExitCompleted);
  }
}

}  // namespace
