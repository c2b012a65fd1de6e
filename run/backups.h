// The backups of a target database: before a commit replaces it, the old file is kept beside it,
// and a backup can be put back in its place.
//
// A backup is named after the file it keeps, the time of the run (local time, to the minute) and
// why it was made:
//   DBZentavo vor Import 2026-12-10 14-05.mdb
//   DBZentavo vor Wiederherstellung 2026-12-10 14-20.mdb
// (the target's name without its extension, " vor Import " or " vor Wiederherstellung ", the
// time as JJJJ-MM-TT HH-MM, the target's extension). A second backup in the same minute gets a
// number: "... 14-05 (2).mdb". Names sort by time, hold no character Windows forbids, and only
// files named so, beside the target, are ever taken for backups, listed or removed.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "db/error.h"

namespace run {

enum class BackupKind { kImport, kRestore };

// How many backups of a target are kept: the newest five.
inline constexpr std::size_t kBackupsKept = 5;

struct BackupFile {
  std::string path;
  BackupKind kind = BackupKind::kImport;
  std::string stamp;  // "2026-12-10 14-05"
  int number = 1;     // 1 for the first of its minute, 2 for "(2)", ...
};

// A backup refused or missing where one is asked for: not named as one of ours, not beside the
// target, not a target database, or none at all.
class BackupRefusal : public db::DbError {
 public:
  using db::DbError::DbError;
};

// The name a new backup of `target` (a resolved path) gets at `when`: the first of that minute
// that no backup beside it has yet.
std::string NewBackupPath(const std::string& target, BackupKind kind, std::time_t when);

// `file` as a backup of `target` when it is named as one and lies beside it (both resolved).
std::optional<BackupFile> AsBackup(const std::string& target, const std::string& file);

// The backups beside `target` that are plain files, oldest first.
std::vector<BackupFile> ListBackups(const std::string& target);

// Removes all but the newest kBackupsKept backups of `target`. Returns what it could not remove
// (a German line per file; empty when all went).
std::vector<std::string> PruneBackups(const std::string& target);

// A commit killed after it made its backup as a second name of the target, but before it
// replaced the target, leaves the target with two names, which a writer refuses. Removes that
// backup name (it holds nothing the target does not), under the target's write lock. Does
// nothing when the target cannot be resolved or locked (opening it reports that).
void ClearInterruptedBackup(const std::string& target);

struct RestoreResult {
  std::string restored;  // the backup put back
  std::string kept_as;   // the backup of the file it replaced
  std::string target;    // the target, resolved
};

// Puts `backup` (empty: the newest backup) back as `target`, with the lock, the checks and the
// atomic replacement of a commit; the file it replaces is kept as a backup (kRestore) at `when`.
// A damaged target may be replaced. Throws BackupRefusal for a file that is not one of our
// backups or not a target database and where there is no backup, DbError for the rest (the
// target is then as it was).
RestoreResult RestoreBackup(const std::string& target, const std::string& backup, std::time_t when);

}  // namespace run
