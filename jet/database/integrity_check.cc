#include "jet/database/integrity_check.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include "jet/database/relationships.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"
#include "jet/index/index_reader.h"
#include "jet/page/data_page.h"
#include "jet/page/page_allocator.h"
#include "jet/page/usage_map.h"
#include "jet/table/catalog.h"
#include "jet/table/table_scan.h"

namespace jet {
namespace {

using Entry = std::pair<ByteString, std::uint32_t>;  // key and raw row pointer

// A page whose type byte is 0 holds nothing: only page 0, the header, has that type in use.
bool GivenBack(std::uint32_t number, Bytes page) {
  return number != 0 && !page.empty() && page[0] == 0;
}

class Checker {
 public:
  Checker(const TableSet& db, IntegrityScope scope) : db_(db), store_(db.pages()), scope_(scope) {}

  IntegrityReport Run() {
    for (const CatalogEntry& e : db_.catalog()) {
      if (!e.is_table()) continue;
      auto table = db_.GetTable(e.name);
      if (!table.ok()) {
        Problem("Tabelle '" + e.name + "': " + table.status().message());
        continue;
      }
      ++report_.tables;
      in_system_table_ = e.is_system();
      CheckTable(**table, e.is_system());
      in_system_table_ = false;
    }
    CheckOwnedPagesAreMapped();
    CheckFreePages();
    if (scope_ == IntegrityScope::kEverything) CheckReferences();
    return std::move(report_);
  }

 private:
  // Damage of Access's own tables is Access's business: the import never writes them, and it
  // reads the few it needs (the catalog, the relationships) with errors of their own.
  void Problem(std::string text) {
    (in_system_table_ ? report_.tolerated : report_.problems).push_back(std::move(text));
  }
  void Tolerated(std::string text) { report_.tolerated.push_back(std::move(text)); }

  // Every row refers to an existing row where a relationship enforces integrity.
  void CheckReferences() {
    auto relationships = ReadRelationships(db_);
    if (!relationships.ok()) {
      Problem(relationships.status().message());
      return;
    }
    const Status s = CheckRelationships(db_, *relationships, report_.problems);
    if (!s.ok()) Problem("Beziehungen nicht prüfbar: " + s.message());
  }

  void Claim(std::uint32_t page, const std::string& by) {
    auto [it, fresh] = claimed_.emplace(page, by);
    if (!fresh && it->second != by) {
      Problem("Seite " + std::to_string(page) + " wird von '" + it->second + "' und von '" + by +
              "' beansprucht.");
    }
  }

