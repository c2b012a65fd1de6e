// Every file the user may write is imported and keeps its identity, on every file system at hand:
// a table of file systems (tmpfs, ext4 on a loop device, a FUSE file system that shows one fixed
// owner as a CIFS share mounted with uid= does, ntfs-3g mounted with uid= only, vfat) times the
// cases (the writer's own file, another user's file the writer may write, a group the writer is not
// in, a second hard link, a symbolic link, a bind mount, a file the writer may not write). The
// writer is an unprivileged user (nobody) where the tests run as root; mounting needs root, and a
// file system that cannot be made here is skipped, saying why.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/file_commit.h"
#include "jet/file/file_system.h"
#include "jet/file/rollback_journal.h"
#include "tests/encrypted_copy.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using jet::ErrorCode;
using jet::Value;
using testing_support::kTargetPassword;
using testing_support::RunCommand;
using testing_support::ShellQuote;

constexpr char kExtras[] = "tbl_Verwaltung_ProdukteExtras";
constexpr uid_t kWriter = 65534;  // nobody
constexpr gid_t kWriterGroup = 65534;

bool Root() { return ::geteuid() == 0; }

// Opens `path` for writing, adds three rows to the extras and commits.
jet::Status AddExtras(const fs::path& path) {
  auto db = jet::Database::Open(path.string(), {.password = kTargetPassword, .writable = true});
  if (!db.ok()) return db.status();
  for (int i = 0; i < 3; ++i) {
    std::vector<Value> row((*(*db)->GetTable(kExtras))->columns.size());
    row[1] = Value("Extra " + std::to_string(i));
    auto at = (*db)->InsertRow(kExtras, row);
    if (!at.ok()) return at.status();
  }
  return (*db)->Commit();
}

std::size_t ExtraRows(const fs::path& path) {
  auto db = jet::Database::Open(path.string(), {.password = kTargetPassword});
  if (!db.ok()) return 0;
  auto report = jet::CheckIntegrity(**db);
  if (!report.ok() || !report->ok()) return 0;
  return (*(*db)->GetTable(kExtras))->row_count;
}

// Runs `work` in a child process as the unprivileged writer when this process is root (as itself
// otherwise) and returns its exit code.
int AsWriter(const std::function<int()>& work) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (Root() &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kWriterGroup) != 0 || ::setuid(kWriter) != 0)) {
      ::_exit(100);
    }
    ::_exit(work());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int AddExtrasCode(const fs::path& path) {
  const jet::Status s = AddExtras(path);
  if (!s.ok()) std::fprintf(stderr, "%s\n", s.ToString().c_str());
  return s.ok() ? 0 : s.number() - 3000;
}

