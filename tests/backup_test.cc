// The backups a commit keeps of the target it replaces, their names, how many are kept, and the
// way back: a backup put in the target's place with the checks and the lock of a writer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "jet/database/database.h"
#include "jet/file/file_commit.h"
#include "jet/file/file_system.h"
#include "run/backups.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::Fixture;
using testing_support::ReadFileBytes;

// 2026-12-10 14:05:00 in the local time zone.
std::time_t At(int hour, int minute) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 10;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

void Touch(const fs::path& p, const std::string& text = "x") { std::ofstream(p) << text; }

TEST(BackupNames, NewNamesSortByTimeAndCountWithinAMinute) {
  testing_support::ScratchDir dir("backup-names");
  const std::string target = (dir.path() / "DBZentavo.mdb").string();
  const std::string first = run::NewBackupPath(target, run::BackupKind::kImport, At(14, 5));
  EXPECT_EQ(fs::path(first).filename(), "DBZentavo vor Import 2026-12-10 14-05.mdb");
  Touch(first);
  // Within the same minute the number goes on, whichever kind came first.
  const std::string second = run::NewBackupPath(target, run::BackupKind::kRestore, At(14, 5));
  EXPECT_EQ(fs::path(second).filename(),
            "DBZentavo vor Wiederherstellung 2026-12-10 14-05 (2).mdb");
  Touch(second);
  const std::string third = run::NewBackupPath(target, run::BackupKind::kImport, At(14, 5));
  EXPECT_EQ(fs::path(third).filename(), "DBZentavo vor Import 2026-12-10 14-05 (3).mdb");
  Touch(third);
  Touch(run::NewBackupPath(target, run::BackupKind::kImport, At(9, 59)));
  const auto all = run::ListBackups(target);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].stamp, "2026-12-10 09-59");
  EXPECT_EQ(all[1].path, first);
  EXPECT_EQ(all[2].path, second);
  EXPECT_EQ(all[3].path, third);
  EXPECT_EQ(all[2].kind, run::BackupKind::kRestore);
  // Nothing in a name that Windows forbids.
  for (const auto& b : all) {
    EXPECT_EQ(fs::path(b.path).filename().string().find_first_of("<>:\"/\\|?*"), std::string::npos);
  }
}

TEST(BackupNames, OnlyOurNamesBesideTheTargetAreBackups) {
  const std::string target = "/srv/z/DBZentavo.mdb";
  struct Case {
    const char* file;
    bool backup;
  };
  const Case cases[] = {
      {"/srv/z/DBZentavo vor Import 2026-12-10 14-05.mdb", true},
      {"/srv/z/DBZentavo vor Wiederherstellung 2026-12-10 14-05 (12).mdb", true},
      {"/srv/z/DBZentavo vor Import 2026-12-10 14-05 (1).mdb", false},
      {"/srv/z/DBZentavo vor Import 2026-12-10 14-05 (02).mdb", false},
      {"/srv/z/DBZentavo vor Import 2026-12-10 14:05.mdb", false},
      {"/srv/z/DBZentavo vor Import 2026-12-10 14-05.mdb.bak", false},
      {"/srv/z/DBZentavo vor Import 2026-12-10.mdb", false},
      {"/srv/z/dbzentavo vor Import 2026-12-10 14-05.mdb", false},
      {"/srv/z/Kopie von DBZentavo vor Import 2026-12-10 14-05.mdb", false},
      {"/srv/anders/DBZentavo vor Import 2026-12-10 14-05.mdb", false},
      {"/srv/z/DBZentavo.mdb", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run::AsBackup(target, c.file).has_value(), c.backup) << c.file;
  }
}

