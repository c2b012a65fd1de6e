#include "jet/file/file_commit.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "jet/file/file_system.h"
#include "jet/text/unicode.h"

namespace jet {
namespace {

// Jet's texts of the errors below, followed by what failed (kDiskOrNetworkText beside the file
// calls).
constexpr char kDiskFullText[] = "Nicht genügend Speicherplatz auf dem Datenträger";
constexpr char kReadOnlyText[] =
    "Aktualisieren nicht möglich; Datenbank oder Objekt ist schreibgeschützt";
constexpr char kCannotLockText[] = "Datei konnte nicht gesperrt werden";

Status IoError(const std::string& what, const std::string& path, int err) {
  // A file that reached the process's size limit (EFBIG) is full as a full disk is.
  if (err == ENOSPC || err == EDQUOT || err == EFBIG) {
    return Status(ErrorCode::kDiskFull, std::string(kDiskFullText) + ": " + what + " '" + path +
                                            "' (" + SystemErrorText(err) + ").");
  }
  return Status(ErrorCode::kIoError, std::string(kDiskOrNetworkText) + ": " + what + " '" + path +
                                         "' (" + SystemErrorText(err) + ").");
}

Status ReadOnly(const std::string& path, const std::string& why) {
  return Status(ErrorCode::kReadOnly,
                std::string(kReadOnlyText) + ": Die Datenbank '" + path + "' " + why);
}

Status CannotLock(const std::string& lock_path, int err) {
  return Status(ErrorCode::kCannotLock, std::string(kCannotLockText) + ": Die Sperrdatei '" +
                                            lock_path + "' kann nicht angelegt werden (" +
                                            SystemErrorText(err) + ").");
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The lock file a program under Wine uses for `path`: Wine finds names without regard to letter
// case, so Jet there may have made DBZentavo.ldb beside our dbzentavo.mdb. The exact name when it
// exists, else an existing one in another letter case (the first in byte order), else the exact
// name.
std::string ExistingLockFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return path;
  const std::string folder = FolderOf(path);
  const std::string name = path.substr(path.rfind('/') + 1);
  const std::string wanted = FoldCase(name);
  std::string found;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string candidate = entry->d_name;
      if (FoldCase(candidate) == wanted && (found.empty() || candidate < found)) {
        found = candidate;
      }
    }
    ::closedir(dir);
  }
  return found.empty() ? path : (folder == "/" ? "/" : folder + "/") + found;
}

Status WriteAll(int fd, Bytes data, const std::string& path) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = Files().Write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return IoError("Schreibfehler bei", path, errno);
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

// The value of one extended attribute of `path` (or of the open file `fd` when it is >= 0).
Result<std::vector<char>> AttributeValue(const std::string& path, int fd, const char* name) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size =
        fd >= 0 ? ::fgetxattr(fd, name, nullptr, 0) : ::getxattr(path.c_str(), name, nullptr, 0);
    if (size < 0) return IoError("Das erweiterte Attribut ist nicht lesbar:", path, errno);
    std::vector<char> value(static_cast<std::size_t>(size));
    const ssize_t got = fd >= 0 ? ::fgetxattr(fd, name, value.data(), value.size())
                                : ::getxattr(path.c_str(), name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE) return IoError("Das erweiterte Attribut ist nicht lesbar:", path, errno);
  }
  return IoError("Das erweiterte Attribut ist nicht lesbar:", path, ERANGE);
}

// The names of the extended attributes of `path` (or of the open file `fd` when it is >= 0) that
// the process can see; none where the file system keeps none.
Result<std::vector<std::string>> AttributeNames(const std::string& path, int fd) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = fd >= 0 ? ::flistxattr(fd, nullptr, 0) : ::listxattr(path.c_str(), nullptr, 0);
    if (size < 0 && (errno == ENOTSUP || errno == ENOSYS)) return std::vector<std::string>();
    if (size < 0) return IoError("Die erweiterten Attribute sind nicht lesbar:", path, errno);
    std::vector<char> names(static_cast<std::size_t>(size));
    size = fd >= 0 ? ::flistxattr(fd, names.data(), names.size())
                   : ::listxattr(path.c_str(), names.data(), names.size());
    if (size < 0 && errno == ERANGE) continue;
    if (size < 0) return IoError("Die erweiterten Attribute sind nicht lesbar:", path, errno);
    std::vector<std::string> out;
    for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
      out.emplace_back(names.data() + at);
      at += out.back().size() + 1;
    }
    return out;
  }
  return IoError("Die erweiterten Attribute sind nicht lesbar:", path, ERANGE);
}

