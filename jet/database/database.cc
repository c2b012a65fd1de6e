#include "jet/database/database.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <set>
#include <unordered_map>

#include "jet/database/integrity_check.h"
#include "jet/file/file_commit.h"
#include "jet/file/file_source.h"
#include "jet/file/page_store.h"
#include "jet/file/rollback_journal.h"
#include "jet/index/index_writer.h"
#include "jet/page/page_allocator.h"
#include "jet/table/catalog.h"
#include "jet/table/properties.h"
#include "jet/table/table_writer.h"
#include "jet/text/unicode.h"

namespace jet {
namespace {

constexpr std::uint16_t kWindows1252 = 1252;

std::atomic<std::int64_t> write_check_nanoseconds{0};

// Adds the time from its construction to its end to write_check_nanoseconds.
class CheckTimer {
 public:
  ~CheckTimer() {
    write_check_nanoseconds += std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now() - start_)
                                   .count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The exception being handled, as the engine's error: no exception leaves an entry point of the
// engine. Out of memory is Jet's "system resources exceeded".
Status CaughtException() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return Status(ErrorCode::kResourcesExceeded,
                  std::string(StandardText(ErrorCode::kResourcesExceeded)) +
                      ": Der Arbeitsspeicher reicht nicht aus.");
  } catch (const std::exception& e) {
    return Status(ErrorCode::kInternalError,
                  std::string(StandardText(ErrorCode::kInternalError)) + ": " + e.what());
  } catch (...) {
    return Status(ErrorCode::kInternalError, std::string(StandardText(ErrorCode::kInternalError)));
  }
}

// Runs `work`, an entry point's body, turning an exception into its Status.
template <typename Work>
auto Guarded(const Work& work) -> decltype(work()) {
  try {
    return work();
  } catch (...) {
    return CaughtException();
  }
}

}  // namespace

struct Database::State {
  Status ReadCatalog();
  Result<TableWriter*> WriterFor(const Database& db, std::string_view table);
  Status RebuildIndexes();
  // The page allocator, kept off the pages that some usage map still names.
  std::unique_ptr<PageAllocator> NewAllocator(const Database& db);
  // Fails with kDatabaseFull once the pages exceed the size Jet allows a database.
  Status WithinSizeLimit() const;
  // The error of every write after a failed rollback.
  Status Broken() const;

  std::string path;        // the file itself, symbolic links resolved
  std::string named_path;  // the path as the caller named it
  FileIdentity identity;
  std::vector<std::unique_ptr<WriteLock>> locks;  // beside the file, and beside its name
  CommitPlan plan;                                // how a commit brings the changes into the file
  std::string rolled_back;  // what the rollback of an interrupted commit at Open said
  TestOptions test;         // as the database was opened
  std::unique_ptr<PageStore> pages;
  std::vector<CatalogEntry> catalog;
  std::unordered_map<std::string, std::size_t> tables_by_name;  // folded name -> catalog index
  mutable std::map<std::uint32_t, std::shared_ptr<TableDef>> tables;
  std::unique_ptr<PageAllocator> allocator;
  std::map<std::uint32_t, std::unique_ptr<TableWriter>> writers;
  std::set<std::uint32_t> written_tables;
  WrittenPages checked_pages;    // the pages of the tables checked for writing (integrity_check.h)
  std::string last_writer_name;  // the name WriterFor() was last asked for, as given
  TableWriter* last_writer = nullptr;
  // A rollback failed half-way (out of memory): the pages are no longer known to be sound, and
  // nothing is written from here on.
  bool broken = false;
  // The last failed commit had already replaced the file (see Replacement).
  bool replaced_despite_failure = false;
};

Database::Database() : state_(std::make_unique<State>()) {}
Database::~Database() = default;