// One file system mounted on a folder every user may write, unmounted at the end.
class Mounted {
 public:
  explicit Mounted(std::string kind) : kind_(std::move(kind)) {
    fs::permissions(dir_.path(), fs::perms::all);
  }
  ~Mounted() {
    for (; !mounts_.empty(); mounts_.pop_back()) ::umount2(mounts_.back().c_str(), MNT_DETACH);
  }
  // Mounts; the reason why not otherwise.
  std::optional<std::string> Mount() {
    const fs::path point = dir_.path() / "fs";
    fs::create_directory(point);
    if (kind_ == "scratch") {
      fs::permissions(point, fs::perms::all);
      folder_ = point;
      return std::nullopt;
    }
    if (!Root()) return "mounting " + kind_ + " needs root";
    std::string command;
    if (kind_ == "tmpfs") {
      command = "mount -t tmpfs -o mode=0777,size=64m none " + ShellQuote(point.string());
    } else if (kind_ == "ext4") {
      if (RunCommand("command -v mkfs.ext4 >/dev/null").exit_code != 0) return "no mkfs.ext4";
      const std::string image = (dir_.path() / "ext4.img").string();
      command = "truncate -s 64M " + ShellQuote(image) + " && mkfs.ext4 -q -F " +
                ShellQuote(image) + " && mount -o loop " + ShellQuote(image) + " " +
                ShellQuote(point.string());
    } else if (kind_ == "vfat") {
      if (RunCommand("command -v mkfs.vfat >/dev/null").exit_code != 0) {
        return "no mkfs.vfat (Debian package dosfstools)";
      }
      const std::string image = (dir_.path() / "vfat.img").string();
      command = "truncate -s 64M " + ShellQuote(image) + " && mkfs.vfat " + ShellQuote(image) +
                " >/dev/null && mount -o loop,uid=" + std::to_string(kWriter) +
                ",gid=" + std::to_string(kWriterGroup) + " " + ShellQuote(image) + " " +
                ShellQuote(point.string());
    } else if (kind_ == "ntfs3g") {
      if (RunCommand("command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null").exit_code !=
          0) {
        return "no mkntfs or ntfs-3g (Debian package ntfs-3g)";
      }
      const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
      if (fuse < 0) return "/dev/fuse cannot be opened";
      ::close(fuse);
      // Mounted with uid= only, as a shop mounts a Windows partition: every file shows the
      // writer as owner and group 0.
      const std::string image = (dir_.path() / "ntfs.img").string();
      command = "truncate -s 64M " + ShellQuote(image) + " && mkntfs -F -Q -q " +
                ShellQuote(image) +
                " >/dev/null 2>&1 && ntfs-3g -o allow_other,uid=" + std::to_string(kWriter) + " " +
                ShellQuote(image) + " " + ShellQuote(point.string());
    } else if (kind_ == "bindfs") {
      if (RunCommand("command -v bindfs >/dev/null").exit_code != 0) {
        return "no bindfs (Debian package bindfs)";
      }
      const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
      if (fuse < 0) return "/dev/fuse cannot be opened";
      ::close(fuse);
      const fs::path below = dir_.path() / "below";
      fs::create_directory(below);
      fs::permissions(below, fs::perms::all);
      // As a CIFS share mounted with uid= shows it: every file the writer's, group 0, and
      // owner changes are not kept.
      command = "bindfs -o allow_other --force-user=" + std::to_string(kWriter) +
                " --force-group=0 --chown-ignore --chgrp-ignore " + ShellQuote(below.string()) +
                " " + ShellQuote(point.string());
    }
    const auto mounted = RunCommand(command + " 2>&1");
    if (mounted.exit_code != 0) {
      return kind_ + " cannot be mounted here: " + mounted.out.substr(0, mounted.out.find('\n'));
    }
    mounts_.push_back(point.string());
    ::chmod(point.c_str(), 0777);
    folder_ = point;
    return std::nullopt;
  }
  const fs::path& folder() const { return folder_; }
  // A second mount (bind) to undo at the end.
  void Track(const std::string& point) { mounts_.push_back(point); }

 private:
  std::string kind_;
  testing_support::ScratchDir dir_{"in-place"};
  fs::path folder_;
  std::vector<std::string> mounts_;
};

struct Target {
  Target(fs::path named_path, fs::path changed_file, bool keeps_inode, int error = 0,
         std::function<void(const fs::path&)> also = {})
      : named(std::move(named_path)),
        file(std::move(changed_file)),
        in_place(keeps_inode),
        expect(error),
        check(std::move(also)) {}
  fs::path named;  // the path the writer gives
  fs::path file;   // the file that changes
  bool in_place;   // whether the commit must keep the inode
  int expect;      // the error number expected (minus 3000), 0 for an import
  // What else the file must have kept after the import (its own checks).
  std::function<void(const fs::path&)> check;
};