// The attribute flags (chattr) that a file's owner may set and that a file written anew can take:
// append-only and immutable are refused before (CheckReplaceable()), and the others describe how
// the file system stores the file.
constexpr unsigned kCopiedFlags =
    FS_FL_USER_MODIFIABLE & ~static_cast<unsigned>(FS_IMMUTABLE_FL | FS_APPEND_FL);

// The attribute flags of an open file, or nothing where the file system keeps none.
std::optional<unsigned> FlagsOf(int fd) {
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return std::nullopt;
  return static_cast<unsigned>(flags);
}

// Gives the new file `fd` (named `to`) what makes `from` (`old` its stat) the user's file: owner,
// group, every extended attribute the process can see and set (POSIX ACLs are
// "system.posix_acl_*" attributes; one the folder's default ACL gave the new file and `from` lacks
// is removed), the attribute flags, and the permissions. Then measures what the file system kept:
// "" when the new file matches `from` in all of these, else what differs (German, for the reason
// of writing in place). Nothing here is an error: a file system that keeps less than we asked
// only makes the swap unsuitable.
std::string ApplyIdentity(int fd, const std::string& to, const std::string& from,
                          const struct stat& old) {
  struct stat now;
  if (::fstat(fd, &now) != 0) return "ihre Angaben lassen sich nicht prüfen";
  if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
    (void)::fchown(fd, old.st_uid, old.st_gid);
  }
  auto old_names = AttributeNames(from, -1);
  if (!old_names.ok()) return "ihre erweiterten Attribute sind nicht lesbar";
  std::vector<std::pair<std::string, std::vector<char>>> wanted;
  for (const std::string& name : *old_names) {
    auto value = AttributeValue(from, -1, name.c_str());
    if (!value.ok()) return "ihr erweitertes Attribut '" + name + "' ist nicht lesbar";
    // What the new file already has (a security label given at its creation) is kept as is.
    auto present = AttributeValue(to, fd, name.c_str());
    if (!present.ok() || *present != *value) {
      (void)::fsetxattr(fd, name.c_str(), value->data(), value->size(), 0);
    }
    wanted.emplace_back(name, std::move(*value));
  }
  auto new_names = AttributeNames(to, fd);
  if (new_names.ok()) {
    for (const std::string& name : *new_names) {
      if (std::find(old_names->begin(), old_names->end(), name) == old_names->end()) {
        (void)::fremovexattr(fd, name.c_str());
      }
    }
  }
  std::optional<unsigned> old_flags;
  if (const int old_fd = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      old_fd >= 0) {
    old_flags = FlagsOf(old_fd);
    ::close(old_fd);
  }
  if (old_flags) {
    if (const auto new_flags = FlagsOf(fd);
        new_flags && (*new_flags & kCopiedFlags) != (*old_flags & kCopiedFlags)) {
      int set = static_cast<int>((*new_flags & ~kCopiedFlags) | (*old_flags & kCopiedFlags));
      (void)::ioctl(fd, FS_IOC_SETFLAGS, &set);
    }
  }
  // After the owner (which clears set-id bits) and the access list (which sets the mode bits).
  (void)::fchmod(fd, old.st_mode & 07777);

  // What the file system kept.
  if (::fstat(fd, &now) != 0) return "ihre Angaben lassen sich nicht prüfen";
  if (now.st_uid != old.st_uid) {
    return "eine neue Datei erhielte nicht ihren Eigentümer (Nummer " + std::to_string(old.st_uid) +
           ", sondern " + std::to_string(now.st_uid) + ")";
  }
  if (now.st_gid != old.st_gid) {
    return "eine neue Datei erhielte nicht ihre Gruppe (Nummer " + std::to_string(old.st_gid) +
           ", sondern " + std::to_string(now.st_gid) + ")";
  }
  if ((now.st_mode & 07777) != (old.st_mode & 07777)) {
    return "eine neue Datei erhielte nicht ihre Zugriffsrechte";
  }
  for (const auto& [name, value] : wanted) {
    auto kept = AttributeValue(to, fd, name.c_str());
    if (!kept.ok() || *kept != value) {
      return "eine neue Datei erhielte ihr erweitertes Attribut '" + name + "' nicht";
    }
  }
  if (auto names = AttributeNames(to, fd); names.ok()) {
    for (const std::string& name : *names) {
      if (name.rfind("security.", 0) != 0 &&
          std::find(old_names->begin(), old_names->end(), name) == old_names->end()) {
        return "eine neue Datei erhielte das erweiterte Attribut '" + name + "', das sie nicht hat";
      }
    }
  }
  if (old_flags) {
    const auto new_flags = FlagsOf(fd);
    if (!new_flags || (*new_flags & kCopiedFlags) != (*old_flags & kCopiedFlags)) {
      return "eine neue Datei erhielte nicht ihre Attribut-Flags (chattr)";
    }
  }
  return "";
}