const Header& Database::header() const { return state_->pages->header(); }
const std::string& Database::path() const { return state_->path; }
const PageStore& Database::pages() const { return *state_->pages; }
const std::vector<CatalogEntry>& Database::catalog() const { return state_->catalog; }
bool Database::dirty() const { return state_->pages->dirty(); }
bool Database::writable() const { return !state_->locks.empty(); }
const std::string& Database::rolled_back() const { return state_->rolled_back; }
bool Database::commits_in_place() const { return state_->plan.way == CommitWay::kInPlace; }

double WriteCheckSeconds() { return static_cast<double>(write_check_nanoseconds.load()) / 1e9; }

Result<std::unique_ptr<Database>> Database::Open(const std::string& path,
                                                 const OpenOptions& options) {
  return Guarded([&] { return OpenFile(path, options); });
}

Result<std::unique_ptr<Database>> Database::OpenFile(const std::string& path,
                                                     const OpenOptions& options) {
  // Before anything else, under the lock: a commit that wrote in place and was interrupted is
  // rolled back (its file is one Jet refuses until then).
  std::string rolled_back;
  if (auto file = ResolveDatabasePath(path);
      file.ok() && ::access(JournalPath(*file).c_str(), F_OK) == 0) {
    JET_ASSIGN_OR_RETURN(auto locks, AcquireWriteLocks(path, *file));
    JET_ASSIGN_OR_RETURN(std::optional<std::string> said, RollBackInterruptedCommit(*file));
    if (said) rolled_back = *said;
  }
  JET_ASSIGN_OR_RETURN(std::unique_ptr<FileSource> file, OpenFileForReading(path));
  JET_ASSIGN_OR_RETURN(std::string resolved, ResolveDatabasePath(path));
  JET_ASSIGN_OR_RETURN(FileIdentity identity, IdentifyFile(resolved));
  OpenOptions read_options = options;
  read_options.writable = false;
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Database> db, Open(*file, read_options));
  db->state_->path = std::move(resolved);
  db->state_->named_path = path;
  db->state_->identity = identity;
  db->state_->rolled_back = std::move(rolled_back);
  if (options.writable) JET_RETURN_IF_ERROR(db->EnableWriting());
  return db;
}

Status Database::EnableWriting() {
  return Guarded([&] { return EnableWritingNow(); });
}

Status Database::EnableWritingNow() {
  if (writable()) return Status::Ok();
  if (state_->path.empty()) {
    return Status(ErrorCode::kNotSupported,
                  "Eine Datenbank im Speicher kann nicht gespeichert werden.");
  }
  if (version() != JetVersion::kJet4) {
    return Status(
        ErrorCode::kNotSupported,
        "Jet-3-Datenbanken (Access 97) können nur gelesen werden: '" + state_->path + "'.");
  }
  JET_RETURN_IF_ERROR(CheckReplaceable(state_->path));
  IgnoreFileSizeSignal();
  JET_ASSIGN_OR_RETURN(std::vector<std::unique_ptr<WriteLock>> locks,
                       AcquireWriteLocks(state_->named_path, state_->path));
  // Under the lock: the unfinished new files of a killed writer are gone before the trial.
  RemoveUnfinishedReplacements(state_->path);
  JET_ASSIGN_OR_RETURN(state_->plan, PlanCommit(state_->path));
  // What was read must still be the file: otherwise another program wrote it in between.
  JET_ASSIGN_OR_RETURN(FileIdentity now, IdentifyFile(state_->path));
  if (!(now == state_->identity)) {
    return Status(ErrorCode::kLocked, "Die Datenbank '" + state_->path +
                                          "' wurde von einem anderen Programm geändert, seit sie "
                                          "geöffnet wurde. Bitte öffnen Sie sie erneut.");
  }
  // Damage is looked for table by table, before the first change to each (WriterFor).
  state_->locks = std::move(locks);
  state_->pages->SpillAppendedPages(std::filesystem::path(state_->path).parent_path().string());
  state_->allocator = state_->NewAllocator(*this);
  return Status::Ok();
}

