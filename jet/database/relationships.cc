#include "jet/database/relationships.h"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_set>

#include "jet/index/index_key.h"
#include "jet/table/table_scan.h"

namespace jet {
namespace {

constexpr char kRelationshipTable[] = "MSysRelationships";
// A relationship pairs at most as many columns as an index holds.
constexpr std::int32_t kMaxRelationshipColumns = 10;

Status Damaged(const std::string& relationship, const std::string& why) {
  return Status::Corrupt("Beschädigte Datenbank: Die Beziehung '" + relationship + "' " + why +
                         ".");
}

const Value* Field(const TableDef& t, const std::vector<Value>& row, std::string_view name) {
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (NamesEqual(t.columns[i].name, name)) return &row[i];
  }
  return nullptr;
}

std::string TextOf(const Value* v) {
  return v != nullptr && v->is<std::string>() ? v->as<std::string>() : std::string();
}

std::int32_t LongOf(const Value* v) {
  return v != nullptr && v->is<std::int32_t>() ? v->as<std::int32_t>() : -1;
}

// The column numbers of `names` in `t`, in their order; empty when one is missing.
std::vector<std::uint16_t> ColumnNumbers(const TableDef& t, const std::vector<std::string>& names) {
  std::vector<std::uint16_t> numbers;
  for (const std::string& n : names) {
    const Column* c = t.FindColumn(n);
    if (c == nullptr) return {};
    numbers.push_back(c->number);
  }
  return numbers;
}

bool IndexCovers(const TableDef& t, const Index& x, const std::vector<std::uint16_t>& numbers) {
  if (x.real_index >= t.real_indexes.size()) return false;
  const RealIndex& r = t.real_indexes[x.real_index];
  if (r.columns.size() != numbers.size()) return false;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (r.columns[i].column_number != numbers[i]) return false;
  }
  return true;
}

// Ties the relationship to the foreign-key index entries of its tables.
void FindIndexes(const TableDef& primary, const TableDef& related, Relationship& rel) {
  const std::vector<std::uint16_t> related_numbers = ColumnNumbers(related, rel.related_columns);
  const std::vector<std::uint16_t> primary_numbers = ColumnNumbers(primary, rel.primary_columns);
  const Index* on_related = nullptr;
  for (const Index& x : related.indexes) {
    if (x.foreign_reference() && x.rel_table_page == primary.page &&
        x.rel_table_type == kForeignKeyOnRelated && IndexCovers(related, x, related_numbers)) {
      on_related = &x;
      break;
    }
  }
  for (const Index& x : primary.indexes) {
    if (!x.foreign_reference() || x.rel_table_page != related.page ||
        x.rel_table_type != kForeignKeyOnPrimary) {
      continue;
    }
    const bool tied = on_related != nullptr
                          ? x.number == on_related->rel_index && on_related->number == x.rel_index
                          : IndexCovers(primary, x, primary_numbers);
    if (tied) {
      rel.primary_index = x.name;
      break;
    }
  }
  if (on_related != nullptr) rel.related_index = on_related->name;
}

std::string ValueText(const Value& v) {
  if (v.is<std::int32_t>()) return std::to_string(v.as<std::int32_t>());
  if (v.is<std::int16_t>()) return std::to_string(v.as<std::int16_t>());
  if (v.is<std::uint8_t>()) return std::to_string(v.as<std::uint8_t>());
  if (v.is<std::string>()) return "'" + v.as<std::string>() + "'";
  if (v.is<double>()) return std::to_string(v.as<double>());
  if (v.is<Currency>()) return FormatCurrency(v.as<Currency>());
  if (v.is<Guid>()) return FormatGuid(v.as<Guid>());
  return "(Wert)";
}

// The key a row's columns give (as an ascending index over them would hold it), or nothing
// when one of them is Null: such a row refers to nothing and is referred to by nothing.
Result<bool> KeyOf(const TableSet& db, const TableDef& t, const std::vector<std::size_t>& columns,
                   const std::vector<Value>& row, ByteString& key) {
  key.clear();
  for (std::size_t c : columns) {
    if (row[c].is_null()) return false;
    JET_RETURN_IF_ERROR(AppendKeyColumn(t.columns[c], true, row[c], db.header(), key));
  }
  return true;
}

std::vector<std::size_t> Positions(const TableDef& t, const std::vector<std::string>& names) {
  std::vector<std::size_t> positions;
  for (const std::string& n : names) {
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      if (NamesEqual(t.columns[i].name, n)) positions.push_back(i);
    }
  }
  return positions;
}

}  // namespace

