// Relationships: read from the catalogue and the foreign-key index entries, kept on every write
// (cascading deletes, Null set on delete, refusals 3200 and 3201 that leave the file as it was),
// and the migration into targets whose product tables are related.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "db/connection.h"
#include "db/error.h"
#include "db/recordset.h"
#include "db/referential_integrity.h"
#include "import/import_run.h"
#include "jet/database/integrity_check.h"
#include "jet/database/relationships.h"
#include "jet/table/table_scan.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"
#include "tests/db_test_util.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"
#include "tools/schema_print.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kTargetPassword;

using db::Value;
using testing_support::ErrorOf;

const std::string kData = testing_support::kFixtures;
constexpr char kCategories[] = "tbl_Verwaltung_ProdukteKategorien";
constexpr char kProducts[] = "tbl_Verwaltung_Produkte";
constexpr char kPrices[] = "tbl_Verwaltung_Produkte_Preise";
constexpr char kExtras[] = "tbl_Verwaltung_ProdukteExtras";
constexpr char kExtraPrices[] = "tbl_Verwaltung_ProdukteExtras_Preise";
constexpr char kAssignments[] = "tbl_Verwaltung_Produkte_Extras";
const char* const kProductTables[] = {kCategories, kProducts,    kPrices,
                                      kExtras,     kExtraPrices, kAssignments};

// A copy of a test database as DBZentavo.mdb in a scratch folder.
class Copy {
 public:
  explicit Copy(const std::string& name) {
    fs::copy_file(kData + "/" + name, dir_.path() / "DBZentavo.mdb");
  }
  std::string folder() const { return dir_.path().string() + "/"; }
  fs::path file() const { return dir_.path() / "DBZentavo.mdb"; }
  std::vector<std::uint8_t> bytes() const { return testing_support::ReadFileBytes(file()); }

 private:
  testing_support::ScratchDir dir_{"relationships"};
};

std::unique_ptr<jet::Database> OpenDb(const fs::path& file, bool writable = false) {
  auto db = jet::Database::Open(file.string(), {.password = kTargetPassword, .writable = writable});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(*db) : nullptr;
}

std::shared_ptr<db::Connection> Connect(const Copy& copy) {
  auto cn = std::make_shared<db::Connection>();
  cn->Open(run::TargetConnectionString(copy.folder()));
  return cn;
}

int Count(const std::shared_ptr<db::Connection>& cn, const std::string& sql) {
  db::Recordset rs;
  rs.Open(sql, cn, db::adOpenForwardOnly, db::adLockReadOnly);
  int n = 0;
  for (; !rs.Eof(); rs.MoveNext()) ++n;
  rs.Close();
  return n;
}

std::map<std::string, int> RowCounts(const fs::path& file) {
  auto db = OpenDb(file);
  std::map<std::string, int> counts;
  for (const char* table : kProductTables) {
    auto t = db->GetTable(table);
    counts[table] = static_cast<int>(testing_support::ReadAllRows(*db, **t).size());
  }
  return counts;
}

void ExpectSound(const fs::path& file) {
  auto db = OpenDb(file);
  auto report = jet::CheckIntegrity(*db);
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  for (const std::string& p : report->problems) ADD_FAILURE() << p;
}

// Adds a row through a recordset; returns the error number (0 when stored).
int AddRow(const std::shared_ptr<db::Connection>& cn, const std::string& table,
           const std::map<std::string, Value>& values) {
  return ErrorOf([&] {
    db::Recordset rs;
    rs.Open("SELECT * FROM " + table, cn, db::adOpenDynamic, db::adLockOptimistic);
    rs.AddNew();
    for (const auto& [name, v] : values) rs.Fields().Item(name).Value(v);
    rs.Update();
    rs.Close();
  });
}

std::string DescriptionOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const db::DbError& e) {
    return e.description();
  }
  return {};
}

