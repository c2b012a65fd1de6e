// Writing through the record objects: AddNew/Update with conversions, defaults and Jet's checks,
// DELETE through Execute, read-your-writes, transactions — on copies of the sample target.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <utility>

#include "db/column_values.h"
#include "db/connection.h"
#include "db/error.h"
#include "db/recordset.h"
#include "jet/base/decimal_convert.h"
#include "jet/database/database.h"
#include "jet/expr/expression.h"
#include "jet/index/index_key.h"
#include "jet/index/index_uniqueness.h"
#include "run/database_state.h"
#include "run/target_layout.h"
#include "tests/db_test_util.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using db::DbError;
using db::Value;

using testing_support::ErrorOf;

class TargetWrites : public ::testing::Test {
 protected:
  void SetUp() override {
    cn_ = std::make_shared<db::Connection>();
    cn_->Open(run::TargetConnectionString(target_.dir().string() + "/"));
  }
  void TearDown() override {
    a_.reset();
    if (cn_->IsOpen()) (void)ErrorOf([&] { cn_->Close(); });
  }
  int Count(const std::string& sql) {
    db::Recordset rs;
    rs.Open(sql, cn_, db::adOpenForwardOnly, db::adLockReadOnly);
    int n = 0;
    for (; !rs.Eof(); rs.MoveNext()) ++n;
    rs.Close();
    return n;
  }
  Value Scalar(const std::string& sql, const std::string& field) {
    db::Recordset rs;
    rs.Open(sql, cn_, db::adOpenDynamic, db::adLockOptimistic);
    Value v = rs.Fields().Item(field).Value();
    rs.Close();
    return v;
  }

  testing_support::TargetCopy target_;
  std::shared_ptr<db::Connection> cn_;
  std::unique_ptr<db::Recordset> a_ = std::make_unique<db::Recordset>();
};

TEST_F(TargetWrites, AddedRowsAreSeenAtOnceWithDefaultsAndConvertedValues) {
  cn_->BeginTrans();
  a_->Open(std::string(run::target::kSelectCategoryPrefix) + "Salate'", cn_, db::adOpenDynamic,
           db::adLockOptimistic);
  EXPECT_TRUE(a_->Eof());
  a_->AddNew();
  EXPECT_EQ(a_->Fields().Item("bln_Aktiv").Value(), Value(true));  // DefaultValue "True"
  a_->Fields().Item("txt_ProduktGruppe").Value(Value(std::string("Salate")));
  a_->Fields().Item("lng_Reihenfolge").Value(Value(std::int16_t{1}));
  a_->Update();
  a_->Close();
  EXPECT_EQ(Scalar(run::target::kSelectCategoryPrefix + std::string("salate'"), "lng_ID"),
            Value(std::int32_t{10}));  // the counter stood at 9
  EXPECT_EQ(Scalar(run::target::kSelectCategoryPrefix + std::string("SALATE'"), "lng_Reihenfolge"),
            Value(std::int32_t{1}));

  a_->Open(run::target::kSelectAllProducts, cn_, db::adOpenDynamic, db::adLockOptimistic);
  a_->AddNew();
  EXPECT_EQ(a_->Fields().Item("dbl_Rabatt").Value(), Value(0.0));  // DefaultValue "0"
  EXPECT_TRUE(a_->Fields().Item("dtm_Erstellt").Value().is_null());
  a_->Fields().Item("lng_ProduktGruppe").Value(Value(std::int32_t{10}));
  a_->Fields().Item("txt_Kurzzeichen").Value(Value(std::string("S1")));
  a_->Fields().Item("txt_Produkt").Value(Value(std::string("Salat Nizza")));
  a_->Fields().Item("txt_Beschreibung").Value(Value(std::string()));
  a_->Fields().Item("txt_Stückelung").Value(Value(std::string("Stk.")));
  a_->Fields().Item("lng_Einheit").Value(Value(std::string("1")));
  a_->Fields().Item("lng_Reihenfolge").Value(Value(std::int16_t{1}));
  a_->Update();
  a_->Close();
  EXPECT_EQ(db::ToInt32(Scalar(run::target::kLastProductKey, "lng_LastID")), 123);
  EXPECT_EQ(Scalar(std::string(run::target::kSelectProductPrefix) + "10" +
                       run::target::kSelectProductMiddle + "S1" + run::target::kSelectProductSuffix,
                   "lng_Einheit"),
            Value(std::int32_t{1}));
  cn_->RollbackTrans();
  EXPECT_EQ(Count(run::target::kSelectCategoryPrefix + std::string("Salate'")), 0);
  EXPECT_EQ(db::ToInt32(Scalar(run::target::kLastProductKey, "lng_LastID")), 122);
}

TEST_F(TargetWrites, ManyRowsAddedUnreadAreSeenByTheNextQuery) {
  // A table that only receives rows lets go of its decoded rows and reads them again.
  cn_->BeginTrans();
  a_->Open(run::target::kSelectAllAssignments, cn_, db::adOpenDynamic, db::adLockOptimistic);
  for (int i = 0; i < 10000; ++i) {
    a_->AddNew();
    a_->Fields().Item("lng_ProduktID").Value(Value(std::int32_t{100000 + i}));
    a_->Fields().Item("lng_ProduktExtraID").Value(Value(std::int32_t{i % 7}));
    a_->Update();
  }
  a_->Close();
  EXPECT_EQ(db::ToSingle(Scalar("SELECT Count(*) AS n FROM tbl_Verwaltung_Produkte_Extras", "n")),
            10595.0f);
  EXPECT_EQ(Count("SELECT * FROM tbl_Verwaltung_Produkte_Extras WHERE lng_ProduktID = 109999"), 1);
  EXPECT_EQ(db::ToInt32(
                Scalar("SELECT max(lng_ProduktID) AS m FROM tbl_Verwaltung_Produkte_Extras", "m")),
            109999);
  cn_->RollbackTrans();
  EXPECT_EQ(Count(run::target::kSelectAllAssignments), 595);
}