  void CheckTable(const TableDef& t, bool system) {
    const std::string name = "Tabelle '" + t.name + "'";
    auto pages = ReadUsageMap(store_, t.usage_map);
    if (!pages.ok()) {
      Problem(name + ": Belegungstabelle unlesbar: " + pages.status().message());
      return;
    }
    std::set<std::uint32_t> own(pages->begin(), pages->end());
    for (std::uint32_t p : *pages) {
      auto bytes = store_.Page(p);
      if (bytes.ok() && GivenBack(p, *bytes)) {
        // Left in the map when the page was given back; a write to the table drops it.
        Tolerated(name + ": Seite " + std::to_string(p) +
                  " ihrer Belegungstabelle ist eine freigegebene Seite.");
        continue;
      }
      Claim(p, t.name);
      auto page = DataPage::Open(store_, p);
      if (!page.ok()) {
        Problem(name + ": Seite " + std::to_string(p) +
                " ihrer Belegungstabelle ist keine Datenseite.");
      } else if (page->owner() != t.page) {
        Problem(name + ": Seite " + std::to_string(p) + " gehört der Definition auf Seite " +
                std::to_string(page->owner()) + ".");
      }
    }
    table_pages_[t.page] = own;
    table_names_[t.page] = t.name;
    system_tables_[t.page] = system;
    auto free_pages = ReadUsageMap(store_, t.free_map);
    if (!free_pages.ok()) {
      Problem(name + ": Freiraumtabelle unlesbar: " + free_pages.status().message());
    } else {
      for (std::uint32_t p : *free_pages) {
        if (!own.count(p)) {
          Tolerated(name + ": Seite " + std::to_string(p) +
                    " steht in der Freiraumtabelle, gehört aber nicht zur Tabelle.");
        }
      }
    }

    // Rows: every one decodes; the count matches; keys stay below the counter.
    std::vector<std::vector<Value>> rows;
    std::vector<RowPointer> places;
    TableScan scan(db_, t);
    while (true) {
      auto more = scan.Next();
      if (!more.ok()) {
        Problem(name + ": " + more.status().message());
        return;
      }
      if (!*more) break;
      rows.push_back(scan.values());
      places.push_back(scan.position());
    }
    report_.rows += rows.size();
    if (rows.size() != t.row_count) {
      Tolerated(name + ": Die Definition nennt " + std::to_string(t.row_count) +
                " Zeilen, es sind " + std::to_string(rows.size()) + ".");
    }
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
      if (!t.columns[c].autonumber() || t.columns[c].type() != ColumnType::kLong) continue;
      for (const auto& row : rows) {
        if (row[c].is<std::int32_t>() && row[c].as<std::int32_t>() > 0 &&
            static_cast<std::uint32_t>(row[c].as<std::int32_t>()) > t.autonumber) {
          Problem(name + ": Der AutoWert-Zähler " + std::to_string(t.autonumber) +
                  " liegt unter dem Schlüssel " + std::to_string(row[c].as<std::int32_t>()) + ".");
          break;
        }
      }
    }
    for (const RealIndex& index : t.real_indexes) CheckIndex(t, index, rows, places);
  }

  void CheckIndex(const TableDef& t, const RealIndex& index,
                  const std::vector<std::vector<Value>>& rows,
                  const std::vector<RowPointer>& places) {
    std::string index_name = "#" + std::to_string(index.number);
    for (const Index& x : t.indexes) {
      if (x.real_index == index.number) index_name = x.name;
    }
    const std::string name = "Index '" + index_name + "' der Tabelle '" + t.name + "'";
    auto pages = ReadUsageMap(store_, index.usage_map);
    if (pages.ok()) {
      for (std::uint32_t p : *pages) Claim(p, t.name + " / " + index_name);
    }
    auto tree = CheckIndexTree(store_, t, index);
    if (!tree.ok()) {
      Problem(name + ": " + tree.status().message());
      return;
    }
    std::vector<Entry> stored;
    IndexCursor cursor(store_, t, index);
    while (true) {
      auto more = cursor.Next();
      if (!more.ok()) {
        Problem(name + ": " + more.status().message());
        return;
      }
      if (!*more) break;
      stored.emplace_back(cursor.entry().key, cursor.entry().row.Raw());
      if (pages.ok() && !std::binary_search(pages->begin(), pages->end(), cursor.leaf_page())) {
        Tolerated(name + ": Seite " + std::to_string(cursor.leaf_page()) +
                  " fehlt in der Belegungstabelle des Index.");
      }
    }
    report_.index_entries += stored.size();
    std::vector<Entry> expected;
    std::set<ByteString> keys_with_null;  // Null never duplicates, not even in a unique index
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (index.ignore_nulls() && AllKeyColumnsNull(t, index, rows[r])) continue;
      auto key = EncodeIndexKey(t, index, rows[r], db_.header());
      if (!key.ok()) {
        report_.notes.push_back(name + " nicht geprüft: " + key.status().message());
        return;
      }
      for (const IndexColumn& ic : index.columns) {
        for (std::size_t c = 0; c < t.columns.size(); ++c) {
          if (t.columns[c].number == ic.column_number && rows[r][c].is_null())
            keys_with_null.insert(*key);
        }
      }
      expected.emplace_back(std::move(*key), places[r].Raw());
    }
    std::sort(expected.begin(), expected.end());
    std::vector<Entry> sorted = stored;
    std::sort(sorted.begin(), sorted.end());
    if (sorted != expected) {
      Problem(name + ": " + std::to_string(stored.size()) + " Einträge passen nicht zu den " +
              std::to_string(expected.size()) + " Zeilen der Tabelle.");
    } else if (sorted != stored) {
      Problem(name + ": Die Einträge stehen nicht in Schlüsselreihenfolge.");
    }
    if (index.unique()) {
      for (std::size_t i = 1; i < sorted.size(); ++i) {
        if (sorted[i].first == sorted[i - 1].first && !keys_with_null.count(sorted[i].first)) {
          Problem(name + ": Der eindeutige Index enthält einen Schlüssel doppelt.");
          break;
        }
      }
    }
  }

