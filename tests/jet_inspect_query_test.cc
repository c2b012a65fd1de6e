// `jet-inspect query` over statements beyond the import's: AND and OR, every comparison, IS [NOT]
// NULL, texts in another letter case, GROUP BY, COUNT(*) and COUNT(column), MAX and MIN of texts,
// numbers and dates on columns with and without an index, an empty table and a table after a
// DELETE. Every expected result is computed here from the rows mdb-reader reads from the same
// file.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace {

using testing_support::DbFile;
using testing_support::JsonObject;
using testing_support::JsonValue;
using testing_support::ShellQuote;

constexpr char kInspect[] = PI_BINARY_DIR "/tools/jet-inspect";

DbFile Target() {
  return {testing_support::Fixture("target.mdb"), testing_support::kTargetPassword};
}

// mdb-reader's rows of a table, in storage order.
std::vector<JsonObject> OracleRows(const DbFile& f, const std::string& table) {
  const auto dump = testing_support::RunCommand(testing_support::MdbReaderCommand(f) + " --table " +
                                                ShellQuote(table));
  EXPECT_EQ(dump.exit_code, 0) << "mdb_reader_dump.mjs failed on " << table;
  std::vector<JsonObject> rows;
  for (const std::string& line : testing_support::SplitLines(dump.out)) {
    auto object = testing_support::ParseJsonObject(line);
    EXPECT_TRUE(object.has_value()) << line;
    if (object) rows.push_back(std::move(*object));
  }
  return rows;
}

const JsonValue& Get(const JsonObject& row, const std::string& column) {
  for (const auto& [name, value] : row) {
    if (name == column) return value;
  }
  ADD_FAILURE() << "mdb-reader has no column " << column;
  static const JsonValue kNull;
  return kNull;
}

bool IsNull(const JsonObject& row, const std::string& column) {
  return Get(row, column).kind == JsonValue::Kind::kNull;
}
// Numbers and currency (which mdb-reader gives as text) as numbers.
double Number(const JsonObject& row, const std::string& column) {
  return std::stod(Get(row, column).text);
}
const std::string& Text(const JsonObject& row, const std::string& column) {
  return Get(row, column).text;
}