TEST(BackupNames, PruningKeepsTheNewestFiveAndTouchesNothingElse) {
  testing_support::ScratchDir dir("backup-prune");
  const std::string target = (dir.path() / "DBZentavo.mdb").string();
  Touch(target);
  for (int minute = 0; minute < 8; ++minute) {
    Touch(run::NewBackupPath(target, run::BackupKind::kImport, At(10, minute)));
  }
  // Look-alikes that are not ours, or not files.
  const fs::path others[] = {
      dir.path() / "DBZentavo vor Import 2026-01-01 00-00.mdb.txt",
      dir.path() / "DBZentavo vor Import alt.mdb",
      dir.path() / "Kastrel vor Import 2026-01-01 00-00.mdb",
  };
  for (const fs::path& p : others) Touch(p);
  fs::create_directory(dir.path() / "DBZentavo vor Import 2000-01-01 00-00.mdb");
  fs::create_symlink(target, dir.path() / "DBZentavo vor Import 2000-01-01 00-01.mdb");

  EXPECT_TRUE(run::PruneBackups(target).empty());
  const auto left = run::ListBackups(target);
  ASSERT_EQ(left.size(), run::kBackupsKept);
  EXPECT_EQ(left.front().stamp, "2026-12-10 10-03");
  EXPECT_EQ(left.back().stamp, "2026-12-10 10-07");
  for (const fs::path& p : others) EXPECT_TRUE(fs::exists(p)) << p;
  EXPECT_TRUE(fs::is_directory(dir.path() / "DBZentavo vor Import 2000-01-01 00-00.mdb"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "DBZentavo vor Import 2000-01-01 00-01.mdb"));
  EXPECT_TRUE(fs::exists(target));
}

