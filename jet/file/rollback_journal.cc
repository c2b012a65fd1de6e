#include "jet/file/rollback_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "jet/base/byte_writer.h"
#include "jet/file/file_commit.h"
#include "jet/file/file_system.h"

namespace jet {
namespace {

// The journal, little-endian:
//   header (kJournalHeaderSize bytes):
//     0x00  8  magic "JetJrnl1"
//     0x08  4  record count; 0 while the journal is being written (then it is invalid)
//     0x0C  4  0
//     0x10  8  the database file's size before the commit
//     0x18  8  checksum: FNV-1a (64 bit) over the bytes from 0x10 to the end of the last record
//   then `record count` records, one after another:
//     0x00  8  file offset of the bytes
//     0x08  4  their length
//     0x0C  4  0
//     0x10     the bytes as the file held them before the commit
// A journal is valid when its magic, count and checksum agree and it holds every record whole.
constexpr char kJournalSuffix[] = "-journal";
constexpr std::array<std::uint8_t, 8> kJournalMagic = {'J', 'e', 't', 'J', 'r', 'n', 'l', '1'};
constexpr std::size_t kJournalHeaderSize = 0x20;
constexpr std::size_t kCountOffset = 0x08;
constexpr std::size_t kOriginalSizeOffset = 0x10;
constexpr std::size_t kChecksumOffset = 0x18;
constexpr std::size_t kRecordHeaderSize = 0x10;
constexpr std::size_t kRecordOffsetOffset = 0x00;
constexpr std::size_t kRecordLengthOffset = 0x08;

// Page 0 of a database: what is overwritten with 0xFF while the file is written in place, so that
// no reader opens it half-written: the page type and magic (0x00, 4 bytes: 00 01 00 00), the
// engine name ("Standard Jet DB\0", 0x04, 16 bytes) and the version (0x14, 4 bytes); see
// header.cc. Jet refuses a file without its engine name; other readers look at the page type
// (mdb-reader) or the version (mdbtools) instead, and refuse these bytes too.
constexpr std::size_t kTornOffset = 0x00;
constexpr std::size_t kTornLength = 0x18;
constexpr std::uint8_t kTornByte = 0xFF;

constexpr std::uint64_t kFnvOffsetBasis = 0xCBF29CE484222325ull;
constexpr std::uint64_t kFnvPrime = 0x100000001B3ull;

std::uint64_t Fnv1a(std::uint64_t hash, Bytes bytes) {
  for (std::uint8_t b : bytes) {
    hash ^= b;
    hash *= kFnvPrime;
  }
  return hash;
}

void Step(const InPlaceChanges& changes, InPlaceStep step) {
  if (changes.after_step) changes.after_step(step);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

Status IoError(const std::string& what, const std::string& path, int err) {
  return Status(ErrorCode::kIoError, std::string(kDiskOrNetworkText) + ": " + what + " '" + path +
                                         "' (" + SystemErrorText(err) + ").");
}

Status WriteAllAt(int fd, Bytes data, std::uint64_t offset, const std::string& path) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = Files().WriteAt(fd, data.data() + done, data.size() - done,
                                      static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) {
        return Status(ErrorCode::kDiskFull,
                      "Nicht genügend Speicherplatz auf dem Datenträger: Schreibfehler bei '" +
                          path + "' (" + SystemErrorText(errno) + ").");
      }
      return IoError("Schreibfehler bei", path, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

Status ReadAllAt(int fd, std::uint8_t* out, std::size_t size, std::uint64_t offset,
                 const std::string& path) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n =
        Files().ReadAt(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return IoError("Lesefehler bei", path, errno);
    if (n == 0) return IoError("Lesefehler bei", path, EIO);  // shorter than it said
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

Status Sync(int fd, const std::string& path) {
  if (Files().Sync(fd) != 0) return IoError("Schreibfehler (fsync) bei", path, errno);
  return Status::Ok();
}

Status SyncFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  if (Files().SyncFolder(folder) != 0 && errno != EINVAL) {
    return IoError("Schreibfehler (fsync) beim Ordner", folder, errno);
  }
  return Status::Ok();
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A journal read whole and checked; `valid` false when it is not (then nothing else is set).
struct Journal {
  bool valid = false;
  std::uint64_t original_size = 0;
  std::vector<std::uint8_t> bytes;  // the whole journal
  struct Record {
    std::uint64_t offset;
    std::size_t at;  // where its bytes start in `bytes`
    std::size_t length;
  };
  std::vector<Record> records;
};

Result<Journal> ReadJournal(int fd, const std::string& path) {
  Journal journal;
  struct stat st;
  if (::fstat(fd, &st) != 0) return IoError("Das Journal ist nicht lesbar:", path, errno);
  journal.bytes.resize(static_cast<std::size_t>(st.st_size));
  JET_RETURN_IF_ERROR(ReadAllAt(fd, journal.bytes.data(), journal.bytes.size(), 0, path));
  ByteReader in(journal.bytes);
  if (!in.Has(0, kJournalHeaderSize) ||
      std::memcmp(journal.bytes.data(), kJournalMagic.data(), kJournalMagic.size()) != 0) {
    return journal;
  }
  const std::uint32_t count = in.U32(kCountOffset);
  journal.original_size = in.U64(kOriginalSizeOffset);
  const std::uint64_t checksum = in.U64(kChecksumOffset);
  std::size_t at = kJournalHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!in.Has(at, kRecordHeaderSize)) return journal;
    const std::uint64_t offset = in.U64(at + kRecordOffsetOffset);
    const std::size_t length = in.U32(at + kRecordLengthOffset);
    if (!in.Has(at + kRecordHeaderSize, length)) return journal;
    journal.records.push_back({offset, at + kRecordHeaderSize, length});
    at += kRecordHeaderSize + length;
  }
  const std::uint64_t computed =
      Fnv1a(Fnv1a(kFnvOffsetBasis, Bytes(journal.bytes.data() + kOriginalSizeOffset, 8)),
            Bytes(journal.bytes.data() + kJournalHeaderSize, at - kJournalHeaderSize));
  journal.valid = count > 0 && computed == checksum;
  if (!journal.valid) journal.records.clear();
  return journal;
}

// Copies a valid journal back into the database `fd` and syncs it.
Status CopyBack(int fd, const Journal& journal, const std::string& path) {
  for (const Journal::Record& r : journal.records) {
    JET_RETURN_IF_ERROR(
        WriteAllAt(fd, Bytes(journal.bytes.data() + r.at, r.length), r.offset, path));
  }
  if (::ftruncate(fd, static_cast<off_t>(journal.original_size)) != 0) {
    return IoError("Die Dateigröße lässt sich nicht zurücksetzen:", path, errno);
  }
  return Sync(fd, path);
}

// Removes the journal and syncs the folder: after that the database stands as it is.
Status RemoveJournal(const std::string& journal_path) {
  if (::unlink(journal_path.c_str()) != 0 && errno != ENOENT) {
    return IoError("Das Journal lässt sich nicht entfernen:", journal_path, errno);
  }
  return SyncFolderOf(journal_path);
}

Status StillTheFile(int fd, const std::string& path, const FileIdentity& expected) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return IoError("Die Datei ist nicht lesbar:", path, errno);
  const std::int64_t modified =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  if (static_cast<std::uint64_t>(st.st_dev) != expected.device ||
      static_cast<std::uint64_t>(st.st_ino) != expected.inode ||
      static_cast<std::uint64_t>(st.st_size) != expected.size || modified != expected.modified_ns) {
    return Status(ErrorCode::kLocked,
                  "Die Datenbank '" + path +
                      "' wurde während des Imports von einem anderen Programm ersetzt oder "
                      "geändert. Sie bleibt, wie sie ist; die Änderungen werden nicht "
                      "gespeichert.");
  }
  return Status::Ok();
}

// Writes the journal of the ranges `changes` will write, as they stand in the database `db` now
// (step 1 and 2); the ranges beyond the file's end have nothing to keep.
Status WriteJournal(int db, const std::string& path, const InPlaceChanges& changes,
                    std::uint64_t original_size, int journal, const std::string& journal_path) {
  std::vector<std::uint8_t> header(kJournalHeaderSize, 0);
  ByteWriter(header).PutBytes(0, kJournalMagic);
  ByteWriter(header).Put64(kOriginalSizeOffset, original_size);
  JET_RETURN_IF_ERROR(WriteAllAt(journal, header, 0, journal_path));
  std::uint64_t checksum = Fnv1a(kFnvOffsetBasis, Bytes(header.data() + kOriginalSizeOffset, 8));
  std::uint64_t at = kJournalHeaderSize;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> record;
  // One record: the original bytes of [offset, offset + length), read from the file.
  auto journal_range = [&](std::uint64_t offset, std::size_t length) -> Status {
    record.assign(kRecordHeaderSize + length, 0);
    ByteWriter(record).Put64(kRecordOffsetOffset, offset);
    ByteWriter(record).Put32(kRecordLengthOffset, static_cast<std::uint32_t>(length));
    JET_RETURN_IF_ERROR(ReadAllAt(db, record.data() + kRecordHeaderSize, length, offset, path));
    JET_RETURN_IF_ERROR(WriteAllAt(journal, record, at, journal_path));
    checksum = Fnv1a(checksum, record);
    at += record.size();
    ++count;
    return Status::Ok();
  };
  const Status journaled = changes.write([&](std::uint64_t offset, Bytes bytes) -> Status {
    if (offset >= original_size) return Status::Ok();
    return journal_range(offset, static_cast<std::size_t>(std::min<std::uint64_t>(
                                     bytes.size(), original_size - offset)));
  });
  JET_RETURN_IF_ERROR(journaled);
  // A file that was longer than its last page keeps its tail in the journal too.
  if (changes.new_size < original_size) {
    JET_RETURN_IF_ERROR(journal_range(changes.new_size,
                                      static_cast<std::size_t>(original_size - changes.new_size)));
  }
  JET_RETURN_IF_ERROR(Sync(journal, journal_path));
  Step(changes, InPlaceStep::kJournalWritten);
  ByteWriter(header).Put32(kCountOffset, count);
  ByteWriter(header).Put64(kChecksumOffset, checksum);
  JET_RETURN_IF_ERROR(WriteAllAt(journal, header, 0, journal_path));
  JET_RETURN_IF_ERROR(Sync(journal, journal_path));
  JET_RETURN_IF_ERROR(SyncFolderOf(journal_path));
  Step(changes, InPlaceStep::kJournalValid);
  return Status::Ok();
}

// Steps 3 to 5: the database written, its header last.
Status WritePages(int db, const std::string& path, const InPlaceChanges& changes) {
  std::array<std::uint8_t, kTornLength> torn;
  torn.fill(kTornByte);
  JET_RETURN_IF_ERROR(WriteAllAt(db, torn, kTornOffset, path));
  JET_RETURN_IF_ERROR(Sync(db, path));
  Step(changes, InPlaceStep::kHeaderInvalidated);
  std::vector<std::uint8_t> header;
  bool first_run = true;
  const Status written = changes.write([&](std::uint64_t offset, Bytes bytes) -> Status {
    if (offset == 0) {
      // Page 0 waits for the end; what follows it in the same run goes now.
      const std::size_t keep = std::min(bytes.size(), changes.header_size);
      header.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep));
      bytes = bytes.subspan(keep);
      offset = keep;
      if (bytes.empty()) return Status::Ok();
    }
    JET_RETURN_IF_ERROR(WriteAllAt(db, bytes, offset, path));
    if (first_run) Step(changes, InPlaceStep::kFirstPagesWritten);
    first_run = false;
    return Status::Ok();
  });
  JET_RETURN_IF_ERROR(written);
  if (first_run) Step(changes, InPlaceStep::kFirstPagesWritten);
  struct stat st;
  if (::fstat(db, &st) != 0) return IoError("Die Datei ist nicht lesbar:", path, errno);
  if (static_cast<std::uint64_t>(st.st_size) != changes.new_size &&
      ::ftruncate(db, static_cast<off_t>(changes.new_size)) != 0) {
    return IoError("Die Dateigröße lässt sich nicht setzen:", path, errno);
  }
  JET_RETURN_IF_ERROR(Sync(db, path));
  Step(changes, InPlaceStep::kPagesSynced);
  if (header.size() != changes.header_size) {
    return Status(ErrorCode::kIoError,
                  "Die Kopfseite der Datenbank '" + path + "' fehlt unter den Änderungen.");
  }
  JET_RETURN_IF_ERROR(WriteAllAt(db, header, 0, path));
  JET_RETURN_IF_ERROR(Sync(db, path));
  Step(changes, InPlaceStep::kHeaderWritten);
  return Status::Ok();
}

}  // namespace

