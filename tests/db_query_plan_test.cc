// The plans of the SQL subset: every access path (a look-up in an equality map, the table's kept
// maxima and minima, a scan) gives the rows a plain scan of the table gives, for conditions and
// columns of every kind; the kept maxima and minima follow rows added and removed; results that
// show table rows stay as they were while the table changes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "db/sql/executor.h"
#include "db/sql/jet_rules.h"
#include "db/sql/parser.h"
#include "db/sql/plan.h"
#include "jet/database/database.h"
#include "tests/fixtures.h"

namespace {

using db::Value;
using namespace db::sql;

// What a condition selects in one row, evaluated here by the rules alone, for the scan every
// plan must agree with.
bool Holds(const TableData& t, const Row& row, const Condition& c) {
  switch (c.kind) {
    case Condition::Kind::kAnd:
      return Holds(t, row, *c.left) && Holds(t, row, *c.right);
    case Condition::Kind::kOr:
      return Holds(t, row, *c.left) || Holds(t, row, *c.right);
    default:
      break;
  }
  const Value& v = row[static_cast<std::size_t>(t.ColumnIndex(c.column))];
  if (c.kind == Condition::Kind::kIsNull) return v.is_null();
  if (c.kind == Condition::Kind::kIsNotNull) return !v.is_null();
  return Compare(v, c.op, c.literal).value_or(false);
}

// A literal that stands for `v` in a statement: texts in capitals (Jet compares them without
// letter case), numbers (dates as days, Yes/No as -1/0) with every digit they need.
std::string LiteralFor(const Value& v) {
  if (IsText(v)) {
    std::string out = "'";
    for (char c : v.as<std::string>()) {
      out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
      if (c == '\'') out += c;
    }
    return out + "'";
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17f", db::ToDouble(v));
  return buf;
}

bool Comparable(const Value& v) { return !v.is_null() && (IsText(v) || IsNumeric(v)); }

class QueryPlans : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = jet::Database::Open(testing_support::Fixture("target.mdb"),
                                      {.password = testing_support::kTargetPassword});
    ASSERT_TRUE(opened.ok()) << opened.status().ToString();
    db_ = std::move(*opened);
    tables_ = std::make_unique<DatabaseTables>(*db_);
  }

  // The statement's plan and result, and the rows a scan by the rules selects.
  struct Run {
    AccessPath::Kind access;
    int lookup_column = -1;
    std::vector<std::uint32_t> rows;      // the result's table rows
    std::vector<std::uint32_t> expected;  // the scan's
  };
  Run Select(const std::string& sql) {
    const Statement parsed = Parse(sql);
    const auto& select = std::get<SelectStatement>(parsed);
    const SelectPlan plan = PlanSelect(*tables_, select);
    Run run{plan.rows.access.kind, plan.rows.access.column, {}, {}};
    results_.push_back(ExecuteSelect(*tables_, select));
    const ResultSet& result = results_.back();
    run.rows = result.selected;
    for (std::uint32_t r = 0; r < result.table_rows->size(); ++r) {
      if (!select.where || Holds(*plan.rows.table, (*result.table_rows)[r], *select.where))
        run.expected.push_back(r);
    }
    return run;
  }

  // Each statement takes `access` and selects some rows: those the scan selects.
  void ExpectAccess(AccessPath::Kind access, std::initializer_list<const char*> statements) {
    for (const char* sql : statements) {
      const Run run = Select(sql);
      EXPECT_EQ(run.access, access) << sql;
      EXPECT_EQ(run.rows, run.expected) << sql;
      EXPECT_FALSE(run.rows.empty()) << sql;
    }
  }

  std::unique_ptr<jet::Database> db_;
  std::unique_ptr<DatabaseTables> tables_;
  std::vector<ResultSet> results_;  // kept, so that the rows compared stay
};

constexpr const char* kTables[] = {"tbl_Kunden", "tbl_Verwaltung_Produkte", "tbl_Einstellungen"};

