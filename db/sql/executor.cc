#include "db/sql/executor.h"

#include <algorithm>
#include <map>
#include <numeric>

#include "db/sql/jet_rules.h"
#include "db/sql/plan.h"
#include "jet/expr/expression.h"

namespace db::sql {
namespace {

bool Matches(const Row& row, const BoundCondition& c) {
  switch (c.parsed->kind) {
    case Condition::Kind::kAnd:
      return Matches(row, *c.left) && Matches(row, *c.right);
    case Condition::Kind::kOr:
      return Matches(row, *c.left) || Matches(row, *c.right);
    case Condition::Kind::kIsNull:
      return row[static_cast<std::size_t>(c.column)].is_null();
    case Condition::Kind::kIsNotNull:
      return !row[static_cast<std::size_t>(c.column)].is_null();
    case Condition::Kind::kCompare:
      return Compare(row[static_cast<std::size_t>(c.column)], c.parsed->op, c.parsed->literal)
          .value_or(false);
    case Condition::Kind::kBetween: {
      const Value& v = row[static_cast<std::size_t>(c.column)];
      const auto versus = [&](const Value& bound) -> std::optional<int> {
        const std::optional<bool> less = Compare(v, CompareOp::kLt, bound);
        if (!less) return std::nullopt;
        return *less ? -1 : *Compare(v, CompareOp::kGt, bound) ? 1 : 0;
      };
      return jet::BetweenBounds(versus(c.parsed->literal), versus(c.parsed->second))
          .value_or(false);
    }
  }
  return false;
}

// The rows the access path reaches, ascending.
std::vector<std::uint32_t> Access(const RowsPlan& plan) {
  TableData& t = *plan.table;
  switch (plan.access.kind) {
    case AccessPath::Kind::kLookup:
      return t.RowsWithKey(plan.access.column, plan.access.key);
    case AccessPath::Kind::kScan: {
      std::vector<std::uint32_t> all(t.rows().size());
      std::iota(all.begin(), all.end(), std::uint32_t{0});
      return all;
    }
    case AccessPath::Kind::kStatistics:
      break;
  }
  return {};
}

// Keeps the rows the whole condition selects.
std::vector<std::uint32_t> Filter(const RowsPlan& plan, std::vector<std::uint32_t> rows) {
  if (!plan.filter) return rows;
  const RowStore& all = plan.table->rows();
  std::erase_if(rows, [&](std::uint32_t r) { return !Matches(all[r], *plan.filter); });
  return rows;
}

// One aggregate over the rows of a group: rows are added in storage order, and of equal maxima
// or minima the first stays.
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

// The values of the group columns of the first row met, and the group's aggregates.
struct Group {
  Row first;
  std::vector<Aggregate> aggregates;
};

Group NewGroup(const SelectPlan& plan, const Row* first) {
  Group g;
  if (first != nullptr) {
    for (int c : plan.group_columns) g.first.push_back((*first)[static_cast<std::size_t>(c)]);
  }
  for (const OutputColumn& o : plan.outputs) {
    if (o.kind != SelectItem::Kind::kColumn)
      g.aggregates.push_back(Aggregate{o.kind, o.column, 0, {}});
  }
  return g;
}

// The groups in the order Jet gives them: by the group columns' values, Null first. Texts Jet
// holds equal fall into one group, named as the first of them met.
std::vector<Group> FormGroups(const SelectPlan& plan, const std::vector<std::uint32_t>& rows) {
  const RowStore& all = plan.rows.table->rows();
  std::map<std::vector<std::string>, std::size_t> index;
  std::vector<Group> groups;
  for (std::uint32_t r : rows) {
    const Row row = all[r];
    std::vector<std::string> key;
    for (int c : plan.group_columns) {
      const Value& v = row[static_cast<std::size_t>(c)];
      key.push_back(v.is_null() ? std::string() : EqualityKey(v));
    }
    auto [it, fresh] = index.try_emplace(std::move(key), groups.size());
    if (fresh) groups.push_back(NewGroup(plan, &row));
    for (Aggregate& a : groups[it->second].aggregates) a.Add(row);
  }
  // Aggregates without GROUP BY give exactly one row, also over no rows.
  if (plan.group_columns.empty() && groups.empty()) groups.push_back(NewGroup(plan, nullptr));
  std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
    for (std::size_t i = 0; i < a.first.size(); ++i) {
      const int c = OrderValues(a.first[i], b.first[i]);
      if (c != 0) return c < 0;
    }
    return false;
  });
  return groups;
}