// What stat's mode names, for messages about a path that is no regular file.
std::string KindOf(unsigned mode) {
  if (S_ISDIR(mode)) return "ein Ordner";
  if (S_ISFIFO(mode)) return "eine benannte Pipe (FIFO)";
  if (S_ISCHR(mode)) return "ein zeichenorientiertes Gerät";
  if (S_ISBLK(mode)) return "ein blockorientiertes Gerät";
  if (S_ISSOCK(mode)) return "ein Socket";
  return "keine gewöhnliche Datei";
}

// The attribute flags (chattr) of a file or folder, or 0 where the file system keeps none. The
// path is opened without blocking and without reading from it.
unsigned AttributeFlags(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return 0;
  int flags = 0;
  const int rc = ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
  ::close(fd);
  return rc == 0 ? static_cast<unsigned>(flags) : 0;
}

// Why a flag of `path` keeps a swap from replacing or removing it, or "" when none does.
std::string ProtectingFlag(const std::string& path) {
  const unsigned flags = AttributeFlags(path);
  if ((flags & FS_IMMUTABLE_FL) != 0) return "unveränderlich (chattr +i)";
  if ((flags & FS_APPEND_FL) != 0) return "nur zum Anhängen freigegeben (chattr +a)";
  return "";
}

bool OnReadOnlyMount(const std::string& path) {
  struct statvfs vfs;
  return ::statvfs(path.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0;
}

// Mount points as /proc/self/mountinfo lists them (its fifth field, with "\040" and the like
// for blanks and other bytes): whether `path` is one of them.
bool ListedAsMountPoint(const std::string& path) {
  std::ifstream info("/proc/self/mountinfo");
  std::string line;
  while (std::getline(info, line)) {
    std::size_t at = 0;
    for (int field = 0; field < 4 && at != std::string::npos; ++field) {
      at = line.find(' ', at);
      if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos) continue;
    const std::size_t end = line.find(' ', at);
    const std::string escaped = line.substr(at, end == std::string::npos ? end : end - at);
    std::string point;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
      if (escaped[i] == '\\' && i + 3 < escaped.size()) {
        point.push_back(static_cast<char>(std::stoi(escaped.substr(i + 1, 3), nullptr, 8)));
        i += 3;
      } else {
        point.push_back(escaped[i]);
      }
    }
    if (point == path) return true;
  }
  return false;
}