Result<std::vector<Relationship>> ReadRelationships(const TableSet& db) {
  std::vector<Relationship> out;
  auto table = db.GetTable(kRelationshipTable);
  if (!table.ok()) {
    if (table.status().code() == ErrorCode::kTableNotFound) return out;
    return table.status();
  }
  const TableDef& t = **table;
  struct Pair {
    std::int32_t position;
    std::string primary;
    std::string related;
  };
  std::map<std::string, std::size_t> by_name;  // relationship name -> position in `out`
  std::vector<std::vector<Pair>> pairs;
  std::vector<std::int32_t> counts;
  TableScan scan(db, t);
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.Next());
    if (!more) break;
    const std::vector<Value>& row = scan.values();
    const std::string name = TextOf(Field(t, row, "szRelationship"));
    auto [it, fresh] = by_name.try_emplace(name, out.size());
    if (fresh) {
      Relationship rel;
      rel.name = name;
      rel.primary_table = TextOf(Field(t, row, "szReferencedObject"));
      rel.related_table = TextOf(Field(t, row, "szObject"));
      rel.flags = static_cast<std::uint32_t>(LongOf(Field(t, row, "grbit")));
      out.push_back(std::move(rel));
      pairs.emplace_back();
      counts.push_back(LongOf(Field(t, row, "ccolumn")));
    }
    pairs[it->second].push_back({LongOf(Field(t, row, "icolumn")),
                                 TextOf(Field(t, row, "szReferencedColumn")),
                                 TextOf(Field(t, row, "szColumn"))});
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    Relationship& rel = out[i];
    std::vector<Pair>& p = pairs[i];
    std::sort(p.begin(), p.end(),
              [](const Pair& a, const Pair& b) { return a.position < b.position; });
    const auto n = static_cast<std::int32_t>(p.size());
    if (counts[i] != n || n > kMaxRelationshipColumns) {
      return Damaged(rel.name, "hat " + std::to_string(n) + " statt " + std::to_string(counts[i]) +
                                   " Spaltenpaare");
    }
    for (std::int32_t k = 0; k < n; ++k) {
      if (p[static_cast<std::size_t>(k)].position != k) {
        return Damaged(rel.name, "hat keine lückenlos nummerierten Spaltenpaare");
      }
      rel.primary_columns.push_back(p[static_cast<std::size_t>(k)].primary);
      rel.related_columns.push_back(p[static_cast<std::size_t>(k)].related);
    }
    auto primary = db.GetTable(rel.primary_table);
    auto related = db.GetTable(rel.related_table);
    if (!primary.ok() || !related.ok()) {
      return Damaged(rel.name, "nennt die Tabelle '" +
                                   (primary.ok() ? rel.related_table : rel.primary_table) +
                                   "', die es nicht gibt");
    }
    for (std::int32_t k = 0; k < n; ++k) {
      const auto at = static_cast<std::size_t>(k);
      if ((*primary)->FindColumn(rel.primary_columns[at]) == nullptr ||
          (*related)->FindColumn(rel.related_columns[at]) == nullptr) {
        return Damaged(rel.name, "nennt eine Spalte, die es nicht gibt ('" +
                                     rel.primary_columns[at] + "' / '" + rel.related_columns[at] +
                                     "')");
      }
    }
    FindIndexes(**primary, **related, rel);
  }
  return out;
}

Status CheckRelationships(const TableSet& db, const std::vector<Relationship>& relationships,
                          std::vector<std::string>& problems) {
  for (const Relationship& rel : relationships) {
    if (!rel.enforced()) continue;
    const std::string named = "Beziehung '" + rel.name + "'";
    if (rel.primary_index.empty() || rel.related_index.empty()) {
      problems.push_back(named + ": Der Fremdschlüsselindex in '" +
                         (rel.related_index.empty() ? rel.related_table : rel.primary_table) +
                         "' fehlt.");
    }
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> primary, db.GetTable(rel.primary_table));
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> related, db.GetTable(rel.related_table));
    const std::vector<std::size_t> primary_columns = Positions(*primary, rel.primary_columns);
    const std::vector<std::size_t> related_columns = Positions(*related, rel.related_columns);
    std::unordered_set<std::string> keys;
    ByteString key;
    TableScan primary_rows(db, *primary);
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, primary_rows.Next());
      if (!more) break;
      JET_ASSIGN_OR_RETURN(bool has_key,
                           KeyOf(db, *primary, primary_columns, primary_rows.values(), key));
      if (has_key) keys.emplace(key.begin(), key.end());
    }
    TableScan related_rows(db, *related);
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, related_rows.Next());
      if (!more) break;
      const std::vector<Value>& row = related_rows.values();
      JET_ASSIGN_OR_RETURN(bool has_key, KeyOf(db, *related, related_columns, row, key));
      if (!has_key || keys.count(std::string(key.begin(), key.end())) != 0) continue;
      std::string values;
      for (std::size_t k = 0; k < related_columns.size(); ++k) {
        if (k > 0) values += ", ";
        values += rel.related_columns[k] + " = " + ValueText(row[related_columns[k]]);
      }
      const RowPointer at = related_rows.position();
      problems.push_back(named + ": Die Zeile auf Seite " + std::to_string(at.page) + ", Nr. " +
                         std::to_string(at.row) + " von '" + rel.related_table + "' (" + values +
                         ") verweist auf keine Zeile von '" + rel.primary_table + "'.");
    }
  }
  return Status::Ok();
}

}  // namespace jet
