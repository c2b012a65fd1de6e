// Replacing a database file atomically, and the locks that keep two writers apart.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "jet/byte_reader.h"
#include "jet/status.h"

namespace jet {

// Writes a new file beside `path` (same folder, so the rename stays on one file system) through
// `write`, which hands its pieces to the given sink; syncs it, renames it over `path` and syncs the
// folder. The file keeps the permissions of the one it replaces. On any failure the new file is
// removed and `path` is left exactly as it was: a reader sees either the old or the new file,
// also after a crash or a power loss.
using PieceSink = std::function<Status(Bytes)>;
Status ReplaceFileAtomically(const std::string& path,
                             const std::function<Status(const PieceSink&)>& write);

// What identifies the content of a file without reading it: a writer that replaced or changed it
// changed at least one of these.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};
Result<FileIdentity> IdentifyFile(const std::string& path);

// Removes what a writer killed during ReplaceFileAtomically left behind beside `path` (its
// unfinished new files). Call it only while holding the database's write lock.
void RemoveUnfinishedReplacements(const std::string& path);

// The write lock of one database, held while a connection may write to it:
//   - `<name>.ldb` beside the database (the lock file Access and the Jet engine keep; one in
//     another letter case when only that exists, as Jet under Wine may have made it): when another
//     process holds a lock on it (Access, another program of ours), the database is refused as
//     in use; a stale file with no lock held does not block;
//   - we take a write lock on it (fcntl, so programs under Wine see it too) and remove the file
//     again on release when we created it.
class WriteLock {
 public:
  // Fails with ErrorCode::kLocked ("in use") when another process holds the lock.
  static Result<std::unique_ptr<WriteLock>> Acquire(const std::string& database_path);
  ~WriteLock();
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  // The lock file's path for a database path: its extension replaced by ".ldb".
  static std::string LockFilePath(const std::string& database_path);

 private:
  WriteLock(int fd, std::string path, bool created)
      : fd_(fd), path_(std::move(path)), created_(created) {}
  int fd_;
  std::string path_;
  bool created_;
};

}  // namespace jet
