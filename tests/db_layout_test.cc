// The statements the import sends to both databases, run through the record layer on the sample
// source and target, against results computed independently from mdb-reader's rows (which tell
// Null from the empty text). Text equality is recomputed here the plain way: letter case folded
// by a small table of its own, trailing blanks cut.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/recordset.h"
#include "db/statement_text.h"
#include "run/source_layout.h"
#include "run/target_layout.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace {

using testing_support::kFixtures;

using testing_support::JsonObject;
using testing_support::JsonValue;

std::vector<JsonObject> OracleRows(const std::string& file, const std::string& table,
                                   const std::string& password = "") {
  testing_support::DbFile db{kFixtures + "/" + file, password};
  auto result = testing_support::RunCommand(testing_support::MdbReaderCommand(db) + " --table " +
                                            testing_support::ShellQuote(table));
  EXPECT_EQ(result.exit_code, 0);
  std::vector<JsonObject> rows;
  for (const std::string& line : testing_support::SplitLines(result.out)) {
    if (line.empty()) continue;
    auto obj = testing_support::ParseJsonObject(line);
    EXPECT_TRUE(obj.has_value()) << line;
    if (obj) rows.push_back(*obj);
  }
  return rows;
}

const JsonValue& Get(const JsonObject& row, const std::string& name) {
  for (const auto& [k, v] : row) {
    if (k == name) return v;
  }
  static const JsonValue kMissing;
  ADD_FAILURE() << "no column " << name;
  return kMissing;
}

// Independent case folding for the letters the samples hold: ASCII and German umlauts.
std::string Fold(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 'A' && c <= 'Z') {
      out.push_back(static_cast<char>(c + 32));
    } else if (c == 0xC3 && i + 1 < s.size()) {
      unsigned char n = static_cast<unsigned char>(s[i + 1]);
      if (n == 0x84 || n == 0x96 || n == 0x9C) n = static_cast<unsigned char>(n + 0x20);  // ÄÖÜ
      out.push_back(static_cast<char>(c));
      out.push_back(static_cast<char>(n));
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

class LayoutQueries : public ::testing::Test {
 protected:
  std::shared_ptr<db::Connection> Open(const std::string& file, const std::string& password) {
    auto cn = std::make_shared<db::Connection>();
    cn->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + kFixtures + "/" + file +
             " ;Jet OLEDB:Database Password=" + password + ";");
    return cn;
  }
  // Values of one column over the whole result.
  std::vector<db::Value> Column(db::Recordset& rs, const std::string& name) {
    std::vector<db::Value> out;
    for (; !rs.Eof(); rs.MoveNext()) out.push_back(rs.Fields().Item(name).Value());
    rs.Close();
    return out;
  }
};

TEST_F(LayoutQueries, SourceGroupsCountsAndPerGroupArticles) {
  PI_REQUIRE_MDB_READER();
  auto cn = Open("source.mdb", "");
  const auto oracle = OracleRows("source.mdb", "ArtikelStamm");
  ASSERT_EQ(oracle.size(), 249u);
  std::map<std::string, std::vector<std::int64_t>> ids_by_group;  // folded name -> ids in order
  bool null_group = false;
  for (const auto& row : oracle) {
    const JsonValue& g = Get(row, "Gruppe");
    if (g.kind == JsonValue::Kind::kNull) {
      null_group = true;
      continue;
    }
    ids_by_group[Fold(g.text)].push_back(static_cast<std::int64_t>(Get(row, "ID").number));
  }

  db::Recordset rs;
  rs.Open(run::source::kCountArticles, cn, db::adOpenForwardOnly, db::adLockReadOnly);
  EXPECT_EQ(db::ToSingle(rs.Fields().Item("TotalProdukte").Value()), 249.0f);
  rs.Close();
  rs.Open(run::source::kCountAddOns, cn, db::adOpenForwardOnly, db::adLockReadOnly);
  EXPECT_EQ(db::ToSingle(rs.Fields().Item("TotalProdukte").Value()),
            static_cast<float>(OracleRows("source.mdb", "ArtikelZusatzStamm").size()));
  rs.Close();

  rs.Open(run::source::kSelectGroups, cn, db::adOpenForwardOnly, db::adLockReadOnly);
  const auto groups = Column(rs, "Gruppe");
  EXPECT_EQ(groups.size(), ids_by_group.size() + (null_group ? 1 : 0));
  ASSERT_TRUE(groups.front().is_null());  // the Null group first
  std::set<std::string> seen;
  for (std::size_t i = 1; i < groups.size(); ++i) {
    const std::string name = db::cNull(groups[i]).as<std::string>();
    EXPECT_TRUE(seen.insert(Fold(name)).second) << "group twice: " << name;
    // The articles of the group, as the product phase selects them, in storage order.
    rs.Open(run::source::kSelectArticlesOfGroupPrefix + db::JoinValue(db::cNull(groups[i])) + "'");
    std::vector<std::int64_t> ids;
    for (const auto& v : Column(rs, "ID")) ids.push_back(v.as<std::int32_t>());
    EXPECT_EQ(ids, ids_by_group[Fold(name)]) << name;
  }
  EXPECT_EQ(seen.size(), ids_by_group.size());
  EXPECT_EQ(ids_by_group[Fold("salate")].size(), 23u);
}

