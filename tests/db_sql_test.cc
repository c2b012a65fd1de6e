// The Jet SQL subset: parsing, Jet's comparison rules and the queries the import runs, checked
// on the sample databases against what their CSV exports say.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "db/error.h"
#include "db/sql/executor.h"
#include "db/sql/jet_rules.h"
#include "db/sql/parser.h"
#include "jet/database/database.h"
#include "jet/expr/expression.h"
#include "jet/text/text_compare.h"
#include "tests/db_test_util.h"
#include "tests/fixtures.h"

namespace {

using db::DbError;
using db::Value;
using namespace db::sql;

using testing_support::ErrorOf;

TEST(SqlParser, AcceptsTheSubsetInAnyLetterCase) {
  auto s = Parse("select Count(*) As TotalProdukte from ArtikelStamm");
  auto& sel = std::get<SelectStatement>(s);
  ASSERT_EQ(sel.items.size(), 1u);
  EXPECT_EQ(sel.items[0].kind, SelectItem::Kind::kCountStar);
  EXPECT_EQ(sel.items[0].alias, "TotalProdukte");
  EXPECT_EQ(sel.table, "ArtikelStamm");

  auto w = Parse("SELECT * FROM ArtikelStamm WHERE Gruppe = 'Chef''s Specials' AND ID >= -3");
  auto& where = *std::get<SelectStatement>(w).where;
  ASSERT_EQ(where.kind, Condition::Kind::kAnd);
  EXPECT_EQ(where.left->literal, Value(std::string("Chef's Specials")));
  EXPECT_EQ(where.right->literal, Value(std::int32_t{-3}));
  EXPECT_EQ(where.right->op, CompareOp::kGe);

  auto d = Parse("DELETE * FROM tbl_Verwaltung_Produkte");
  EXPECT_EQ(std::get<DeleteStatement>(d).table, "tbl_Verwaltung_Produkte");
  auto d2 = Parse("delete from [tbl x] where a is not null or (b = 1.5 and c is null);");
  EXPECT_EQ(std::get<DeleteStatement>(d2).table, "tbl x");
  EXPECT_EQ(std::get<DeleteStatement>(d2).where->kind, Condition::Kind::kOr);

  auto g = Parse("SELECT Gruppe, max(ID) AS m FROM ArtikelStamm GROUP BY Gruppe, Einheit");
  EXPECT_EQ(std::get<SelectStatement>(g).group_by.size(), 2u);
}

TEST(SqlParser, RefusesWhatLiesOutsideTheSubset) {
  EXPECT_EQ(ErrorOf([] { Parse("UPDATE t SET a = 1"); }), 3129);
  EXPECT_EQ(ErrorOf([] { Parse(""); }), 3129);
  for (const char* sql : {
           "SELECT * FROM a, b",
           "SELECT * FROM a INNER JOIN b ON a.x = b.x",
           "SELECT * FROM t ORDER BY x",
           "SELECT DISTINCT x FROM t",
           "SELECT * FROM t WHERE x = 'open",
           "SELECT * FROM t WHERE x = y",
           "SELECT * FROM t WHERE NOT x = 1",
           "SELECT * FROM t WHERE x = NULL",
           "SELECT sum(x) FROM t",
           "SELECT * FROM t WHERE x LIKE 'a*'",
           "SELECT * FROM t x",
           "SELECT FROM t",
           "SELECT * FROM [t",
           "SELECT * FROM t WHERE x = 12abc",
           "SELECT * FROM t.u",
       }) {
    EXPECT_EQ(ErrorOf([&] { Parse(sql); }), 3075) << sql;
  }
}

TEST(SqlParser, TheStatementCacheParsesATextOnceAndKeepsNoFailures) {
  StatementCache cache;
  const auto first = cache.Get("SELECT max(lng_ID) AS lng_LastID FROM t");
  EXPECT_EQ(cache.Get("SELECT max(lng_ID) AS lng_LastID FROM t"), first);
  // A failing text fails again, with its number, every time.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ErrorOf([&] { cache.Get("SELECT * FROM t WHERE x = 'open"); }), 3075);
  }
  // Past its size it starts over: every text still gives its own statement.
  for (int i = 0; i < 200; ++i) {
    const std::string sql = "SELECT * FROM t WHERE x = " + std::to_string(i);
    const auto& select = std::get<SelectStatement>(*cache.Get(sql));
    ASSERT_TRUE(select.where) << sql;
  }
  const auto again = cache.Get("SELECT max(lng_ID) AS lng_LastID FROM t");
  EXPECT_EQ(std::get<SelectStatement>(*again).items.size(), 1u);
}

