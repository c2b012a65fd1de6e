#include "db/sql/plan.h"

#include <algorithm>

#include "db/error.h"
#include "db/sql/jet_rules.h"

namespace db::sql {
namespace {

int RequireColumn(const TableData& t, const std::string& name) {
  const int index = t.ColumnIndex(name);
  if (index < 0) {
    throw DbError(
        ErrorCode::kTooFewParameters,
        "Zu wenige Parameter: Die Tabelle '" + t.def().name + "' hat keine Spalte '" + name + "'.");
  }
  return index;
}

// A comparison's literal must be of the column's kind: text with Text and Memo, a number with the
// others; binary columns compare with nothing.
void CheckLiteralKind(const TableData& t, const Condition& c, const Value& literal, int column) {
  const jet::ColumnType type = t.def().columns[static_cast<std::size_t>(column)].type();
  const bool text_column = type == jet::ColumnType::kText || type == jet::ColumnType::kMemo;
  const bool binary_column = type == jet::ColumnType::kBinary || type == jet::ColumnType::kOle ||
                             type == jet::ColumnType::kGuid;
  if (binary_column || text_column != IsText(literal)) {
    throw DbError(ErrorCode::kCriteriaTypeMismatch,
                  "Datentypen im Kriterienausdruck unverträglich (Spalte '" + c.column + "').");
  }
}

// Finds every column of a condition and checks its literals, so that a wrong statement fails the
// same way on an empty table.
std::unique_ptr<BoundCondition> Bind(const TableData& t, const Condition& c) {
  auto bound = std::make_unique<BoundCondition>();
  bound->parsed = &c;
  switch (c.kind) {
    case Condition::Kind::kAnd:
    case Condition::Kind::kOr:
      bound->left = Bind(t, *c.left);
      bound->right = Bind(t, *c.right);
      break;
    case Condition::Kind::kIsNull:
    case Condition::Kind::kIsNotNull:
      bound->column = RequireColumn(t, c.column);
      break;
    case Condition::Kind::kCompare:
      bound->column = RequireColumn(t, c.column);
      CheckLiteralKind(t, c, c.literal, bound->column);
      break;
    case Condition::Kind::kBetween:
      bound->column = RequireColumn(t, c.column);
      CheckLiteralKind(t, c, c.literal, bound->column);
      CheckLiteralKind(t, c, c.second, bound->column);
      break;
  }
  return bound;
}

// The equalities every selected row satisfies: the comparisons with "=" among the AND terms.
void CollectEqualities(const BoundCondition& c, std::vector<const BoundCondition*>& out) {
  if (c.parsed->kind == Condition::Kind::kCompare && c.parsed->op == CompareOp::kEq) {
    out.push_back(&c);
  } else if (c.parsed->kind == Condition::Kind::kAnd) {
    CollectEqualities(*c.left, out);
    CollectEqualities(*c.right, out);
  }
}

// The look-up with the fewest rows among the condition's equalities; a scan without any.
AccessPath ChooseAccess(TableData& t, const BoundCondition* filter) {
  AccessPath access;
  if (filter == nullptr) return access;
  std::vector<const BoundCondition*> equalities;
  CollectEqualities(*filter, equalities);
  std::size_t fewest = 0;
  for (const BoundCondition* eq : equalities) {
    std::string key = EqualityKey(eq->parsed->literal);
    const std::size_t candidates = t.RowsWithKey(eq->column, key).size();
    if (access.kind == AccessPath::Kind::kScan || candidates < fewest) {
      access = {AccessPath::Kind::kLookup, eq->column, std::move(key)};
      fewest = candidates;
    }
  }
  return access;
}

// The result's columns: `*` as every table column, aggregates named ExprNNNN unless named.
std::vector<OutputColumn> PlanOutputs(const TableData& t, const SelectStatement& s) {
  std::vector<OutputColumn> outputs;
  int expr_number = 1000;
  for (const SelectItem& item : s.items) {
    if (item.kind == SelectItem::Kind::kStar) {
      if (!s.group_by.empty()) {
        throw DbError(ErrorCode::kNotInAggregate,
                      "Mit '*' ausgewählte Felder können nicht gruppiert werden.");
      }
      const auto& columns = t.def().columns;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        outputs.push_back({SelectItem::Kind::kColumn, static_cast<int>(i), columns[i].name});
      }
      continue;
    }
    OutputColumn out{item.kind, -1, item.alias};
    if (item.kind != SelectItem::Kind::kCountStar) out.column = RequireColumn(t, item.column);
    if (out.name.empty()) {
      out.name = item.aggregate() ? "Expr" + std::to_string(expr_number++)
                                  : t.def().columns[static_cast<std::size_t>(out.column)].name;
    }
    outputs.push_back(std::move(out));
  }
  return outputs;
}

// With aggregates or GROUP BY, every other item must be a grouped column.
void CheckGrouping(const SelectStatement& s, const SelectPlan& plan) {
  if (!plan.grouped) return;
  for (std::size_t i = 0; i < s.items.size(); ++i) {
    const SelectItem& item = s.items[i];
    if (item.aggregate()) continue;
    const int column = plan.outputs[i].column;
    if (std::find(plan.group_columns.begin(), plan.group_columns.end(), column) ==
        plan.group_columns.end()) {
      throw DbError(ErrorCode::kNotInAggregate,
                    "Die Abfrage enthält '" + item.column +
                        "' weder in einer Aggregatfunktion noch in GROUP BY.");
    }
  }
}

// COUNT(*), MAX() and MIN() over every row are what the table keeps.
bool AnsweredByStatistics(const SelectPlan& plan) {
  if (!plan.grouped || !plan.group_columns.empty() || plan.rows.filter) return false;
  return std::all_of(plan.outputs.begin(), plan.outputs.end(), [](const OutputColumn& o) {
    return o.kind == SelectItem::Kind::kCountStar || o.kind == SelectItem::Kind::kMax ||
           o.kind == SelectItem::Kind::kMin;
  });
}

}  // namespace

RowsPlan PlanRows(TableData& table, const Condition* where) {
  RowsPlan plan;
  plan.table = &table;
  if (where != nullptr) plan.filter = Bind(table, *where);
  plan.access = ChooseAccess(table, plan.filter.get());
  return plan;
}

SelectPlan PlanSelect(TableProvider& tables, const SelectStatement& s) {
  TableData& t = tables.Table(s.table);
  SelectPlan plan;
  plan.outputs = PlanOutputs(t, s);
  for (const std::string& g : s.group_by) plan.group_columns.push_back(RequireColumn(t, g));
  plan.grouped = !plan.group_columns.empty() ||
                 std::any_of(s.items.begin(), s.items.end(),
                             [](const SelectItem& item) { return item.aggregate(); });
  CheckGrouping(s, plan);
  if (s.where == nullptr) {
    plan.rows.table = &t;
  } else {
    plan.rows = PlanRows(t, s.where.get());
  }
  if (AnsweredByStatistics(plan)) plan.rows.access.kind = AccessPath::Kind::kStatistics;
  return plan;
}

}  // namespace db::sql
