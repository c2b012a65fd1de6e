// What a commit does to the file the user named: a symbolic link is followed and stays a link;
// mode, owner, group, extended attributes and access lists stay; what Jet refuses (a read-only
// file, a folder without room for the lock file) and what we refuse (a damaged file) is refused
// before anything changes; the size limit; a failing folder sync. Files a new file could not
// replace without losing their identity are written in place (jet_in_place_test.cc).
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/file_commit.h"
#include "jet/file/file_system.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kTargetPassword;

using jet::ErrorCode;
using jet::Value;

constexpr char kExtras[] = "tbl_Verwaltung_ProdukteExtras";
constexpr uid_t kOtherUser = 65534;  // nobody
constexpr gid_t kOtherGroup = 65534;

// A scratch folder that every user may enter and write, holding a copy of the sample target.
class Folder {
 public:
  Folder() {
    fs::permissions(dir_.path(), fs::perms::all);
    fs::copy_file(testing_support::Fixture("target.mdb"), db());
  }
  const fs::path& path() const { return dir_.path(); }
  fs::path db() const { return dir_.path() / "DBZentavo.mdb"; }
  // The names in the folder.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) names.insert(e.path().filename());
    return names;
  }

 private:
  testing_support::ScratchDir dir_{"file-safety"};
};

// Opens `path` for writing, adds `rows` rows to the extras and commits: the status of the first
// step that failed.
jet::Status AddExtras(const fs::path& path, int rows = 3, const jet::TestOptions& test = {}) {
  auto db = jet::Database::Open(path.string(),
                                {.password = kTargetPassword, .writable = true, .test = test});
  if (!db.ok()) return db.status();
  for (int i = 0; i < rows; ++i) {
    std::vector<Value> row((*(*db)->GetTable(kExtras))->columns.size());
    row[1] = Value("Extra " + std::to_string(i));
    auto at = (*db)->InsertRow(kExtras, row);
    if (!at.ok()) return at.status();
  }
  return (*db)->Commit();
}

std::size_t ExtraRows(const fs::path& path) {
  auto db = jet::Database::Open(path.string(), {.password = kTargetPassword});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? (*(*db)->GetTable(kExtras))->row_count : 0;
}

// Runs `work` in a child process as another, unprivileged user when this process is root (as
// itself otherwise) and returns its exit code.
int RunUnprivileged(const std::function<int()>& work) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0)) {
      ::_exit(100);
    }
    ::_exit(work());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The error number of AddExtras() as an exit code (0 for success), for RunUnprivileged.
int AddExtrasCode(const fs::path& path) {
  const jet::Status s = AddExtras(path);
  return s.ok() ? 0 : s.number() - 3000;
}

TEST(FileSafety, ASymbolicLinkStaysALinkAndTheFileItNamesChanges) {
  Folder real;
  Folder elsewhere;
  const fs::path link = elsewhere.path() / "Verknüpfung.mdb";
  fs::remove(elsewhere.db());
  fs::create_symlink(real.db(), link);
  const std::size_t before = ExtraRows(real.db());
  ASSERT_TRUE(AddExtras(link).ok());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), real.db());
  EXPECT_EQ(ExtraRows(real.db()), before + 3);
  // The lock file and the new file were made beside the real file and are gone again.
  EXPECT_EQ(real.Names(), std::set<std::string>{"DBZentavo.mdb"});
  EXPECT_EQ(elsewhere.Names(), std::set<std::string>{"Verknüpfung.mdb"});
  // A relative link through a linked folder leads to the same file.
  const fs::path linked_folder = elsewhere.path() / "ordner";
  fs::create_directory_symlink(real.path(), linked_folder);
  ASSERT_TRUE(AddExtras(linked_folder / "DBZentavo.mdb").ok());
  EXPECT_EQ(ExtraRows(real.db()), before + 6);
  EXPECT_TRUE(fs::is_directory(real.path()));
}