TEST(Relationships, ReadWithTheirFlagsAndForeignKeyIndexes) {
  for (const char* file : {"target-related.mdb", "target-related-strict.mdb"}) {
    SCOPED_TRACE(file);
    auto db = OpenDb(kData + "/" + file);
    auto rels = jet::ReadRelationships(*db);
    ASSERT_TRUE(rels.ok()) << rels.status().ToString();
    ASSERT_EQ(rels->size(), 5u);
    const bool cascading = std::string(file) == "target-related.mdb";
    std::map<std::string, std::string> pairs;
    for (const jet::Relationship& r : *rels) {
      ASSERT_EQ(r.primary_columns.size(), 1u);
      ASSERT_EQ(r.related_columns.size(), 1u);
      pairs[r.related_table + "." + r.related_columns[0]] =
          r.primary_table + "." + r.primary_columns[0];
      EXPECT_TRUE(r.enforced());
      EXPECT_EQ(r.cascade_deletes(), cascading);
      EXPECT_FALSE(r.cascade_null());
      EXPECT_FALSE(r.cascade_updates());
      EXPECT_FALSE(r.primary_index.empty()) << r.name;
      EXPECT_EQ(r.related_index, r.name);  // the related table's entry carries its name
    }
    EXPECT_EQ(
        pairs,
        (std::map<std::string, std::string>{
            {"tbl_Verwaltung_Produkte.lng_ProduktGruppe",
             "tbl_Verwaltung_ProdukteKategorien.lng_ID"},
            {"tbl_Verwaltung_Produkte_Preise.lng_ProduktID", "tbl_Verwaltung_Produkte.lng_ID"},
            {"tbl_Verwaltung_Produkte_Extras.lng_ProduktID", "tbl_Verwaltung_Produkte.lng_ID"},
            {"tbl_Verwaltung_ProdukteExtras_Preise.lng_ExtraID",
             "tbl_Verwaltung_ProdukteExtras.lng_ID"},
            {"tbl_Verwaltung_Produkte_Extras.lng_ProduktExtraID",
             "tbl_Verwaltung_ProdukteExtras.lng_ID"}}));
    // The foreign-key index entries repeat the cascade flag.
    auto products = db->GetTable(kProducts);
    int foreign = 0;
    for (const jet::Index& x : (*products)->indexes) {
      if (!x.foreign_reference()) continue;
      ++foreign;
      EXPECT_EQ(x.cascade_deletes, cascading) << x.name;
      EXPECT_FALSE(x.cascade_null);
    }
    EXPECT_EQ(foreign, 3);  // one as related table, two as primary table
    std::ostringstream schema;
    ASSERT_TRUE(inspect::PrintSchema(*db, kCategories, schema).ok());
    EXPECT_NE(schema.str().find("Beziehungen\n  tbl_Verwaltung_ProdukteKategotbl_Verwaltung_"
                                "Produkte: tbl_Verwaltung_ProdukteKategorien (lng_ID) -> "
                                "tbl_Verwaltung_Produkte (lng_ProduktGruppe), referentielle "
                                "Integrität" +
                                std::string(cascading ? ", Löschweitergabe\n" : "\n")),
              std::string::npos)
        << schema.str();
  }
  auto plain = OpenDb(kData + "/target.mdb");
  auto none = jet::ReadRelationships(*plain);
  ASSERT_TRUE(none.ok());
  EXPECT_TRUE(none->empty());
}