TEST_F(TargetWrites, OpenResultsKeepTheirRowsWhileTheTableChanges) {
  std::vector<Value> names;  // copied out by a statement with a column list
  db::Recordset list;
  list.Open("SELECT txt_Produkt FROM tbl_Verwaltung_Produkte", cn_, db::adOpenForwardOnly,
            db::adLockReadOnly);
  for (; !list.Eof(); list.MoveNext()) names.push_back(list.Fields().Item("txt_Produkt").Value());
  list.Close();
  // "SELECT *" over the 119 products: a result that may share the table's decoded rows.
  db::Recordset all;
  all.Open(run::target::kSelectAllProducts, cn_, db::adOpenForwardOnly, db::adLockReadOnly);
  db::Recordset extras;  // 5 rows, shared or copied alike
  extras.Open(run::target::kSelectAllExtras, cn_, db::adOpenKeyset, db::adLockOptimistic);
  const Value first_extra = extras.Fields().Item("txt_Extra").Value();
  cn_->BeginTrans();
  a_->Open("SELECT * FROM tbl_Verwaltung_ProdukteExtras", cn_, db::adOpenDynamic,
           db::adLockOptimistic);
  for (int i = 0; i < 30; ++i) {
    a_->AddNew();
    a_->Fields().Item("txt_Extra").Value(Value("Neu " + std::to_string(i)));
    a_->Update();
  }
  a_->Close();
  a_->Open(run::target::kSelectAllProducts, cn_, db::adOpenDynamic, db::adLockOptimistic);
  for (int i = 0; i < 3; ++i) {
    a_->AddNew();
    a_->Fields().Item("txt_Produkt").Value(Value("Neu " + std::to_string(i)));
    a_->Update();
  }
  a_->Close();
  cn_->Execute("DELETE FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 1");
  std::vector<Value> seen;
  for (; !all.Eof(); all.MoveNext()) seen.push_back(all.Fields().Item("txt_Produkt").Value());
  EXPECT_EQ(seen, names);
  EXPECT_EQ(seen.size(), 119u);
  int old_extras = 0;
  EXPECT_EQ(extras.Fields().Item("txt_Extra").Value(), first_extra);
  for (; !extras.Eof(); extras.MoveNext()) ++old_extras;
  EXPECT_EQ(old_extras, 5);
  // New statements see the changes.
  EXPECT_EQ(Count(run::target::kSelectAllExtras), 35);
  EXPECT_EQ(Count("SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 1"), 0);
  EXPECT_EQ(Count("SELECT * FROM tbl_Verwaltung_Produkte WHERE txt_Produkt = 'Neu 2'"), 1);
  cn_->RollbackTrans();
  extras.Close();
  all.Close();
}

TEST_F(TargetWrites, RecordsetOpenAcrossARollbackGoesOnWriting) {
  a_->Open(run::target::kSelectAllExtras, cn_, db::adOpenDynamic, db::adLockOptimistic);
  cn_->BeginTrans();
  a_->AddNew();
  a_->Fields().Item("txt_Extra").Value(Value(std::string("Verworfen")));
  a_->Update();
  cn_->RollbackTrans();
  cn_->BeginTrans();
  a_->AddNew();
  a_->Fields().Item("txt_Extra").Value(Value(std::string("Behalten")));
  a_->Update();
  cn_->CommitTrans();
  a_->Close();
  EXPECT_EQ(Count("SELECT * FROM tbl_Verwaltung_ProdukteExtras WHERE txt_Extra = 'Verworfen'"), 0);
  EXPECT_EQ(Count("SELECT * FROM tbl_Verwaltung_ProdukteExtras WHERE txt_Extra = 'Behalten'"), 1);
  EXPECT_EQ(Count(run::target::kSelectAllExtras), 6);
}

TEST_F(TargetWrites, DeleteThroughExecuteAndRollback) {
  EXPECT_EQ(Count(run::target::kSelectAllProducts), 119);
  cn_->BeginTrans();
  for (const char* sql : run::target::kResetStatements) cn_->Execute(sql);
  EXPECT_EQ(Count(run::target::kSelectAllProducts), 0);
  EXPECT_EQ(db::ToSingle(Scalar(run::target::kCountProducts, "TotalProdukte")), 0.0f);
  EXPECT_TRUE(Scalar(run::target::kLastProductKey, "lng_LastID").is_null());
  cn_->RollbackTrans();
  EXPECT_EQ(Count(run::target::kSelectAllProducts), 119);
  cn_->Execute("DELETE FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 1");
  EXPECT_EQ(Count("SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 1"), 0);
  EXPECT_GT(Count(run::target::kSelectAllProducts), 0);
}