TEST(FileSafety, ModeOwnerGroupAndExtendedAttributesAreKept) {
  Folder folder;
  const std::string path = folder.db().string();
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  // Another owner and group, where this process may give them (as root).
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherGroup), 0);
  }
  // A user attribute and an access list naming one more user, where the file system has them.
  const std::string note = "Filiale Nord";
  const bool user_attrs = ::setxattr(path.c_str(), "user.notiz", note.data(), note.size(), 0) == 0;
  // POSIX ACL as stored: version 2, then entries (tag u16, permissions u16, id u32),
  // little-endian: owner rw, named user 1234 r, group r, mask r, other none.
  const std::uint8_t acl[] = {2,    0, 0, 0,                          //
                              0x01, 0, 6, 0, 0xFF, 0xFF, 0xFF, 0xFF,  //
                              0x02, 0, 4, 0, 0xD2, 0x04, 0,    0,     //
                              0x04, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF,  //
                              0x10, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF,  //
                              0x20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  const bool acls = ::setxattr(path.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) == 0;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  ASSERT_TRUE(AddExtras(folder.db()).ok());
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);    // a new file ...
  EXPECT_EQ(after.st_mode, before.st_mode);  // ... with everything of the old one
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_nlink, 1u);
  if (user_attrs) {
    char value[64] = {};
    ASSERT_EQ(::getxattr(path.c_str(), "user.notiz", value, sizeof value),
              static_cast<ssize_t>(note.size()));
    EXPECT_EQ(std::string(value), note);
  }
  if (acls) {
    std::uint8_t value[128] = {};
    const ssize_t n = ::getxattr(path.c_str(), "system.posix_acl_access", value, sizeof value);
    ASSERT_EQ(n, static_cast<ssize_t>(sizeof acl));
    EXPECT_EQ(std::memcmp(value, acl, sizeof acl), 0);
  }
  if (!root || !user_attrs || !acls) {
    GTEST_SKIP() << "checked without " << (root ? "" : "another owner (needs root) ")
                 << (user_attrs ? "" : "user attributes ") << (acls ? "" : "access lists")
                 << " on this system";
  }
}