TEST_F(QueryPlans, EveryEqualityLooksUpTheRowsAScanFinds) {
  int lookups = 0;
  for (const char* name : kTables) {
    TableData& t = tables_->Table(name);
    const std::size_t n = t.rows().size();
    ASSERT_GT(n, 2u) << name;
    for (const jet::Column& column : t.def().columns) {
      const auto c = static_cast<std::size_t>(t.ColumnIndex(column.name));
      for (std::size_t r : {std::size_t{0}, n / 2, n - 1}) {
        const Value v = t.rows()[r][c];
        if (!Comparable(v)) continue;
        const std::string sql = std::string("SELECT * FROM ") + name + " WHERE [" + column.name +
                                "] = " + LiteralFor(v);
        const Run run = Select(sql);
        EXPECT_EQ(run.access, AccessPath::Kind::kLookup) << sql;
        EXPECT_EQ(run.rows, run.expected) << sql;
        EXPECT_FALSE(run.rows.empty()) << sql;
        ++lookups;
      }
    }
  }
  EXPECT_GT(lookups, 40);
  // A value no row holds, and an equality the other columns' rows cannot meet.
  EXPECT_TRUE(Select("SELECT * FROM tbl_Kunden WHERE txt_Nachname = 'Niemand'").rows.empty());
  EXPECT_TRUE(Select("SELECT * FROM tbl_Kunden WHERE lng_ID = 0.5").rows.empty());
}

TEST_F(QueryPlans, AndCombinationsLookUpTheFewestRowsAndFilterTheRest) {
  const Run both = Select(
      "SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 1 AND txt_Kurzzeichen = "
      "'p5'");
  EXPECT_EQ(both.access, AccessPath::Kind::kLookup);
  EXPECT_EQ(both.lookup_column,
            tables_->Table("tbl_Verwaltung_Produkte").ColumnIndex("txt_Kurzzeichen"));
  EXPECT_EQ(both.rows, both.expected);
  ASSERT_EQ(both.rows.size(), 1u);

  ExpectAccess(
      AccessPath::Kind::kLookup,
      {
          "SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 3 AND lng_ID > 40",
          "SELECT lng_ID FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 2 AND "
          "(lng_ID < 20 OR dtm_Erstellt IS NULL)",
          "SELECT * FROM tbl_Kunden WHERE dtm_Geburtstag IS NOT NULL AND bln_Stammkunde = -1",
          "SELECT * FROM tbl_Kunden WHERE lng_ID >= 10 AND cur_Umsatz > 1000 AND lng_ID = 12",
      });
}

TEST_F(QueryPlans, ConditionsWithoutARequiredEqualityScan) {
  ExpectAccess(AccessPath::Kind::kScan,
               {
                   "SELECT * FROM tbl_Kunden WHERE lng_ID = 3 OR txt_Nachname = 'HAHN'",
                   "SELECT * FROM tbl_Kunden WHERE lng_ID < 20",
                   "SELECT * FROM tbl_Kunden WHERE txt_Ort <> 'Fürth'",
                   "SELECT * FROM tbl_Kunden WHERE txt_Nachname >= 'm' AND txt_Nachname <= 'S'",
                   "SELECT * FROM tbl_Kunden WHERE dtm_Geburtstag IS NULL",
                   "SELECT * FROM tbl_Kunden WHERE dtm_Geburtstag > 32874.5",
                   "SELECT * FROM tbl_Verwaltung_Produkte WHERE dbl_Rabatt <> 0",
                   "SELECT * FROM tbl_Verwaltung_Produkte",
               });
}

// MAX and MIN of a column by the rules alone: Null when it has none, the first of equals.
Value ScanExtreme(const TableData& t, int column, bool max) {
  Value best;
  for (std::size_t r = 0; r < t.rows().size(); ++r) {
    const Value v = t.rows()[r][static_cast<std::size_t>(column)];
    if (v.is_null()) continue;
    if (best.is_null() || (max ? OrderValues(v, best) > 0 : OrderValues(v, best) < 0)) best = v;
  }
  return best;
}

TEST_F(QueryPlans, WholeTableMaximaAndMinimaAgreeWithAScan) {
  for (const char* name : kTables) {
    TableData& t = tables_->Table(name);
    for (const jet::Column& column : t.def().columns) {
      const int c = t.ColumnIndex(column.name);
      if (!Comparable(ScanExtreme(t, c, true))) continue;
      const std::string items = "COUNT(*), MAX([" + column.name + "]), MIN([" + column.name + "])";
      const std::string whole = "SELECT " + items + " FROM " + name;
      const std::string filtered =
          whole + " WHERE [" + column.name + "] IS NOT NULL OR [" + column.name + "] IS NULL";
      const Statement a = Parse(whole);
      const Statement b = Parse(filtered);
      EXPECT_EQ(PlanSelect(*tables_, std::get<SelectStatement>(a)).rows.access.kind,
                AccessPath::Kind::kStatistics);
      EXPECT_EQ(PlanSelect(*tables_, std::get<SelectStatement>(b)).rows.access.kind,
                AccessPath::Kind::kScan);
      const ResultSet kept = ExecuteSelect(*tables_, std::get<SelectStatement>(a));
      const ResultSet scanned = ExecuteSelect(*tables_, std::get<SelectStatement>(b));
      ASSERT_EQ(kept.rows.size(), 1u);
      EXPECT_EQ(kept.rows, scanned.rows) << whole;
      EXPECT_EQ(kept.rows[0][0], Value(static_cast<std::int32_t>(t.rows().size())));
      EXPECT_EQ(kept.rows[0][1], ScanExtreme(t, c, true)) << whole;
      EXPECT_EQ(kept.rows[0][2], ScanExtreme(t, c, false)) << whole;
    }
  }
}

