// Writing a commit into the database file itself, with a rollback journal beside it, for files
// that no new file can replace without losing what makes them the user's file (their inode, their
// other names, an owner or group the user cannot give, a bind mount onto their name).
//
// The order of writes and syncs is that of a rollback journal (as SQLite keeps one):
//   1. the journal `<file>-journal` is written with the original bytes of every range that will
//      change and the original file size, its header still marked invalid; synced;
//   2. its header is made valid (record count and checksum); synced; the folder synced;
//   3. the start of page 0 (page type, magic, engine name, version) is overwritten with 0xFF:
//      from here until step 5 the file is one that Jet, this engine and the other readers refuse
//      to open as an unrecognised format; synced;
//   4. every changed and appended page is written, the file is cut to its new size; synced;
//   5. page 0 is written as it belongs (with its engine name); synced;
//   6. the journal is removed and the folder synced: the commit point.
// A process that dies anywhere leaves either no journal (before step 2: the database untouched;
// after step 6: the complete commit) or a valid journal, which RollBackInterruptedCommit() at the
// next start copies back, byte for byte. The journal's name follows the database's full name, so
// that `a.mdb` and `a.accdb` never share one, and lies beside the file itself (the resolved path)
// so that every path to it finds the same journal.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "jet/base/byte_reader.h"
#include "jet/base/status.h"

namespace jet {

struct FileIdentity;

// The journal's path for a (resolved) database path.
std::string JournalPath(const std::string& database_path);

// The steps of WriteInPlace() after which a test may stop the process (see
// InPlaceChanges::after_step).
enum class InPlaceStep {
  kJournalWritten,     // 1: the records synced, the header still invalid
  kJournalValid,       // 2: the header valid and synced, the folder synced
  kHeaderInvalidated,  // 3: the start of page 0 overwritten and synced
  kFirstPagesWritten,  // 4, partly: the first run of pages written, not synced
  kPagesSynced,        // 4: every page written, the size set, synced
  kHeaderWritten,      // 5: page 0 written and synced
  kJournalRemoved,     // 6: the journal removed and the folder synced (committed)
};
inline constexpr int kInPlaceSteps = 7;

// What changes: `write` hands every changed run of bytes to its sink in ascending order, each
// with its file offset; the first run is page 0 (the header page), exactly `header_size` bytes or
// more. The file ends up `new_size` bytes long.
using RunSink = std::function<Status(std::uint64_t offset, Bytes bytes)>;
struct InPlaceChanges {
  std::uint64_t new_size = 0;
  std::size_t header_size = 0;  // the page size
  std::function<Status(const RunSink&)> write;
  // When set, runs after each step (tests only: a process killed there).
  std::function<void(InPlaceStep)> after_step;
};

// Writes `changes` into the file at `path` (resolved, regular, writable) in the order above.
// `expected` is the file that was read: when the path names another file, or the file changed,
// nothing is written (kLocked). On a failure after step 2 the journal is copied back at once;
// where that fails too, it stays for the next start. The one failure after which the file holds
// the changes (a folder sync that fails once the journal is removed) sets
// `committed_despite_failure`. Needs the database's write lock.
Status WriteInPlace(const std::string& path, const InPlaceChanges& changes,
                    const FileIdentity* expected, bool* committed_despite_failure = nullptr);

// Rolls back a commit that WriteInPlace() began and did not finish, when a journal lies beside
// `path` (resolved): a valid journal is copied back into the file and removed, an invalid one
// (the process died before the database was touched) is removed. Returns a German sentence for
// the user when the database was rolled back, nothing otherwise. Needs the write lock.
Result<std::optional<std::string>> RollBackInterruptedCommit(const std::string& path);

}  // namespace jet