jet::Status WriteText(const jet::PieceSink& sink, const std::string& text) {
  return sink(jet::Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TEST(CommitBackup, TheOldFileStaysAsASecondNameWithItsMode) {
  testing_support::ScratchDir dir("backup-commit");
  const fs::path file = dir.path() / "DBZentavo.mdb";
  Touch(file, "alt");
  ::chmod(file.c_str(), 0640);
  struct stat before;
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  const fs::path backup = dir.path() / "DBZentavo vor Import 2026-12-10 14-05.mdb";

  const jet::Status s = jet::ReplaceFileAtomically(
      file.string(), [](const jet::PieceSink& sink) { return WriteText(sink, "neu"); },
      {.keep_old_as = backup.string()});
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(testing_support::ReadFileText(file), "neu");
  EXPECT_EQ(testing_support::ReadFileText(backup), "alt");
  struct stat kept, now;
  ASSERT_EQ(::stat(backup.c_str(), &kept), 0);
  ASSERT_EQ(::stat(file.c_str(), &now), 0);
  // The old file itself, not a copy: its inode, mode, owner and group, one name left.
  EXPECT_EQ(kept.st_ino, before.st_ino);
  EXPECT_EQ(kept.st_mode, before.st_mode);
  EXPECT_EQ(kept.st_uid, before.st_uid);
  EXPECT_EQ(kept.st_gid, before.st_gid);
  EXPECT_EQ(kept.st_nlink, 1u);
  EXPECT_EQ(now.st_nlink, 1u);
  EXPECT_EQ(now.st_mode & 07777, 0640u);
}

TEST(CommitBackup, NoBackupNoChangeAndAFailedCommitLeavesNoBackup) {
  testing_support::ScratchDir dir("backup-fail");
  const fs::path file = dir.path() / "DBZentavo.mdb";
  const fs::path backup = dir.path() / "DBZentavo vor Import 2026-12-10 14-05.mdb";
  Touch(file, "alt");
  // The backup's name is taken: nothing changes.
  Touch(backup, "fremd");
  jet::Status s = jet::ReplaceFileAtomically(
      file.string(), [](const jet::PieceSink& sink) { return WriteText(sink, "neu"); },
      {.keep_old_as = backup.string()});
  EXPECT_EQ(s.code(), jet::ErrorCode::kIoError) << s.ToString();
  EXPECT_EQ(testing_support::ReadFileText(file), "alt");
  EXPECT_EQ(testing_support::ReadFileText(backup), "fremd");
  fs::remove(backup);
  // The new file fails to be written: no backup is left.
  s = jet::ReplaceFileAtomically(
      file.string(),
      [](const jet::PieceSink&) { return jet::Status(jet::ErrorCode::kDiskFull, "voll"); },
      {.keep_old_as = backup.string()});
  EXPECT_EQ(s.code(), jet::ErrorCode::kDiskFull);
  EXPECT_FALSE(fs::exists(backup));
  EXPECT_EQ(testing_support::ReadFileText(file), "alt");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u);
}

// A file system without hard links (a Windows share, FAT), whose writes may also fail.
class NoHardLinks : public jet::FileSystem {
 public:
  explicit NoHardLinks(int write_error = 0) : write_error_(write_error) {}
  int Link(const std::string&, const std::string&) override {
    errno = EPERM;
    return -1;
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    if (write_error_ != 0 && ++writes_ > 1) {  // the new file's write passes, the copy's fails
      errno = write_error_;
      return -1;
    }
    return FileSystem::Write(fd, data, size);
  }

 private:
  int write_error_;
  int writes_ = 0;
};

TEST(CommitBackup, WithoutHardLinksTheOldFileIsCopiedBeforeTheSwap) {
  testing_support::ScratchDir dir("backup-copy");
  const fs::path file = dir.path() / "DBZentavo.mdb";
  const fs::path backup = dir.path() / "DBZentavo vor Import 2026-12-10 14-05.mdb";
  const std::string old_text(3 << 20, 'a');  // more than one piece of the copy
  Touch(file, old_text);
  ::chmod(file.c_str(), 0604);
  struct stat before;
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  {
    NoHardLinks files;
    jet::ScopedFileSystem scope(files);
    const jet::Status s = jet::ReplaceFileAtomically(
        file.string(), [](const jet::PieceSink& sink) { return WriteText(sink, "neu"); },
        {.keep_old_as = backup.string()});
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  EXPECT_EQ(testing_support::ReadFileText(file), "neu");
  EXPECT_EQ(testing_support::ReadFileText(backup), old_text);
  struct stat kept;
  ASSERT_EQ(::stat(backup.c_str(), &kept), 0);
  EXPECT_EQ(kept.st_mode, before.st_mode);
  EXPECT_EQ(kept.st_uid, before.st_uid);
  EXPECT_EQ(kept.st_gid, before.st_gid);

  // A copy that fails (the disk full) stops the replacement before the file changes.
  fs::remove(backup);
  {
    NoHardLinks files(ENOSPC);
    jet::ScopedFileSystem scope(files);
    const jet::Status s = jet::ReplaceFileAtomically(
        file.string(), [](const jet::PieceSink& sink) { return WriteText(sink, "neuer"); },
        {.keep_old_as = backup.string()});
    EXPECT_EQ(s.code(), jet::ErrorCode::kDiskFull) << s.ToString();
  }
  EXPECT_EQ(testing_support::ReadFileText(file), "neu");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u);
}

TEST(CommitBackup, AnInterruptedBackupNameIsClearedSoTheTargetCanBeWritten) {
  testing_support::TargetCopy target;
  const fs::path backup = target.dir() / "DBZentavo vor Import 2026-12-10 14-05.mdb";
  const fs::path foreign = target.dir() / "Kopie.mdb";
  ASSERT_EQ(::link(target.path().c_str(), backup.c_str()), 0);
  run::ClearInterruptedBackup(target.path().string());
  EXPECT_FALSE(fs::exists(backup));
  auto db = jet::Database::Open(target.path().string(),
                                {.password = testing_support::kTargetPassword, .writable = true});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  db->reset();
  // A second name that is not ours stays, and the target stays refused.
  ASSERT_EQ(::link(target.path().c_str(), foreign.c_str()), 0);
  run::ClearInterruptedBackup(target.path().string());
  EXPECT_TRUE(fs::exists(foreign));
}

class Restore : public ::testing::Test {
 protected:
  void SetUp() override {
    old_bytes_ = ReadFileBytes(target_.path());
    backup_ = (target_.dir() / "DBZentavo vor Import 2026-12-10 14-05.mdb").string();
    fs::copy_file(Fixture("target-related.mdb"), backup_);
    backup_bytes_ = ReadFileBytes(backup_);
  }
  std::string target() const { return target_.path().string(); }

  testing_support::TargetCopy target_;
  std::string backup_;
  std::vector<std::uint8_t> old_bytes_;
  std::vector<std::uint8_t> backup_bytes_;
};

TEST_F(Restore, TheNewestBackupComesBackAndTheReplacedFileIsKept) {
  // An older backup: not the one taken.
  const std::string older = (target_.dir() / "DBZentavo vor Import 2026-12-09 08-00.mdb").string();
  fs::copy_file(target_.path(), older);
  const run::RestoreResult r = run::RestoreBackup(target(), "", At(15, 0));
  EXPECT_EQ(r.restored, backup_);
  EXPECT_EQ(ReadFileBytes(target_.path()), backup_bytes_);
  EXPECT_EQ(fs::path(r.kept_as).filename(), "DBZentavo vor Wiederherstellung 2026-12-10 15-00.mdb");
  EXPECT_EQ(ReadFileBytes(r.kept_as), old_bytes_);
  EXPECT_EQ(ReadFileBytes(backup_), backup_bytes_);  // the backup itself stays
  // And back again, by name.
  run::RestoreBackup(target(), r.kept_as, At(15, 1));
  EXPECT_EQ(ReadFileBytes(target_.path()), old_bytes_);
  EXPECT_FALSE(fs::exists(jet::WriteLock::LockFilePath(target())));
}

TEST_F(Restore, RefusesWhatIsNotOneOfOurBackupsOrNotATargetDatabase) {
  testing_support::ScratchDir elsewhere("restore-elsewhere");
  const fs::path away = elsewhere.path() / "DBZentavo vor Import 2026-12-10 14-05.mdb";
  fs::copy_file(backup_, away);
  const fs::path named_wrong = target_.dir() / "Sicherung.mdb";
  fs::copy_file(backup_, named_wrong);
  const fs::path not_db = target_.dir() / "DBZentavo vor Import 2026-12-10 14-06.mdb";
  fs::copy_file(Fixture("not-a-database.mdb"), not_db);
  const fs::path source = target_.dir() / "DBZentavo vor Import 2026-12-10 14-07.mdb";
  fs::copy_file(Fixture("source.mdb"), source);
  const fs::path wrong_password = target_.dir() / "DBZentavo vor Import 2026-12-10 14-08.mdb";
  fs::copy_file(Fixture("target-wrong-password.mdb"), wrong_password);
  struct Case {
    std::string backup;
    jet::ErrorCode code;
  };
  const Case cases[] = {
      {away.string(), jet::ErrorCode::kInvalidArgument},
      {named_wrong.string(), jet::ErrorCode::kInvalidArgument},
      {target(), jet::ErrorCode::kInvalidArgument},
      {(target_.dir() / "DBZentavo vor Import 2026-12-10 14-09.mdb").string(),
       jet::ErrorCode::kFileNotFound},
      {not_db.string(), jet::ErrorCode::kUnrecognizedFormat},
      {source.string(), jet::ErrorCode::kTableNotFound},
      {wrong_password.string(), jet::ErrorCode::kInvalidPassword},
  };
  for (const Case& c : cases) {
    try {
      run::RestoreBackup(target(), c.backup, At(15, 0));
      ADD_FAILURE() << c.backup << " was restored";
    } catch (const run::BackupRefusal& e) {
      EXPECT_EQ(e.code(), c.code) << c.backup << ": " << e.what();
    }
    EXPECT_EQ(ReadFileBytes(target_.path()), old_bytes_) << c.backup;
  }
  // Without any backup.
  for (const auto& e : fs::directory_iterator(target_.dir())) {
    if (e.path() != target_.path()) fs::remove(e.path());
  }
  try {
    run::RestoreBackup(target(), "", At(15, 0));
    ADD_FAILURE() << "restored without a backup";
  } catch (const run::BackupRefusal& e) {
    EXPECT_EQ(e.code(), jet::ErrorCode::kFileNotFound) << e.what();
  }
}

TEST_F(Restore, ATargetThatMayNotBeWrittenIsLeftAsItIs) {
  ::chmod(target().c_str(), 0444);
  try {
    run::RestoreBackup(target(), "", At(15, 0));
    ADD_FAILURE() << "a read-only target was replaced";
  } catch (const run::BackupRefusal& e) {
    ADD_FAILURE() << e.what();
  } catch (const db::DbError& e) {
    EXPECT_EQ(e.code(), jet::ErrorCode::kReadOnly) << e.what();
  }
  EXPECT_EQ(ReadFileBytes(target_.path()), old_bytes_);
  EXPECT_EQ(run::ListBackups(target()).size(), 1u);
}

}  // namespace