TEST_F(LayoutQueries, TargetLookupsKeysAndCounts) {
  PI_REQUIRE_MDB_READER();
  auto cn = Open("target.mdb", run::target::kDatabasePassword);
  const std::string pw = run::target::kDatabasePassword;
  const auto categories = OracleRows("target.mdb", std::string(run::target::kKategorien), pw);
  const auto products = OracleRows("target.mdb", std::string(run::target::kProdukte), pw);
  const auto prices = OracleRows("target.mdb", std::string(run::target::kProduktePreise), pw);
  const auto extras = OracleRows("target.mdb", std::string(run::target::kExtras), pw);

  db::Recordset a, b, c;
  // Category keys with their names: the largest key per name.
  std::map<std::string, std::int64_t> max_key;
  for (const auto& row : categories) {
    auto& m = max_key[Fold(Get(row, "txt_ProduktGruppe").text)];
    m = std::max<std::int64_t>(m, static_cast<std::int64_t>(Get(row, "lng_ID").number));
  }
  a.Open(run::target::kSelectCategoryKeys, cn, db::adOpenDynamic, db::adLockOptimistic);
  std::size_t n = 0;
  for (; !a.Eof(); a.MoveNext(), ++n) {
    const std::string name = a.Fields().Item("txt_ProduktGruppe").Value().as<std::string>();
    EXPECT_EQ(a.Fields().Item("lng_GruppeID").Value().as<std::int32_t>(), max_key[Fold(name)]);
    // The category look-up by name finds it.
    b.Open(run::target::kSelectCategoryPrefix + db::JoinValue(db::Value(name)) + "'", cn,
           db::adOpenDynamic, db::adLockOptimistic);
    EXPECT_FALSE(b.Eof());
    b.Close();
  }
  a.Close();
  EXPECT_EQ(n, max_key.size());

  // Every product is found by its category and short code; its prices by its key.
  std::map<std::int64_t, int> price_count;
  for (const auto& row : prices)
    ++price_count[static_cast<std::int64_t>(Get(row, "lng_ProduktID").number)];
  for (const auto& row : products) {
    const auto key = static_cast<std::int32_t>(Get(row, "lng_ID").number);
    const JsonValue& code = Get(row, "txt_Kurzzeichen");
    b.Open(run::target::kSelectProductPrefix +
               db::JoinValue(
                   db::Value(static_cast<std::int32_t>(Get(row, "lng_ProduktGruppe").number))) +
               run::target::kSelectProductMiddle +
               db::JoinValue(code.kind == JsonValue::Kind::kNull ? db::Value()
                                                                 : db::Value(code.text)) +
               run::target::kSelectProductSuffix,
           cn, db::adOpenDynamic, db::adLockOptimistic);
    bool found = false;
    for (; !b.Eof(); b.MoveNext())
      found = found || b.Fields().Item("lng_ID").Value() == db::Value(key);
    b.Close();
    EXPECT_TRUE(found) << key;
    c.Open(run::target::kSelectProductPricesPrefix + db::JoinValue(db::Value(key)), cn,
           db::adOpenDynamic, db::adLockOptimistic);
    int count = 0;
    for (; !c.Eof(); c.MoveNext()) ++count;
    c.Close();
    EXPECT_EQ(count, price_count[key]) << key;
  }
  for (const auto& row : extras) {
    b.Open(run::target::kSelectExtraPrefix + db::JoinValue(db::Value(Get(row, "txt_Extra").text)) +
               run::target::kSelectExtraSuffix,
           cn, db::adOpenDynamic, db::adLockOptimistic);
    EXPECT_FALSE(b.Eof());
    b.Close();
  }

  // Key read-backs and the product count.
  std::int64_t highest = 0;
  for (const auto& row : products)
    highest = std::max<std::int64_t>(highest, static_cast<std::int64_t>(Get(row, "lng_ID").number));
  c.Open(run::target::kLastProductKey, cn, db::adOpenDynamic, db::adLockOptimistic);
  EXPECT_EQ(db::ToInt32(c.Fields().Item("lng_LastID").Value()), highest);
  c.Close();
  c.Open(run::target::kLastExtraKey, cn, db::adOpenDynamic, db::adLockOptimistic);
  EXPECT_EQ(db::ToInt32(c.Fields().Item("lng_LastID").Value()), 5);
  c.Close();
  a.Open(run::target::kCountProducts, cn, db::adOpenForwardOnly, db::adLockReadOnly);
  EXPECT_EQ(db::ToSingle(a.Fields().Item("TotalProdukte").Value()),
            static_cast<float>(products.size()));
  a.Close();
  cn->Close();
}

}  // namespace