// One text rule for statements and expressions (jet/text/text_compare.h): texts that differ in
// letter case, trailing blanks, accents or a leading blank are added to tbl_Einstellungen.txt_Wert;
// each criterion then selects rows through the record layer's WHERE and, as a field rule, through
// the expression service, and both select the rows listed. GROUP BY and Max/Min order and group
// the column's texts as the expressions' "<" and "=" do.
TEST_F(TargetWrites, StatementsAndExpressionsCompareTextsAlike) {
  const std::vector<std::string> texts = {"Salate",  "SALATE", "Salate  ", " Salate", "Saláte",
                                          "salate ", "Apfel",  "äpfel",    "Birne",   "",
                                          "   ",     "abc",    "abc ",     "ab c"};
  struct Criterion {
    const char* condition;           // right of the column in WHERE, a field rule as it stands
    std::vector<std::size_t> picks;  // the texts it selects, by position
  };
  const Criterion criteria[] = {
      {"= 'Salate'", {0, 1, 2, 5}},  // letter case and trailing blanks aside
      {"= 'SALATE   '", {0, 1, 2, 5}},
      {"= 'Saláte'", {4}},  // accents count
      {"<> 'salate'", {3, 4, 6, 7, 8, 9, 10, 11, 12, 13}},
      {"= ''", {9, 10}},  // the empty text and blanks alone
      {"= '   '", {9, 10}},
      {"< 'a'", {3, 9, 10}},  // a blank weighs less than a letter
      {"< 'abc'", {3, 9, 10, 13}},
      {"<= 'abc'", {3, 9, 10, 11, 12, 13}},
      {"> 'abc '", {0, 1, 2, 4, 5, 6, 7, 8}},
      {">= 'Salate'", {0, 1, 2, 4, 5}},
      {"< 'äpfel'", {3, 6, 9, 10, 11, 12, 13}},  // the letters first, then the accent
      {"BETWEEN 'Apfel' AND 'Birne'", {6, 7, 8}},
      {"BETWEEN 'Birne' AND 'Apfel'", {6, 7, 8}},
      {"BETWEEN 'salate ' AND 'SALATE'", {0, 1, 2, 5}},
  };
  const auto rule_holds = [](const std::string& rule, const Value& field) {
    auto parsed = jet::Expression::Parse(rule, /*field_rule=*/true);
    EXPECT_TRUE(parsed.ok()) << rule << ": " << parsed.status().ToString();
    if (!parsed.ok()) return false;
    jet::ExpressionContext context;
    context.field = field;
    auto result = parsed->Evaluate(context);
    EXPECT_TRUE(result.ok()) << rule << ": " << result.status().ToString();
    return result.ok() && result->is<bool>() && result->as<bool>();
  };
  const auto quoted = [](const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
  };
  const auto keys_where = [&](const std::string& condition) {
    std::set<std::string> keys;
    db::Recordset rs;
    rs.Open("SELECT txt_Schluessel FROM tbl_Einstellungen WHERE txt_Wert " + condition, cn_,
            db::adOpenForwardOnly, db::adLockReadOnly);
    for (; !rs.Eof(); rs.MoveNext()) keys.insert(rs.Fields().Item(0).Value().as<std::string>());
    rs.Close();
    return keys;
  };
  const auto key_of = [](std::size_t i) { return "Vergleich." + std::to_string(i); };

  cn_->BeginTrans();
  {
    db::Recordset rs;
    rs.Open("SELECT * FROM tbl_Einstellungen", cn_, db::adOpenDynamic, db::adLockOptimistic);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      rs.AddNew();
      rs.Fields().Item("txt_Schluessel").Value(Value(key_of(i)));
      rs.Fields().Item("txt_Wert").Value(Value(texts[i]));
      rs.Update();
    }
    rs.Close();
  }
  for (const Criterion& c : criteria) {
    SCOPED_TRACE(c.condition);
    std::set<std::string> expected, by_rule;
    for (std::size_t i : c.picks) expected.insert(key_of(i));
    for (std::size_t i = 0; i < texts.size(); ++i) {
      if (rule_holds(c.condition, Value(texts[i]))) by_rule.insert(key_of(i));
    }
    std::set<std::string> by_statement;
    for (const std::string& key : keys_where(c.condition)) {
      if (key.rfind("Vergleich.", 0) == 0) by_statement.insert(key);
    }
    EXPECT_EQ(by_statement, expected);
    EXPECT_EQ(by_rule, expected);
  }

  // The groups, among them the added texts': one per class of texts equal under the
  // expressions' "=", each before the next under their "<".
  std::vector<std::string> groups;
  {
    db::Recordset rs;
    rs.Open("SELECT txt_Wert FROM tbl_Einstellungen GROUP BY txt_Wert", cn_, db::adOpenForwardOnly,
            db::adLockReadOnly);
    for (; !rs.Eof(); rs.MoveNext()) {
      const Value v = rs.Fields().Item(0).Value();
      if (!v.is_null()) groups.push_back(v.as<std::string>());
    }
    rs.Close();
  }
  for (std::size_t g = 1; g < groups.size(); ++g) {
    EXPECT_TRUE(rule_holds("< " + quoted(groups[g]), Value(groups[g - 1])))
        << "'" << groups[g - 1] << "' before '" << groups[g] << "'";
  }
  for (const std::string& text : texts) {
    int equal = 0;
    for (const std::string& group : groups) {
      if (rule_holds("= " + quoted(group), Value(text))) ++equal;
    }
    EXPECT_EQ(equal, 1) << "groups holding '" << text << "'";
  }
  const Value most = Scalar("SELECT Max(txt_Wert) AS m FROM tbl_Einstellungen", "m");
  const Value least = Scalar("SELECT Min(txt_Wert) AS m FROM tbl_Einstellungen", "m");
  for (const std::string& group : groups) {
    EXPECT_TRUE(rule_holds("<= " + quoted(most.as<std::string>()), Value(group))) << group;
    EXPECT_TRUE(rule_holds(">= " + quoted(least.as<std::string>()), Value(group))) << group;
  }
  cn_->RollbackTrans();
}