  // A data page that names a table as its owner must be in that table's usage map.
  void CheckOwnedPagesAreMapped() {
    for (std::uint32_t p = 1; p < store_.page_count(); ++p) {
      auto bytes = store_.Page(p);
      if (!bytes.ok() || (*bytes)[0] != static_cast<std::uint8_t>(PageType::kData)) continue;
      auto page = DataPage::Open(store_, p);
      if (!page.ok()) continue;
      auto it = table_pages_.find(page->owner());
      if (it == table_pages_.end() || it->second.count(p)) continue;
      if (LiveRows(p) == 0) continue;  // an emptied page that was not handed back wastes space only
      std::string text = "Tabelle '" + table_names_[page->owner()] + "': Seite " +
                         std::to_string(p) + " mit Zeilen fehlt in ihrer Belegungstabelle.";
      // Access leaves such pages in its own system tables; in a user table rows would be lost.
      if (system_tables_[page->owner()]) {
        Tolerated(std::move(text));
      } else {
        Problem(std::move(text));
      }
    }
  }

  std::size_t LiveRows(std::uint32_t p) {
    auto page = DataPage::Open(store_, p);
    std::size_t live = 0;
    for (std::uint16_t r = 0; page.ok() && r < page->row_count(); ++r) {
      auto slot = page->Row(r);
      if (slot.ok() && !slot->deleted) ++live;
    }
    return live;
  }

  // Pages the free map lists are claimed by no table and no index.
  void CheckFreePages() {
    auto free_pages = ReadUsageMap(store_, kGlobalFreeMap);
    if (!free_pages.ok()) return;
    for (std::uint32_t p : *free_pages) {
      auto it = claimed_.find(p);
      if (it != claimed_.end()) {
        Tolerated("Seite " + std::to_string(p) + " gilt als frei, wird aber von '" + it->second +
                  "' benutzt.");
      }
    }
  }

  const TableSet& db_;
  const PageStore& store_;
  IntegrityScope scope_;
  IntegrityReport report_;
  std::map<std::uint32_t, std::string> claimed_;
  std::map<std::uint32_t, std::set<std::uint32_t>> table_pages_;
  std::map<std::uint32_t, std::string> table_names_;
  std::map<std::uint32_t, bool> system_tables_;
  bool in_system_table_ = false;
};

}  // namespace

Result<IntegrityReport> CheckIntegrity(const TableSet& db, IntegrityScope scope) {
  return Checker(db, scope).Run();
}

namespace {

constexpr std::uint32_t kNotOwn = std::numeric_limits<std::uint32_t>::max();

// The live rows of one table by place: which slots of its data pages hold a row (or the pointer
// of a moved row, which is what indexes name).
class LiveRows {
 public:
  explicit LiveRows(std::uint32_t page_count) : slot_of_page_(page_count, kNotOwn) {}

