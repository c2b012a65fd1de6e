#include "db/sql/executor.h"

#include <algorithm>
#include <map>

#include "db/error.h"
#include "db/sql/jet_rules.h"

namespace db::sql {
namespace {

// Results with fewer rows are copied: a copy costs less than sharing a table that changes next.
constexpr std::size_t kSharedResultMinimum = 16;
constexpr std::size_t kSharedTableMaximum = 4096;

int RequireColumn(const TableData& t, const std::string& name) {
  const int index = t.ColumnIndex(name);
  if (index < 0) {
    throw DbError(
        ErrorCode::kTooFewParameters,
        "Zu wenige Parameter: Die Tabelle '" + t.def().name + "' hat keine Spalte '" + name + "'.");
  }
  return index;
}

// Checks every column name and literal kind of a condition before any row is read, so that a
// wrong statement fails the same way on an empty table.
void CheckCondition(const TableData& t, const Condition& c) {
  switch (c.kind) {
    case Condition::Kind::kAnd:
    case Condition::Kind::kOr:
      CheckCondition(t, *c.left);
      CheckCondition(t, *c.right);
      return;
    case Condition::Kind::kIsNull:
    case Condition::Kind::kIsNotNull:
      c.bound_column = RequireColumn(t, c.column);
      return;
    case Condition::Kind::kCompare: {
      const int index = RequireColumn(t, c.column);
      c.bound_column = index;
      const jet::ColumnType type = t.def().columns[static_cast<std::size_t>(index)].type();
      const bool text_column = type == jet::ColumnType::kText || type == jet::ColumnType::kMemo;
      const bool binary_column = type == jet::ColumnType::kBinary ||
                                 type == jet::ColumnType::kOle || type == jet::ColumnType::kGuid;
      if (binary_column || text_column != IsText(c.literal)) {
        throw DbError(ErrorCode::kCriteriaTypeMismatch,
                      "Datentypen im Kriterienausdruck unverträglich (Spalte '" + c.column + "').");
      }
      return;
    }
  }
}

bool Matches(const TableData& t, const Row& row, const Condition& c) {
  switch (c.kind) {
    case Condition::Kind::kAnd:
      return Matches(t, row, *c.left) && Matches(t, row, *c.right);
    case Condition::Kind::kOr:
      return Matches(t, row, *c.left) || Matches(t, row, *c.right);
    case Condition::Kind::kIsNull:
      return row[static_cast<std::size_t>(c.bound_column)].is_null();
    case Condition::Kind::kIsNotNull:
      return !row[static_cast<std::size_t>(c.bound_column)].is_null();
    case Condition::Kind::kCompare: {
      const Value& v = row[static_cast<std::size_t>(c.bound_column)];
      return Compare(v, c.op, c.literal).value_or(false);
    }
  }
  return false;
}

// The equalities on a column that every selected row must satisfy (top-level AND terms), usable
// for a look-up instead of a scan.
void FindEqualities(const Condition& c, std::vector<const Condition*>& out) {
  if (c.kind == Condition::Kind::kCompare && c.op == CompareOp::kEq) {
    out.push_back(&c);
  } else if (c.kind == Condition::Kind::kAnd) {
    FindEqualities(*c.left, out);
    FindEqualities(*c.right, out);
  }
}

struct Aggregate {
  SelectItem::Kind kind;
  int column = -1;
  std::int32_t count = 0;
  Value best;
  void Add(const Row& row) {
    if (kind == SelectItem::Kind::kCountStar) {
      ++count;
      return;
    }
    const Value& v = row[static_cast<std::size_t>(column)];
    if (v.is_null()) return;
    if (kind == SelectItem::Kind::kCount) {
      ++count;
    } else if (best.is_null() || (kind == SelectItem::Kind::kMax ? OrderValues(v, best) > 0
                                                                 : OrderValues(v, best) < 0)) {
      best = v;
    }
  }
  Value Result() const {
    if (kind == SelectItem::Kind::kCountStar || kind == SelectItem::Kind::kCount) {
      return Value(count);
    }
    return best;
  }
};

}  // namespace

std::vector<std::uint32_t> MatchingRows(TableData& t, const Condition* where) {
  std::vector<std::uint32_t> out;
  if (where == nullptr) {
    out.resize(t.rows().size());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint32_t>(i);
    return out;
  }
  CheckCondition(t, *where);
  std::vector<const Condition*> equalities;
  FindEqualities(*where, equalities);
  if (!equalities.empty()) {
    // The look-up with the fewest candidates; the whole condition decides on each of them.
    const std::vector<std::uint32_t>* fewest = nullptr;
    for (const Condition* eq : equalities) {
      const auto& candidates = t.RowsWithKey(eq->bound_column, EqualityKey(eq->literal));
      if (fewest == nullptr || candidates.size() < fewest->size()) fewest = &candidates;
    }
    for (std::uint32_t r : *fewest) {
      if (Matches(t, t.rows()[r], *where)) out.push_back(r);
    }
    return out;
  }
  for (std::size_t r = 0; r < t.rows().size(); ++r) {
    if (Matches(t, t.rows()[r], *where)) out.push_back(static_cast<std::uint32_t>(r));
  }
  return out;
}

ResultSet ExecuteSelect(TableProvider& tables, const SelectStatement& s) {
  TableData& t = tables.Table(s.table);
  ResultSet result;
  result.table = &t;
  const auto& columns = t.def().columns;

  // Resolve the select list.
  std::vector<int> item_columns;
  bool any_aggregate = false;
  int expr_number = 1000;
  for (const SelectItem& item : s.items) {
    if (item.kind == SelectItem::Kind::kStar) {
      if (!s.group_by.empty()) {
        throw DbError(ErrorCode::kNotInAggregate,
                      "Mit '*' ausgewählte Felder können nicht gruppiert werden.");
      }
      for (std::size_t i = 0; i < columns.size(); ++i) {
        item_columns.push_back(static_cast<int>(i));
        result.names.push_back(columns[i].name);
      }
      continue;
    }
    const int col = item.kind == SelectItem::Kind::kCountStar ? -1 : RequireColumn(t, item.column);
    item_columns.push_back(col);
    any_aggregate = any_aggregate || item.aggregate();
    if (!item.alias.empty()) {
      result.names.push_back(item.alias);
    } else if (item.aggregate()) {
      result.names.push_back("Expr" + std::to_string(expr_number++));
    } else {
      result.names.push_back(columns[static_cast<std::size_t>(col)].name);
    }
  }
  std::vector<int> group_columns;
  for (const std::string& g : s.group_by) group_columns.push_back(RequireColumn(t, g));
  if (any_aggregate || !group_columns.empty()) {
    for (std::size_t i = 0; i < s.items.size(); ++i) {
      const SelectItem& item = s.items[i];
      if (item.aggregate()) continue;
      if (std::find(group_columns.begin(), group_columns.end(), item_columns[i]) ==
          group_columns.end()) {
        throw DbError(ErrorCode::kNotInAggregate,
                      "Die Abfrage enthält '" + item.column +
                          "' weder in einer Aggregatfunktion noch in GROUP BY.");
      }
    }
  }

  // Max over a whole table (the key read-back after every insert) without a scan.
  if (s.where == nullptr && group_columns.empty() && s.items.size() == 1 &&
      s.items[0].kind == SelectItem::Kind::kMax) {
    result.rows.push_back({t.MaxOf(item_columns[0])});
    return result;
  }

  const std::vector<std::uint32_t> selected = MatchingRows(t, s.where.get());

  if (!any_aggregate && group_columns.empty()) {
    // Every column in the table's order: the table's rows can serve as they are. Shared when the
    // result holds at least a quarter of a small table (one read again and again, as the add-ons
    // are for every product); a table changed later copies its rows once. Results from large
    // tables are copied: kept next to each other, they do not hold on to the memory of the rows
    // the table lets go of.
    bool whole_rows = item_columns.size() == columns.size();
    for (std::size_t i = 0; whole_rows && i < item_columns.size(); ++i) {
      whole_rows = item_columns[i] == static_cast<int>(i);
    }
    if (whole_rows && selected.size() >= kSharedResultMinimum &&
        selected.size() * 4 >= t.rows().size() && t.rows().size() <= kSharedTableMaximum) {
      result.table_rows = t.SharedRows();
      result.selected = selected;
      return result;
    }
    result.rows.reserve(selected.size());
    for (std::uint32_t r : selected) {
      const Row& row = t.rows()[r];
      Row out;
      out.reserve(item_columns.size());
      for (int c : item_columns) out.push_back(row[static_cast<std::size_t>(c)]);
      result.rows.push_back(std::move(out));
    }
    return result;
  }

  // Groups: keyed by the equality keys of the group columns; each keeps the values met first.
  struct Group {
    Row first;  // the group columns' values of the first row met
    std::vector<Aggregate> aggregates;
  };
  auto make_aggregates = [&] {
    std::vector<Aggregate> a;
    for (std::size_t i = 0; i < s.items.size(); ++i) {
      if (s.items[i].aggregate()) a.push_back(Aggregate{s.items[i].kind, item_columns[i], 0, {}});
    }
    return a;
  };
  std::map<std::vector<std::string>, Group> groups;
  std::vector<Group*> order;
  for (std::uint32_t r : selected) {
    const Row& row = t.rows()[r];
    std::vector<std::string> key;
    for (int c : group_columns) {
      const Value& v = row[static_cast<std::size_t>(c)];
      key.push_back(v.is_null() ? std::string() : EqualityKey(v));
    }
    auto [it, fresh] = groups.try_emplace(std::move(key));
    if (fresh) {
      for (int c : group_columns) it->second.first.push_back(row[static_cast<std::size_t>(c)]);
      it->second.aggregates = make_aggregates();
      order.push_back(&it->second);
    }
    for (Aggregate& a : it->second.aggregates) a.Add(row);
  }
  if (group_columns.empty() && order.empty()) {
    // Aggregates without GROUP BY give exactly one row, also over no rows.
    auto [it, fresh] = groups.try_emplace({});
    it->second.aggregates = make_aggregates();
    order.push_back(&it->second);
  }
  std::stable_sort(order.begin(), order.end(), [](const Group* a, const Group* b) {
    for (std::size_t i = 0; i < a->first.size(); ++i) {
      const int c = OrderValues(a->first[i], b->first[i]);
      if (c != 0) return c < 0;
    }
    return false;
  });
  for (const Group* g : order) {
    Row out;
    std::size_t next_aggregate = 0;
    for (std::size_t i = 0; i < s.items.size(); ++i) {
      if (s.items[i].aggregate()) {
        out.push_back(g->aggregates[next_aggregate++].Result());
      } else {
        const auto pos = std::find(group_columns.begin(), group_columns.end(), item_columns[i]) -
                         group_columns.begin();
        out.push_back(g->first[static_cast<std::size_t>(pos)]);
      }
    }
    result.rows.push_back(std::move(out));
  }
  return result;
}

}  // namespace db::sql