TEST_F(QueryPlans, KeptMaximaAndMinimaFollowAddedAndRemovedRows) {
  TableData& t = tables_->Table("tbl_Kunden");
  const int id = t.ColumnIndex("lng_ID");
  const int name = t.ColumnIndex("txt_Nachname");
  const int born = t.ColumnIndex("dtm_Geburtstag");
  auto check = [&](const std::string& step) {
    for (int c : {id, name, born}) {
      EXPECT_EQ(t.ExtremeOf(c, Extreme::kMax), ScanExtreme(t, c, true)) << step << " " << c;
      EXPECT_EQ(t.ExtremeOf(c, Extreme::kMin), ScanExtreme(t, c, false)) << step << " " << c;
    }
  };
  check("read");
  Row high = t.rows()[0];
  high[static_cast<std::size_t>(id)] = Value(std::int32_t{5000});
  high[static_cast<std::size_t>(name)] = Value(std::string("Zzz"));
  high[static_cast<std::size_t>(born)] = Value(jet::DateTime{80000.25});
  Row low = high;
  low[static_cast<std::size_t>(id)] = Value(std::int32_t{-5});
  low[static_cast<std::size_t>(name)] = Value(std::string("aaa"));
  low[static_cast<std::size_t>(born)] = Value(jet::DateTime{1.5});
  t.Append(high, t.places()[0]);
  t.Append(low, t.places()[0]);
  check("added");
  // Remove the new extremes, then the rows that held the first ones.
  const auto n = static_cast<std::uint32_t>(t.rows().size());
  t.Remove({n - 2, n - 1});
  check("removed the added rows");
  std::vector<std::uint32_t> holders;
  for (std::uint32_t r = 0; r < t.rows().size(); ++r) {
    for (int c : {id, name, born}) {
      const Value v = t.rows()[r][static_cast<std::size_t>(c)];
      if (!v.is_null() && (OrderValues(v, ScanExtreme(t, c, true)) == 0 ||
                           OrderValues(v, ScanExtreme(t, c, false)) == 0)) {
        holders.push_back(r);
        break;
      }
    }
  }
  ASSERT_GE(holders.size(), 4u);
  t.Remove(holders);
  check("removed the holders");
  std::vector<std::uint32_t> rest(t.rows().size());
  for (std::uint32_t r = 0; r < rest.size(); ++r) rest[r] = r;
  t.Remove(rest);
  EXPECT_TRUE(t.ExtremeOf(id, Extreme::kMax).is_null());
  EXPECT_TRUE(t.ExtremeOf(name, Extreme::kMin).is_null());
}

TEST_F(QueryPlans, ResultsShowTheRowsAsTheyWereWhenTheStatementRan) {
  TableData& t = tables_->Table("tbl_Kunden");
  const Statement parsed = Parse("SELECT txt_Nachname, lng_ID FROM tbl_Kunden WHERE lng_ID < 40");
  ResultSet result = ExecuteSelect(*tables_, std::get<SelectStatement>(parsed));
  std::vector<Row> before;
  for (std::size_t i = 0; i < result.size(); ++i) {
    before.push_back({result.value(i, 0), result.value(i, 1)});
  }
  ASSERT_GE(before.size(), 30u);
  // Many rows added (beyond the point where the table lets go of its rows), some removed.
  const Row model = t.rows()[0];
  for (int i = 0; i < 5000; ++i) t.Append(model, t.places()[0]);
  t.Remove({0, 1, 2});
  auto check = [&](const std::string& step) {
    ASSERT_EQ(result.size(), before.size()) << step;
    for (std::size_t i = 0; i < result.size(); ++i) {
      EXPECT_EQ(result.value(i, 0), before[i][0]) << step;
      EXPECT_EQ(result.value(i, 1), before[i][1]) << step;
    }
  };
  check("table changed");
  // With copies of its own, the result no longer holds on to the table's rows.
  const std::weak_ptr<const RowStore> shown_store = result.table_rows;
  result.KeepOwnRows();
  t.Release();
  EXPECT_TRUE(shown_store.expired());
  check("own rows");
}

}  // namespace