TEST(JetRules, TextEquality) {
  const Value salate(std::string("Salate"));
  EXPECT_TRUE(*Compare(salate, CompareOp::kEq, Value(std::string("salate"))));
  EXPECT_TRUE(
      *Compare(Value(std::string("Salate ")), CompareOp::kEq, Value(std::string("SALATE"))));
  EXPECT_FALSE(
      *Compare(Value(std::string("Saláte")), CompareOp::kEq, Value(std::string("salate"))));
  EXPECT_FALSE(*Compare(Value(std::string(" Salate")), CompareOp::kEq, salate));
  EXPECT_TRUE(*Compare(Value(std::string("SÜSSSPEISEN")), CompareOp::kNe,
                       Value(std::string("Süßspeisen"))));
  EXPECT_TRUE(*Compare(Value(std::string("ÄRGER")), CompareOp::kEq, Value(std::string("ärger"))));
}

TEST(JetRules, NullComparesToNothing) {
  EXPECT_FALSE(Compare(Value(), CompareOp::kEq, Value()).has_value());
  EXPECT_FALSE(Compare(Value(), CompareOp::kEq, Value(std::string())).has_value());
  EXPECT_FALSE(Compare(Value(std::int32_t{1}), CompareOp::kNe, Value()).has_value());
  EXPECT_TRUE(EqualityKey(Value()).empty());
}

TEST(JetRules, NumbersCompareByValue) {
  EXPECT_TRUE(*Compare(Value(std::int16_t{5}), CompareOp::kEq, Value(std::int32_t{5})));
  EXPECT_TRUE(*Compare(Value(jet::Currency{49000}), CompareOp::kEq, Value(4.9)));
  EXPECT_TRUE(*Compare(Value(std::uint8_t{200}), CompareOp::kGt, Value(std::int32_t{-1})));
  EXPECT_TRUE(*Compare(Value(true), CompareOp::kEq, Value(std::int32_t{-1})));
  EXPECT_EQ(EqualityKey(Value(std::int16_t{7})), EqualityKey(Value(7.0)));
  EXPECT_EQ(EqualityKey(Value(-0.0)), EqualityKey(Value(std::int32_t{0})));
}

TEST(JetRules, TextAgainstNumberIsAMismatch) {
  EXPECT_EQ(ErrorOf([] {
              (void)Compare(Value(std::string("1")), CompareOp::kEq, Value(std::int32_t{1}));
            }),
            3464);
}

TEST(JetRules, TextOrdering) {
  auto less = [](const char* a, const char* b) {
    return OrderValues(Value(std::string(a)), Value(std::string(b))) < 0;
  };
  EXPECT_TRUE(less("Suppen", "Süßspeisen"));
  EXPECT_TRUE(less("Apfel", "äpfel"));  // same letters: the accent decides
  EXPECT_TRUE(less("äpfel", "Birne"));  // accents only matter after the letters
  EXPECT_TRUE(less("", "a"));
  EXPECT_TRUE(OrderValues(Value(), Value(std::string())) < 0);
  EXPECT_TRUE(OrderValues(Value(std::int32_t{3}), Value(std::int32_t{10})) < 0);
}

class SourceQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = jet::Database::Open(testing_support::Fixture("source.mdb"));
    ASSERT_TRUE(opened.ok()) << opened.status().ToString();
    db_ = std::move(*opened);
    tables_ = std::make_unique<DatabaseTables>(*db_);
  }
  ResultSet Select(const std::string& sql) {
    auto s = Parse(sql);
    return ExecuteSelect(*tables_, std::get<SelectStatement>(s));
  }
  std::unique_ptr<jet::Database> db_;
  std::unique_ptr<DatabaseTables> tables_;
};

TEST_F(SourceQueries, CountsGiveOneRowAlsoForNoRows) {
  auto all = Select("SELECT Count(*) As TotalProdukte FROM ArtikelStamm");
  ASSERT_EQ(all.rows.size(), 1u);
  EXPECT_EQ(all.names, std::vector<std::string>{"TotalProdukte"});
  EXPECT_EQ(all.rows[0][0], Value(std::int32_t{249}));
  auto none =
      Select("SELECT Count(*) AS n, max(ID) AS m FROM ArtikelStamm WHERE Gruppe = 'Gibt es nicht'");
  ASSERT_EQ(none.rows.size(), 1u);
  EXPECT_EQ(none.rows[0][0], Value(std::int32_t{0}));
  EXPECT_TRUE(none.rows[0][1].is_null());
  auto unnamed = Select("SELECT max(ID) FROM ArtikelZusatzStamm");
  EXPECT_EQ(unnamed.names, std::vector<std::string>{"Expr1000"});
  EXPECT_EQ(unnamed.rows[0][0], Value(std::int32_t{25}));
}

TEST_F(SourceQueries, GroupsFoldLetterCaseAndComeInSortOrderWithNullFirst) {
  auto groups = Select("SELECT Gruppe FROM ArtikelStamm GROUP BY Gruppe");
  std::vector<std::string> names;
  for (const auto& row : groups.rows) {
    names.push_back(row[0].is_null() ? "<Null>" : row[0].as<std::string>());
  }
  // 13 groups under Jet's comparison, plus the Null group; "SALATE" is stored first but
  // "Salate" ... whichever spelling the table meets first names the group.
  ASSERT_EQ(names.size(), 14u);
  EXPECT_EQ(names[0], "<Null>");
  EXPECT_EQ(names[1], "");
  const std::vector<std::string> expected_rest = {
      "Beilagen",       "Fisch",      "Fleischgerichte",     "Heiße Getränke",
      "Kalte Getränke", "Pasta",      "Pizza & Flammkuchen", "Salate",
      "Suppen",         "Süßspeisen", "Vorspeisen",          "Weine & Spirituosen"};
  std::vector<std::string> rest(names.begin() + 2, names.end());
  ASSERT_EQ(rest.size(), expected_rest.size());
  for (std::size_t i = 0; i < rest.size(); ++i) {
    EXPECT_EQ(jet::TextEqualityKey(rest[i]), jet::TextEqualityKey(expected_rest[i])) << i;
  }
}

TEST_F(SourceQueries, GroupSelectionFindsEveryCaseButNoOtherAccent) {
  auto salate = Select("SELECT * FROM ArtikelStamm WHERE Gruppe = 'salate'");
  EXPECT_EQ(salate.size(), 23u);  // 20 "Salate" and 3 "SALATE"
  EXPECT_EQ(salate.names.size(), 20u);
  auto empty = Select("SELECT * FROM ArtikelStamm WHERE Gruppe = ''");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty.value(0, 0), Value(std::int32_t{98}));
  auto null_group = Select("SELECT ID FROM ArtikelStamm WHERE Gruppe IS NULL");
  ASSERT_EQ(null_group.size(), 1u);
  EXPECT_EQ(null_group.value(0, 0), Value(std::int32_t{59}));
  auto either = Select("SELECT ID FROM ArtikelStamm WHERE Gruppe = '' OR Gruppe IS NULL");
  EXPECT_EQ(either.size(), 2u);
  auto pasta = Select(
      "SELECT ID, Bezeichnung FROM ArtikelStamm WHERE Gruppe = 'Pasta' AND Kurzzeichen = 'PA01'");
  ASSERT_EQ(pasta.size(), 2u);  // storage order: ID 51 before ID 84
  EXPECT_EQ(pasta.value(0, 0), Value(std::int32_t{51}));
  EXPECT_EQ(pasta.value(1, 0), Value(std::int32_t{84}));
}