// What is refused, with the number the user sees; the file and the folder stay as they were.
struct Refusal {
  const char* name;
  std::function<void(const Folder&)> prepare;
  ErrorCode code;
  bool needs_unprivileged_other_owner = false;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, ComeBeforeAnythingChanges) {
  const Refusal& r = GetParam();
  if (r.needs_unprivileged_other_owner && ::geteuid() != 0) {
    GTEST_SKIP() << "needs root, to leave the file to one user and write as another";
  }
  Folder folder;
  if (RunUnprivileged([&] { return ::access(folder.db().c_str(), R_OK) == 0 ? 0 : 1; }) != 0) {
    // A folder above the scratch folder is closed to the other user (as in a chroot made with
    // mktemp -d): the refusal could not be told from a file that cannot be reached at all.
    GTEST_SKIP() << "the writer cannot reach " << folder.db() << " on this system";
  }
  r.prepare(folder);
  const auto bytes = testing_support::ReadFileBytes(folder.db());
  const auto names = folder.Names();
  struct stat before;
  ASSERT_EQ(::stat(folder.db().c_str(), &before), 0);
  const int code = RunUnprivileged([&] { return AddExtrasCode(folder.db()); });
  ::chmod(folder.path().c_str(), 0777);  // for the checks below and the removal
  EXPECT_EQ(code, static_cast<int>(r.code) - 3000) << r.name;
  EXPECT_EQ(testing_support::ReadFileBytes(folder.db()), bytes);
  EXPECT_EQ(folder.Names(), names);
  struct stat after;
  ASSERT_EQ(::stat(folder.db().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
}

// The files belong to the user that RunUnprivileged() runs as, unless a case says otherwise.
void OwnedByTheWriter(const Folder& f) {
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(f.db().c_str(), kOtherUser, kOtherGroup), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    FileSafety, Refusals,
    testing::Values(
        Refusal{"ReadOnlyFile",
                [](const Folder& f) {
                  OwnedByTheWriter(f);
                  fs::permissions(f.db(), fs::perms::owner_read | fs::perms::group_read |
                                              fs::perms::others_read);
                },
                ErrorCode::kReadOnly},
        Refusal{"NoWritePermission",
                [](const Folder& f) {
                  // Writable by its owner only, and the writer is someone else (as root: the
                  // writer is nobody, the file root's; otherwise the file is made the writer's
                  // and loses the owner's write bit, which only another user would have).
                  if (::geteuid() != 0) {
                    fs::permissions(f.db(), fs::perms::owner_read | fs::perms::group_read |
                                                fs::perms::group_write);
                  } else {
                    fs::permissions(f.db(), fs::perms::owner_read | fs::perms::owner_write |
                                                fs::perms::group_read | fs::perms::others_read);
                  }
                },
                ErrorCode::kReadOnly},
        Refusal{"FolderWithoutRoomForTheLockFile",
                [](const Folder& f) {
                  OwnedByTheWriter(f);
                  if (::geteuid() == 0) {
                    ASSERT_EQ(::chown(f.path().c_str(), 0, 0), 0);
                  }
                  fs::permissions(f.path(), fs::perms::owner_all | fs::perms::group_read |
                                                fs::perms::group_exec | fs::perms::others_read |
                                                fs::perms::others_exec);
                  if (::geteuid() != 0) {
                    // Our own folder: without the owner's write bit.
                    fs::permissions(f.path(), fs::perms::owner_write, fs::perm_options::remove);
                  }
                },
                ErrorCode::kCannotLock}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(FileSafety, RefusalsReadForTheUser) {
  Folder folder;
  fs::permissions(folder.db(), fs::perms::owner_read);
  jet::Status s = AddExtras(folder.db());
  EXPECT_EQ(s.ToString(),
            "Fehler 3027: Aktualisieren nicht möglich; Datenbank oder Objekt ist "
            "schreibgeschützt: Die Datenbank '" +
                folder.db().string() +
                "' ist schreibgeschützt (die Datei hat keine Schreibrechte).");
  // Still readable: only writing is refused.
  EXPECT_GT(ExtraRows(folder.db()), 0u);
}

TEST(FileSafety, ACommitPastTheSizeLimitFailsAndChangesNothing) {
  Folder folder;
  const auto bytes = testing_support::ReadFileBytes(folder.db());
  // The limit lowered to the file's size: rows that need new pages would pass it.
  const jet::Status s = AddExtras(folder.db(), 2000, {.max_database_bytes = bytes.size()});
  EXPECT_EQ(s.code(), ErrorCode::kDatabaseFull) << s.ToString();
  EXPECT_EQ(s.number(), 3036);
  EXPECT_EQ(s.message().rfind("Datenbank hat maximale Größe erreicht", 0), 0u) << s.message();
  EXPECT_EQ(testing_support::ReadFileBytes(folder.db()), bytes);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"DBZentavo.mdb"});
  // With Jet's limit the same commit goes through; a limit of exactly the new size lets the
  // next commit that does not grow the file through.
  ASSERT_TRUE(AddExtras(folder.db(), 2000).ok());
  const jet::Status at_limit =
      AddExtras(folder.db(), 1, {.max_database_bytes = fs::file_size(folder.db())});
  EXPECT_TRUE(at_limit.ok()) << at_limit.ToString();
}

// A run that outgrows the limit is refused at the first row after the page that passed it, not
// after all its rows at the commit; the refused row changes nothing.
TEST(FileSafety, RowsPastTheSizeLimitAreRefusedAtOnce) {
  Folder folder;
  const auto bytes = testing_support::ReadFileBytes(folder.db());
  auto db =
      jet::Database::Open(folder.db().string(), {.password = kTargetPassword,
                                                 .writable = true,
                                                 .test = {.max_database_bytes = bytes.size()}});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  const std::size_t page_size = (*db)->format().page_size;
  int stored = 0;
  jet::Status refused = jet::Status::Ok();
  for (int i = 0; i < 5000 && refused.ok(); ++i) {
    std::vector<Value> row((*(*db)->GetTable(kExtras))->columns.size());
    row[1] = Value("Extra " + std::to_string(i));
    const std::uint32_t pages_before = (*db)->pages().page_count();
    auto at = (*db)->InsertRow(kExtras, row);
    if (at.ok()) {
      ++stored;
      continue;
    }
    refused = at.status();
    EXPECT_EQ((*db)->pages().page_count(), pages_before);  // the refused row took no page
  }
  EXPECT_EQ(refused.code(), ErrorCode::kDatabaseFull) << refused.ToString();
  EXPECT_GT(stored, 0);
  EXPECT_LT(stored, 500);  // the rows of a page or two, not all 5000
  EXPECT_LE(std::uint64_t{(*db)->pages().page_count()} * page_size, bytes.size() + 2 * page_size);
  db->reset();
  EXPECT_EQ(testing_support::ReadFileBytes(folder.db()), bytes);
}

TEST(FileSafety, ADamagedFileIsNotWritten) {
  Folder folder;
  std::uint32_t page = 0;
  std::size_t page_size = 0, at = 0;
  {
    auto db = jet::Database::Open(folder.db().string(), {.password = kTargetPassword});
    ASSERT_TRUE(db.ok());
    const auto extras = *(*db)->GetTable(kExtras);
    ASSERT_FALSE(extras->real_indexes.empty());
    page = extras->page;
    page_size = (*db)->format().page_size;
    at = extras->real_indexes[0].first_page_at;
    ASSERT_LE(at + 4, page_size);  // on the definition's first page
  }
  // The root of the table's first index sent to page 1, the free map's page: no index page.
  auto bytes = testing_support::ReadFileBytes(folder.db());
  const std::size_t root = std::size_t{page} * page_size + at;
  bytes[root] = 1;
  bytes[root + 1] = bytes[root + 2] = bytes[root + 3] = 0;
  testing_support::WriteFileBytes(folder.db(), bytes);
  const jet::Status s = AddExtras(folder.db());
  EXPECT_EQ(s.code(), ErrorCode::kCorrupt) << s.ToString();
  EXPECT_NE(s.message().find("ist beschädigt und wird nicht geändert"), std::string::npos)
      << s.message();
  EXPECT_EQ(testing_support::ReadFileBytes(folder.db()), bytes);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"DBZentavo.mdb"});
}