// One case: prepares a copy of the sample target in `folder` and says what to expect, or skips.
struct Case {
  const char* name;
  std::function<std::optional<Target>(Mounted&, std::string& skip)> prepare;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

fs::path CopyTarget(const fs::path& folder, const char* name = "DBZentavo.mdb") {
  fs::path file = folder / name;
  fs::copy_file(testing_support::Fixture("target.mdb"), file);
  return file;
}

// Gives the file to a user and group; false where the file system does not keep them.
bool Own(const fs::path& file, uid_t uid, gid_t gid, mode_t mode) {
  if (::chown(file.c_str(), uid, gid) != 0 || ::chmod(file.c_str(), mode) != 0) return false;
  struct stat st;
  return ::stat(file.c_str(), &st) == 0 && st.st_uid == uid && st.st_gid == gid &&
         (st.st_mode & 07777) == mode;
}

// A default access list as stored (version 2, then entries of tag u16, permissions u16, id u32,
// little-endian): owner rw, group r, other none.
constexpr std::uint8_t kReadOnlyGroupAcl[] = {2,    0, 0, 0,                          //
                                              0x01, 0, 6, 0, 0xFF, 0xFF, 0xFF, 0xFF,  //
                                              0x04, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF,  //
                                              0x20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};

unsigned Flags(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  int flags = 0;
  if (fd < 0 || ::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) flags = 0;
  if (fd >= 0) ::close(fd);
  return static_cast<unsigned>(flags);
}

// Sets one attribute flag (chattr); false where the file system keeps none.
bool AddFlag(const fs::path& file, unsigned flag) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags |= static_cast<int>(flag);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok && (Flags(file) & flag) != 0;
}

const Case kCases[] = {
    {"TheWritersOwnFile",
     [](Mounted& m, std::string&) -> std::optional<Target> {
       const fs::path f = CopyTarget(m.folder());
       if (Root()) (void)Own(f, kWriter, kWriterGroup, 0640);
       return Target{f, f, false};
     }},
    {"AnotherUsersFileTheWriterMayWrite",
     [](Mounted& m, std::string& skip) -> std::optional<Target> {
       const fs::path f = CopyTarget(m.folder());
       if (!Root()) return skip = "needs root, to give the file to another user", std::nullopt;
       if (!Own(f, 0, 0, 0666)) return skip = "the file system keeps no owner", std::nullopt;
       return Target{f, f, true};
     }},
    {"AGroupTheWriterIsNotIn",
     [](Mounted& m, std::string& skip) -> std::optional<Target> {
       const fs::path f = CopyTarget(m.folder());
       if (!Root()) return skip = "needs root, to give the file to a foreign group", std::nullopt;
       if (!Own(f, kWriter, 0, 0664)) return skip = "the file system keeps no group", std::nullopt;
       return Target{f, f, true};
     }},
    {"ASecondHardLink",
     [](Mounted& m, std::string& skip) -> std::optional<Target> {
       const fs::path f = CopyTarget(m.folder());
       if (Root()) (void)Own(f, kWriter, kWriterGroup, 0644);
       std::error_code ec;
       fs::create_hard_link(f, m.folder() / "Zweitname.mdb", ec);
       if (ec) return skip = "no hard links here (" + ec.message() + ")", std::nullopt;
       return Target{f, f, true};
     }},
    {"ASymbolicLink",
     [](Mounted& m, std::string& skip) -> std::optional<Target> {
       const fs::path f = CopyTarget(m.folder(), "echt.mdb");
       if (Root()) (void)Own(f, kWriter, kWriterGroup, 0644);
       std::error_code ec;
       fs::create_symlink(f, m.folder() / "DBZentavo.mdb", ec);
       if (ec) return skip = "no symbolic links here (" + ec.message() + ")", std::nullopt;
       return Target{m.folder() / "DBZentavo.mdb", f, false};
     }},
    {"ABindMountedFile",
     [](Mounted& m, std::string& skip) -> std::optional<Target> {
       if (!Root()) return skip = "a bind mount needs root", std::nullopt;
       const fs::path f = CopyTarget(m.folder(), "echt.mdb");
       (void)Own(f, kWriter, kWriterGroup, 0644);
       const fs::path onto = m.folder() / "DBZentavo.mdb";
       { std::ofstream(onto.string()).put('x'); }
       if (::mount(f.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) != 0) {
         return skip = "bind mounts are not possible here", std::nullopt;
       }
       m.Track(onto.string());
       return Target{onto, onto, true};
     }},
    {"AFolderWithADefaultAccessList",
     [](Mounted& m, std::string& skip) -> std::optional<Target> {
       // The folder's default list would give a new file only read rights for its group.
       const fs::path f = CopyTarget(m.folder());
       if (Root()) (void)Own(f, kWriter, kWriterGroup, 0660);
       ::chmod(f.c_str(), 0660);
       if (::setxattr(m.folder().c_str(), "system.posix_acl_default", kReadOnlyGroupAcl,
                      sizeof kReadOnlyGroupAcl, 0) != 0) {
         return skip = "no access lists here", std::nullopt;
       }
       return Target{f, f, false, 0, [](const fs::path& p) {
                       EXPECT_LT(::getxattr(p.c_str(), "system.posix_acl_access", nullptr, 0), 0);
                     }};
     }},
    {"AttributeFlags",
     [](Mounted& m, std::string& skip) -> std::optional<Target> {
       const fs::path f = CopyTarget(m.folder());
       if (Root()) (void)Own(f, kWriter, kWriterGroup, 0644);
       if (!AddFlag(f, FS_NODUMP_FL)) return skip = "no attribute flags here", std::nullopt;
       return Target{f, f, false, 0, [](const fs::path& p) {
                       EXPECT_NE(Flags(p) & FS_NODUMP_FL, 0u) << "chattr +d lost";
                     }};
     }},
    {"AFileTheWriterMayNotWrite",
     [](Mounted& m, std::string& skip) -> std::optional<Target> {
       const fs::path f = CopyTarget(m.folder());
       if (!Root()) return skip = "needs root, to leave the file to another user", std::nullopt;
       if (!Own(f, 0, 0, 0644)) return skip = "the file system keeps no owner", std::nullopt;
       return Target{f, f, true, static_cast<int>(ErrorCode::kReadOnly) - 3000};
     }},
};