TEST_F(TargetWrites, JetChecksRefuseTheRow) {
  a_->Open("SELECT * FROM tbl_Einstellungen", cn_, db::adOpenDynamic, db::adLockOptimistic);
  // A duplicate of a unique text key, in another letter case.
  std::string existing;
  {
    db::Recordset rs;
    rs.Open("SELECT * FROM tbl_Einstellungen", cn_, db::adOpenForwardOnly, db::adLockReadOnly);
    existing = rs.Fields().Item("txt_Schluessel").Value().as<std::string>();
    rs.Close();
  }
  std::string upper;
  for (char c : existing)
    upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  a_->AddNew();
  a_->Fields().Item("txt_Schluessel").Value(Value(upper));
  EXPECT_EQ(ErrorOf([&] { a_->Update(); }), 3022);
  a_->Close();

  a_->Open("SELECT * FROM tbl_Kunden", cn_, db::adOpenDynamic, db::adLockOptimistic);
  a_->AddNew();
  EXPECT_EQ(ErrorOf([&] { a_->Fields().Item("lng_ID").Value(Value(std::int32_t{1})); }), 3164);
  a_->Fields().Item("txt_Nachname").Value(Value(std::string()));  // AllowZeroLength is No
  EXPECT_EQ(ErrorOf([&] { a_->Update(); }), 3315);
  a_->Fields().Item("txt_Nachname").Value(Value(std::string(51, 'x')));  // Text(50)
  EXPECT_EQ(ErrorOf([&] { a_->Update(); }), 3163);
  EXPECT_EQ(ErrorOf([&] { a_->Fields().Item("cur_Umsatz").Value(Value(std::string("viel"))); }),
            3421);
  a_->Fields().Item("txt_Nachname").Value(Value(std::string("Müller")));
  a_->Fields().Item("cur_Umsatz").Value(Value(std::string("12.5")));
  EXPECT_NO_THROW(a_->Update());
  a_->Close();
  EXPECT_EQ(Count("SELECT * FROM tbl_Kunden WHERE txt_Nachname = 'müller'"),
            1 + Count("SELECT * FROM tbl_Kunden WHERE txt_Nachname = 'MÜLLER' AND lng_ID < 301"));
}

