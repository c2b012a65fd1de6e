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
// `write`, which hands its pieces to the given sink; gives it the owner, group, extended
// attributes (POSIX ACLs included) and permissions of the file it replaces, syncs it, swaps it
// with `path` and syncs the folder. On any failure, a failed folder sync after the swap included,
// `path` holds exactly its old bytes again and the new file is removed: a reader sees either the
// old or the new file, also after a crash or a power loss. `path` must not be a symbolic link
// (see ResolveDatabasePath()). All file calls go through Files() (file_system.h).
using PieceSink = std::function<Status(Bytes)>;

// What a replacement keeps of the file it replaces.
struct ReplaceOptions {
  // When set, a path in the same folder that does not exist yet: the old file stays there. It is
  // made after the new file is written and synced, before the swap: a second name of the old
  // file (no bytes copied, owner, group, attributes and permissions its own), or, where the file
  // system has no hard links, a synced copy with the old file's owner, group, extended attributes
  // and permissions. A backup that cannot be made fails the replacement with the file
  // untouched; a replacement that fails after it leaves no backup behind.
  std::string keep_old_as;
};

Status ReplaceFileAtomically(const std::string& path,
                             const std::function<Status(const PieceSink&)>& write,
                             const ReplaceOptions& options = {});

// The file a database path names, symbolic links resolved, as an absolute path: the file that a
// commit replaces, beside which the lock file and the new file are made. A link stays a link.
Result<std::string> ResolveDatabasePath(const std::string& path);

// Why the database file at `path` (resolved) may not be changed, or Ok. Refused, with Jet's
// error number for a database that may not be written (kReadOnly), are:
//   - a file without any write permission, or one this process may not write;
//   - a file with more than one name (hard links): replacing it would split them;
//   - a file whose owner or group a new file of this process cannot take (another user's file
//     that ours may write): replacing it would hand it to us.
// A folder in which no new file can be made fails with kCannotLock, as the lock file cannot
// be made there either.
Status CheckReplaceable(const std::string& path);

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
  // Fails with ErrorCode::kLocked ("in use") when another process holds the lock, and with
  // kCannotLock when the lock file cannot be made or locked.
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