  void AddPage(std::uint32_t page) {
    slot_of_page_[page] = static_cast<std::uint32_t>(pages_++);
    bits_.resize(pages_ * kMaxRowsPerDataPage);
  }
  bool Own(std::uint32_t page) const {
    return page < slot_of_page_.size() && slot_of_page_[page] != kNotOwn;
  }
  void Add(RowPointer row) {
    bits_[Bit(row)] = true;
    ++count_;
  }
  // The bit of a row of one of the table's pages; kNotOwn for any other.
  std::size_t Bit(RowPointer row) const {
    if (!Own(row.page)) return kNotOwn;
    return std::size_t{slot_of_page_[row.page]} * kMaxRowsPerDataPage + row.row;
  }
  bool Live(std::size_t bit) const { return bit != kNotOwn && bits_[bit]; }
  std::size_t bits() const { return bits_.size(); }
  std::uint32_t count() const { return count_; }

 private:
  std::vector<std::uint32_t> slot_of_page_;
  std::size_t pages_ = 0;
  std::vector<bool> bits_;
  std::uint32_t count_ = 0;
};

}  // namespace

Status PrepareTableForWriting(PageStore& store, PageAllocator& allocator, TableDef& table,
                              WrittenPages& written) {
  const std::string name = "Tabelle '" + table.name + "'";
  const auto damaged = [&](const std::string& why) { return Status::Corrupt(name + ": " + why); };
  const auto page_name = [](std::uint32_t p) { return "Seite " + std::to_string(p); };
  WrittenPages mine;
  const auto claim = [&](std::uint32_t p, const std::string& by) -> Status {
    if (auto it = written.find(p); it != written.end() && it->second != table.page) {
      return damaged(page_name(p) + " " + by + " gehört auch der Tabelle mit der Definition auf " +
                     page_name(it->second) + ".");
    }
    if (!mine.emplace(p, table.page).second) {
      return damaged(page_name(p) + " " + by + " ist zugleich anderweitig belegt.");
    }
    return Status::Ok();
  };

  // Data pages: the table's own, each with a sound row offset table.
  auto pages = ReadUsageMap(store, table.usage_map);
  if (!pages.ok()) return damaged("Belegungstabelle unlesbar: " + pages.status().message());
  LiveRows live(store.page_count());
  std::vector<std::uint32_t> given_back;
  for (std::uint32_t p : *pages) {
    JET_ASSIGN_OR_RETURN(Bytes bytes, store.Page(p));
    if (GivenBack(p, bytes)) {
      given_back.push_back(p);
      continue;
    }
    auto page = DataPage::Open(store, p);
    if (!page.ok() || page->owner() != table.page) {
      return damaged(page_name(p) + " ihrer Belegungstabelle ist keine Datenseite der Tabelle.");
    }
    JET_RETURN_IF_ERROR(claim(p, "der Tabelle"));
    live.AddPage(p);
    for (std::uint16_t r = 0; r < page->row_count(); ++r) {
      auto slot = page->Row(r);
      if (!slot.ok()) return damaged(slot.status().message());
      if (!slot->deleted) live.Add(RowPointer{p, static_cast<std::uint8_t>(r)});
    }
  }
  std::vector<std::uint32_t> not_own_free;
  if (table.free_map.Raw() != 0) {
    auto free_pages = ReadUsageMap(store, table.free_map);
    if (!free_pages.ok()) {
      return damaged("Freiraumtabelle unlesbar: " + free_pages.status().message());
    }
    for (std::uint32_t p : *free_pages) {
      if (!live.Own(p)) not_own_free.push_back(p);
    }
  }
  for (const LongValueMaps& maps : table.long_value_maps) {
    for (RowPointer map : {maps.used, maps.free}) {
      if (map.Raw() == 0) continue;
      auto lv_pages = ReadUsageMap(store, map);
      if (!lv_pages.ok()) {
        return damaged("Belegungstabelle langer Werte unlesbar: " + lv_pages.status().message());
      }
    }
  }

  // Indexes: their pages the table's, and one entry for each row, no more.
  for (const RealIndex& index : table.real_indexes) {
    const std::string index_name = "Index '" + IndexNames(table, index) + "'";
    auto index_pages = ReadUsageMap(store, index.usage_map);
    if (!index_pages.ok()) {
      return damaged(index_name + ": Belegungstabelle unlesbar: " + index_pages.status().message());
    }
    for (std::uint32_t p : *index_pages) {
      JET_ASSIGN_OR_RETURN(Bytes bytes, store.Page(p));
      if (GivenBack(p, bytes)) continue;  // the index writer drops it from the map
      const bool index_page = bytes[0] == static_cast<std::uint8_t>(PageType::kLeafIndex) ||
                              bytes[0] == static_cast<std::uint8_t>(PageType::kIntermediateIndex);
      if (!index_page || ByteReader(bytes).U32(kIndexPageOwnerOffset) != table.page) {
        return damaged(index_name + ": " + page_name(p) +
                       " seiner Belegungstabelle ist keine Indexseite der Tabelle.");
      }
      JET_RETURN_IF_ERROR(claim(p, "des " + index_name));
    }
    std::vector<bool> seen(live.bits());
    std::uint32_t entries = 0;
    Status mismatch;
    const Status walked = ForEachIndexedRow(store, table, index, [&](RowPointer row) {
      const std::size_t bit = live.Bit(row);
      if (!live.Live(bit)) {
        mismatch = damaged(index_name + ": Ein Eintrag nennt die Zeile " + std::to_string(row.row) +
                           " auf " + page_name(row.page) + ", die die Tabelle nicht hat.");
        return false;
      }
      if (seen[bit]) {
        mismatch = damaged(index_name + ": Die Zeile " + std::to_string(row.row) + " auf " +
                           page_name(row.page) + " steht zweimal im Index.");
        return false;
      }
      seen[bit] = true;
      ++entries;
      return true;
    });
    if (!walked.ok()) return damaged(index_name + ": " + walked.message());
    if (!mismatch.ok()) return mismatch;
    if (!index.ignore_nulls() && entries != live.count()) {
      return damaged(index_name + ": " + std::to_string(entries) +
                     " Einträge passen nicht zu den " + std::to_string(live.count()) +
                     " Zeilen der Tabelle.");
    }
  }

  // Sound: repair what the writes rewrite anyway.
  for (std::uint32_t p : given_back) {
    JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, table.usage_map, p, false));
    if (table.free_map.Raw() != 0) {
      JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, table.free_map, p, false));
    }
  }
  for (std::uint32_t p : not_own_free) {
    JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, table.free_map, p, false));
  }
  if (live.count() != table.row_count) {
    table.row_count = live.count();
    JET_RETURN_IF_ERROR(
        PutDefinitionU32(store, table.page, store.format().tdef_row_count_offset, live.count()));
  }
  written.insert(mine.begin(), mine.end());
  return Status::Ok();
}

Result<std::vector<bool>> PagesClaimedByUsageMaps(const TableSet& db) {
  const PageStore& store = db.pages();
  std::vector<bool> claimed(store.page_count());
  const auto mark = [&](RowPointer map) -> Status {
    if (map.Raw() == 0) return Status::Ok();
    JET_ASSIGN_OR_RETURN(std::vector<std::uint32_t> pages, ReadUsageMap(store, map));
    for (std::uint32_t p : pages) claimed[p] = true;
    return Status::Ok();
  };
  for (const CatalogEntry& e : db.catalog()) {
    if (!e.is_table()) continue;
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> t, db.GetTable(e.name));
    JET_RETURN_IF_ERROR(mark(t->usage_map));
    JET_RETURN_IF_ERROR(mark(t->free_map));
    for (const RealIndex& index : t->real_indexes) JET_RETURN_IF_ERROR(mark(index.usage_map));
    for (const LongValueMaps& maps : t->long_value_maps) {
      JET_RETURN_IF_ERROR(mark(maps.used));
      JET_RETURN_IF_ERROR(mark(maps.free));
    }
  }
  return claimed;
}

}  // namespace jet
