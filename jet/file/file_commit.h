// Replacing a database file atomically, and the locks that keep two writers apart.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "jet/base/byte_reader.h"
#include "jet/base/status.h"

namespace jet {

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

// What a replacement keeps of the file it replaces.
struct ReplaceOptions {
  // When set, a path in the same folder that does not exist yet: the old file stays there. It is
  // made after the new file is written and synced, before the swap: a second name of the old
  // file (no bytes copied, owner, group, attributes and permissions its own), or, where the file
  // system has no hard links, a synced copy with the old file's owner, group, extended attributes
  // and permissions. A backup that cannot be made fails the replacement with the file
  // untouched; a replacement that fails after it leaves no backup behind, unless the new file
  // took the path's place all the same (Replacement::replaced_despite_failure).
  std::string keep_old_as;
};

// What a caller of ReplaceFileAtomically() asks and learns beyond its status.
struct Replacement {
  // The file that was read: just before the swap the path must still name it (same device,
  // inode, size and modification time). When another program put another file there, or wrote
  // into it, the commit stops with ErrorCode::kLocked and leaves that file untouched.
  std::optional<FileIdentity> expected;
  // Set when the commit failed only after the new file had taken the path's place for good (a
  // failed folder sync after a plain rename, where the old file cannot be put back): the path
  // then holds the new bytes, which may not yet be safe from a power loss.
  bool replaced_despite_failure = false;
  // See ReplaceOptions::keep_old_as.
  std::string keep_old_as;
  // Set when the commit stopped before touching the path because a new file cannot keep what
  // makes the file the user's (see ApplyIdentity in PlanCommit()) or the file system refuses to
  // rename over it: only writing in place can commit then. `why` says so in German.
  bool needs_in_place = false;
  std::string why;
  // When set, runs just before the path is checked and the new file swapped in (tests only:
  // another program replacing the file at the last moment).
  std::function<void()> before_swap;
};

// Writes a new file beside `path` (same folder, so the rename stays on one file system) through
// `write`, which hands its pieces to the given sink; first gives it the owner, group, extended
// attributes (POSIX ACLs included), attribute flags and permissions of the file it replaces and
// measures what was kept (see PlanCommit()), then syncs it, swaps it
// with `path` and syncs the folder. On any failure, a failed folder sync after the swap included,
// `path` holds exactly its old bytes again and the new file is removed (also when `write`
// throws): a reader sees either the old or the new file, also after a crash or a power loss. The
// one exception is told through `replacement` (see there). `path` must not be a symbolic link
// (see ResolveDatabasePath()). All file calls go through Files() (file_system.h). Writing past
// the process's file size limit fails with kDiskFull, as a full disk does (see
// IgnoreFileSizeSignal()).
using PieceSink = std::function<Status(Bytes)>;
Status ReplaceFileAtomically(const std::string& path,
                             const std::function<Status(const PieceSink&)>& write,
                             Replacement* replacement = nullptr);
// Keeps a synced copy of the file at `path` as `backup` (a path in the same folder that does not
// exist yet), with the file's owner, group, extended attributes and permissions: the backup of a
// commit that writes into the file itself, where a second name would change with it.
Status KeepCopyOfFile(const std::string& path, const std::string& backup);
// The same, keeping the old file as `options` says.
Status ReplaceFileAtomically(const std::string& path,
                             const std::function<Status(const PieceSink&)>& write,
                             const ReplaceOptions& options);

// A write past the file size limit (ulimit -f) raises SIGXFSZ, which ends the process without a
// word; ignored, the write fails with EFBIG instead, which the commit reports. Called before the
// first change; a handler the program installed itself is left in place.
void IgnoreFileSizeSignal();

// The file a database path names, symbolic links resolved, as an absolute path: the file that a
// commit replaces, beside which the lock file and the new file are made. A link stays a link.
Result<std::string> ResolveDatabasePath(const std::string& path);

// Why the database file at `path` (resolved) may not be changed, or Ok. Refused, with Jet's
// error number for a database that may not be written (kReadOnly), are:
//   - a file without any write permission, or one this process may not write;
//   - a file on a file system mounted read-only;
//   - a file, or its folder, marked append-only or immutable (chattr +a, +i): neither a swap nor
//     writing in place (whose journal must be removed) could change it.
// Nothing is refused for what makes the file the user's (owner, group, links, mounts): where a
// new file could not keep that, the commit writes in place (PlanCommit()). A path that names no
// regular file fails as NotRegularFile() says. A folder in which no new file can be made fails with
// kCannotLock, as the lock file cannot be made there either.
Status CheckReplaceable(const std::string& path);

// The error for a path that names something other than a regular file (`mode` as stat gives it:
// a FIFO, a device, a socket, a folder): Jet's "not a valid path" (kPathNotValid), naming the
// path and what it is. Nothing is read from or written to such a path.
Status NotRegularFile(const std::string& path, unsigned mode);

// How a commit can bring the changes into the file at `path`.
enum class CommitWay {
  kSwap,     // a new file beside it, swapped in (ReplaceFileAtomically)
  kInPlace,  // only by writing into the file itself: no other file can take its place
};
struct CommitPlan {
  CommitWay way = CommitWay::kSwap;
  std::string why;  // for kInPlace: why the file cannot be swapped (German, for the message)
};
// The one place that decides how the file at `path` (resolved) is committed, before the first
// change (call it under the write lock). Written in place is a file that no new file can replace
// as the same file:
//   - the root of a mount (bind-mounted onto its name, where a rename over it fails with EBUSY);
//   - a file with more than one name (hard links), which a swap would split;
//   - a file whose owner, group, mode, extended attributes (ACLs included) or attribute flags a
//     trial file beside it does not keep (measured, not predicted: another user's file, a group
//     the user is not in, a file system that keeps less, a folder whose default ACL overrides).
// A swap that finds later that it cannot keep them (or that the file system refuses to rename
// over the file) stops before touching the path (Replacement::needs_in_place).
Result<CommitPlan> PlanCommit(const std::string& path);

// Removes what a writer killed during ReplaceFileAtomically left behind beside `path` (its
// unfinished new files). Call it only while holding the database's write lock.
void RemoveUnfinishedReplacements(const std::string& path);

// The write lock of one database, held while a connection may write to it:
//   - `<name>.ldb` beside the database (the lock file Access and the Jet engine keep; one in
//     another letter case when only that exists, as Jet under Wine may have made it): when another
//     process holds a lock on it (Access, another program of ours), the database is refused as
//     in use (kLocked);
//   - a stale file on which no process holds a lock (left by a killed run) is taken over: locked
//     as it is, or, where this user may not write it, removed and made anew; one that this user
//     may not remove either is refused (kCannotLock) with a message that says so;
//   - we take a write lock on it (fcntl, so programs under Wine see it too) and remove the file
//     on release, as Jet removes it when the last user leaves (only while its name still names
//     the file we locked).
class WriteLock {
 public:
  // Fails with ErrorCode::kLocked ("in use") when another process holds the lock, and with
  // kCannotLock when the lock file cannot be made, locked or (a stale one) removed.
  static Result<std::unique_ptr<WriteLock>> Acquire(const std::string& database_path);
  ~WriteLock();
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  // The lock file's path for a database path: its extension replaced by ".ldb".
  static std::string LockFilePath(const std::string& database_path);

 private:
  WriteLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

// The write locks of a database that the caller named `named` and whose file is `resolved`: one
// beside the file and, where the name reaches it through a symbolic link, one beside the name, so
// that a program that locks beside either (Jet under Wine locks beside the name it was given)
// meets ours. One lock where both lock files are the same. Fails as WriteLock::Acquire().
Result<std::vector<std::unique_ptr<WriteLock>>> AcquireWriteLocks(const std::string& named,
                                                                  const std::string& resolved);

}  // namespace jet