TEST_F(TargetWrites, CommittedTransactionReachesTheFile) {
  auto file_bytes = [&] {
    std::ifstream in(target_.path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string before = file_bytes();
  cn_->BeginTrans();
  cn_->Execute("DELETE * FROM tbl_Verwaltung_Produkte");
  EXPECT_EQ(ErrorOf([&] { cn_->CommitTrans(); }), 0);  // indexes rebuilt by the engine
  EXPECT_NE(file_bytes(), before);
  EXPECT_EQ(Count(run::target::kSelectAllProducts), 0);
}

// Column defaults and checks on a definition made here, independent of any file.
jet::TableDef MadeTable() {
  jet::TableDef t;
  t.name = "t";
  auto add = [&](const char* name, jet::ColumnType type, const char* default_value,
                 std::uint16_t length = 0) {
    jet::Column c;
    c.name = name;
    c.type_code = static_cast<std::uint8_t>(type);
    c.length = length;
    if (default_value != nullptr) {
      c.properties["DefaultValue"] = jet::Property{10, false, Value(std::string(default_value))};
    }
    t.columns.push_back(c);
  };
  add("n", jet::ColumnType::kLong, "=-12");
  add("d", jet::ColumnType::kDouble, "2.5");
  add("s", jet::ColumnType::kText, "\"Stk.\"", 20);
  add("b", jet::ColumnType::kBoolean, "Yes");
  add("today", jet::ColumnType::kDateTime, "Date()");
  add("now", jet::ColumnType::kDateTime, "Now()");
  add("fixed", jet::ColumnType::kDateTime, "#2024-01-31#");
  add("none", jet::ColumnType::kLong, "Null");
  add("bad", jet::ColumnType::kText, "Left([x],1)", 20);
  add("c", jet::ColumnType::kCurrency, "1.23456");
  return t;
}

TEST(ColumnDefaults, EvaluatedAsJetDoes) {
  const jet::TableDef t = MadeTable();
  EXPECT_EQ(db::DefaultFor(t, t.columns[0]), Value(std::int32_t{-12}));
  EXPECT_EQ(db::DefaultFor(t, t.columns[1]), Value(2.5));
  EXPECT_EQ(db::DefaultFor(t, t.columns[2]), Value(std::string("Stk.")));
  EXPECT_EQ(db::DefaultFor(t, t.columns[3]), Value(true));
  const double today = db::DefaultFor(t, t.columns[4]).as<jet::DateTime>().days;
  const double now = db::DefaultFor(t, t.columns[5]).as<jet::DateTime>().days;
  EXPECT_EQ(today, std::floor(today));
  EXPECT_GE(now, today);
  EXPECT_LT(now - today, 1.0);
  EXPECT_GT(today, 45000.0);  // after 2023
  EXPECT_EQ(db::DefaultFor(t, t.columns[6]), Value(jet::DateTime{45322.0}));
  EXPECT_TRUE(db::DefaultFor(t, t.columns[7]).is_null());
  try {
    (void)db::DefaultFor(t, t.columns[8]);
    ADD_FAILURE() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 3388);
    EXPECT_NE(e.description().find("t.bad"), std::string::npos);  // names table and column
  }
  EXPECT_EQ(db::DefaultFor(t, t.columns[9]), Value(jet::Currency{12346}));
}

// The VBA functions the expression service offers, each in a column's default, stored as the
// column's kind takes the result; a Null result stays Null, a failing one is 3388.
TEST(ColumnDefaults, TheFunctionLibraryInDefaults) {
  using T = jet::ColumnType;
  const auto day = [](int y, unsigned m, unsigned d) {
    return Value(jet::DateTime{static_cast<double>(jet::JetDayFromCivil(y, m, d))});
  };
  struct DefaultCase {
    const char* expression;
    T type;
    Value expected;
  };
  const DefaultCase cases[] = {
      {"String(3,\"x\")", T::kText, Value(std::string("xxx"))},
      {"Choose(2,\"a\",\"b\")", T::kText, Value(std::string("b"))},
      {"Switch(1>2,\"a\",True,\"b\")", T::kText, Value(std::string("b"))},
      {"StrComp(\"a\",\"B\")", T::kLong, Value(std::int32_t{-1})},
      {"StrConv(\"gRÜN tee\",3)", T::kText, Value(std::string("Grün Tee"))},
      {"StrReverse(\"abc\")", T::kText, Value(std::string("cba"))},
      {"Replace(\"a-b-c\",\"-\",\"+\")", T::kText, Value(std::string("a+b+c"))},
      {"InStrRev(\"abca\",\"a\")", T::kLong, Value(std::int32_t{4})},
      {"IsNumeric(\"1,5\")", T::kBoolean, Value(true)},
      {"IsDate(\"24.12.2019\")", T::kBoolean, Value(true)},
      {"IsEmpty(Null)", T::kBoolean, Value(false)},
      {"Hex(255)", T::kText, Value(std::string("FF"))},
      {"Oct(8)", T::kText, Value(std::string("10"))},
      {"MonthName(3)", T::kText, Value(std::string("März"))},
      {"WeekdayName(1)", T::kText, Value(std::string("Montag"))},
      {"FormatNumber(1234.5)", T::kText, Value(std::string("1.234,50"))},
      {"FormatCurrency(2)", T::kText, Value(std::string("2,00 €"))},
      {"FormatPercent(0.5)", T::kText, Value(std::string("50,00%"))},
      {"FormatDateTime(#12/24/2019#,2)", T::kText, Value(std::string("24.12.2019"))},
      {"Partition(5,0,9,5)", T::kText, Value(std::string(" 5: 9"))},
      {"Sqr(16)", T::kDouble, Value(4.0)},
      {"Exp(0)", T::kDouble, Value(1.0)},
      {"Log(1)", T::kDouble, Value(0.0)},
      {"Sin(0)+Cos(0)+Tan(0)+Atn(0)", T::kDouble, Value(1.0)},
      {"CVar(\"x\")", T::kText, Value(std::string("x"))},
      {"CVDate(\"24.12.2019\")", T::kDateTime, day(2019, 12, 24)},
      {"TypeName(1.5)", T::kText, Value(std::string("Double"))},
      {"VarType(\"x\")", T::kLong, Value(std::int32_t{8})},
      {"Chr(128)", T::kText, Value(std::string("€"))},
      {"Asc(\"€\")", T::kLong, Value(std::int32_t{128})},
      {"ChrW(8364)", T::kText, Value(std::string("€"))},
      {"AscW(\"€\")", T::kLong, Value(std::int32_t{8364})},
      // Null rules.
      {"String(Null,\"a\")", T::kText, Value()},
      {"Choose(5,\"a\")", T::kText, Value()},
      {"Hex(Null)", T::kText, Value()},
      {"CVDate(Null)", T::kDateTime, Value()},
  };
  for (const DefaultCase& c : cases) {
    SCOPED_TRACE(c.expression);
    jet::TableDef t;
    t.name = "t";
    jet::Column column;
    column.name = "c";
    column.type_code = static_cast<std::uint8_t>(c.type);
    column.length = c.type == T::kText ? 510 : 0;
    column.properties["DefaultValue"] = jet::Property{10, false, Value(std::string(c.expression))};
    t.columns.push_back(column);
    EXPECT_EQ(db::DefaultFor(t, t.columns[0]), c.expected);
  }
  // A Null VBA refuses, and a function the service does not have: 3388.
  for (const char* refused : {"StrReverse(Null)", "MonthName(Null)", "Nirgends(1)"}) {
    jet::TableDef t;
    t.name = "t";
    jet::Column column;
    column.name = "c";
    column.type_code = static_cast<std::uint8_t>(T::kText);
    column.length = 40;
    column.properties["DefaultValue"] = jet::Property{10, false, Value(std::string(refused))};
    t.columns.push_back(column);
    EXPECT_EQ(ErrorOf([&] { (void)db::DefaultFor(t, t.columns[0]); }), 3388) << refused;
  }
}

TEST(ColumnChecks, RequiredAndZeroLength) {
  jet::TableDef t = MadeTable();
  t.columns[2].properties["Required"] = jet::Property{1, false, Value(true)};
  t.columns[2].properties["AllowZeroLength"] = jet::Property{1, false, Value(false)};
  std::vector<Value> row(t.columns.size());
  EXPECT_EQ(ErrorOf([&] { db::CheckRow(t, row); }), 3314);
  row[2] = Value(std::string());
  EXPECT_EQ(ErrorOf([&] { db::CheckRow(t, row); }), 3315);
  row[2] = Value(std::string("ok"));
  EXPECT_NO_THROW(db::CheckRow(t, row));
}

TEST(ColumnConversion, TheConversionsTheImportRelieson) {
  const jet::TableDef t = MadeTable();
  EXPECT_EQ(db::ConvertForColumn(t, t.columns[0], Value(std::string("1"))), Value(std::int32_t{1}));
  EXPECT_EQ(db::ConvertForColumn(t, t.columns[0], Value(std::int16_t{2})), Value(std::int32_t{2}));
  EXPECT_EQ(db::ConvertForColumn(t, t.columns[1], Value(jet::Currency{49000})), Value(4.9));
  EXPECT_EQ(db::ConvertForColumn(t, t.columns[1], Value(std::int32_t{3})), Value(3.0));
  EXPECT_EQ(db::ConvertForColumn(t, t.columns[2], Value(std::string("Stk."))),
            Value(std::string("Stk.")));
  EXPECT_TRUE(db::ConvertForColumn(t, t.columns[1], Value()).is_null());
  EXPECT_EQ(ErrorOf([&] { db::ConvertForColumn(t, t.columns[0], Value(std::string("x"))); }), 3421);
  EXPECT_EQ(ErrorOf([&] { db::ConvertForColumn(t, t.columns[0], Value(1e12)); }), 3421);
}

// One column of each type with a default Access would store for it.
jet::TableDef EveryTypeTable() {
  jet::TableDef t;
  t.name = "alle";
  auto add = [&](const char* name, jet::ColumnType type, const char* default_value) {
    jet::Column c;
    c.name = name;
    c.type_code = static_cast<std::uint8_t>(type);
    c.length = type == jet::ColumnType::kText ? 20 : 0;
    if (type == jet::ColumnType::kDecimal) {
      c.precision = 18;
      c.scale = 2;
    }
    c.properties["DefaultValue"] = jet::Property{10, false, Value(std::string(default_value))};
    t.columns.push_back(c);
  };
  add("byte", jet::ColumnType::kByte, "=200+55");
  add("int", jet::ColumnType::kInteger, "-3*4");
  add("long", jet::ColumnType::kLong, "=3+4*2");
  add("single", jet::ColumnType::kSingle, "1/4");
  add("double", jet::ColumnType::kDouble, "Val(\"2.5\")");
  add("currency", jet::ColumnType::kCurrency, "CCur(19.999)");
  add("date", jet::ColumnType::kDateTime, "#12/24/2019 18:30:00#");
  add("text", jet::ColumnType::kText, "\"A\" & \"B\"");
  add("memo", jet::ColumnType::kMemo, "\"Zeile \"\"1\"\"\"");
  add("yesno", jet::ColumnType::kBoolean, "Not False");
  add("guid", jet::ColumnType::kGuid, "GenGUID()");
  add("decimal", jet::ColumnType::kDecimal, "0");
  add("decimal2", jet::ColumnType::kDecimal, "=1.005");
  add("textdate", jet::ColumnType::kText, "DateSerial(2019,12,24)");
  add("user", jet::ColumnType::kText, "CurrentUser()");
  return t;
}

TEST(ColumnDefaults, EveryColumnTypeTakesItsDefaultConverted) {
  const jet::TableDef t = EveryTypeTable();
  auto d = [&](std::size_t i) { return db::DefaultFor(t, t.columns[i]); };
  EXPECT_EQ(d(0), Value(std::uint8_t{255}));
  EXPECT_EQ(d(1), Value(std::int16_t{-12}));
  EXPECT_EQ(d(2), Value(std::int32_t{11}));
  EXPECT_EQ(d(3), Value(0.25f));
  EXPECT_EQ(d(4), Value(2.5));
  EXPECT_EQ(d(5), Value(jet::Currency{199990}));
  EXPECT_EQ(d(6), Value(jet::DateTime{43823 + 18.5 / 24}));
  EXPECT_EQ(d(7), Value(std::string("AB")));  // the value, never the expression's characters
  EXPECT_EQ(d(8), Value(std::string("Zeile \"1\"")));
  EXPECT_EQ(d(9), Value(true));
  ASSERT_TRUE(d(10).is<jet::Guid>());
  EXPECT_NE(d(10), d(10));  // a new GUID for every row
  bool varies = false;
  (void)db::DefaultFor(t, t.columns[10], &varies);
  EXPECT_TRUE(varies);
  ASSERT_TRUE(d(11).is<jet::Decimal>());
  EXPECT_EQ(jet::FormatDecimal(d(11).as<jet::Decimal>()), "0.00");
  EXPECT_EQ(jet::FormatDecimal(d(12).as<jet::Decimal>()), "1.00");  // 1.005 to even
  EXPECT_EQ(d(13), Value(std::string("24.12.2019")));               // German short date
  EXPECT_EQ(d(14), Value(std::string("Admin")));
}

TEST(ColumnDefaults, FailuresAreRefusedByNumberAndName) {
  jet::TableDef t = EveryTypeTable();
  auto set = [&](std::size_t i, const char* text) {
    t.columns[i].properties["DefaultValue"].value = Value(std::string(text));
  };
  auto error = [&](std::size_t i) {
    try {
      (void)db::DefaultFor(t, t.columns[i]);
    } catch (const DbError& e) {
      EXPECT_NE(e.description().find("alle." + t.columns[i].name), std::string::npos)
          << e.description();
      return e.number();
    }
    return 0;
  };
  set(0, "256");
  EXPECT_EQ(error(0), 3349);
  set(1, "=30000*2");
  EXPECT_EQ(error(1), 3349);
  set(11, "12345678901234567");
  EXPECT_EQ(error(11), 3349);
  set(2, "\"abc\"");
  EXPECT_EQ(error(2), 3421);
  set(2, "Unbekannt()");
  EXPECT_EQ(error(2), 3388);
  set(2, "1/0");
  EXPECT_EQ(error(2), 3388);
  set(7, "\"A\" & ");  // broken: refused, never stored as text
  EXPECT_EQ(error(7), 3388);
}

TEST(ColumnChecks, FieldAndTableRulesRefuseWithJetsNumbers) {
  jet::TableDef t = MadeTable();
  t.columns[1].properties["ValidationRule"] = jet::Property{10, false, Value(std::string("<1"))};
  t.columns[1].properties["ValidationText"] =
      jet::Property{10, false, Value(std::string("Unter 1, bitte."))};
  t.columns[2].properties["ValidationRule"] =
      jet::Property{10, false, Value(std::string("Like \"S*\" Or Is Null"))};
  t.properties["ValidationRule"] =
      jet::Property{10, false, Value(std::string("[n]>=1 Or [d] Is Null"))};
  const db::RowRules rules = db::RulesOf(t);
  std::vector<Value> row(t.columns.size());
  EXPECT_NO_THROW(db::CheckRow(t, rules, row));  // Null passes every rule here
  row[1] = Value(0.5);
  row[0] = Value(std::int32_t{1});
  EXPECT_NO_THROW(db::CheckRow(t, rules, row));
  row[1] = Value(1.0);
  try {
    db::CheckRow(t, rules, row);
    ADD_FAILURE() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 3316);
    EXPECT_EQ(e.description(), "Unter 1, bitte.");
  }
  row[1] = Value(0.5);
  row[2] = Value(std::string("Kg"));
  try {
    db::CheckRow(t, rules, row);
    ADD_FAILURE() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 3317);
    EXPECT_NE(e.description().find("'t.s'"), std::string::npos) << e.description();
  }
  row[2] = Value(std::string("Stk."));
  row[0] = Value(std::int32_t{0});
  try {
    db::CheckRow(t, rules, row);
    ADD_FAILURE() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 3317);
    EXPECT_NE(e.description().find("[n]>=1 Or [d] Is Null"), std::string::npos);
    EXPECT_NE(e.description().find("'t'"), std::string::npos);
  }
  // A rule that does not parse is refused by name.
  t.properties["ValidationRule"].value = Value(std::string("[n] >"));
  EXPECT_EQ(ErrorOf([&] { (void)db::RulesOf(t); }), 3388);
}