// A text as Jet's "=" and its General order see the names of the test data: letters without
// case, accented letters and ß as their base letters (ties of such spellings do not occur in
// these columns).
std::string Fold(const std::string& text) {
  static const std::pair<const char*, const char*> kBase[] = {
      {"Ä", "a"}, {"Ö", "o"}, {"Ü", "u"}, {"ä", "a"}, {"ö", "o"}, {"ü", "u"}, {"ß", "ss"},
      {"é", "e"}, {"è", "e"}, {"ë", "e"}, {"ễ", "e"}, {"ï", "i"}, {"Ć", "c"}, {"ć", "c"}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    for (const auto& [from, to] : kBase) {
      const std::string_view f(from);
      if (text.compare(i, f.size(), f) == 0) {
        out += to;
        i += f.size();
        replaced = true;
        break;
      }
    }
    if (replaced) continue;
    const char c = text[i++];
    out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}
// Equal under Jet's "=": letter case and trailing blanks aside, accents count.
bool SameText(const std::string& a, const std::string& b) {
  auto lower = [](std::string s) {
    for (const auto& [upper, small] :
         {std::pair<std::string, std::string>{"Ä", "ä"}, {"Ö", "ö"}, {"Ü", "ü"}}) {
      for (std::size_t p; (p = s.find(upper)) != std::string::npos;)
        s.replace(p, upper.size(), small);
    }
    for (char& c : s) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  return lower(a) == lower(b);
}

// A value as jet-inspect prints it: texts and dates ("MM/DD/YY HH:MM:SS") quoted, Yes/No as 1/0,
// numbers and currency as mdb-reader writes them, Null as nothing.
std::string Csv(const JsonValue& v, const std::string& column) {
  switch (v.kind) {
    case JsonValue::Kind::kNull:
      return "";
    case JsonValue::Kind::kBool:
      return v.boolean ? "1" : "0";
    case JsonValue::Kind::kNumber:
      return v.text;
    case JsonValue::Kind::kString:
      break;
  }
  if (column.rfind("cur_", 0) == 0) return v.text;
  if (column.rfind("dtm_", 0) == 0) {  // ISO 8601: YYYY-MM-DDTHH:MM:SS.sssZ
    const std::string& s = v.text;
    return "\"" + s.substr(5, 2) + "/" + s.substr(8, 2) + "/" + s.substr(2, 2) + " " +
           s.substr(11, 8) + "\"";
  }
  return v.text.empty() ? "" : "\"" + v.text + "\"";
}

// What `jet-inspect query` prints, line by line; fails the test when it fails.
std::vector<std::string> Query(const DbFile& f, const std::string& sql) {
  const auto r =
      testing_support::RunCommand(ShellQuote(kInspect) + " --password " + ShellQuote(f.password) +
                                  " query " + ShellQuote(f.path.string()) + " " + ShellQuote(sql));
  EXPECT_EQ(r.exit_code, 0) << sql;
  return testing_support::SplitLines(r.out);
}

// The header and one line a row of `columns`, for the oracle's rows that `keep` selects.
std::vector<std::string> Expected(const std::vector<JsonObject>& rows,
                                  const std::vector<std::string>& columns,
                                  const std::function<bool(const JsonObject&)>& keep) {
  std::string header;
  for (const std::string& c : columns) header += (header.empty() ? "" : ",") + c;
  std::vector<std::string> out = {header};
  for (const JsonObject& row : rows) {
    if (!keep(row)) continue;
    std::string line;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      line += (i > 0 ? "," : "") + Csv(Get(row, columns[i]), columns[i]);
    }
    out.push_back(line);
  }
  return out;
}

class InspectQuery : public ::testing::Test {
 protected:
  void SetUp() override { PI_REQUIRE_MDB_READER(); }
};

TEST_F(InspectQuery, ConditionsSelectTheRowsMdbReaderReads) {
  const auto customers = OracleRows(Target(), "tbl_Kunden");
  ASSERT_EQ(customers.size(), 297u);
  const std::string first_name = Text(customers[0], "txt_Nachname");  // "Hahn"
  std::string shouted = first_name;
  for (char& c : shouted) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  struct Case {
    std::string where;
    std::function<bool(const JsonObject&)> keep;
  };
  const std::vector<Case> cases = {
      {"lng_ID >= 100 AND lng_ID < 150",
       [](const JsonObject& r) { return Number(r, "lng_ID") >= 100 && Number(r, "lng_ID") < 150; }},
      {"lng_ID <= 5 OR lng_ID > 290",
       [](const JsonObject& r) { return Number(r, "lng_ID") <= 5 || Number(r, "lng_ID") > 290; }},
      {"bln_Stammkunde <> 0 AND cur_Umsatz > 9000",
       [](const JsonObject& r) {
         return Get(r, "bln_Stammkunde").boolean && Number(r, "cur_Umsatz") > 9000;
       }},
      {"dtm_Geburtstag IS NULL", [](const JsonObject& r) { return IsNull(r, "dtm_Geburtstag"); }},
      {"dtm_Geburtstag IS NOT NULL AND txt_Notiz IS NULL",
       [](const JsonObject& r) { return !IsNull(r, "dtm_Geburtstag") && IsNull(r, "txt_Notiz"); }},
      {"dtm_Geburtstag >= 32874",  // 1990-01-01
       [](const JsonObject& r) {
         return !IsNull(r, "dtm_Geburtstag") && Text(r, "dtm_Geburtstag") >= "1990-01-01";
       }},
      {"txt_Nachname = '" + shouted + "  '",
       [&](const JsonObject& r) {
         return !IsNull(r, "txt_Nachname") && SameText(Text(r, "txt_Nachname"), first_name);
       }},
      {"txt_Nachname = 'SCHRÖDER' OR txt_Nachname = 'müller'",
       [](const JsonObject& r) {
         return !IsNull(r, "txt_Nachname") && (SameText(Text(r, "txt_Nachname"), "schröder") ||
                                               SameText(Text(r, "txt_Nachname"), "müller"));
       }},
      {"txt_Ort <> 'FÜRTH' AND lng_ID < 60",
       [](const JsonObject& r) {
         return !IsNull(r, "txt_Ort") && !SameText(Text(r, "txt_Ort"), "fürth") &&
                Number(r, "lng_ID") < 60;
       }},
      {"lng_ID = 7 AND txt_Nachname = '" + Text(customers[6], "txt_Nachname") + "'",
       [](const JsonObject& r) { return Number(r, "lng_ID") == 7; }},
  };
  for (const Case& c : cases) {
    const auto expected = Expected(customers, {"lng_ID", "txt_Nachname", "dtm_Geburtstag"}, c.keep);
    EXPECT_GT(expected.size(), 1u) << c.where;
    EXPECT_EQ(Query(Target(),
                    "SELECT lng_ID, txt_Nachname, dtm_Geburtstag FROM tbl_Kunden WHERE " + c.where),
              expected)
        << c.where;
  }
}

TEST_F(InspectQuery, GroupsCountAndAggregateAsMdbReadersRowsSay) {
  const auto products = OracleRows(Target(), "tbl_Verwaltung_Produkte");
  ASSERT_EQ(products.size(), 119u);
  struct Group {
    int rows = 0;
    int dated = 0;
    double most_discount = -1e300;
    double lowest_id = 1e300;
  };
  std::map<double, Group> groups;  // Jet's group order: by value
  for (const JsonObject& r : products) {
    Group& g = groups[Number(r, "lng_ProduktGruppe")];
    ++g.rows;
    g.dated += IsNull(r, "dtm_Erstellt") ? 0 : 1;
    g.most_discount = std::max(g.most_discount, Number(r, "dbl_Rabatt"));
    g.lowest_id = std::min(g.lowest_id, Number(r, "lng_ID"));
  }
  std::vector<std::string> expected = {"lng_ProduktGruppe,n,d,r,lo"};
  for (const auto& [group, g] : groups) {
    expected.push_back(std::to_string(static_cast<int>(group)) + "," + std::to_string(g.rows) +
                       "," + std::to_string(g.dated) + "," +
                       std::to_string(static_cast<int>(g.most_discount)) + "," +
                       std::to_string(static_cast<int>(g.lowest_id)));
  }
  EXPECT_GE(groups.size(), 7u);
  EXPECT_EQ(Query(Target(),
                  "SELECT lng_ProduktGruppe, COUNT(*) AS n, COUNT(dtm_Erstellt) AS d, "
                  "MAX(dbl_Rabatt) AS r, MIN(lng_ID) AS lo FROM tbl_Verwaltung_Produkte "
                  "GROUP BY lng_ProduktGruppe"),
            expected);

  // Yes/No groups as numbers: Yes (-1) before No (0); with a condition that leaves some out.
  const auto customers = OracleRows(Target(), "tbl_Kunden");
  int yes = 0;
  int no = 0;
  for (const JsonObject& r : customers) {
    if (Number(r, "lng_ID") > 100) (Get(r, "bln_Stammkunde").boolean ? yes : no) += 1;
  }
  EXPECT_EQ(Query(Target(),
                  "SELECT COUNT(*) AS n, bln_Stammkunde FROM tbl_Kunden WHERE lng_ID > 100 "
                  "GROUP BY bln_Stammkunde"),
            (std::vector<std::string>{"n,bln_Stammkunde", std::to_string(yes) + ",1",
                                      std::to_string(no) + ",0"}));
  int named = 0;
  for (const JsonObject& r : customers) named += IsNull(r, "txt_Firma") ? 0 : 1;
  EXPECT_EQ(Query(Target(), "SELECT COUNT(txt_Firma) AS f, COUNT(*) AS n FROM tbl_Kunden"),
            (std::vector<std::string>{
                "f,n", std::to_string(named) + "," + std::to_string(customers.size())}));
}

// The oracle's largest and smallest value of a column as jet-inspect prints them, in Jet's
// order: numbers by value, dates by time, texts by their letters; of equals the first met.
std::pair<std::string, std::string> OracleExtremes(const std::vector<JsonObject>& rows,
                                                   const std::string& column) {
  const JsonObject* most = nullptr;
  const JsonObject* least = nullptr;
  auto less = [&](const JsonObject& a, const JsonObject& b) {
    const JsonValue& x = Get(a, column);
    const JsonValue& y = Get(b, column);
    if (x.kind == JsonValue::Kind::kNumber || column.rfind("cur_", 0) == 0) {
      return std::stod(x.text) < std::stod(y.text);
    }
    if (column.rfind("dtm_", 0) == 0) return x.text < y.text;
    return Fold(x.text) < Fold(y.text);
  };
  for (const JsonObject& r : rows) {
    if (IsNull(r, column)) continue;
    if (most == nullptr || less(*most, r)) most = &r;
    if (least == nullptr || less(r, *least)) least = &r;
  }
  if (most == nullptr) return {"", ""};
  return {Csv(Get(*most, column), column), Csv(Get(*least, column), column)};
}

TEST_F(InspectQuery, MaximaAndMinimaOfEveryKindWithAndWithoutIndex) {
  const std::map<std::string, std::vector<std::string>> columns = {
      // lng_ID and txt_Nachname have an index; the others have none.
      {"tbl_Kunden", {"lng_ID", "txt_Nachname", "dtm_Geburtstag", "cur_Umsatz", "txt_PLZ"}},
      {"tbl_Verwaltung_Produkte",
       {"lng_ProduktGruppe", "dbl_Rabatt", "dtm_Erstellt", "lng_Reihenfolge"}},
  };
  for (const auto& [table, names] : columns) {
    const auto rows = OracleRows(Target(), table);
    std::vector<JsonObject> later;  // the rows a condition leaves
    for (const JsonObject& r : rows) {
      if (Number(r, "lng_ID") > 50) later.push_back(r);
    }
    for (const std::string& c : names) {
      const std::string items = "MAX(" + c + ") AS hi, MIN(" + c + ") AS lo";
      const auto [hi, lo] = OracleExtremes(rows, c);
      ASSERT_FALSE(hi.empty()) << c;
      EXPECT_EQ(Query(Target(), "SELECT " + items + " FROM " + table),
                (std::vector<std::string>{"hi,lo", hi + "," + lo}))
          << table << "." << c;
      const auto [later_hi, later_lo] = OracleExtremes(later, c);
      EXPECT_EQ(Query(Target(), "SELECT " + items + " FROM " + table + " WHERE lng_ID > 50"),
                (std::vector<std::string>{"hi,lo", later_hi + "," + later_lo}))
          << table << "." << c;
    }
  }
}

TEST_F(InspectQuery, AnEmptyTableGivesOneAggregateRowAndNoOtherRows) {
  const DbFile empty{testing_support::Fixture("source-empty.mdb"), ""};
  ASSERT_TRUE(OracleRows(empty, "ArtikelStamm").empty());
  const auto run = [&](const std::string& sql) {
    const auto r = testing_support::RunCommand(
        ShellQuote(kInspect) + " query " + ShellQuote(empty.path.string()) + " " + ShellQuote(sql));
    EXPECT_EQ(r.exit_code, 0) << sql;
    return testing_support::SplitLines(r.out);
  };
  EXPECT_EQ(run("SELECT COUNT(*) AS n, MAX(ID) AS hi, MIN(Bezeichnung) AS lo, COUNT(Gruppe) AS g "
                "FROM ArtikelStamm"),
            (std::vector<std::string>{"n,hi,lo,g", "0,,,0"}));
  EXPECT_EQ(run("SELECT MAX(ID) AS hi, MIN(ID) AS lo FROM ArtikelStamm"),
            (std::vector<std::string>{"hi,lo", ","}));
  EXPECT_EQ(run("SELECT Gruppe, COUNT(*) AS n FROM ArtikelStamm GROUP BY Gruppe"),
            std::vector<std::string>{"Gruppe,n"});
  EXPECT_EQ(run("SELECT ID FROM ArtikelStamm WHERE Gruppe = 'Salate' AND ID > 3"),
            std::vector<std::string>{"ID"});
}

TEST_F(InspectQuery, AfterADeleteTheRowsMdbReaderReadsAnswer) {
  const testing_support::TargetCopy copy;
  const DbFile f{copy.path(), testing_support::kTargetPassword};
  const auto r = testing_support::RunCommand(
      ShellQuote(kInspect) + " --password " + ShellQuote(testing_support::kTargetPassword) +
      " exec " + ShellQuote(f.path.string()) + " " +
      ShellQuote("DELETE FROM tbl_Kunden WHERE lng_ID >= 290 OR lng_ID < 4 OR "
                 "txt_Nachname = 'schröder'"));
  ASSERT_EQ(r.exit_code, 0);
  const auto rows = OracleRows(f, "tbl_Kunden");
  ASSERT_LT(rows.size(), 297u - 10u);
  for (const JsonObject& row : rows) {
    EXPECT_TRUE(Number(row, "lng_ID") >= 4 && Number(row, "lng_ID") < 290);
  }
  for (const std::string& c :
       std::vector<std::string>{"lng_ID", "txt_Nachname", "dtm_Geburtstag"}) {
    const auto [hi, lo] = OracleExtremes(rows, c);
    EXPECT_EQ(
        Query(f,
              "SELECT MAX(" + c + ") AS hi, COUNT(*) AS n, MIN(" + c + ") AS lo FROM tbl_Kunden"),
        (std::vector<std::string>{"hi,n,lo", hi + "," + std::to_string(rows.size()) + "," + lo}))
        << c;
  }
  EXPECT_EQ(Query(f, "SELECT lng_ID FROM tbl_Kunden WHERE txt_Nachname = 'Schröder'"),
            std::vector<std::string>{"lng_ID"});
}

}  // namespace
