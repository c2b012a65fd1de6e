#include "jet/database.h"

#include "jet/data_page.h"
#include "jet/index_writer.h"
#include "jet/integrity_check.h"
#include "jet/properties.h"
#include "jet/row_reader.h"
#include "jet/unicode.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

constexpr char kCatalogName[] = "MSysObjects";
constexpr std::uint16_t kWindows1252 = 1252;
// A moved row may move again; more hops than this mean a cycle.
constexpr int kMaxRowHops = 16;

std::uint64_t max_database_bytes = kMaxDatabaseBytes;
bool check_before_writing = true;

const Value* ColumnValue(const TableDef& t, const std::vector<Value>& row, std::string_view name) {
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (t.columns[i].name == name) return &row[i];
  }
  return nullptr;
}

}  // namespace

void SetMaxDatabaseBytesForTesting(std::uint64_t bytes) {
  max_database_bytes = bytes == 0 ? kMaxDatabaseBytes : bytes;
}

void SetWriteCheckForTesting(bool check) { check_before_writing = check; }

Result<std::unique_ptr<Database>> Database::Open(const std::string& path,
                                                 const OpenOptions& options) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<FileSource> file, OpenFileForReading(path));
  JET_ASSIGN_OR_RETURN(std::string resolved, ResolveDatabasePath(path));
  JET_ASSIGN_OR_RETURN(FileIdentity identity, IdentifyFile(resolved));
  OpenOptions read_options = options;
  read_options.writable = false;
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Database> db, Open(*file, read_options));
  db->path_ = std::move(resolved);
  db->identity_ = identity;
  if (options.writable) JET_RETURN_IF_ERROR(db->EnableWriting());
  return db;
}

Status Database::EnableWriting() {
  if (writable()) return Status::Ok();
  if (path_.empty()) {
    return Status(ErrorCode::kNotSupported,
                  "Eine Datenbank im Speicher kann nicht gespeichert werden.");
  }
  if (version() != JetVersion::kJet4) {
    return Status(ErrorCode::kNotSupported,
                  "Jet-3-Datenbanken (Access 97) können nur gelesen werden: '" + path_ + "'.");
  }
  JET_RETURN_IF_ERROR(CheckReplaceable(path_));
  JET_ASSIGN_OR_RETURN(std::unique_ptr<WriteLock> lock, WriteLock::Acquire(path_));
  // What was read must still be the file: otherwise another program wrote it in between.
  JET_ASSIGN_OR_RETURN(FileIdentity now, IdentifyFile(path_));
  if (!(now == identity_)) {
    return Status(ErrorCode::kLocked, "Die Datenbank '" + path_ +
                                          "' wurde von einem anderen Programm geändert, seit sie "
                                          "geöffnet wurde. Bitte öffnen Sie sie erneut.");
  }
  // A damaged file is not changed: a commit would store the damage again as if the file were
  // sound, and changes to damaged tables could spread it. References that match no row are not
  // damage of the file: they are left to the record layer's relationship rules.
  IntegrityReport report;
  if (check_before_writing) {
    JET_ASSIGN_OR_RETURN(report, CheckIntegrity(*this, IntegrityScope::kFileStructure));
  }
  if (!report.ok()) {
    std::string more;
    if (report.problems.size() > 1) {
      more = " (und " + std::to_string(report.problems.size() - 1) + " weitere Fehler)";
    }
    return Status::Corrupt("Die Datenbank '" + path_ +
                           "' ist beschädigt und wird nicht geändert: " + report.problems.front() +
                           more);
  }
  lock_ = std::move(lock);
  RemoveUnfinishedReplacements(path_);
  allocator_ = std::make_unique<PageAllocator>(*pages_);
  return Status::Ok();
}

Result<std::unique_ptr<Database>> Database::Open(FileSource& source, const OpenOptions& options) {
  auto db = std::unique_ptr<Database>(new Database());
  JET_ASSIGN_OR_RETURN(db->pages_, PageStore::Load(source));
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
  JET_RETURN_IF_ERROR(db->ReadCatalog());
  return db;
}