TEST(ColumnConversion, DecimalsFromEveryNumberAndText) {
  const jet::TableDef t = EveryTypeTable();
  const jet::Column& dec = t.columns[11];  // Decimal(18,2)
  auto text = [&](const Value& v) {
    return jet::FormatDecimal(db::ConvertForColumn(t, dec, v).as<jet::Decimal>());
  };
  EXPECT_EQ(text(Value(4.9)), "4.90");
  EXPECT_EQ(text(Value(jet::Currency{49500})), "4.95");
  EXPECT_EQ(text(Value(std::int32_t{-7})), "-7.00");
  EXPECT_EQ(text(Value(std::string("12,345"))), "12.34");
  EXPECT_EQ(text(Value(std::string("12.355"))), "12.36");
  EXPECT_EQ(ErrorOf([&] { db::ConvertForColumn(t, dec, Value(1e17)); }), 3349);
  EXPECT_EQ(ErrorOf([&] { db::ConvertForColumn(t, dec, Value(std::string("x"))); }), 3421);
}

// One uniqueness rule on both paths (jet/index/index_uniqueness.h): the record layer's check when a
// row is added and the engine's when a commit rebuilds the indexes. The unique index of
// tbl_Einstellungen over txt_Schluessel is widened in memory by txt_Wert, so that keys with one
// Null column can be tried; each case adds its two rows on both paths, each on its own copy.
struct UniqueCase {
  const char* name;
  std::optional<std::string> key1, value1, key2, value2;
};