// Whether a file is mounted onto its own name (a bind mount): then no rename can replace it.
bool IsMountRoot(const std::string& path) {
  struct statx stx {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &stx) == 0 &&
      (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  // Kernels before 5.8 do not tell: a file on another device than its folder is mounted, and
  // one bound from the same device is found in the list of mounts.
  struct stat file, folder;
  if (::stat(path.c_str(), &file) == 0 && ::stat(FolderOf(path).c_str(), &folder) == 0 &&
      file.st_dev != folder.st_dev) {
    return true;
  }
  return ListedAsMountPoint(path);
}

// Why this user may not remove the file `path` (`st` its stat), or "" when it may.
std::string WhyNotRemovable(const std::string& path, const struct stat& st) {
  const std::string folder = FolderOf(path);
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return "der Ordner '" + folder + "' ist für diesen Benutzer nicht beschreibbar (" +
           SystemErrorText(errno) + ")";
  }
  struct stat dir;
  if (::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) != 0 && ::geteuid() != 0 &&
      st.st_uid != ::geteuid() && dir.st_uid != ::geteuid()) {
    return "sie gehört einem anderen Benutzer (Nummer " + std::to_string(st.st_uid) +
           "), und der Ordner erlaubt nur dem Eigentümer, sie zu löschen";
  }
  if (const std::string flag = ProtectingFlag(path); !flag.empty()) return "sie ist " + flag;
  if (const std::string flag = ProtectingFlag(folder); !flag.empty()) {
    return "der Ordner '" + folder + "' ist " + flag;
  }
  return "";
}

Status StaleLockNotRemovable(const std::string& lock_path, const std::string& why) {
  return Status(ErrorCode::kCannotLock,
                std::string(kCannotLockText) + ": Die Sperrdatei '" + lock_path +
                    "' ist von einem früheren Zugriff übrig geblieben und wird von keinem "
                    "Programm mehr verwendet, darf von diesem Benutzer aber nicht entfernt "
                    "werden: " +
                    why +
                    ". Bitte lassen Sie sie von ihrem Eigentümer oder einem Administrator "
                    "löschen.");
}

Status InUse(const std::string& database_path) {
  return Status(ErrorCode::kLocked, "Die Datenbank '" + database_path +
                                        "' wird bereits von einem anderen Programm verwendet. "
                                        "Bitte schließen Sie Zentavo und versuchen Sie es erneut.");
}

// A lock file this user may not open for writing: in use when another process holds a lock on
// it; stale otherwise, and then removed so that a new one can be made. Ok after the removal.
Status RemoveUnwritableStaleLock(const std::string& path, const std::string& database_path,
                                 int open_error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return CannotLock(path, open_error);
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  struct stat st {};
  const bool probed = ::fcntl(fd, F_GETLK, &probe) == 0;
  const bool examined = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!probed || !examined) return CannotLock(path, open_error);
  if (probe.l_type != F_UNLCK) return InUse(database_path);
  if (const std::string why = WhyNotRemovable(path, st); !why.empty()) {
    return StaleLockNotRemovable(path, why);
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return StaleLockNotRemovable(path, SystemErrorText(errno));
  }
  return Status::Ok();
}

// The new file while it is written: closed and removed when it goes out of scope, unless it took
// the database's name (Keep()). After a swap the name holds the old file, whose removal is due.
class NewFile {
 public:
  NewFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~NewFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  int fd() const { return fd_; }
  // close(2); 0 or -1 with errno.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_;
  bool kept_ = false;
};

// Ok when `path` still names the file that was read; otherwise Jet's "in use" error, which says
// that the other file stays as it is.
Status StillTheFileRead(const std::string& path, const FileIdentity& read) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    return Status(ErrorCode::kLocked, "Die Datenbank '" + path +
                                          "' wurde während des Imports entfernt oder umbenannt (" +
                                          SystemErrorText(errno) +
                                          "). Die Änderungen werden nicht gespeichert.");
  }
  if (static_cast<std::uint64_t>(st.st_dev) != read.device ||
      static_cast<std::uint64_t>(st.st_ino) != read.inode) {
    return Status(ErrorCode::kLocked,
                  "Die Datenbank '" + path +
                      "' wurde während des Imports von einem anderen Programm durch eine andere "
                      "Datei ersetzt. Diese Datei bleibt unverändert; die Änderungen werden nicht "
                      "gespeichert.");
  }
  const std::int64_t modified =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  if (static_cast<std::uint64_t>(st.st_size) != read.size || modified != read.modified_ns) {
    return Status(ErrorCode::kLocked,
                  "Die Datenbank '" + path +
                      "' wurde während des Imports von einem anderen Programm geändert. Sie "
                      "bleibt, wie das andere Programm sie hinterlassen hat; die Änderungen werden "
                      "nicht gespeichert.");
  }
  return Status::Ok();
}

