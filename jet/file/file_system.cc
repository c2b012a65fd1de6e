#include "jet/file/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace jet {
namespace {

FileSystem& RealFiles() {
  static FileSystem real;
  return real;
}

FileSystem* current = nullptr;

}  // namespace

const char* FileCallName(FileCall call) {
  switch (call) {
    case FileCall::kRead:
      return "read";
    case FileCall::kWrite:
      return "write";
    case FileCall::kSync:
      return "fsync";
    case FileCall::kRename:
      return "rename";
    case FileCall::kSyncFolder:
      return "folder-fsync";
    case FileCall::kLink:
      return "link";
  }
  return "?";
}

ssize_t FileSystem::ReadAt(int fd, void* out, std::size_t size, off_t offset) {
  return ::pread(fd, out, size, offset);
}

ssize_t FileSystem::Write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

ssize_t FileSystem::WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}

int FileSystem::Sync(int fd) { return ::fsync(fd); }

int FileSystem::Rename(const std::string& from, const std::string& to, bool exchange) {
  if (!exchange) return ::rename(from.c_str(), to.c_str());
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE);
}

int FileSystem::Link(const std::string& from, const std::string& to) {
  return ::link(from.c_str(), to.c_str());
}

int FileSystem::SyncFolder(const std::string& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  const int rc = ::fsync(dir);
  const int err = errno;
  ::close(dir);
  errno = err;
  return rc;
}

FileSystem& Files() { return current != nullptr ? *current : RealFiles(); }

ScopedFileSystem::ScopedFileSystem(FileSystem& files) : previous_(current) { current = &files; }

ScopedFileSystem::~ScopedFileSystem() { current = previous_; }

bool FaultInjectingFileSystem::Fails(FileCall kind) {
  const int n = ++counts_[static_cast<std::size_t>(kind)];
  if (kind != kind_ || n != nth_) return false;
  injected_ = true;
  errno = error_;
  return true;
}

ssize_t FaultInjectingFileSystem::ReadAt(int fd, void* out, std::size_t size, off_t offset) {
  return Fails(FileCall::kRead) ? -1 : FileSystem::ReadAt(fd, out, size, offset);
}

ssize_t FaultInjectingFileSystem::Write(int fd, const void* data, std::size_t size) {
  return Fails(FileCall::kWrite) ? -1 : FileSystem::Write(fd, data, size);
}

ssize_t FaultInjectingFileSystem::WriteAt(int fd, const void* data, std::size_t size,
                                          off_t offset) {
  return Fails(FileCall::kWrite) ? -1 : FileSystem::WriteAt(fd, data, size, offset);
}

int FaultInjectingFileSystem::Sync(int fd) {
  return Fails(FileCall::kSync) ? -1 : FileSystem::Sync(fd);
}

int FaultInjectingFileSystem::Rename(const std::string& from, const std::string& to,
                                     bool exchange) {
  return Fails(FileCall::kRename) ? -1 : FileSystem::Rename(from, to, exchange);
}

int FaultInjectingFileSystem::SyncFolder(const std::string& folder) {
  return Fails(FileCall::kSyncFolder) ? -1 : FileSystem::SyncFolder(folder);
}

int FaultInjectingFileSystem::Link(const std::string& from, const std::string& to) {
  return Fails(FileCall::kLink) ? -1 : FileSystem::Link(from, to);
}

std::string SystemErrorText(int err) {
  switch (err) {
    case EACCES:
      return "Zugriff verweigert";
    case EPERM:
      return "Vorgang nicht erlaubt";
    case EROFS:
      return "Das Dateisystem ist schreibgeschützt";
    case ENOSPC:
      return "Auf dem Datenträger ist kein Speicherplatz mehr frei";
    case EDQUOT:
      return "Das Speicherkontingent ist erschöpft";
    case EIO:
      return "Ein-/Ausgabefehler";
    case ENOENT:
      return "Datei oder Ordner nicht gefunden";
    case ENOTDIR:
      return "Ein Teil des Pfades ist kein Ordner";
    case EISDIR:
      return "Ist ein Ordner";
    case EEXIST:
      return "Die Datei ist bereits vorhanden";
    case ENAMETOOLONG:
      return "Der Name ist zu lang";
    case ELOOP:
      return "Zu viele Ebenen symbolischer Verknüpfungen";
    case EMFILE:
    case ENFILE:
      return "Zu viele offene Dateien";
    case ENOTSUP:
      return "Vom Dateisystem nicht unterstützt";
    case EBUSY:
      return "Gerät oder Datei ist belegt";
    case ETXTBSY:
      return "Die Datei wird verwendet";
    case EFBIG:
      return "Die Datei ist zu groß";
    case ESTALE:
      return "Die Netzwerkdatei ist nicht mehr gültig";
    case ENOMEM:
      return "Nicht genügend Speicher";
    default:
      return "Systemfehler " + std::to_string(err);
  }
}

}  // namespace jet