constexpr char kSettings[] = "tbl_Einstellungen";

// The definition is shared by the engine and the record layer of the database that read it.
void WidenUniqueIndex(const jet::TableDef& def) {
  auto& t = const_cast<jet::TableDef&>(def);
  const std::uint16_t key = def.FindColumn("txt_Schluessel")->number;
  for (jet::RealIndex& real : t.real_indexes) {
    if (!real.unique() || real.columns.size() != 1 || real.columns[0].column_number != key) {
      continue;
    }
    jet::IndexColumn second = real.columns[0];
    second.column_number = def.FindColumn("txt_Wert")->number;
    real.columns.push_back(second);
    return;
  }
  FAIL() << "no unique index over txt_Schluessel";
}

Value Text(const std::optional<std::string>& s) { return s ? Value(*s) : Value(); }

std::vector<Value> SettingsRow(const jet::TableDef& def, const std::optional<std::string>& key,
                               const std::optional<std::string>& value) {
  std::vector<Value> row(def.columns.size());
  row[static_cast<std::size_t>(def.FindColumn("txt_Schluessel") - def.columns.data())] = Text(key);
  row[static_cast<std::size_t>(def.FindColumn("txt_Wert") - def.columns.data())] = Text(value);
  return row;
}

// 3022 (or 0) when the record layer adds the case's second row after its first.
int RecordLayerVerdict(const UniqueCase& c) {
  testing_support::TargetCopy copy;
  auto cn = std::make_shared<db::Connection>();
  cn->Open(run::TargetConnectionString(copy.dir().string() + "/"));
  cn->BeginTrans();  // the check before writing reads the index as the file defines it
  WidenUniqueIndex(**cn->database().GetTable(kSettings));
  db::Recordset rs;
  rs.Open(std::string("SELECT * FROM ") + kSettings, cn, db::adOpenDynamic, db::adLockOptimistic);
  int error = 0;
  for (const auto& [key, value] : {std::pair(c.key1, c.value1), std::pair(c.key2, c.value2)}) {
    rs.AddNew();
    rs.Fields().Item("txt_Schluessel").Value(Text(key));
    rs.Fields().Item("txt_Wert").Value(Text(value));
    error = ErrorOf([&] { rs.Update(); });
  }
  rs.Close();
  cn->RollbackTrans();
  cn->Close();
  return error;
}

// The engine's error when a commit holds the case's two rows.
jet::ErrorCode CommitVerdict(const UniqueCase& c) {
  testing_support::TargetCopy copy;
  auto db = jet::Database::Open(copy.path().string(),
                                {.password = testing_support::kTargetPassword, .writable = true});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  const auto def = *(*db)->GetTable(kSettings);
  WidenUniqueIndex(*def);
  for (const auto& [key, value] : {std::pair(c.key1, c.value1), std::pair(c.key2, c.value2)}) {
    std::vector<Value> row = SettingsRow(*def, key, value);
    EXPECT_TRUE((*db)->InsertRow(kSettings, row).ok());
  }
  return (*db)->Commit().code();
}

TEST(UniqueIndexRule, RecordLayerAndCommitDecideAlike) {
  const UniqueCase duplicates[] = {
      {"one of two key columns Null", "NEU.A", std::nullopt, "NEU.A", std::nullopt},
      {"letter case only", "Neu.Wert", "eins", "NEU.WERT", "EINS"},
  };
  const UniqueCase distinct[] = {
      {"every key column Null", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"second column differs", "NEU.C", "eins", "NEU.C", "zwei"},
  };
  for (const UniqueCase& c : duplicates) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RecordLayerVerdict(c), 3022);
    EXPECT_EQ(CommitVerdict(c), jet::ErrorCode::kDuplicateKey);
  }
  for (const UniqueCase& c : distinct) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RecordLayerVerdict(c), 0);
    EXPECT_EQ(CommitVerdict(c), jet::ErrorCode::kOk);
  }
}