class FileSystems : public testing::TestWithParam<std::tuple<const char*, Case>> {};

TEST_P(FileSystems, EveryWritableFileIsImportedAndKeepsItsIdentity) {
  const auto& [kind, c] = GetParam();
  Mounted mounted(kind);
  if (auto why = mounted.Mount()) GTEST_SKIP() << *why;
  std::string skip;
  const std::optional<Target> t = c.prepare(mounted, skip);
  if (!t) GTEST_SKIP() << skip;
  if (AsWriter([&] { return ::access(t->named.c_str(), R_OK) == 0 ? 0 : 1; }) != 0) {
    GTEST_SKIP() << "the writer cannot reach " << t->named << " on this system";
  }
  struct stat before;
  ASSERT_EQ(::stat(t->file.c_str(), &before), 0);
  const auto bytes = testing_support::ReadFileBytes(t->file);
  const int code = AsWriter([&] { return AddExtrasCode(t->named); });
  struct stat after;
  ASSERT_EQ(::stat(t->file.c_str(), &after), 0);
  ASSERT_EQ(code, t->expect) << kind << " " << c.name;
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mode, before.st_mode);
  const bool linked = fs::exists(mounted.folder() / "Zweitname.mdb");
  EXPECT_EQ(after.st_nlink, linked ? 2u : 1u);
  // On bindfs and ntfs-3g every file shows the same owner and group, which a new file takes as
  // well: there only the second link keeps the commit from swapping.
  const bool fixed_owner = std::string(kind) == "bindfs" || std::string(kind) == "ntfs3g";
  if (t->in_place && (!fixed_owner || linked)) {
    EXPECT_EQ(after.st_ino, before.st_ino);
  }
  EXPECT_FALSE(fs::exists(jet::JournalPath(t->file.string())));
  if (t->expect != 0) {
    EXPECT_EQ(testing_support::ReadFileBytes(t->file), bytes);
    return;
  }
  EXPECT_EQ(ExtraRows(t->file), ExtraRows(testing_support::Fixture("target.mdb")) + 3);
  if (fs::is_symlink(t->named)) {
    EXPECT_EQ(fs::read_symlink(t->named), t->file);
  }
  if (t->check) t->check(t->file);
  if (linked) {
    EXPECT_EQ(testing_support::ReadFileBytes(mounted.folder() / "Zweitname.mdb"),
              testing_support::ReadFileBytes(t->file));
  }
}