std::unique_ptr<PageAllocator> Database::State::NewAllocator(const Database& db) {
  return std::make_unique<PageAllocator>(*pages, [&db] {
    const CheckTimer timer;
    return PagesClaimedByUsageMaps(db);
  });
}

Result<std::unique_ptr<Database>> Database::Open(FileSource& source, const OpenOptions& options) {
  return Guarded([&] { return OpenSource(source, options); });
}

Result<std::unique_ptr<Database>> Database::OpenSource(FileSource& source,
                                                       const OpenOptions& options) {
  auto db = std::unique_ptr<Database>(new Database());
  db->state_->test = options.test;
  JET_ASSIGN_OR_RETURN(db->state_->pages, PageStore::Load(source));
  if (!PasswordMatches(db->header().password, options.password)) {
    return Status(ErrorCode::kInvalidPassword, "Kein gültiges Kennwort.");
  }
  // Jet 3 text is stored in the database's code page; only Windows-1252 (0: the default) is
  // decoded, and any other would turn text into wrong characters without notice.
  const std::uint16_t cp = db->header().code_page;
  if (db->version() == JetVersion::kJet3 && cp != 0 && cp != kWindows1252) {
    return Status(ErrorCode::kNotSupported,
                  "Die Codepage " + std::to_string(cp) +
                      " dieser Jet-3-Datenbank wird nicht unterstützt (nur Windows-1252).");
  }
  JET_RETURN_IF_ERROR(db->state_->ReadCatalog());
  return db;
}

Status Database::State::ReadCatalog() {
  JET_ASSIGN_OR_RETURN(TableDef def, ReadCatalogDef(*pages));
  auto shared = std::make_shared<TableDef>(std::move(def));
  JET_ASSIGN_OR_RETURN(catalog, jet::ReadCatalog(*pages, *shared));
  for (std::size_t i = 0; i < catalog.size(); ++i) {
    if (catalog[i].is_table()) tables_by_name.emplace(FoldCase(catalog[i].name), i);
  }
  tables[kCatalogPage] = shared;
  return Status::Ok();
}

std::vector<std::string> Database::TableNames() const {
  std::vector<std::string> names;
  for (const CatalogEntry& e : state_->catalog) {
    if (e.is_table() && !e.is_system()) names.push_back(e.name);
  }
  return names;
}

Result<std::shared_ptr<const TableDef>> Database::GetTable(std::string_view name) const {
  const CatalogEntry* entry = nullptr;
  if (auto it = state_->tables_by_name.find(FoldCase(name)); it != state_->tables_by_name.end()) {
    entry = &state_->catalog[it->second];
  }
  if (entry == nullptr) {
    return Status(ErrorCode::kTableNotFound,
                  "Die Tabelle '" + std::string(name) + "' wurde nicht gefunden.");
  }
  if (auto it = state_->tables.find(entry->page()); it != state_->tables.end()) {
    return std::shared_ptr<const TableDef>(it->second);
  }
  JET_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*state_->pages, entry->page(), entry->name));
  if (!entry->properties.empty()) {
    JET_ASSIGN_OR_RETURN(PropertySets sets, ParseProperties(entry->properties, format()));
    for (auto& [object, props] : sets) {
      if (object.empty() || NamesEqual(object, def.name)) {
        def.properties.insert(props.begin(), props.end());
      } else {
        for (Column& c : def.columns) {
          if (NamesEqual(c.name, object)) c.properties = props;
        }
      }
    }
  }
  auto shared = std::make_shared<TableDef>(std::move(def));
  state_->tables[entry->page()] = shared;
  return std::shared_ptr<const TableDef>(shared);
}