// One result row a group: aggregates and grouped columns in the select list's order.
std::vector<Row> GroupRows(const SelectPlan& plan, const std::vector<Group>& groups) {
  std::vector<Row> out;
  out.reserve(groups.size());
  for (const Group& g : groups) {
    Row row;
    std::size_t next_aggregate = 0;
    for (const OutputColumn& o : plan.outputs) {
      if (o.kind != SelectItem::Kind::kColumn) {
        row.push_back(g.aggregates[next_aggregate++].Result());
        continue;
      }
      const auto pos = std::find(plan.group_columns.begin(), plan.group_columns.end(), o.column) -
                       plan.group_columns.begin();
      row.push_back(g.first[static_cast<std::size_t>(pos)]);
    }
    out.push_back(std::move(row));
  }
  return out;
}

// COUNT(*), MAX() and MIN() over the whole table, from what the table keeps.
Row StatisticsRow(const SelectPlan& plan) {
  TableData& t = *plan.rows.table;
  Row row;
  for (const OutputColumn& o : plan.outputs) {
    if (o.kind == SelectItem::Kind::kCountStar) {
      row.push_back(Value(static_cast<std::int32_t>(t.rows().size())));
    } else {
      row.push_back(
          t.ExtremeOf(o.column, o.kind == SelectItem::Kind::kMax ? Extreme::kMax : Extreme::kMin));
    }
  }
  return row;
}

// The selected table rows, shown through the result's columns.
void Project(const SelectPlan& plan, const std::vector<std::uint32_t>& rows, ResultSet& result) {
  result.table_rows = plan.rows.table->SharedRows();
  result.selected = rows;
  for (const OutputColumn& o : plan.outputs) result.columns.push_back(o.column);
}

}  // namespace

void ResultSet::KeepOwnRows() {
  if (!table_rows) return;
  // The shown rows, their shown columns only, in a store of their own that the result then
  // shows whole.
  auto own = std::make_shared<RowStore>();
  Row row;
  row.reserve(columns.size());
  for (std::uint32_t shown : selected) {
    row.clear();
    for (int c : columns) row.push_back(table_rows->value(shown, static_cast<std::size_t>(c)));
    own->push_back(row);
  }
  table_rows = std::move(own);
  for (std::size_t i = 0; i < selected.size(); ++i) selected[i] = static_cast<std::uint32_t>(i);
  for (std::size_t c = 0; c < columns.size(); ++c) columns[c] = static_cast<int>(c);
}

std::vector<std::uint32_t> MatchingRows(TableData& table, const Condition* where) {
  const RowsPlan plan = PlanRows(table, where);
  return Filter(plan, Access(plan));
}

ResultSet ExecuteSelect(TableProvider& tables, const SelectStatement& select) {
  const SelectPlan plan = PlanSelect(tables, select);
  ResultSet result;
  result.table = plan.rows.table;
  for (const OutputColumn& o : plan.outputs) result.names.push_back(o.name);
  if (plan.rows.access.kind == AccessPath::Kind::kStatistics) {
    result.rows.push_back(StatisticsRow(plan));
    return result;
  }
  const std::vector<std::uint32_t> rows = Filter(plan.rows, Access(plan.rows));
  if (plan.grouped) {
    result.rows = GroupRows(plan, FormGroups(plan, rows));
  } else {
    Project(plan, rows, result);
  }
  return result;
}

}  // namespace db::sql