Status Database::ReadCatalog() {
  JET_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, kCatalogPage, kCatalogName));
  const char* needed[] = {"Id", "ParentId", "Name", "Type", "Flags"};
  for (const char* n : needed) {
    if (def.FindColumn(n) == nullptr) {
      return Status::Corrupt("Beschädigte Datenbank: Dem Systemkatalog fehlt die Spalte '" +
                             std::string(n) + "'.");
    }
  }
  auto shared = std::make_shared<TableDef>(std::move(def));
  TableScan scan(*this, *shared);
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.Next());
    if (!more) break;
    const auto& row = scan.values();
    CatalogEntry e;
    const Value* name = ColumnValue(*shared, row, "Name");
    const Value* id = ColumnValue(*shared, row, "Id");
    const Value* parent = ColumnValue(*shared, row, "ParentId");
    const Value* type = ColumnValue(*shared, row, "Type");
    const Value* flags = ColumnValue(*shared, row, "Flags");
    const Value* props = ColumnValue(*shared, row, "LvProp");
    if (name && name->is<std::string>()) e.name = name->as<std::string>();
    if (id && id->is<std::int32_t>()) e.id = id->as<std::int32_t>();
    if (parent && parent->is<std::int32_t>()) e.parent_id = parent->as<std::int32_t>();
    if (type && type->is<std::int16_t>()) e.type = type->as<std::int16_t>();
    if (flags && flags->is<std::int32_t>())
      e.flags = static_cast<std::uint32_t>(flags->as<std::int32_t>());
    if (props && props->is<ByteString>()) e.properties = props->as<ByteString>();
    if (e.is_table()) tables_by_name_.emplace(FoldCase(e.name), catalog_.size());
    catalog_.push_back(std::move(e));
  }
  tables_[kCatalogPage] = shared;
  return Status::Ok();
}

std::vector<std::string> Database::TableNames() const {
  std::vector<std::string> names;
  for (const CatalogEntry& e : catalog_) {
    if (e.is_table() && !e.is_system()) names.push_back(e.name);
  }
  return names;
}

Result<std::shared_ptr<const TableDef>> Database::GetTable(std::string_view name) const {
  const CatalogEntry* entry = nullptr;
  if (auto it = tables_by_name_.find(FoldCase(name)); it != tables_by_name_.end()) {
    entry = &catalog_[it->second];
  }
  if (entry == nullptr) {
    return Status(ErrorCode::kTableNotFound,
                  "Die Tabelle '" + std::string(name) + "' wurde nicht gefunden.");
  }
  if (auto it = tables_.find(entry->page()); it != tables_.end()) {
    return std::shared_ptr<const TableDef>(it->second);
  }
  JET_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, entry->page(), entry->name));
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
  tables_[entry->page()] = shared;
  return std::shared_ptr<const TableDef>(shared);
}

Result<TableWriter*> Database::WriterFor(std::string_view table) {
  if (!writable()) {
    return Status(ErrorCode::kNotSupported, "Die Datenbank ist nur zum Lesen geöffnet.");
  }
  // Rows mostly come in runs for one table: its writer is found without a look-up by name.
  if (last_writer_ != nullptr && table == last_writer_name_) return last_writer_;
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> def, GetTable(table));
  auto& writer = writers_[def->page];
  if (!writer) {
    writer = std::make_unique<TableWriter>(*pages_, *allocator_, *tables_.at(def->page));
  }
  written_tables_.insert(def->page);
  last_writer_name_.assign(table);
  last_writer_ = writer.get();
  return writer.get();
}

Result<RowPointer> Database::InsertRow(std::string_view table, std::vector<Value>& values) {
  JET_ASSIGN_OR_RETURN(TableWriter * writer, WriterFor(table));
  return writer->Insert(values);
}

Status Database::DeleteRow(std::string_view table, RowPointer row) {
  JET_ASSIGN_OR_RETURN(TableWriter * writer, WriterFor(table));
  return writer->Delete(row);
}

Result<RowPointer> Database::ReplaceRow(std::string_view table, RowPointer row,
                                        std::vector<Value>& values) {
  JET_ASSIGN_OR_RETURN(TableWriter * writer, WriterFor(table));
  return writer->Replace(row, values);
}