// Keeps the file `path` (whose status is `old`) also as `backup`: a hard link, or a copy where
// the file system has none. The copy is written as `<backup>.neu-<process id>` and renamed when
// complete, so that `backup` never names a part of the file.
Status KeepOldFile(const std::string& path, const struct stat& old, const std::string& backup,
                   bool may_link = true) {
  if (may_link && Files().Link(path, backup) == 0) return Status::Ok();
  const int err = may_link ? errno : EPERM;
  if (err != EPERM && err != EMLINK && err != ENOTSUP && err != EOPNOTSUPP && err != ENOSYS &&
      err != EXDEV) {
    return IoError("Die Sicherung kann nicht angelegt werden:", backup, err);
  }
  const std::string part = backup + ".neu-" + std::to_string(::getpid());
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return IoError("Die Datei ist nicht lesbar:", path, errno);
  const int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return IoError("Die Sicherung kann nicht angelegt werden:", part, e);
  }
  auto fail = [&](Status s) {
    ::close(in);
    ::close(out);
    ::unlink(part.c_str());
    return s;
  };
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::vector<std::uint8_t> buffer(kChunk);
  for (off_t at = 0;;) {
    const ssize_t n = Files().ReadAt(in, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(IoError("Lesefehler bei", path, errno));
    if (n == 0) break;
    Status s = WriteAll(out, Bytes(buffer.data(), static_cast<std::size_t>(n)), part);
    if (!s.ok()) return fail(s);
    at += n;
  }
  // The copy takes what it can of the file's identity; what the file system does not keep is no
  // reason to go without a backup.
  (void)ApplyIdentity(out, part, path, old);
  if (Files().Sync(out) != 0) return fail(IoError("Schreibfehler (fsync) bei", part, errno));
  ::close(in);
  if (::close(out) != 0) {
    const int e = errno;
    ::unlink(part.c_str());
    return IoError("Schreibfehler beim Schließen von", part, e);
  }
  if (Files().Rename(part, backup, /*exchange=*/false) != 0) {
    const int e = errno;
    ::unlink(part.c_str());
    return IoError("Die Sicherung kann nicht angelegt werden:", backup, e);
  }
  return Status::Ok();
}

}  // namespace

Status KeepCopyOfFile(const std::string& path, const std::string& backup) {
  struct stat old {};
  if (::stat(path.c_str(), &old) != 0) return IoError("Die Datei ist nicht lesbar:", path, errno);
  return KeepOldFile(path, old, backup, /*may_link=*/false);
}

// A rename that the file system refuses for this file, not for a fault: a file that is busy (a
// mount onto it), on another device, or that the folder forbids replacing.
static bool CannotRenameOver(int err) {
  return err == EBUSY || err == EXDEV || err == EPERM || err == EACCES;
}

// The swap stops, the path untouched, because only writing in place keeps the file's identity.
static Status SwapUnsuitable(const std::string& path, std::string why, Replacement* replacement) {
  const std::string text = "Die Datenbank '" + path + "' " + why + ".";
  if (replacement != nullptr) {
    replacement->needs_in_place = true;
    replacement->why = std::move(why);
  }
  return Status(ErrorCode::kReadOnly, text);
}

// A new file is written as `<path>.neu-<process id>` beside the database; after the swap the same
// name holds the old file until it is removed.
constexpr char kNewFileInfix[] = ".neu-";

void RemoveUnfinishedReplacements(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string prefix =
      path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1) + kNewFileInfix;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size() &&
        name.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
      ::unlink((folder + "/" + name).c_str());
    }
  }
  ::closedir(dir);
}

Result<std::string> ResolveDatabasePath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      return Status(ErrorCode::kFileNotFound, "Die Datei '" + path + "' wurde nicht gefunden.");
    }
    return IoError("Der Pfad lässt sich nicht auflösen:", path, err);
  }
  std::string out = resolved;
  ::free(resolved);
  return out;
}