TEST_F(SourceQueries, LookupsAgreeWithAFullScan) {
  auto all = Select("SELECT ID, Gruppe, Kurzzeichen FROM ArtikelStamm");
  std::map<std::string, int> per_group;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Value& group = all.value(i, 1);
    if (!group.is_null()) ++per_group[jet::TextEqualityKey(group.as<std::string>())];
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Value& group = all.value(i, 1);
    if (group.is_null()) continue;
    std::string name = group.as<std::string>();
    std::string quoted;
    for (char c : name) {
      quoted += c;
      if (c == '\'') quoted += c;
    }
    auto rs = Select("SELECT ID FROM ArtikelStamm WHERE Gruppe = '" + quoted + "'");
    EXPECT_EQ(static_cast<int>(rs.size()), per_group[jet::TextEqualityKey(name)]) << name;
  }
}

TEST_F(SourceQueries, BetweenTakesItsBoundsInEitherOrder) {
  const auto ids = [&](const std::string& where) {
    std::vector<Value> out;
    const auto rs = Select("SELECT ID FROM ArtikelStamm WHERE " + where);
    for (std::size_t i = 0; i < rs.size(); ++i) out.push_back(rs.value(i, 0));
    return out;
  };
  const auto numbers = ids("ID >= 10 AND ID <= 20");
  EXPECT_EQ(numbers.size(), 11u);
  EXPECT_EQ(ids("ID BETWEEN 10 AND 20"), numbers);
  EXPECT_EQ(ids("ID BETWEEN 20 AND 10"), numbers);
  EXPECT_EQ(ids("ID between 20.5 and 9.5"), numbers);
  const auto texts = ids("Gruppe >= 'pasta' AND Gruppe <= 'SALATE'");
  EXPECT_FALSE(texts.empty());
  EXPECT_EQ(ids("Gruppe BETWEEN 'Salate' AND 'Pasta'"), texts);  // Null groups: never between
  EXPECT_EQ(ids("ID BETWEEN 7 AND 7"), ids("ID = 7"));
  EXPECT_EQ(ErrorOf([&] { Select("SELECT * FROM ArtikelStamm WHERE ID BETWEEN 1 AND 'x'"); }),
            3464);
  EXPECT_EQ(ErrorOf([&] { Select("SELECT * FROM ArtikelStamm WHERE ID BETWEEN 1 OR 2"); }), 3075);
}

TEST_F(SourceQueries, WrongNamesAndKindsFail) {
  EXPECT_EQ(ErrorOf([&] { Select("SELECT * FROM Nirgends"); }), 3078);
  EXPECT_EQ(ErrorOf([&] { Select("SELECT Nichts FROM ArtikelStamm"); }), 3061);
  EXPECT_EQ(ErrorOf([&] { Select("SELECT * FROM ArtikelStamm WHERE Nichts = 1"); }), 3061);
  EXPECT_EQ(ErrorOf([&] { Select("SELECT * FROM ArtikelStamm WHERE Gruppe = 1"); }), 3464);
  EXPECT_EQ(ErrorOf([&] { Select("SELECT * FROM ArtikelStamm WHERE ID = '1'"); }), 3464);
  EXPECT_EQ(ErrorOf([&] { Select("SELECT Gruppe, ID FROM ArtikelStamm GROUP BY Gruppe"); }), 3122);
  EXPECT_EQ(ErrorOf([&] { Select("SELECT * FROM ArtikelStamm GROUP BY Gruppe"); }), 3122);
  // Names are matched without regard to letter case, umlauts included.
  EXPECT_NO_THROW(Select("select bestandesänderung from artikelstamm where BESTANDESÄNDERUNG > 0"));
}

}  // namespace
