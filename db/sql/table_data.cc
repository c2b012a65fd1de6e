#include "db/sql/table_data.h"

#include <algorithm>
#include <iterator>

#include "db/error.h"
#include "db/sql/jet_rules.h"
#include "jet/table/table_scan.h"
#include "jet/text/unicode.h"

namespace db::sql {
namespace {

[[noreturn]] void Throw(const jet::Status& s) { throw DbError(s.code(), s.message()); }

// Whether `v` replaces `best` as the maximum or minimum: only a value that orders strictly
// beyond it, so that of equal values the first met stays.
bool Beats(const Value& v, const Value& best, Extreme which) {
  if (v.is_null()) return false;
  if (best.is_null()) return true;
  const int order = OrderValues(v, best);
  return which == Extreme::kMax ? order > 0 : order < 0;
}

}  // namespace

TableData::TableData(const jet::Database& db, std::shared_ptr<const jet::TableDef> def)
    : db_(&db), def_(std::move(def)) {
  for (const jet::Column& c : def_->columns) folded_names_.push_back(jet::FoldCase(c.name));
  Load();
}

void TableData::Load() const {
  if (loaded_) return;
  auto rows = std::make_shared<RowStore>();
  places_.clear();
  jet::TableScan scan(*db_, *def_);
  while (true) {
    auto more = scan.Next();
    if (!more.ok()) Throw(more.status());
    if (!*more) break;
    rows->push_back(scan.values());
    places_.push_back(scan.position());
  }
  rows_ = std::move(rows);
  loaded_ = true;
}

const RowRules& TableData::rules() {
  if (!have_rules_) {
    rules_ = RulesOf(*def_);
    have_rules_ = true;
  }
  return rules_;
}

void TableData::NewRow(Row& row) {
  if (!have_defaults_) {
    const auto& columns = def_->columns;
    std::vector<Value> defaults;
    std::vector<std::shared_ptr<const jet::Expression>> varying(columns.size());
    defaults.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      auto expression = ParseDefault(*def_, columns[i]);
      defaults.push_back(expression ? EvaluateDefault(*def_, columns[i], *expression) : Value());
      if (expression && expression->varies()) varying[i] = std::move(expression);
    }
    defaults_ = std::move(defaults);
    varying_defaults_ = std::move(varying);
    have_defaults_ = true;
  }
  row = defaults_;  // into the room the row has
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (varying_defaults_[i]) {
      row[i] = EvaluateDefault(*def_, def_->columns[i], *varying_defaults_[i]);
    }
  }
}

const Value& TableData::ExtremeOf(int column, Extreme which) {
  Load();
  appends_since_read_ = 0;
  auto [it, fresh] = extremes_.try_emplace({column, which});
  if (fresh) {
    for (std::size_t r = 0; r < rows_->size(); ++r) {
      Value v = rows_->value(r, static_cast<std::size_t>(column));
      if (Beats(v, it->second, which)) it->second = std::move(v);
    }
  }
  return it->second;
}

void TableData::Release() {
  rows_ = std::make_shared<RowStore>();
  std::vector<jet::RowPointer>().swap(places_);
  maps_.clear();
  extremes_.clear();
  loaded_ = false;
  appends_since_read_ = 0;
}

void TableData::Append(const Row& row, jet::RowPointer place) {
  if (!loaded_) return;  // read again, with this row, when next needed
  if (++appends_since_read_ > kAppendsBeforeRelease) {
    Release();
    return;
  }
  // Added behind the rows results may share, which stay where they are.
  RowStore& rows = *rows_;
  const auto position = static_cast<std::uint32_t>(rows.size());
  for (auto& [key, best] : extremes_) {
    const Value& v = row[static_cast<std::size_t>(key.first)];
    if (Beats(v, best, key.second)) best = v;
  }
  for (auto& [column, map] : maps_) {
    const Value& v = row[static_cast<std::size_t>(column)];
    if (v.is_null() || (!IsText(v) && !IsNumeric(v))) continue;
    map[EqualityKey(v)].push_back(position);
  }
  rows.push_back(row);
  places_.push_back(place);
}

void TableData::Remove(const std::vector<std::uint32_t>& positions) {
  if (positions.empty()) return;
  Load();
  ForgetExtremesOf(positions);
  const RowStore& old_rows = *rows_;
  auto rows = std::make_shared<RowStore>();
  std::vector<jet::RowPointer> places;
  std::size_t next = 0;
  for (std::size_t i = 0; i < old_rows.size(); ++i) {
    if (next < positions.size() && positions[next] == i) {
      ++next;
      continue;
    }
    rows->AppendFrom(old_rows, i);
    places.push_back(places_[i]);
  }
  rows_ = std::move(rows);
  places_ = std::move(places);
  maps_.clear();  // positions moved: the look-up maps are built again on demand
}

void TableData::ForgetExtremesOf(const std::vector<std::uint32_t>& positions) {
  // A maximum or minimum stays unless a row that goes holds it (or a value ordered equal to it,
  // which may have been met first); such a one is found again on demand.
  for (auto it = extremes_.begin(); it != extremes_.end();) {
    const auto column = static_cast<std::size_t>(it->first.first);
    const bool held = !it->second.is_null() &&
                      std::any_of(positions.begin(), positions.end(), [&](std::uint32_t r) {
                        const Value v = rows_->value(r, column);
                        return !v.is_null() && OrderValues(v, it->second) == 0;
                      });
    it = held ? extremes_.erase(it) : std::next(it);
  }
}

int TableData::ColumnIndex(std::string_view name) const {
  const std::string folded = jet::FoldCase(name);
  for (std::size_t i = 0; i < folded_names_.size(); ++i) {
    if (folded_names_[i] == folded) return static_cast<int>(i);
  }
  return -1;
}

const std::vector<std::uint32_t>& TableData::RowsWithKey(int column, const std::string& key) {
  static const std::vector<std::uint32_t> kNone;
  Load();
  appends_since_read_ = 0;
  auto [it, fresh] = maps_.try_emplace(column);
  auto& map = it->second;
  if (fresh) {
    for (std::size_t r = 0; r < rows_->size(); ++r) {
      const Value v = rows_->value(r, static_cast<std::size_t>(column));
      if (v.is_null() || (!IsText(v) && !IsNumeric(v))) continue;
      map[EqualityKey(v)].push_back(static_cast<std::uint32_t>(r));
    }
  }
  auto found = map.find(key);
  return found == map.end() ? kNone : found->second;
}

void TableData::Reset(std::shared_ptr<const jet::TableDef> def) {
  def_ = std::move(def);
  Release();
  rules_ = RowRules();
  have_rules_ = false;
  defaults_.clear();
  varying_defaults_.clear();
  have_defaults_ = false;
}

void DatabaseTables::Clear() {
  for (auto& [page, table] : tables_) {
    auto def = db_->GetTable(table->def().name);
    if (def.ok()) {
      table->Reset(*def);
    } else {
      table->Release();  // read again from the definition it has
    }
  }
}

void DatabaseTables::ReleaseRows() {
  for (auto& [page, table] : tables_) table->Release();
}

TableData& DatabaseTables::Table(std::string_view name) {
  // Statements name their tables the same way again and again: found by the name as written
  // before the letter case is folded for the catalog.
  if (auto known = by_name_.find(name); known != by_name_.end()) return *known->second;
  auto def = db_->GetTable(name);
  if (!def.ok()) Throw(def.status());
  auto& slot = tables_[(*def)->page];
  if (!slot) slot = std::make_unique<TableData>(*db_, *def);
  by_name_.emplace(std::string(name), slot.get());
  return *slot;
}

}  // namespace db::sql