Status NotRegularFile(const std::string& path, unsigned mode) {
  return Status(ErrorCode::kPathNotValid,
                "'" + path + "' ist keine Datenbankdatei, sondern " + KindOf(mode) +
                    "; daraus wird nichts gelesen und dorthin nichts geschrieben.");
}

Status CheckReplaceable(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return IoError("Die Datei ist nicht lesbar:", path, errno);
  if (!S_ISREG(st.st_mode)) return NotRegularFile(path, st.st_mode);
  // A file without any write permission was made read-only on purpose: refused also for a user
  // whom the system would let write it anyway.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return ReadOnly(path, "ist schreibgeschützt (die Datei hat keine Schreibrechte).");
  }
  const std::string folder = FolderOf(path);
  if (OnReadOnlyMount(path) || OnReadOnlyMount(folder)) {
    return ReadOnly(path, "liegt auf einem schreibgeschützten Dateisystem.");
  }
  // Flags that even the owner must clear first: the swap could neither replace the file nor
  // remove the old one beside it.
  if (const std::string flag = ProtectingFlag(path); !flag.empty()) {
    return ReadOnly(path, "ist " + flag + " und kann daher nicht ersetzt werden.");
  }
  if (const std::string flag = ProtectingFlag(folder); !flag.empty()) {
    return ReadOnly(path,
                    "kann nicht ersetzt werden: Ihr Ordner '" + folder + "' ist " + flag + ".");
  }
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    const int err = errno;
    if (err == EROFS) return ReadOnly(path, "liegt auf einem schreibgeschützten Dateisystem.");
    return ReadOnly(
        path, "darf von diesem Benutzer nicht geschrieben werden (" + SystemErrorText(err) + ").");
  }
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return CannotLock(WriteLock::LockFilePath(path), errno);
  }
  return Status::Ok();
}

Result<CommitPlan> PlanCommit(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return IoError("Die Datei ist nicht lesbar:", path, errno);
  if (IsMountRoot(path)) {
    return CommitPlan{CommitWay::kInPlace,
                      "ist an ihrem Ort eingehängt (bind mount), und eine eingehängte Datei kann "
                      "nicht durch eine neue ersetzt werden"};
  }
  if (st.st_nlink > 1) {
    return CommitPlan{CommitWay::kInPlace, "ist unter " + std::to_string(st.st_nlink) +
                                               " Namen erreichbar (feste Links), die eine neue "
                                               "Datei trennen würde"};
  }
  // A trial: an empty new file beside it takes what it can of the file, and what the file system
  // kept is compared (a network share that shows every file as the user's, a group the user is
  // not in, a folder whose default access list overrides).
  const std::string trial = path + kNewFileInfix + std::to_string(::getpid());
  const int fd = ::open(trial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return CannotLock(WriteLock::LockFilePath(path), errno);
  NewFile file(trial, fd);
  const std::string differs = ApplyIdentity(fd, trial, path, st);
  if (!differs.empty()) return CommitPlan{CommitWay::kInPlace, differs};
  return CommitPlan{};
}

void IgnoreFileSizeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction now {};
    if (::sigaction(SIGXFSZ, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) {
      ::signal(SIGXFSZ, SIG_IGN);
    }
  });
}

Status ReplaceFileAtomically(const std::string& path,
                             const std::function<Status(const PieceSink&)>& write,
                             const ReplaceOptions& options) {
  Replacement replacement;
  replacement.keep_old_as = options.keep_old_as;
  return ReplaceFileAtomically(path, write, &replacement);
}