Result<TableWriter*> Database::State::WriterFor(const Database& db, std::string_view table) {
  if (locks.empty()) {
    return Status(ErrorCode::kNotSupported, "Die Datenbank ist nur zum Lesen geöffnet.");
  }
  if (broken) return Broken();
  // Rows mostly come in runs for one table: its writer is found without a look-up by name.
  if (last_writer != nullptr && table == last_writer_name) return last_writer;
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> def, db.GetTable(table));
  auto& writer = writers[def->page];
  if (!writer) {
    // A damaged table is not changed: a commit would store the damage again as if it were sound,
    // and changes could spread it. What the writes rewrite anyway is repaired here.
    if (test.check_before_writing) {
      const CheckTimer timer;
      const Status s =
          PrepareTableForWriting(*pages, *allocator, *tables.at(def->page), checked_pages);
      if (!s.ok()) {
        writers.erase(def->page);
        if (s.code() != ErrorCode::kCorrupt) return s;
        return Status::Corrupt("Die Datenbank '" + path +
                               "' ist beschädigt und wird nicht geändert: " + s.message());
      }
    }
    writer = std::make_unique<TableWriter>(*pages, *allocator, *tables.at(def->page));
  }
  written_tables.insert(def->page);
  last_writer_name.assign(table);
  last_writer = writer.get();
  return writer.get();
}

Status Database::State::Broken() const {
  return Status(ErrorCode::kResourcesExceeded,
                std::string(StandardText(ErrorCode::kResourcesExceeded)) + ": Die Änderungen an '" +
                    path + "' ließen sich nicht verwerfen; es wird nichts mehr gespeichert.");
}

Status Database::State::WithinSizeLimit() const {
  const std::uint64_t bytes = std::uint64_t{pages->page_count()} * pages->page_size();
  if (bytes <= test.max_database_bytes) return Status::Ok();
  return Status(ErrorCode::kDatabaseFull, "Datenbank hat maximale Größe erreicht: '" + path +
                                              "' würde " + std::to_string(bytes) +
                                              " Bytes groß, erlaubt sind höchstens " +
                                              std::to_string(test.max_database_bytes) + " Bytes.");
}

Result<RowPointer> Database::InsertRow(std::string_view table, std::vector<Value>& values) {
  return Guarded([&]() -> Result<RowPointer> {
    // A run that grows the file past Jet's limit is refused at the first row after it, before
    // the row changes anything, instead of at the commit after all the others.
    JET_RETURN_IF_ERROR(state_->WithinSizeLimit());
    JET_ASSIGN_OR_RETURN(TableWriter * writer, state_->WriterFor(*this, table));
    return writer->Insert(values);
  });
}

Status Database::DeleteRow(std::string_view table, RowPointer row) {
  return Guarded([&]() -> Status {
    JET_ASSIGN_OR_RETURN(TableWriter * writer, state_->WriterFor(*this, table));
    return writer->Delete(row);
  });
}

Result<RowPointer> Database::ReplaceRow(std::string_view table, RowPointer row,
                                        std::vector<Value>& values) {
  return Guarded([&]() -> Result<RowPointer> {
    JET_RETURN_IF_ERROR(state_->WithinSizeLimit());
    JET_ASSIGN_OR_RETURN(TableWriter * writer, state_->WriterFor(*this, table));
    return writer->Replace(row, values);
  });
}

Status Database::State::RebuildIndexes() {
  // A refused commit (a duplicate key, a key that cannot be built, a damaged index) leaves the
  // pages, the page allocator and the table definitions as they were before it began.
  std::map<std::uint32_t, TableDef> definitions;
  for (std::uint32_t page : written_tables) definitions.emplace(page, *tables.at(page));
  const PageAllocator saved_allocator = *allocator;
  pages->BeginSavepoint();
  for (std::uint32_t page : written_tables) {
    if (test.before_index_rebuild) test.before_index_rebuild();
    Status s = jet::RebuildIndexes(*pages, *allocator, *tables.at(page));
    if (!s.ok()) {
      pages->RollbackToSavepoint();
      *allocator = saved_allocator;
      for (auto& [number, definition] : definitions) *tables.at(number) = std::move(definition);
      return s;
    }
  }
  pages->EndSavepoint();
  return Status::Ok();
}