TEST(Relationships, ReadFromFilesAccessMade) {
  const auto dir = testing_support::AccessMadeDir();
  if (!dir) GTEST_SKIP() << "no Access-made databases: " PI_SHARED_FIXTURE_DIR "/access-made";
  for (const char* name : {"indexTestV2000.mdb", "indexTestV1997.mdb"}) {
    SCOPED_TRACE(name);
    auto db = jet::Database::Open((*dir / name).string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto rels = jet::ReadRelationships(**db);
    ASSERT_TRUE(rels.ok()) << rels.status().ToString();
    std::map<std::string, const jet::Relationship*> by_name;
    for (const jet::Relationship& r : *rels) by_name[r.name] = &r;
    ASSERT_TRUE(by_name.count("Table2Table1"));
    ASSERT_TRUE(by_name.count("Table3Table1"));
    const jet::Relationship& deletes = *by_name["Table2Table1"];
    EXPECT_EQ(deletes.primary_table, "Table2");
    EXPECT_EQ(deletes.related_table, "Table1");
    EXPECT_EQ(deletes.related_columns, std::vector<std::string>{"otherfk1"});
    EXPECT_TRUE(deletes.cascade_deletes());
    EXPECT_FALSE(deletes.cascade_updates());
    EXPECT_EQ(deletes.related_index, "Table2Table1");
    EXPECT_FALSE(deletes.primary_index.empty());
    const jet::Relationship& updates = *by_name["Table3Table1"];
    EXPECT_TRUE(updates.cascade_updates());
    EXPECT_FALSE(updates.cascade_deletes());
    auto report = jet::CheckIntegrity(**db);
    ASSERT_TRUE(report.ok());
    for (const std::string& p : report->problems) ADD_FAILURE() << p;
  }
}

TEST(Relationships, CheckNamesRowsThatBreakAnEnforcedRelationship) {
  Copy copy("target-related-strict.mdb");
  {
    // Written below the record layer, which would refuse it.
    auto db = OpenDb(copy.file(), true);
    auto t = db->GetTable(kPrices);
    std::vector<Value> row((*t)->columns.size());
    row[static_cast<std::size_t>((*t)->FindColumn("lng_ProduktID") - (*t)->columns.data())] =
        Value(std::int32_t{999999});
    ASSERT_TRUE(db->InsertRow(kPrices, row).ok());
    ASSERT_TRUE(db->Commit().ok());
  }
  auto db = OpenDb(copy.file());
  auto report = jet::CheckIntegrity(*db);
  ASSERT_TRUE(report.ok());
  ASSERT_EQ(report->problems.size(), 1u);
  const std::string& p = report->problems[0];
  EXPECT_NE(p.find("'tbl_Verwaltung_Produktetbl_Verwaltung_Produkte_Preise'"), std::string::npos)
      << p;
  EXPECT_NE(p.find("lng_ProduktID = 999999"), std::string::npos) << p;
  EXPECT_NE(p.find("keine Zeile von 'tbl_Verwaltung_Produkte'"), std::string::npos) << p;
  // The plain target has orphans too (products of deleted categories), but no relationship.
  ExpectSound(kData + "/target.mdb");
}

int RunImport(const std::string& root) {
  run::RecordingUserSide user;
  run::DatabaseState state;
  state.strDBRoot = root;
  run::RunContext run{state, kData + "/source.mdb", user};
  try {
    import::cmdImport_Click(run);
  } catch (const run::ProgramEnd& end) {
    if (end.status() != run::kExitCompleted && !user.messages().empty()) {
      ADD_FAILURE() << user.messages()[0].prompt;
    }
    return end.status();
  }
  return -1;
}

std::string MdbExport(const fs::path& file, const std::string& table) {
  return testing_support::RunCommand("LC_ALL=C mdb-export " +
                                     testing_support::ShellQuote(file.string()) + " " + table)
      .out;
}

TEST(Relationships, MigrationIntoRelatedTargetsGivesTheRowsOfThePlainTarget) {
  Copy plain("target.mdb");
  ASSERT_EQ(RunImport(plain.folder()), run::kExitCompleted);
  for (const char* name : {"target-related.mdb", "target-related-strict.mdb"}) {
    SCOPED_TRACE(name);
    Copy related(name);
    ASSERT_EQ(RunImport(related.folder()), run::kExitCompleted);
    auto ours_plain = OpenDb(plain.file());
    auto ours_related = OpenDb(related.file());
    for (const char* table : kProductTables) {
      SCOPED_TRACE(table);
      std::ostringstream a, b;
      ASSERT_TRUE(inspect::ExportCsv(*ours_plain, table, a).ok());
      ASSERT_TRUE(inspect::ExportCsv(*ours_related, table, b).ok());
      EXPECT_EQ(a.str(), b.str());
      EXPECT_EQ(MdbExport(related.file(), table), b.str());
      const std::string reader =
          testing_support::MdbReaderCommand({related.file(), kTargetPassword}) + " --table " +
          table;
      const std::string reader_plain =
          testing_support::MdbReaderCommand({plain.file(), kTargetPassword}) + " --table " + table;
      const auto r1 = testing_support::RunCommand(reader);
      EXPECT_EQ(r1.exit_code, 0);
      EXPECT_FALSE(r1.out.empty());
      EXPECT_EQ(r1.out, testing_support::RunCommand(reader_plain).out);
    }
    ExpectSound(related.file());
  }
}

TEST(Relationships, DeletesCascadeThroughEveryLevelAndKeepTheIndexes) {
  Copy copy("target-related.mdb");
  const auto before = RowCounts(copy.file());
  auto cn = Connect(copy);
  const int products_of_1 = Count(cn,
                                  "SELECT * FROM tbl_Verwaltung_Produkte WHERE "
                                  "lng_ProduktGruppe = 1");
  ASSERT_GT(products_of_1, 0);
  cn->Execute("DELETE * FROM tbl_Verwaltung_ProdukteKategorien WHERE lng_ID = 1");
  // Read back at once through the same connection.
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 1"), 0);
  cn->Execute("DELETE * FROM tbl_Verwaltung_ProdukteExtras WHERE lng_ID = 2");
  cn->Close();
  auto after = RowCounts(copy.file());
  EXPECT_EQ(after[kCategories], before.at(kCategories) - 1);
  EXPECT_EQ(after[kProducts], before.at(kProducts) - products_of_1);
  // Ten prices per product; each product had one assignment per extra (5), less extra 2's.
  EXPECT_EQ(after[kPrices], before.at(kPrices) - 10 * products_of_1);
  EXPECT_EQ(after[kExtras], before.at(kExtras) - 1);
  EXPECT_EQ(after[kExtraPrices], before.at(kExtraPrices) - 10);
  EXPECT_EQ(after[kAssignments],
            before.at(kAssignments) - 5 * products_of_1 - (before.at(kProducts) - products_of_1));
  ExpectSound(copy.file());

  // All categories: every product, price and assignment goes with them.
  Copy all("target-related.mdb");
  auto cn2 = Connect(all);
  cn2->Execute("DELETE * FROM tbl_Verwaltung_ProdukteKategorien");
  cn2->Close();
  after = RowCounts(all.file());
  EXPECT_EQ(after[kProducts], 0);
  EXPECT_EQ(after[kPrices], 0);
  EXPECT_EQ(after[kAssignments], 0);
  EXPECT_EQ(after[kExtras], before.at(kExtras));
  EXPECT_EQ(after[kExtraPrices], before.at(kExtraPrices));
  ExpectSound(all.file());
}

TEST(Relationships, RollbackUndoesCascadedRows) {
  Copy copy("target-related.mdb");
  const auto original = copy.bytes();
  auto cn = Connect(copy);
  const int prices = Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte_Preise");
  cn->BeginTrans();
  cn->Execute("DELETE * FROM tbl_Verwaltung_Produkte");
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte_Preise"), 0);
  cn->RollbackTrans();
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte_Preise"), prices);
  // The cascade works again after the rollback, on the restored rows.
  cn->BeginTrans();
  cn->Execute("DELETE * FROM tbl_Verwaltung_Produkte WHERE lng_ID = 1");
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte_Preise"), prices - 10);
  cn->RollbackTrans();
  cn->Close();
  EXPECT_EQ(copy.bytes(), original);
}

TEST(Relationships, RefusalsLeaveTheFileByteForByte) {
  Copy copy("target-related-strict.mdb");
  const auto original = copy.bytes();
  auto cn = Connect(copy);
  const int products = Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte");
  // A category that products refer to: 3200, naming the related table; nothing deleted.
  const std::string why =
      DescriptionOf([&] { cn->Execute("DELETE * FROM tbl_Verwaltung_ProdukteKategorien"); });
  EXPECT_NE(why.find("'tbl_Verwaltung_Produkte'"), std::string::npos) << why;
  EXPECT_EQ(ErrorOf([&] { cn->Execute("DELETE * FROM tbl_Verwaltung_ProdukteKategorien"); }), 3200);
  EXPECT_EQ(ErrorOf([&] { cn->Execute("DELETE * FROM tbl_Verwaltung_Produkte"); }), 3200);
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte"), products);
  // A price for a product that does not exist: 3201, naming the primary table.
  const std::map<std::string, Value> orphan = {{"lng_ProduktID", Value(std::int32_t{999999})},
                                               {"lng_Gruppe", Value(std::int32_t{1})}};
  EXPECT_EQ(AddRow(cn, kPrices, orphan), 3201);
  const std::string why_insert = DescriptionOf([&] {
    db::Recordset rs;
    rs.Open("SELECT * FROM tbl_Verwaltung_Produkte_Preise", cn, db::adOpenDynamic,
            db::adLockOptimistic);
    rs.AddNew();
    rs.Fields().Item("lng_ProduktID").Value(Value(std::int32_t{999999}));
    rs.Update();
  });
  EXPECT_NE(why_insert.find("'tbl_Verwaltung_Produkte'"), std::string::npos) << why_insert;
  cn->Close();
  EXPECT_EQ(copy.bytes(), original);

  // Children first, then parents: the reset's order passes; a Null reference needs no row.
  auto cn2 = Connect(copy);
  cn2->BeginTrans();
  for (const char* table : {kAssignments, kPrices, kExtraPrices, kProducts, kExtras, kCategories}) {
    EXPECT_EQ(ErrorOf([&] { cn2->Execute(std::string("DELETE * FROM ") + table); }), 0) << table;
  }
  EXPECT_EQ(AddRow(cn2, kProducts, {{"lng_ProduktGruppe", Value()}}), 0);
  EXPECT_EQ(AddRow(cn2, kProducts, {{"lng_ProduktGruppe", Value(std::int32_t{1})}}), 3201);
  cn2->RollbackTrans();
  cn2->Close();
  EXPECT_EQ(copy.bytes(), original);
}

// Rewrites the rows of MSysRelationships with our writer: `change` gets each row's values by
// column name and may change them; extra rows are added.
void RewriteRelationships(const fs::path& file,
                          const std::function<void(std::map<std::string, Value>&)>& change,
                          const std::vector<std::map<std::string, Value>>& extra = {}) {
  auto db = OpenDb(file, true);
  ASSERT_TRUE(db);
  auto t = db->GetTable("MSysRelationships");
  ASSERT_TRUE(t.ok());
  std::vector<std::pair<jet::RowPointer, std::vector<Value>>> rows;
  jet::TableScan scan(*db, **t);
  while (*scan.Next()) rows.emplace_back(scan.position(), scan.values());
  auto store = [&](std::map<std::string, Value> named) {
    std::vector<Value> values;
    for (const jet::Column& c : (*t)->columns) values.push_back(named[c.name]);
    auto placed = db->InsertRow("MSysRelationships", values);
    ASSERT_TRUE(placed.ok()) << placed.status().ToString();
  };
  for (auto& [place, values] : rows) {
    ASSERT_TRUE(db->DeleteRow("MSysRelationships", place).ok());
    std::map<std::string, Value> named;
    for (std::size_t i = 0; i < values.size(); ++i) named[(*t)->columns[i].name] = values[i];
    change(named);
    store(named);
  }
  for (const auto& row : extra) store(row);
  ASSERT_TRUE(db->Commit().ok());
}

TEST(Relationships, DeleteSetsReferencesToNullWhereTheRelationshipSaysSo) {
  Copy copy("target-related-strict.mdb");
  RewriteRelationships(copy.file(), [](std::map<std::string, Value>& row) {
    if (row["szObject"] == Value(std::string(kProducts)) &&
        row["szReferencedObject"] == Value(std::string(kCategories))) {
      row["grbit"] = Value(static_cast<std::int32_t>(jet::kRelationCascadeNull));
    }
  });
  auto places = [&] {
    auto db = OpenDb(copy.file());
    auto t = db->GetTable(kProducts);
    std::map<std::int32_t, std::uint32_t> by_key;
    jet::TableScan scan(*db, **t);
    while (*scan.Next()) by_key[scan.values()[0].as<std::int32_t>()] = scan.position().Raw();
    return by_key;
  };
  const auto places_before = places();
  auto cn = Connect(copy);
  const int in_1 = Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = 1");
  const int without = Count(cn,
                            "SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe "
                            "IS NULL");
  const int products = Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte");
  ASSERT_GT(in_1, 0);
  cn->Execute("DELETE * FROM tbl_Verwaltung_ProdukteKategorien WHERE lng_ID = 1");
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe IS NULL"),
            without + in_1);
  // Products keep their keys, and with them their prices.
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte"), products);
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ID = 1"), 1);
  cn->Close();
  ExpectSound(copy.file());
  // Changed where they lie: the products keep their places and their order.
  EXPECT_EQ(places(), places_before);
  // The independent reader sees the Nulls too.
  const std::string exported = MdbExport(copy.file(), kProducts);
  EXPECT_EQ(RowCounts(copy.file())[kProducts], products);
  EXPECT_EQ(exported, [&] {
    auto db = OpenDb(copy.file());
    std::ostringstream ours;
    EXPECT_TRUE(inspect::ExportCsv(*db, kProducts, ours).ok());
    return ours.str();
  }());
}