std::string JournalPath(const std::string& database_path) { return database_path + kJournalSuffix; }

Status WriteInPlace(const std::string& path, const InPlaceChanges& changes,
                    const FileIdentity* expected, bool* committed_despite_failure) {
  IgnoreFileSizeSignal();
  const Fd db(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (db.get() < 0) return IoError("Die Datei kann nicht geöffnet werden:", path, errno);
  if (expected != nullptr) JET_RETURN_IF_ERROR(StillTheFile(db.get(), path, *expected));
  struct stat st;
  if (::fstat(db.get(), &st) != 0) return IoError("Die Datei ist nicht lesbar:", path, errno);
  const std::uint64_t original_size = static_cast<std::uint64_t>(st.st_size);
  if (original_size < changes.header_size) {
    return Status::Corrupt("Die Datei '" + path + "' ist kürzer als ihre Kopfseite.");
  }
  const std::string journal_path = JournalPath(path);
  // The journal holds the database's bytes: readable by whom the database is (a user who may
  // write the database must be able to roll it back), by nobody else.
  const Fd journal(
      ::open(journal_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600));
  if (journal.get() < 0) {
    return IoError("Das Journal kann nicht angelegt werden:", journal_path, errno);
  }
  (void)::fchmod(journal.get(), st.st_mode & 0666);
  Status s = WriteJournal(db.get(), path, changes, original_size, journal.get(), journal_path);
  if (!s.ok()) {
    // The database is untouched: the journal goes.
    (void)RemoveJournal(journal_path);
    return s;
  }
  s = WritePages(db.get(), path, changes);
  if (!s.ok()) {
    // Put back at once what the journal holds; where that fails too, the next start does it.
    auto read = ReadJournal(journal.get(), journal_path);
    if (read.ok() && read->valid && CopyBack(db.get(), *read, path).ok() &&
        RemoveJournal(journal_path).ok()) {
      return s;
    }
    return Status(s.code(), s.message() +
                                " Die Datenbank konnte nicht sofort zurückgesetzt werden; das "
                                "Journal '" +
                                journal_path + "' setzt sie beim nächsten Start zurück.");
  }
  // The commit point. A journal that cannot be removed puts the old bytes back (and, where it
  // stays, the next start does so again); a folder sync that fails after the removal leaves the
  // changes in the file, not yet safe from a power loss.
  if (::unlink(journal_path.c_str()) != 0 && errno != ENOENT) {
    Status failed = IoError("Das Journal lässt sich nicht entfernen:", journal_path, errno);
    auto read = ReadJournal(journal.get(), journal_path);
    if (read.ok() && read->valid) (void)CopyBack(db.get(), *read, path);
    return failed;
  }
  if (const Status synced = SyncFolderOf(journal_path); !synced.ok()) {
    if (committed_despite_failure != nullptr) *committed_despite_failure = true;
    return Status(synced.code(), synced.message() + " Die Datei '" + path +
                                     "' enthält die Änderungen bereits, aber nicht sicher "
                                     "gespeichert.");
  }
  Step(changes, InPlaceStep::kJournalRemoved);
  return Status::Ok();
}

Result<std::optional<std::string>> RollBackInterruptedCommit(const std::string& path) {
  const std::string journal_path = JournalPath(path);
  const Fd journal(::open(journal_path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
  if (journal.get() < 0) {
    if (errno == ENOENT) return std::optional<std::string>();
    return IoError("Das Journal einer unterbrochenen Speicherung ist nicht lesbar:", journal_path,
                   errno);
  }
  struct stat st;
  if (::fstat(journal.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return Status(ErrorCode::kPathNotValid,
                  "'" + journal_path + "' ist kein Journal einer Datenbank.");
  }
  JET_ASSIGN_OR_RETURN(Journal read, ReadJournal(journal.get(), journal_path));
  if (!read.valid) {
    // Not finished before the process ended: the database was not yet touched.
    JET_RETURN_IF_ERROR(RemoveJournal(journal_path));
    return std::optional<std::string>();
  }
  const Fd db(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (db.get() < 0) {
    return IoError("Die Datenbank kann zum Zurücksetzen nicht geöffnet werden:", path, errno);
  }
  JET_RETURN_IF_ERROR(CopyBack(db.get(), read, path));
  JET_RETURN_IF_ERROR(RemoveJournal(journal_path));
  return std::optional<std::string>(
      "Die Datenbank '" + path +
      "' wurde beim letzten Speichern unterbrochen. Sie wurde aus dem Journal '" + journal_path +
      "' auf ihren Stand vor diesem Speichern zurückgesetzt; die damals gespeicherten Änderungen "
      "fehlen.");
}

}  // namespace jet