// Each kind of failing call while committing: the file keeps its old bytes and nothing is left
// beside it; a failed folder sync after the swap puts the old file back.
TEST(FileSafety, AFailingCallWhileCommittingLeavesTheOldFile) {
  Folder folder;
  const auto bytes = testing_support::ReadFileBytes(folder.db());
  for (jet::FileCall kind : {jet::FileCall::kWrite, jet::FileCall::kSync, jet::FileCall::kRename,
                             jet::FileCall::kSyncFolder}) {
    for (int error : {EIO, ENOSPC}) {
      jet::FaultInjectingFileSystem files(kind, 1, error);
      jet::ScopedFileSystem scope(files);
      const jet::Status s = AddExtras(folder.db());
      EXPECT_TRUE(files.injected()) << jet::FileCallName(kind);
      EXPECT_EQ(s.code(), error == ENOSPC ? ErrorCode::kDiskFull : ErrorCode::kIoError)
          << jet::FileCallName(kind) << ": " << s.ToString();
      EXPECT_EQ(testing_support::ReadFileBytes(folder.db()), bytes) << jet::FileCallName(kind);
      EXPECT_EQ(folder.Names(), std::set<std::string>{"DBZentavo.mdb"});
    }
  }
  EXPECT_TRUE(AddExtras(folder.db()).ok());
  auto db = jet::Database::Open(folder.db().string(), {.password = kTargetPassword});
  ASSERT_TRUE(db.ok());
  auto report = jet::CheckIntegrity(**db);
  ASSERT_TRUE(report.ok());
  EXPECT_TRUE(report->ok());
}

// A file system that cannot swap two files (as some network shares): a plain rename replaces
// the file, and attributes are kept all the same.
class NoSwapFileSystem : public jet::FileSystem {
 public:
  int Rename(const std::string& from, const std::string& to, bool exchange) override {
    if (exchange) {
      ++refused_swaps;
      errno = EINVAL;
      return -1;
    }
    return jet::FileSystem::Rename(from, to, false);
  }
  int refused_swaps = 0;
};

TEST(FileSafety, WhereFilesCannotBeSwappedARenameReplacesTheFile) {
  Folder folder;
  ASSERT_EQ(::chmod(folder.db().c_str(), 0604), 0);
  const std::size_t before = ExtraRows(folder.db());
  NoSwapFileSystem files;
  {
    jet::ScopedFileSystem scope(files);
    ASSERT_TRUE(AddExtras(folder.db()).ok());
  }
  EXPECT_EQ(files.refused_swaps, 1);
  EXPECT_EQ(ExtraRows(folder.db()), before + 3);
  EXPECT_EQ(fs::status(folder.db()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"DBZentavo.mdb"});
}

}  // namespace
