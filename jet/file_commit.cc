#include "jet/file_commit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/unicode.h"

namespace jet {
namespace {

Status IoError(const std::string& what, const std::string& path, int err) {
  return Status(ErrorCode::kIoError, what + " '" + path + "': " + std::strerror(err));
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
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return IoError("Schreibfehler bei", path, errno);
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

}  // namespace

// A new file is written as `<path>.neu-<process id>` beside the database.
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

Status ReplaceFileAtomically(const std::string& path,
                             const std::function<Status(const PieceSink&)>& write) {
  struct stat st;
  mode_t mode = 0644;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  const std::string temp = path + kNewFileInfix + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return IoError("Neue Datei kann nicht angelegt werden:", temp, errno);
  auto fail = [&](Status s) {
    ::close(fd);
    ::unlink(temp.c_str());
    return s;
  };
  Status s = write([&](Bytes piece) { return WriteAll(fd, piece, temp); });
  if (!s.ok()) return fail(s);
  if (::fchmod(fd, mode) != 0)
    return fail(IoError("Rechte können nicht gesetzt werden:", temp, errno));
  if (::fsync(fd) != 0) return fail(IoError("Schreibfehler (fsync) bei", temp, errno));
  if (::close(fd) != 0) {
    ::unlink(temp.c_str());
    return IoError("Schreibfehler beim Schließen von", temp, errno);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return IoError("Die Datei kann nicht ersetzt werden:", path, err);
  }
  const std::string folder = FolderOf(path);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    const int rc = ::fsync(dir);
    const int err = errno;
    ::close(dir);
    if (rc != 0 && err != EINVAL) return IoError("Schreibfehler (fsync) beim Ordner", folder, err);
  }
  return Status::Ok();
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
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) return IoError("Die Sperrdatei kann nicht geöffnet werden:", path, errno);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, and every byte range another program may lock in it
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
      const int err = errno;
      ::close(fd);
      if (err == EACCES || err == EAGAIN) {
        return Status(ErrorCode::kLocked,
                      "Die Datenbank '" + database_path +
                          "' wird bereits von einem anderen Programm verwendet. Bitte schließen "
                          "Sie Zentavo und versuchen Sie es erneut.");
      }
      return IoError("Die Sperrdatei kann nicht gesperrt werden:", path, err);
    }
    struct stat held, named;
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return std::unique_ptr<WriteLock>(new WriteLock(fd, path, created));
    }
    ::close(fd);  // the file was replaced while we locked it: try again
  }
  return Status(ErrorCode::kLocked, "Die Sperrdatei '" + path + "' lässt sich nicht sperren.");
}

WriteLock::~WriteLock() {
  if (created_) ::unlink(path_.c_str());
  ::close(fd_);  // releases the lock
}

}  // namespace jet