TEST(Relationships, ReplacedRowKeepsItsNumberWhereverItLies) {
  Copy copy("target.mdb");
  std::vector<Value> first;
  jet::RowPointer at;
  {
    auto db = OpenDb(copy.file(), true);
    auto t = db->GetTable("tbl_Kunden");
    jet::TableScan scan(*db, **t);
    ASSERT_TRUE(*scan.Next());
    first = scan.values();
    at = scan.position();
    const int name = static_cast<int>((*t)->FindColumn("txt_Nachname") - (*t)->columns.data());
    // A text column to Null changes the variable part: the row is stored anew, number kept.
    std::vector<Value> changed = first;
    changed[static_cast<std::size_t>(name)] = Value();
    auto placed = db->ReplaceRow("tbl_Kunden", at, changed);
    ASSERT_TRUE(placed.ok()) << placed.status().ToString();
    EXPECT_NE(placed->Raw(), at.Raw());
    first[static_cast<std::size_t>(name)] = Value();
    ASSERT_TRUE(db->Commit().ok());
  }
  auto db = OpenDb(copy.file());
  auto t = db->GetTable("tbl_Kunden");
  bool found = false;
  for (const auto& row : testing_support::ReadAllRows(*db, **t)) found = found || row == first;
  EXPECT_TRUE(found);
  ExpectSound(copy.file());
}

