#include "run/backups.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/file_commit.h"
#include "jet/file/file_system.h"
#include "run/target_layout.h"

namespace run {
namespace {

constexpr char kImportWord[] = " vor Import ";
constexpr char kRestoreWord[] = " vor Wiederherstellung ";
// "JJJJ-MM-TT HH-MM": digits, and these characters at these places.
constexpr char kStampPattern[] = "0000-00-00 00-00";
constexpr std::size_t kStampLength = sizeof kStampPattern - 1;

struct NameParts {
  std::string folder;  // without a final '/'
  std::string stem;    // the file name without its extension
  std::string ext;     // ".mdb", or empty
};

NameParts Split(const std::string& path) {
  NameParts p;
  const std::size_t slash = path.rfind('/');
  p.folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  p.stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  p.ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  return p;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string NameOf(const NameParts& target, BackupKind kind, const std::string& stamp, int number) {
  std::string name = target.stem + (kind == BackupKind::kImport ? kImportWord : kRestoreWord);
  name += stamp;
  if (number > 1) name += " (" + std::to_string(number) + ")";
  return name + target.ext;
}

// `name` (a file name) as a backup name of the target `target`.
std::optional<BackupFile> Parse(const NameParts& target, const std::string& name) {
  BackupFile b;
  std::string rest;
  for (BackupKind kind : {BackupKind::kImport, BackupKind::kRestore}) {
    const std::string prefix =
        target.stem + (kind == BackupKind::kImport ? kImportWord : kRestoreWord);
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) {
      b.kind = kind;
      rest = name.substr(prefix.size());
      break;
    }
  }
  if (rest.size() < kStampLength + target.ext.size()) return std::nullopt;
  if (rest.compare(rest.size() - target.ext.size(), target.ext.size(), target.ext) != 0) {
    return std::nullopt;
  }
  rest.resize(rest.size() - target.ext.size());
  for (std::size_t i = 0; i < kStampLength; ++i) {
    const bool digit = rest[i] >= '0' && rest[i] <= '9';
    if (kStampPattern[i] == '0' ? !digit : rest[i] != kStampPattern[i]) return std::nullopt;
  }
  b.stamp = rest.substr(0, kStampLength);
  const std::string number = rest.substr(kStampLength);
  if (!number.empty()) {
    // " (N)", N from 2 without leading zeros
    if (number.size() < 4 || number.compare(0, 2, " (") != 0 || number.back() != ')' ||
        number[2] == '0' || number.size() > 12) {
      return std::nullopt;
    }
    const std::string digits = number.substr(2, number.size() - 3);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    b.number = std::stoi(digits);
    if (b.number < 2) return std::nullopt;
  }
  b.path = Join(target.folder, name);
  return b;
}

bool Older(const BackupFile& a, const BackupFile& b) {
  if (a.stamp != b.stamp) return a.stamp < b.stamp;
  return a.number < b.number;
}

std::string Stamp(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H-%M", &local);
  return text;
}

[[noreturn]] void Throw(const jet::Status& s) { throw db::DbError(s.code(), s.message()); }

std::string FileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Refuses a file that is not a sound target database.
void CheckIsTargetDatabase(const std::string& backup) {
  const std::string what = "Die Datei '" + backup + "' ist keine Zentavo-Datenbank";
  auto db = jet::Database::Open(backup, {.password = target::kDatabasePassword});
  if (!db.ok()) {
    throw BackupRefusal(db.status().code(), what + ": " + db.status().message());
  }
  for (std::string_view table : {target::kKategorien, target::kProdukte, target::kProduktePreise,
                                 target::kExtras, target::kExtrasPreise, target::kProdukteExtras}) {
    if (!(*db)->GetTable(table).ok()) {
      throw BackupRefusal(db::ErrorCode::kTableNotFound,
                          what + ": Ihr fehlt die Tabelle " + std::string(table) + ".");
    }
  }
  auto report = jet::CheckIntegrity(**db, jet::IntegrityScope::kFileStructure);
  if (!report.ok())
    throw BackupRefusal(report.status().code(), what + ": " + report.status().message());
  if (!report->ok()) {
    throw BackupRefusal(db::ErrorCode::kCorrupt, "Die Sicherung '" + backup + "' ist beschädigt: " +
                                                     report->problems.front());
  }
}

}  // namespace

std::string NewBackupPath(const std::string& target, BackupKind kind, std::time_t when) {
  const NameParts parts = Split(target);
  const std::string stamp = Stamp(when);
  int number = 1;
  for (const BackupFile& b : ListBackups(target)) {
    if (b.stamp == stamp) number = std::max(number, b.number + 1);
  }
  for (;; ++number) {
    std::string path = Join(parts.folder, NameOf(parts, kind, stamp, number));
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return path;
  }
}

std::optional<BackupFile> AsBackup(const std::string& target, const std::string& file) {
  const NameParts t = Split(target);
  const NameParts f = Split(file);
  if (f.folder != t.folder) return std::nullopt;
  return Parse(t, FileName(file));
}

std::vector<BackupFile> ListBackups(const std::string& target) {
  const NameParts parts = Split(target);
  std::vector<BackupFile> found;
  DIR* dir = ::opendir(parts.folder.c_str());
  if (dir == nullptr) return found;
  while (const dirent* e = ::readdir(dir)) {
    std::optional<BackupFile> b = Parse(parts, e->d_name);
    if (!b) continue;
    struct stat st;
    if (::lstat(b->path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    found.push_back(std::move(*b));
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end(), Older);
  return found;
}

std::vector<std::string> PruneBackups(const std::string& target) {
  std::vector<std::string> failures;
  const std::vector<BackupFile> all = ListBackups(target);
  if (all.size() <= kBackupsKept) return failures;
  for (std::size_t i = 0; i + kBackupsKept < all.size(); ++i) {
    if (::unlink(all[i].path.c_str()) != 0) {
      failures.push_back("Die alte Sicherung '" + all[i].path + "' lässt sich nicht löschen (" +
                         jet::SystemErrorText(errno) + ").");
    }
  }
  return failures;
}

void ClearInterruptedBackup(const std::string& target) {
  auto resolved = jet::ResolveDatabasePath(target);
  if (!resolved.ok()) return;
  struct stat st;
  if (::stat(resolved->c_str(), &st) != 0 || st.st_nlink != 2) return;
  auto lock = jet::WriteLock::Acquire(*resolved);
  if (!lock.ok()) return;
  for (const BackupFile& b : ListBackups(*resolved)) {
    struct stat other;
    if (::lstat(b.path.c_str(), &other) == 0 && other.st_dev == st.st_dev &&
        other.st_ino == st.st_ino) {
      ::unlink(b.path.c_str());
      return;
    }
  }
}

RestoreResult RestoreBackup(const std::string& target, const std::string& backup,
                            std::time_t when) {
  RestoreResult result;
  auto resolved = jet::ResolveDatabasePath(target);
  if (!resolved.ok()) Throw(resolved.status());
  result.target = *resolved;
  ClearInterruptedBackup(result.target);

  // Which backup.
  if (backup.empty()) {
    const std::vector<BackupFile> all = ListBackups(result.target);
    if (all.empty()) {
      throw BackupRefusal(
          db::ErrorCode::kFileNotFound,
          "Neben '" + result.target + "' liegt keine Sicherung, die dieses Programm angelegt hat.");
    }
    result.restored = all.back().path;
  } else {
    auto named = jet::ResolveDatabasePath(backup);
    if (!named.ok()) throw BackupRefusal(named.status().code(), named.status().message());
    struct stat st;
    if (!AsBackup(result.target, *named) || ::stat(named->c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
      throw BackupRefusal(db::ErrorCode::kInvalidArgument,
                          "Die Datei '" + backup +
                              "' ist keine Sicherung, die dieses Programm angelegt hat: "
                              "Zurückgeholt werden nur Dateien wie '" +
                              FileName(NewBackupPath(result.target, BackupKind::kImport, when)) +
                              "' im Ordner der Zieldatenbank '" + Split(result.target).folder +
                              "'.");
    }
    result.restored = *named;
  }
  if (result.restored == result.target) {
    throw BackupRefusal(db::ErrorCode::kInvalidArgument,
                        "Die Datei '" + backup + "' ist die Zieldatenbank selbst.");
  }

  // The checks and the lock of a writer. The target's content is not checked: a damaged target
  // is what a backup repairs.
  if (jet::Status s = jet::CheckReplaceable(result.target); !s.ok()) Throw(s);
  auto lock = jet::WriteLock::Acquire(result.target);
  if (!lock.ok()) Throw(lock.status());
  jet::RemoveUnfinishedReplacements(result.target);
  CheckIsTargetDatabase(result.restored);

  result.kept_as = NewBackupPath(result.target, BackupKind::kRestore, when);
  const std::string from = result.restored;
  const jet::Status s = jet::ReplaceFileAtomically(
      result.target,
      [&from](const jet::PieceSink& sink) -> jet::Status {
        const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
          return jet::Status(db::ErrorCode::kIoError, "Die Sicherung '" + from +
                                                          "' ist nicht lesbar (" +
                                                          jet::SystemErrorText(errno) + ").");
        }
        std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
        for (;;) {
          const ssize_t n = ::read(fd, buffer.data(), buffer.size());
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) {
            const int err = errno;
            ::close(fd);
            return jet::Status(
                db::ErrorCode::kIoError,
                "Lesefehler bei der Sicherung '" + from + "' (" + jet::SystemErrorText(err) + ").");
          }
          if (n == 0) break;
          jet::Status piece = sink(jet::Bytes(buffer.data(), static_cast<std::size_t>(n)));
          if (!piece.ok()) {
            ::close(fd);
            return piece;
          }
        }
        ::close(fd);
        return jet::Status::Ok();
      },
      {.keep_old_as = result.kept_as});
  if (!s.ok()) Throw(s);
  return result;
}

}  // namespace run
