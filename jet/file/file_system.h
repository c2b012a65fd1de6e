// The calls the engine makes on files and folders while it reads and writes a database, behind
// one interface: the real one passes them to the operating system, and a fault-injecting one lets
// tests make any single call fail, as a failing disk or network share would.
//
// Each call returns what the system call returns (-1 with errno on failure). Only the calls a
// failure of which the engine must survive go through here: reading, writing, syncing a file,
// renaming, linking and syncing a folder. Opening, closing, stat and attributes stay direct
// system calls.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <string>

namespace jet {

enum class FileCall { kRead, kWrite, kSync, kRename, kSyncFolder, kLink };
inline constexpr std::size_t kFileCallKinds = 6;
// Name of a call kind for test output ("read", "write", ...).
const char* FileCallName(FileCall call);

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // pread(2).
  virtual ssize_t ReadAt(int fd, void* out, std::size_t size, off_t offset);
  // write(2).
  virtual ssize_t Write(int fd, const void* data, std::size_t size);
  // pwrite(2); counted and failed as a write.
  virtual ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset);
  // fsync(2).
  virtual int Sync(int fd);
  // rename(2); with `exchange`, both names swap their files atomically (renameat2 with
  // RENAME_EXCHANGE), which fails with EINVAL or ENOSYS where the file system cannot do it.
  virtual int Rename(const std::string& from, const std::string& to, bool exchange);
  // Opens the folder and fsyncs it, so that a rename in it survives a power loss. EINVAL means
  // the file system does not sync folders (nothing to wait for).
  virtual int SyncFolder(const std::string& folder);
  // link(2): a second name of a file (the backup a commit keeps).
  virtual int Link(const std::string& from, const std::string& to);
};

// The file system the engine uses: the real one unless a test put another in place.
FileSystem& Files();

// Puts `files` in place of the engine's file system while the object lives (tests only; the
// engine is single-threaded with respect to this setting).
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& files);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// The real file system, counting the calls of each kind and failing the n-th call of one kind
// (1 = the first) with the given errno; every other call goes through.
class FaultInjectingFileSystem : public FileSystem {
 public:
  FaultInjectingFileSystem() = default;
  FaultInjectingFileSystem(FileCall kind, int nth, int error)
      : kind_(kind), nth_(nth), error_(error) {}

  ssize_t ReadAt(int fd, void* out, std::size_t size, off_t offset) override;
  ssize_t Write(int fd, const void* data, std::size_t size) override;
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override;
  int Sync(int fd) override;
  int Rename(const std::string& from, const std::string& to, bool exchange) override;
  int SyncFolder(const std::string& folder) override;
  int Link(const std::string& from, const std::string& to) override;

  // How many calls of a kind were made (the failed one included).
  int calls(FileCall kind) const { return counts_[static_cast<std::size_t>(kind)]; }
  // Whether the chosen call was reached and failed.
  bool injected() const { return injected_; }

 private:
  // Counts a call; true when it is the one to fail (errno is then set).
  bool Fails(FileCall kind);

  FileCall kind_ = FileCall::kRead;
  int nth_ = 0;  // 0: fail nothing, only count
  int error_ = 0;
  bool injected_ = false;
  std::array<int, kFileCallKinds> counts_{};
};

// A system error number as German text for messages ("Zugriff verweigert", ...).
std::string SystemErrorText(int err);

// Jet's text of a failed read or write, followed in messages by what failed.
inline constexpr char kDiskOrNetworkText[] = "Datenträger- oder Netzwerkfehler";

}  // namespace jet