INSTANTIATE_TEST_SUITE_P(InPlace, FileSystems,
                         testing::Combine(testing::Values("scratch", "tmpfs", "ext4", "bindfs",
                                                          "ntfs3g", "vfat"),
                                          testing::ValuesIn(kCases)),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param)) + "_" +
                                  std::get<1>(p.param).name;
                         });

// An attribute only root sees (trusted.*) goes along where root imports; and a commit that writes
// in place keeps it by construction.
TEST(InPlace, RootsTrustedAttributesStay) {
  if (!Root()) GTEST_SKIP() << "trusted.* attributes need root";
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "in place" : "swapped");
    testing_support::ScratchDir folder("in-place-trusted");
    const fs::path file = CopyTarget(folder.path());
    if (linked) fs::create_hard_link(file, folder.path() / "Zweitname.mdb");
    const std::string mark = "Kasse 2";
    if (::setxattr(file.c_str(), "trusted.kasse", mark.data(), mark.size(), 0) != 0) {
      GTEST_SKIP() << "no trusted.* attributes here";
    }
    ASSERT_TRUE(AddExtras(file).ok());
    char value[32] = {};
    ASSERT_EQ(::getxattr(file.c_str(), "trusted.kasse", value, sizeof value),
              static_cast<ssize_t>(mark.size()));
    EXPECT_EQ(std::string(value), mark);
  }
}

// Runs `work` in a child process (fcntl locks are the process's: a lock of this process does not
// keep this process out) and returns its exit code.
int InChild(const std::function<int()>& work) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(work());
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A lock held beside the name a symbolic link gives (as Jet under Wine holds it) keeps our
// writer out, and while we write, ours is found beside the name and beside the file.
TEST(InPlace, LocksAreTakenOnBothSidesOfASymbolicLink) {
  testing_support::ScratchDir real("in-place-real");
  testing_support::ScratchDir other("in-place-link");
  const fs::path file = CopyTarget(real.path());
  const fs::path link = other.path() / "DBZentavo.mdb";
  fs::create_symlink(file, link);
  const int locked = static_cast<int>(ErrorCode::kLocked) - 3000;
  {
    auto held = jet::WriteLock::Acquire(link.string());  // beside the link only
    ASSERT_TRUE(held.ok()) << held.status().ToString();
    EXPECT_EQ(InChild([&] { return AddExtrasCode(link); }), locked);
    EXPECT_EQ(InChild([&] { return AddExtrasCode(file); }), 0);  // beside the file: no lock
  }
  auto db = jet::Database::Open(link.string(), {.password = kTargetPassword, .writable = true});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  for (const fs::path& p : {link, file}) {
    EXPECT_EQ(InChild([&] {
                auto other_lock = jet::WriteLock::Acquire(p.string());
                return other_lock.ok() ? 0 : other_lock.status().number() - 3000;
              }),
              locked)
        << p;
  }
}

// The same commit written in place and swapped in leaves the same bytes, with and without
// encrypted pages.
TEST(InPlace, TheFileIsTheSwapsByteForByte) {
  const auto plain = testing_support::ReadFileBytes(testing_support::Fixture("target.mdb"));
  auto encrypted = testing_support::MakeEncryptedCopy(plain, 0x5EC0DE42);
  ASSERT_TRUE(encrypted.ok()) << encrypted.status().ToString();
  const std::vector<std::uint8_t>& encrypted_bytes = *encrypted;
  for (const std::vector<std::uint8_t>* bytes : {&plain, &encrypted_bytes}) {
    SCOPED_TRACE(bytes == &plain ? "plain" : "encrypted pages");
    testing_support::ScratchDir folder("in-place-same");
    const fs::path swapped = folder.path() / "a.mdb";
    const fs::path in_place = folder.path() / "b.mdb";
    testing_support::WriteFileBytes(swapped, *bytes);
    testing_support::WriteFileBytes(in_place, *bytes);
    fs::create_hard_link(in_place, folder.path() / "b2.mdb");
    ASSERT_TRUE(AddExtras(swapped).ok());
    ASSERT_TRUE(AddExtras(in_place).ok());
    EXPECT_EQ(testing_support::ReadFileBytes(in_place), testing_support::ReadFileBytes(swapped));
    EXPECT_EQ(ExtraRows(in_place), ExtraRows(testing_support::Fixture("target.mdb")) + 3);
  }
}