Status Database::Commit(const ReplaceOptions& options) {
  if (!writable() || !dirty()) return Status::Ok();
  if (state_->broken) return state_->Broken();
  state_->replaced_despite_failure = false;
  Replacement replacement;
  replacement.expected = state_->identity;
  replacement.keep_old_as = options.keep_old_as;
  replacement.before_swap = state_->test.before_swap;
  bool refused = false;  // refused before anything was written: the changes stay, to be mended
  Status s = Guarded([&] { return CommitNow(replacement, refused); });
  if (replacement.replaced_despite_failure) {
    // The file holds the changes: they are no longer ours to forget.
    state_->replaced_despite_failure = true;
    state_->pages->MarkClean();
    state_->written_tables.clear();
    state_->last_writer = nullptr;
    if (auto now = IdentifyFile(state_->path); now.ok()) state_->identity = *now;
  } else if (!s.ok() && !refused) {
    // Failed half-way: what the commit began is undone at once, so that nothing that follows can
    // store it after all.
    Rollback();
  }
  return s;
}

Status Database::CommitNow(Replacement& replacement, bool& refused) {
  // A refusal of the rebuild (which then leaves the pages as they were) or of the size.
  Status check = state_->RebuildIndexes();
  if (check.ok()) check = state_->WithinSizeLimit();
  if (!check.ok()) {
    refused = true;
    return check;
  }
  if (state_->plan.way == CommitWay::kSwap) {
    Status swapped = ReplaceFileAtomically(
        state_->path, [&](const PieceSink& sink) { return state_->pages->ForEachImagePiece(sink); },
        &replacement);
    if (!swapped.ok() && !replacement.needs_in_place) return swapped;
    if (replacement.needs_in_place) {
      // Found only now (the file system kept less than the trial showed, or refused the rename):
      // this and every later commit writes in place.
      state_->plan = CommitPlan{CommitWay::kInPlace, replacement.why};
      replacement.needs_in_place = false;
    }
  }
  if (state_->plan.way == CommitWay::kInPlace) {
    const PageStore& pages = *state_->pages;
    InPlaceChanges changes;
    changes.new_size = std::uint64_t{pages.page_count()} * pages.page_size();
    changes.header_size = pages.page_size();
    changes.write = [&](const RunSink& sink) {
      return pages.ForEachChangedRun([&](std::uint32_t first, Bytes bytes) {
        return sink(std::uint64_t{first} * pages.page_size(), bytes);
      });
    };
    changes.after_step = state_->test.after_in_place_step;
    // The backup is a copy: a second name of the file would change with it.
    const std::string& backup = replacement.keep_old_as;
    if (!backup.empty()) JET_RETURN_IF_ERROR(KeepCopyOfFile(state_->path, backup));
    Status written = WriteInPlace(state_->path, changes, &*replacement.expected,
                                  &replacement.replaced_despite_failure);
    if (!written.ok()) {
      // The file holds its old bytes again, unless the changes reached it after all.
      if (!backup.empty() && !replacement.replaced_despite_failure) {
        std::error_code ignored;
        std::filesystem::remove(backup, ignored);
      }
      return written;
    }
  }
  state_->pages->MarkClean();
  state_->written_tables.clear();
  state_->last_writer = nullptr;
  // The file holds the changes now, whatever follows. An identity that cannot be read matches
  // no file, so that a later commit refuses rather than replace a file it does not know.
  auto now = IdentifyFile(state_->path);
  state_->identity = now.ok() ? *now : FileIdentity{};
  return Status::Ok();
}

bool Database::commit_replaced_file_despite_failure() const {
  return state_->replaced_despite_failure;
}

void Database::Rollback() {
  try {
    state_->pages->Rollback();
    state_->writers.clear();
    state_->written_tables.clear();
    state_->last_writer = nullptr;
    state_->tables.clear();  // definitions are read again from the restored pages
    state_->checked_pages.clear();
    if (state_->allocator) state_->allocator = state_->NewAllocator(*this);
  } catch (...) {
    state_->broken = true;
  }
}

}  // namespace jet