TEST(Relationships, SeveralColumnsMustMatchTogether) {
  // A relationship over two column pairs, cascading deletes: a price names a product by its key
  // and its sort position.
  Copy copy("target.mdb");
  auto pair = [](std::int32_t position, const char* primary, const char* related) {
    return std::map<std::string, Value>{
        {"szRelationship", Value(std::string("ProduktPreisReihe"))},
        {"grbit", Value(static_cast<std::int32_t>(jet::kRelationCascadeDeletes))},
        {"ccolumn", Value(std::int32_t{2})},
        {"icolumn", Value(position)},
        {"szObject", Value(std::string(kPrices))},
        {"szColumn", Value(std::string(related))},
        {"szReferencedObject", Value(std::string(kProducts))},
        {"szReferencedColumn", Value(std::string(primary))}};
  };
  RewriteRelationships(
      copy.file(), [](std::map<std::string, Value>&) {},
      {pair(1, "lng_Reihenfolge", "lng_Gruppe"), pair(0, "lng_ID", "lng_ProduktID")});
  {
    auto db = OpenDb(copy.file());
    auto rels = jet::ReadRelationships(*db);
    ASSERT_TRUE(rels.ok()) << rels.status().ToString();
    ASSERT_EQ(rels->size(), 1u);
    EXPECT_EQ((*rels)[0].primary_columns, (std::vector<std::string>{"lng_ID", "lng_Reihenfolge"}));
    EXPECT_EQ((*rels)[0].related_columns,
              (std::vector<std::string>{"lng_ProduktID", "lng_Gruppe"}));
    // Made without the foreign-key index entries, which the check names.
    auto report = jet::CheckIntegrity(*db);
    ASSERT_TRUE(report.ok());
    bool named = false;
    for (const std::string& p : report->problems) {
      named = named || p.find("Fremdschlüsselindex") != std::string::npos;
    }
    EXPECT_TRUE(named);
  }
  auto cn = Connect(copy);
  cn->BeginTrans();
  cn->Execute("DELETE * FROM tbl_Verwaltung_Produkte_Preise");
  ASSERT_EQ(AddRow(cn, kProducts, {{"lng_Reihenfolge", Value(std::int32_t{3})}}), 0);
  db::Recordset rs;
  rs.Open("SELECT max(lng_ID) AS m FROM tbl_Verwaltung_Produkte", cn, db::adOpenForwardOnly,
          db::adLockReadOnly);
  const Value id = rs.Fields().Item("m").Value();
  rs.Close();
  auto price = [&](std::optional<std::int32_t> group) {
    std::map<std::string, Value> v = {{"lng_ProduktID", id}};
    v["lng_Gruppe"] = group ? Value(*group) : Value();
    return AddRow(cn, kPrices, v);
  };
  EXPECT_EQ(price(3), 0);
  EXPECT_EQ(price(4), 3201);          // the key alone is not enough
  EXPECT_EQ(price(std::nullopt), 0);  // a Null part refers to nothing
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte_Preise"), 2);
  cn->Execute("DELETE * FROM tbl_Verwaltung_Produkte WHERE lng_Reihenfolge = 3");
  // The price with both parts went with the product; the one with a Null part stays.
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte_Preise"), 1);
  EXPECT_EQ(Count(cn, "SELECT * FROM tbl_Verwaltung_Produkte_Preise WHERE lng_Gruppe IS NULL"), 1);
  cn->RollbackTrans();
  cn->Close();
}

}  // namespace