Status Database::RebuildIndexes() {
  // A refused commit (a duplicate key, a key that cannot be built, a damaged index) leaves the
  // pages, the page allocator and the table definitions as they were before it began.
  std::map<std::uint32_t, TableDef> definitions;
  for (std::uint32_t page : written_tables_) definitions.emplace(page, *tables_.at(page));
  const PageAllocator allocator = *allocator_;
  pages_->BeginSavepoint();
  for (std::uint32_t page : written_tables_) {
    const Status s = jet::RebuildIndexes(*pages_, *allocator_, *tables_.at(page));
    if (!s.ok()) {
      pages_->RollbackToSavepoint();
      *allocator_ = allocator;
      for (auto& [number, definition] : definitions) *tables_.at(number) = std::move(definition);
      return s;
    }
  }
  pages_->EndSavepoint();
  return Status::Ok();
}

Status Database::Commit() {
  if (!writable() || !dirty()) return Status::Ok();
  JET_RETURN_IF_ERROR(RebuildIndexes());
  const std::uint64_t bytes = std::uint64_t{pages_->page_count()} * pages_->page_size();
  if (bytes > max_database_bytes) {
    return Status(ErrorCode::kDatabaseFull, "Datenbank hat maximale Größe erreicht: '" + path_ +
                                                "' würde " + std::to_string(bytes) +
                                                " Bytes groß, erlaubt sind höchstens " +
                                                std::to_string(max_database_bytes) + " Bytes.");
  }
  JET_RETURN_IF_ERROR(ReplaceFileAtomically(
      path_, [&](const PieceSink& sink) { return pages_->ForEachImagePiece(sink); }));
  pages_->MarkClean();
  JET_ASSIGN_OR_RETURN(identity_, IdentifyFile(path_));
  written_tables_.clear();
  last_writer_ = nullptr;
  return Status::Ok();
}

void Database::Rollback() {
  pages_->Rollback();
  writers_.clear();
  written_tables_.clear();
  last_writer_ = nullptr;
  tables_.clear();  // definitions are read again from the restored pages
  if (allocator_) allocator_ = std::make_unique<PageAllocator>(*pages_);
}

Status TableScan::LoadPage() {
  JET_ASSIGN_OR_RETURN(DataPage page, DataPage::Open(db_->pages(), pages_[page_index_]));
  if (page.owner() != table_->page) {
    return Status::Corrupt("Beschädigte Datenbank: Datenseite " + std::to_string(page.number()) +
                           " gehört nicht zur Tabelle '" + table_->name + "'.");
  }
  rows_on_page_ = page.row_count();
  row_ = 0;
  return Status::Ok();
}

Result<bool> TableScan::Next() {
  const PageStore& store = db_->pages();
  if (!started_) {
    started_ = true;
    JET_ASSIGN_OR_RETURN(pages_, ReadUsageMap(store, table_->usage_map));
    page_index_ = 0;
    rows_on_page_ = 0;
    row_ = 0;
    if (!pages_.empty()) JET_RETURN_IF_ERROR(LoadPage());
  }
  while (page_index_ < pages_.size()) {
    if (row_ >= rows_on_page_) {
      if (++page_index_ >= pages_.size()) break;
      JET_RETURN_IF_ERROR(LoadPage());
      continue;
    }
    RowPointer at{pages_[page_index_], static_cast<std::uint8_t>(row_)};
    ++row_;
    JET_ASSIGN_OR_RETURN(DataPage page, DataPage::Open(store, at.page));
    JET_ASSIGN_OR_RETURN(RowSlot slot, page.Row(at.row));
    if (slot.deleted) continue;
    int hops = 0;
    while (slot.overflow) {
      if (++hops > kMaxRowHops) {
        return Status::Corrupt("Beschädigte Datenbank: Verschobene Zeile auf Seite " +
                               std::to_string(at.page) + " bildet einen Zyklus.");
      }
      ByteReader r(slot.data);
      const RowPointer target = RowPointer::FromRaw(r.U32(0));
      if (!r.ok()) return Status::Corrupt("Beschädigte Datenbank: Zeilenverweis zu kurz.");
      JET_ASSIGN_OR_RETURN(DataPage target_page, DataPage::Open(store, target.page));
      JET_ASSIGN_OR_RETURN(slot, target_page.Row(target.row));
      if (slot.data.empty() && slot.deleted) {
        return Status::Corrupt("Beschädigte Datenbank: Verschobene Zeile auf Seite " +
                               std::to_string(at.page) + " zeigt auf eine ungültige Zeile.");
      }
    }
    position_ = at;
    JET_RETURN_IF_ERROR(DecodeRow(store, *table_, slot.data, values_));
    return true;
  }
  return false;
}

}  // namespace jet