TEST(UniqueIndexRule, TextKeysDifferingInLetterCaseHaveTheSameBytes) {
  // Why "letter case only" is a duplicate: the keys' bytes are equal, and the rule compares them.
  testing_support::TargetCopy copy;
  auto db =
      jet::Database::Open(copy.path().string(), {.password = testing_support::kTargetPassword});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  const auto def = *(*db)->GetTable(kSettings);
  WidenUniqueIndex(*def);
  const jet::RealIndex* widened = nullptr;
  for (const jet::RealIndex& real : def->real_indexes) {
    if (real.columns.size() == 2) widened = &real;
  }
  ASSERT_NE(widened, nullptr);
  const auto key = [&](const char* k, const char* v) {
    auto bytes = jet::EncodeIndexKey(*def, *widened, SettingsRow(*def, k, v), (*db)->header());
    EXPECT_TRUE(bytes.ok()) << bytes.status().ToString();
    return bytes.ok() ? *bytes : jet::ByteString();
  };
  EXPECT_EQ(key("Neu.Wert", "eins"), key("NEU.WERT", "EINS"));
  EXPECT_NE(key("Neu.Wert", "eins"), key("Neu.Wert", "zwei"));
  auto collide = jet::RowsCollideInIndex(*def, *widened, SettingsRow(*def, "a", std::nullopt),
                                         SettingsRow(*def, "A", std::nullopt), (*db)->header());
  ASSERT_TRUE(collide.ok());
  EXPECT_TRUE(*collide);
  collide = jet::RowsCollideInIndex(*def, *widened, SettingsRow(*def, std::nullopt, std::nullopt),
                                    SettingsRow(*def, std::nullopt, std::nullopt), (*db)->header());
  ASSERT_TRUE(collide.ok());
  EXPECT_FALSE(*collide);
}

// Keys without Null (jet/index/index_uniqueness.h): the flags of the unique index over
// tbl_Einstellungen.txt_Schluessel are set in memory as each case says; a row with that key Null
// (or given) is added through the record layer and straight to the engine, each on its own copy.
struct NullKeyCase {
  const char* name;
  std::uint8_t flags;
  bool key_given;
  int error;  // what both paths report
};

void SetSettingsKeyFlags(const jet::TableDef& def, std::uint8_t flags) {
  auto& t = const_cast<jet::TableDef&>(def);
  const std::uint16_t key = def.FindColumn("txt_Schluessel")->number;
  for (jet::RealIndex& real : t.real_indexes) {
    if (real.columns.size() == 1 && real.columns[0].column_number == key) real.flags = flags;
  }
}

TEST(NullKeyRule, RequiredIndexRefusesNullOnBothPaths) {
  const NullKeyCase cases[] = {
      {"Required, key Null", jet::kIndexUnique | jet::kIndexRequired, false, 3058},
      {"Required and IgnoreNulls, key Null",
       jet::kIndexUnique | jet::kIndexRequired | jet::kIndexIgnoreNulls, false, 3058},
      {"IgnoreNulls only, key Null", jet::kIndexUnique | jet::kIndexIgnoreNulls, false, 0},
      {"no flags, key Null", 0, false, 0},
      {"Required, key given", jet::kIndexRequired, true, 0},
  };
  for (const NullKeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    {
      testing_support::TargetCopy copy;
      const auto before = testing_support::ReadFileBytes(copy.path());
      auto cn = std::make_shared<db::Connection>();
      cn->Open(run::TargetConnectionString(copy.dir().string() + "/"));
      cn->BeginTrans();  // the check before writing reads the index as the file defines it
      SetSettingsKeyFlags(**cn->database().GetTable(kSettings), c.flags);
      db::Recordset rs;
      rs.Open(std::string("SELECT * FROM ") + kSettings, cn, db::adOpenDynamic,
              db::adLockOptimistic);
      rs.AddNew();
      if (c.key_given) rs.Fields().Item("txt_Schluessel").Value(Value(std::string("NEU.X")));
      rs.Fields().Item("txt_Wert").Value(Value(std::string("eins")));
      std::string message;
      try {
        rs.Update();
      } catch (const DbError& e) {
        message = e.description();
      }
      EXPECT_EQ(ErrorOf([&] { rs.Update(); }), c.error);
      rs.Close();
      cn->CommitTrans();
      cn->Close();
      if (c.error != 0) {
        EXPECT_EQ(message,
                  "Index oder Primärschlüssel kann keinen Nullwert enthalten (Feld "
                  "'txt_Schluessel' im Index 'txt_Schluessel' der Tabelle 'tbl_Einstellungen').");
        EXPECT_EQ(testing_support::ReadFileBytes(copy.path()), before);  // nothing was added
      }
    }
    testing_support::TargetCopy copy;
    auto db = jet::Database::Open(copy.path().string(),
                                  {.password = testing_support::kTargetPassword, .writable = true});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    const auto def = *(*db)->GetTable(kSettings);
    SetSettingsKeyFlags(*def, c.flags);
    const std::uint32_t rows = def->row_count;
    std::vector<Value> row =
        SettingsRow(*def, c.key_given ? "NEU.X" : std::optional<std::string>(), "eins");
    auto placed = (*db)->InsertRow(kSettings, row);
    EXPECT_EQ(jet::Number(placed.status().code()), c.error) << placed.status().ToString();
    EXPECT_EQ(def->row_count, rows + (c.error == 0 ? 1 : 0));
    EXPECT_FALSE(!placed.ok() && (*db)->dirty());  // a refused row leaves nothing behind
    if (placed.ok() && c.key_given && c.error == 0) {
      // Replacing the row by one without the key is refused before the old row goes.
      std::vector<Value> keyless = SettingsRow(*def, std::nullopt, "zwei");
      auto replaced = (*db)->ReplaceRow(kSettings, *placed, keyless);
      EXPECT_EQ(replaced.status().code(), jet::ErrorCode::kNullInKey);
      EXPECT_EQ(def->row_count, rows + 1);
      EXPECT_EQ(testing_support::RowsOf(**db, kSettings).size(), rows + 1);
    }
  }
}

}  // namespace
