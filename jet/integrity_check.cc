#include "jet/integrity_check.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "jet/catalog.h"
#include "jet/data_page.h"
#include "jet/index_key.h"
#include "jet/index_reader.h"
#include "jet/page_allocator.h"
#include "jet/relationships.h"
#include "jet/table_scan.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

using Entry = std::pair<ByteString, std::uint32_t>;  // key and raw row pointer

class Checker {
 public:
  Checker(const Database& db, IntegrityScope scope) : db_(db), store_(db.pages()), scope_(scope) {}

  IntegrityReport Run() {
    for (const CatalogEntry& e : db_.catalog()) {
      if (!e.is_table()) continue;
      auto table = db_.GetTable(e.name);
      if (!table.ok()) {
        Problem("Tabelle '" + e.name + "': " + table.status().message());
        continue;
      }
      ++report_.tables;
      CheckTable(**table);
    }
    CheckOwnedPagesAreMapped();
    CheckFreePages();
    if (scope_ == IntegrityScope::kEverything) CheckReferences();
    return std::move(report_);
  }

 private:
  void Problem(std::string text) { report_.problems.push_back(std::move(text)); }

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

  void CheckTable(const TableDef& t) {
    const std::string name = "Tabelle '" + t.name + "'";
    auto pages = ReadUsageMap(store_, t.usage_map);
    if (!pages.ok()) {
      Problem(name + ": Belegungstabelle unlesbar: " + pages.status().message());
      return;
    }
    std::set<std::uint32_t> own(pages->begin(), pages->end());
    for (std::uint32_t p : *pages) {
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
    auto free_pages = ReadUsageMap(store_, t.free_map);
    if (!free_pages.ok()) {
      Problem(name + ": Freiraumtabelle unlesbar: " + free_pages.status().message());
    } else {
      for (std::uint32_t p : *free_pages) {
        if (!own.count(p)) {
          Problem(name + ": Seite " + std::to_string(p) +
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
      Problem(name + ": Die Definition nennt " + std::to_string(t.row_count) + " Zeilen, es sind " +
              std::to_string(rows.size()) + ".");
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
        Problem(name + ": Seite " + std::to_string(cursor.leaf_page()) +
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
      Problem("Tabelle '" + table_names_[page->owner()] + "': Seite " + std::to_string(p) +
              " mit Zeilen fehlt in ihrer Belegungstabelle.");
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
        Problem("Seite " + std::to_string(p) + " gilt als frei, wird aber von '" + it->second +
                "' benutzt.");
      }
    }
  }

  const Database& db_;
  const PageStore& store_;
  IntegrityScope scope_;
  IntegrityReport report_;
  std::map<std::uint32_t, std::string> claimed_;
  std::map<std::uint32_t, std::set<std::uint32_t>> table_pages_;
  std::map<std::uint32_t, std::string> table_names_;
};

}  // namespace

Result<IntegrityReport> CheckIntegrity(const Database& db, IntegrityScope scope) {
  return Checker(db, scope).Run();
}

}  // namespace jet