Status ReplaceFileAtomically(const std::string& path,
                             const std::function<Status(const PieceSink&)>& write,
                             Replacement* replacement) {
  FileSystem& files = Files();
  IgnoreFileSizeSignal();
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  const std::string temp = path + kNewFileInfix + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return IoError("Die neue Datei kann nicht angelegt werden:", temp, errno);
  // Removes the new file on every way out below, an exception of `write` included.
  NewFile file(temp, fd);
  // The file's identity first, and measured: where the new file cannot take it, the commit must
  // write in place, and nothing more is written here.
  if (exists) {
    if (std::string differs = ApplyIdentity(fd, temp, path, old); !differs.empty()) {
      return SwapUnsuitable(path, std::move(differs), replacement);
    }
  }
  JET_RETURN_IF_ERROR(write([&](Bytes piece) { return WriteAll(fd, piece, temp); }));
  if (files.Sync(fd) != 0) return IoError("Schreibfehler (fsync) bei", temp, errno);
  if (file.Close() != 0) return IoError("Schreibfehler beim Schließen von", temp, errno);
  if (replacement != nullptr && replacement->before_swap) replacement->before_swap();
  const FileIdentity* read =
      replacement != nullptr && replacement->expected ? &*replacement->expected : nullptr;
  if (read != nullptr) JET_RETURN_IF_ERROR(StillTheFileRead(path, *read));
  // The backup, before anything changes. Where the old file stays in place after all, it goes
  // again.
  const std::string keep_old_as = replacement != nullptr ? replacement->keep_old_as : "";
  const bool backup = exists && !keep_old_as.empty();
  if (backup) JET_RETURN_IF_ERROR(KeepOldFile(path, old, keep_old_as));
  auto unchanged = [&](Status failure) {
    if (backup) ::unlink(keep_old_as.c_str());
    return failure;
  };
  // The swap leaves the old file under the new file's name, so that a failed folder sync can
  // put it back; where the file system cannot swap, a plain rename replaces it.
  bool swapped = false;
  if (exists) {
    swapped = files.Rename(temp, path, /*exchange=*/true) == 0;
    const int err = errno;
    if (!swapped && CannotRenameOver(err)) {
      return SwapUnsuitable(
          path,
          "kann auf ihrem Dateisystem nicht durch eine neue Datei ersetzt werden (" +
              SystemErrorText(err) + ")",
          replacement);
    }
    if (!swapped && err != EINVAL && err != ENOSYS && err != ENOTSUP) {
      return unchanged(IoError("Die Datei kann nicht ersetzt werden:", path, err));
    }
  }
  if (swapped && read != nullptr) {
    // Another program may have put its file there between the check and the swap: then that
    // file, now under the new file's name, goes back, untouched.
    const Status moved = StillTheFileRead(temp, *read);
    if (!moved.ok()) {
      if (files.Rename(temp, path, /*exchange=*/true) == 0) {
        return unchanged(StillTheFileRead(path, *read));
      }
      file.Keep();
      return unchanged(
          Status(ErrorCode::kIoError, std::string(kDiskOrNetworkText) + ": Die Datenbank '" + path +
                                          "' wurde während des Speicherns durch eine andere Datei "
                                          "ersetzt, die sich nicht zurücklegen ließ (" +
                                          SystemErrorText(errno) + "); sie liegt jetzt unter '" +
                                          temp + "'."));
    }
  }
  if (!swapped) {
    if (files.Rename(temp, path, /*exchange=*/false) != 0) {
      const int err = errno;
      if (exists && CannotRenameOver(err)) {
        return unchanged(SwapUnsuitable(
            path,
            "kann auf ihrem Dateisystem nicht durch eine neue Datei ersetzt werden (" +
                SystemErrorText(err) + ")",
            replacement));
      }
      return unchanged(IoError("Die Datei kann nicht ersetzt werden:", path, err));
    }
    file.Keep();  // the name is gone: the new file is the database now
  }
  const std::string folder = FolderOf(path);
  if (files.SyncFolder(folder) != 0 && errno != EINVAL) {
    const int err = errno;
    if (swapped && files.Rename(temp, path, /*exchange=*/true) == 0) {
      Status failed = unchanged(IoError("Schreibfehler (fsync) beim Ordner", folder, err));
      (void)files.SyncFolder(folder);  // the new file goes with `file`
      return failed;
    }
    // The import stays in place, and so does the backup of the file it replaced.
    if (replacement != nullptr) replacement->replaced_despite_failure = true;
    if (swapped) file.Keep();  // the old file could not go back: the new one stays in place
    return Status(ErrorCode::kIoError, std::string(kDiskOrNetworkText) +
                                           ": Schreibfehler (fsync) beim Ordner '" + folder +
                                           "' (" + SystemErrorText(err) + "). Die Datei '" + path +
                                           "' ist bereits ersetzt, aber nicht sicher gespeichert.");
  }
  return Status::Ok();  // after a swap, `file` removes the old bytes
}

