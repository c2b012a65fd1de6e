#include "db/referential_integrity.h"

#include <algorithm>
#include <deque>
#include <unordered_set>
#include <utility>

#include "db/error.h"
#include "db/sql/jet_rules.h"

namespace db {
namespace {

std::vector<int> ColumnPositions(const sql::TableData& t, const std::vector<std::string>& names) {
  std::vector<int> positions;
  positions.reserve(names.size());
  for (const std::string& n : names) positions.push_back(t.ColumnIndex(n));
  return positions;
}

// The equality keys of a row's columns; false when one of them is Null (or of a kind no
// equality holds for): such a row refers to nothing and nothing refers to it.
bool KeysOf(const sql::Row& row, const std::vector<int>& columns, std::vector<std::string>& keys) {
  keys.clear();
  for (int c : columns) {
    const Value& v = row[static_cast<std::size_t>(c)];
    if (v.is_null() || (!sql::IsText(v) && !sql::IsNumeric(v))) return false;
    keys.push_back(sql::EqualityKey(v));
  }
  return true;
}

// The rows of `t` whose `columns` hold `keys`, ascending.
std::vector<std::uint32_t> RowsWithKeys(sql::TableData& t, const std::vector<int>& columns,
                                        const std::vector<std::string>& keys) {
  const std::vector<std::uint32_t>& candidates = t.RowsWithKey(columns[0], keys[0]);
  if (columns.size() == 1) return candidates;
  std::vector<std::uint32_t> out;
  for (std::uint32_t r : candidates) {
    bool same = true;
    for (std::size_t k = 1; k < columns.size() && same; ++k) {
      const Value v = t.rows().value(r, static_cast<std::size_t>(columns[k]));
      same =
          !v.is_null() && (sql::IsText(v) || sql::IsNumeric(v)) && sql::EqualityKey(v) == keys[k];
    }
    if (same) out.push_back(r);
  }
  return out;
}

}  // namespace

ReferentialIntegrity::ReferentialIntegrity(std::vector<jet::Relationship> relationships)
    : relationships_(std::move(relationships)),
      bound_(relationships_.size()),
      is_bound_(relationships_.size(), false) {}

void ReferentialIntegrity::Forget() {
  for (Bound& b : bound_) {
    b.last_found.clear();
    b.found_numbers.fill(kNoNumber);
  }
}

ReferentialIntegrity::Bound& ReferentialIntegrity::Bind(sql::TableProvider& tables,
                                                        std::size_t index) {
  Bound& b = bound_[index];
  if (is_bound_[index]) return b;
  const jet::Relationship& rel = relationships_[index];
  b.rel = &rel;
  b.primary = &tables.Table(rel.primary_table);
  b.related = &tables.Table(rel.related_table);
  b.primary_columns = ColumnPositions(*b.primary, rel.primary_columns);
  b.related_columns = ColumnPositions(*b.related, rel.related_columns);
  b.found_numbers.fill(kNoNumber);
  is_bound_[index] = true;
  return b;
}

const std::vector<std::size_t>& ReferentialIntegrity::AsRelated(const sql::TableData& table) {
  auto [it, fresh] = as_related_.try_emplace(table.def().page);
  if (fresh) {
    for (std::size_t i = 0; i < relationships_.size(); ++i) {
      const jet::Relationship& rel = relationships_[i];
      if (rel.enforced() && jet::NamesEqual(rel.related_table, table.def().name)) {
        it->second.push_back(i);
      }
    }
  }
  return it->second;
}

const std::vector<std::size_t>& ReferentialIntegrity::AsPrimary(const sql::TableData& table) {
  auto [it, fresh] = as_primary_.try_emplace(table.def().page);
  if (fresh) {
    for (std::size_t i = 0; i < relationships_.size(); ++i) {
      const jet::Relationship& rel = relationships_[i];
      if (rel.enforced() && jet::NamesEqual(rel.primary_table, table.def().name)) {
        it->second.push_back(i);
      }
    }
  }
  return it->second;
}

void ReferentialIntegrity::CheckInsert(sql::TableProvider& tables, sql::TableData& table,
                                       const sql::Row& row) {
  const std::vector<std::size_t>& relationships = AsRelated(table);
  if (relationships.empty()) return;
  std::vector<std::string> keys;
  for (std::size_t i : relationships) {
    Bound& b = Bind(tables, i);
    std::int64_t* slot = nullptr;
    if (b.related_columns.size() == 1) {
      const Value& v = row[static_cast<std::size_t>(b.related_columns[0])];
      if (v.is<std::int32_t>() || v.is<std::int16_t>()) {
        const std::int64_t n = v.is<std::int32_t>() ? v.as<std::int32_t>() : v.as<std::int16_t>();
        slot = &b.found_numbers[static_cast<std::uint64_t>(n) % kFoundSlots];
        if (*slot == n) continue;
      }
    }
    if (!KeysOf(row, b.related_columns, keys)) continue;
    if (keys == b.last_found) continue;
    if (RowsWithKeys(*b.primary, b.primary_columns, keys).empty()) {
      throw DbError(ErrorCode::kRelatedRowRequired,
                    "Sie können keinen Datensatz hinzufügen oder ändern, da ein Datensatz in "
                    "Beziehung in der Tabelle '" +
                        b.primary->def().name + "' benötigt wird.");
    }
    b.last_found = keys;
    if (slot != nullptr) {
      const Value& v = row[static_cast<std::size_t>(b.related_columns[0])];
      *slot = v.is<std::int32_t>() ? v.as<std::int32_t>() : v.as<std::int16_t>();
    }
  }
}

std::vector<std::uint32_t> ReferentialIntegrity::Referring(Bound& b, const sql::Row& row) {
  std::vector<std::string> keys;
  if (!KeysOf(row, b.primary_columns, keys)) return {};
  return RowsWithKeys(*b.related, b.related_columns, keys);
}

std::vector<ReferentialIntegrity::TableChange> ReferentialIntegrity::PlanDelete(
    sql::TableProvider& tables, sql::TableData& table, const std::vector<std::uint32_t>& rows) {
  if (AsPrimary(table).empty()) {
    // Nothing refers to the table's rows: they alone go.
    TableChange alone;
    alone.table = &table;
    alone.deleted = rows;
    std::vector<TableChange> changes;
    changes.push_back(std::move(alone));
    return changes;
  }
  // The rows to delete, per table in the order the tables were met; first those that cascading
  // deletes reach, then what the other relationships say about every row in that set.
  std::vector<sql::TableData*> order = {&table};
  std::unordered_map<sql::TableData*, std::unordered_set<std::uint32_t>> doomed;
  std::deque<std::pair<sql::TableData*, std::uint32_t>> pending;
  doomed[&table].insert(rows.begin(), rows.end());
  for (std::uint32_t r : rows) pending.emplace_back(&table, r);
  while (!pending.empty()) {
    auto [t, r] = pending.front();
    pending.pop_front();
    for (std::size_t i : AsPrimary(*t)) {
      if (!relationships_[i].cascade_deletes()) continue;
      Bound& b = Bind(tables, i);
      for (std::uint32_t c : Referring(b, t->rows()[r])) {
        auto [set, fresh_table] = doomed.try_emplace(b.related);
        if (fresh_table) order.push_back(b.related);
        if (set->second.insert(c).second && !AsPrimary(*b.related).empty()) {
          pending.emplace_back(b.related, c);
        }
      }
    }
  }
  std::unordered_map<sql::TableData*, std::map<std::uint32_t, std::vector<int>>> nulled;
  std::vector<sql::TableData*> only_nulled;
  for (sql::TableData* t : order) {
    for (std::size_t i : AsPrimary(*t)) {
      if (relationships_[i].cascade_deletes()) continue;
      Bound& b = Bind(tables, i);
      const auto deleted_there = doomed.find(b.related);
      for (std::uint32_t r : doomed.at(t)) {
        for (std::uint32_t c : Referring(b, t->rows()[r])) {
          if (deleted_there != doomed.end() && deleted_there->second.count(c) != 0) continue;
          if (!relationships_[i].cascade_null()) {
            throw DbError(ErrorCode::kRelatedRowsExist,
                          "Der Datensatz kann nicht gelöscht oder geändert werden, da die "
                          "Tabelle '" +
                              b.related->def().name +
                              "' in Beziehung stehende Datensätze enthält.");
          }
          auto [entry, fresh_table] = nulled.try_emplace(b.related);
          if (fresh_table && deleted_there == doomed.end()) only_nulled.push_back(b.related);
          std::vector<int>& columns = entry->second[c];
          for (int column : b.related_columns) {
            if (std::find(columns.begin(), columns.end(), column) == columns.end()) {
              columns.push_back(column);
            }
          }
        }
      }
    }
  }
  order.insert(order.end(), only_nulled.begin(), only_nulled.end());
  std::vector<TableChange> changes;
  for (sql::TableData* t : order) {
    TableChange change;
    change.table = t;
    if (auto d = doomed.find(t); d != doomed.end()) {
      change.deleted.assign(d->second.begin(), d->second.end());
      std::sort(change.deleted.begin(), change.deleted.end());
    }
    if (auto n = nulled.find(t); n != nulled.end()) change.nulled = std::move(n->second);
    changes.push_back(std::move(change));
  }
  return changes;
}

}  // namespace db