// Any single failing write, sync or folder sync of an in-place commit leaves the old file, byte
// for byte, and no journal: what was written is copied back at once. The one exception, a folder
// sync after the journal's removal (the commit point), leaves the complete commit and says so.
TEST(InPlace, AFailingCallLeavesTheOldFile) {
  testing_support::ScratchDir folder("in-place-fault");
  const fs::path file = folder.path() / "DBZentavo.mdb";
  const auto old_bytes = testing_support::ReadFileBytes(testing_support::Fixture("target.mdb"));
  auto fresh = [&] {
    fs::remove(folder.path() / "Zweitname.mdb");
    fs::remove(file);
    testing_support::WriteFileBytes(file, old_bytes);
    fs::create_hard_link(file, folder.path() / "Zweitname.mdb");
  };
  int failures = 0;
  for (const jet::FileCall kind :
       {jet::FileCall::kWrite, jet::FileCall::kSync, jet::FileCall::kSyncFolder}) {
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE(std::string(jet::FileCallName(kind)) + " #" + std::to_string(nth));
      fresh();
      jet::FaultInjectingFileSystem files(kind, nth, EIO);
      jet::Status s;
      bool stored = false;
      {
        jet::ScopedFileSystem scope(files);
        auto db =
            jet::Database::Open(file.string(), {.password = kTargetPassword, .writable = true});
        ASSERT_TRUE(db.ok()) << db.status().ToString();
        for (int i = 0; i < 3; ++i) {
          std::vector<Value> row((*(*db)->GetTable(kExtras))->columns.size());
          row[1] = Value("Extra " + std::to_string(i));
          ASSERT_TRUE((*db)->InsertRow(kExtras, row).ok());
        }
        s = (*db)->Commit();
        stored = (*db)->commit_replaced_file_despite_failure();
      }
      if (!files.injected()) {
        EXPECT_TRUE(s.ok()) << s.ToString();
        break;
      }
      ++failures;
      EXPECT_FALSE(s.ok());
      // Only the folder sync after the journal's removal leaves the changes, and says so.
      EXPECT_EQ(stored, testing_support::ReadFileBytes(file) != old_bytes) << s.ToString();
      if (stored) {
        EXPECT_EQ(ExtraRows(file), ExtraRows(testing_support::Fixture("target.mdb")) + 3);
      }
      EXPECT_FALSE(fs::exists(jet::JournalPath(file.string())));
    }
  }
  EXPECT_GT(failures, 6);
}

// A file system that refuses to rename over the file (as a busy or protected file makes it): the
// commit writes in place instead.
class NoRenameFileSystem : public jet::FileSystem {
 public:
  int Rename(const std::string&, const std::string&, bool) override {
    ++refused;
    errno = EBUSY;
    return -1;
  }
  int refused = 0;
};

TEST(InPlace, WhereNoRenameCanReplaceTheFileItIsWrittenInPlace) {
  testing_support::ScratchDir folder("in-place-rename");
  const fs::path file = CopyTarget(folder.path());
  struct stat before;
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  NoRenameFileSystem files;
  {
    jet::ScopedFileSystem scope(files);
    ASSERT_TRUE(AddExtras(file).ok());
  }
  EXPECT_EQ(files.refused, 1);
  struct stat after;
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ExtraRows(file), ExtraRows(testing_support::Fixture("target.mdb")) + 3);
  std::size_t names = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder.path())) ++names;
  EXPECT_EQ(names, 1u);  // no new file, no journal, no lock file left
}

}  // namespace