Result<FileIdentity> IdentifyFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return IoError("Die Datei ist nicht lesbar:", path, errno);
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.inode = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::uint64_t>(st.st_size);
  id.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

std::string WriteLock::LockFilePath(const std::string& database_path) {
  const std::size_t slash = database_path.rfind('/');
  const std::size_t dot = database_path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return database_path + ".ldb";
  }
  return database_path.substr(0, dot) + ".ldb";
}

Result<std::unique_ptr<WriteLock>> WriteLock::Acquire(const std::string& database_path) {
  const std::string path = ExistingLockFile(LockFilePath(database_path));
  // A holder that releases removes the file; a lock taken on a file that was removed meanwhile
  // protects nothing, so the lock only counts when the path still names the locked file.
  constexpr int kAttempts = 8;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    bool created = false;
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd =
          ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    } else if (fd < 0 && (errno == EACCES || errno == EPERM)) {
      JET_RETURN_IF_ERROR(RemoveUnwritableStaleLock(path, database_path, errno));
      continue;
    }
    if (fd < 0) return CannotLock(path, errno);
    struct stat held;
    if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
      const unsigned mode = held.st_mode;
      ::close(fd);
      return Status(ErrorCode::kCannotLock, std::string(kCannotLockText) + ": Die Sperrdatei '" +
                                                path + "' ist " + KindOf(mode) + ".");
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, and every byte range another program may lock in it
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
      const int err = errno;
      ::close(fd);
      if (err == EACCES || err == EAGAIN) return InUse(database_path);
      return Status(ErrorCode::kCannotLock, std::string(kCannotLockText) + ": Die Sperrdatei '" +
                                                path + "' lässt sich nicht sperren (" +
                                                SystemErrorText(err) + ").");
    }
    struct stat named;
    if (::stat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
      ::close(fd);  // the file was replaced while we locked it: try again
      continue;
    }
    // A stale file taken over is removed at the end as one we made: it must be ours to remove.
    if (!created) {
      if (const std::string why = WhyNotRemovable(path, held); !why.empty()) {
        ::close(fd);
        return StaleLockNotRemovable(path, why);
      }
    }
    return std::unique_ptr<WriteLock>(new WriteLock(fd, path));
  }
  return Status(ErrorCode::kLocked, "Die Sperrdatei '" + path + "' lässt sich nicht sperren.");
}

WriteLock::~WriteLock() {
  // Removed while still locked, and only while the name still names the locked file.
  struct stat held, named;
  if (::fstat(fd_, &held) == 0 && ::stat(path_.c_str(), &named) == 0 &&
      held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
    ::unlink(path_.c_str());
  }
  ::close(fd_);  // releases the lock
}

Result<std::vector<std::unique_ptr<WriteLock>>> AcquireWriteLocks(const std::string& named,
                                                                  const std::string& resolved) {
  std::vector<std::unique_ptr<WriteLock>> locks;
  JET_ASSIGN_OR_RETURN(std::unique_ptr<WriteLock> beside_file, WriteLock::Acquire(resolved));
  locks.push_back(std::move(beside_file));
  // The name with its folder resolved: its lock file is the same as the first one, unless the
  // name is a link (a second lock of this process on the same file would be released with the
  // first).
  const std::size_t slash = named.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : named.substr(0, slash + 1);
  char* real_folder = ::realpath(folder.c_str(), nullptr);
  if (real_folder == nullptr) return locks;  // the name's folder is gone: nothing to meet there
  std::string beside = real_folder;
  ::free(real_folder);
  if (beside != "/") beside += "/";
  beside += named.substr(slash == std::string::npos ? 0 : slash + 1);
  if (WriteLock::LockFilePath(beside) == WriteLock::LockFilePath(resolved)) return locks;
  JET_ASSIGN_OR_RETURN(std::unique_ptr<WriteLock> beside_name, WriteLock::Acquire(beside));
  locks.push_back(std::move(beside_name));
  return locks;
}

}  // namespace jet
