// The migration end to end on real files: validation, the four phases, the progress protocol,
// the messages, the atomic run, and the result read back by our reader and the independent ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "db/connection.h"
#include "db/error.h"
#include "db/recordset.h"
#include "import/import_run.h"
#include "jet/database/integrity_check.h"
#include "jet/text/text_compare.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kFixtures;
using testing_support::kTargetPassword;

using db::Value;
using run::ProgressCall;

class Scratch {
 public:
  explicit Scratch(const std::string& target = "target.mdb") {
    fs::copy_file(kFixtures + "/" + target, dir_.path() / "DBZentavo.mdb");
  }
  std::string folder() const { return dir_.path().string() + "/"; }
  fs::path target() const { return dir_.path() / "DBZentavo.mdb"; }

 private:
  testing_support::ScratchDir dir_{"import"};
};

struct RunResult {
  int status = -1;
  std::vector<run::Message> messages;
  std::vector<ProgressCall> progress;
};

// A user side whose progress display fails at its n-th call, to break a run in the middle.
class FailingUserSide : public run::RecordingUserSide {
 public:
  explicit FailingUserSide(int fail_at) : fail_at_(fail_at) {}
  void SetValue(float value) override {
    if (++calls_ == fail_at_)
      throw db::DbError(db::ErrorCode::kIoError, "Datenträger- oder Netzwerkfehler.");
    RecordingUserSide::SetValue(value);
  }

 private:
  int fail_at_;
  int calls_ = 0;
};

RunResult RunImport(const std::string& root, const std::string& source,
                    run::RecordingUserSide* user_side = nullptr) {
  run::RecordingUserSide own;
  run::RecordingUserSide& user = user_side ? *user_side : own;
  run::DatabaseState state;
  state.strDBRoot = root;
  run::RunContext run{state, source, user};
  RunResult result;
  try {
    import::cmdImport_Click(run);
    ADD_FAILURE() << "the run returned instead of ending the program";
  } catch (const run::ProgramEnd& end) {
    result.status = end.status();
  }
  result.messages = user.messages();
  result.progress = user.progress_calls();
  return result;
}

std::vector<std::vector<Value>> Rows(const fs::path& file, const std::string& table) {
  auto db = jet::Database::Open(file.string(), {.password = kTargetPassword});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  auto t = (*db)->GetTable(table);
  EXPECT_TRUE(t.ok());
  return testing_support::ReadAllRows(**db, **t);
}

int Col(const fs::path& file, const std::string& table, const std::string& name) {
  auto db = jet::Database::Open(file.string(), {.password = kTargetPassword});
  auto t = (*db)->GetTable(table);
  return static_cast<int>((*t)->FindColumn(name) - (*t)->columns.data());
}

std::string Export(const fs::path& file, const std::string& table) {
  return testing_support::RunCommand("LC_ALL=C mdb-export " +
                                     testing_support::ShellQuote(file.string()) + " " + table)
      .out;
}

TEST(ImportRun, SourceIntoTargetGivesExactlyTheDescribedRows) {
  PI_REQUIRE_MDB_EXPORT();
  PI_REQUIRE_MDB_READER();
  Scratch scratch;
  const std::string customers_before = Export(scratch.target(), "tbl_Kunden");
  const std::string settings_before = Export(scratch.target(), "tbl_Einstellungen");
  const RunResult r = RunImport(scratch.folder(), kFixtures + "/source.mdb");
  ASSERT_EQ(r.status, run::kExitCompleted);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].prompt, run::kMessageCompleted);
  EXPECT_EQ(r.messages[0].style, run::vbInformation);
  EXPECT_EQ(r.messages[0].title, "Produkte Import");

  const fs::path t = scratch.target();
  // Categories: one per group as Jet compares them (13 with the empty one), sort position 1,
  // the active flag at its default.
  const auto categories = Rows(t, "tbl_Verwaltung_ProdukteKategorien");
  EXPECT_EQ(categories.size(), 13u);
  std::set<std::string> names;
  for (const auto& row : categories) {
    names.insert(jet::TextEqualityKey(
        row[Col(t, "tbl_Verwaltung_ProdukteKategorien", "txt_ProduktGruppe")].as<std::string>()));
    EXPECT_EQ(row[Col(t, "tbl_Verwaltung_ProdukteKategorien", "lng_Reihenfolge")],
              Value(std::int32_t{1}));
    EXPECT_EQ(row[Col(t, "tbl_Verwaltung_ProdukteKategorien", "bln_Aktiv")], Value(true));
  }
  EXPECT_EQ(names.size(), 13u);
  EXPECT_TRUE(names.count(""));

  // Products: 249 articles less the repeated short code in Pasta and the one in Salate/SALATE.
  const auto products = Rows(t, "tbl_Verwaltung_Produkte");
  EXPECT_EQ(products.size(), 247u);
  const int stk = Col(t, "tbl_Verwaltung_Produkte", "txt_Stückelung");
  for (const auto& row : products) {
    EXPECT_EQ(row[stk], Value(std::string("Stk.")));
    EXPECT_EQ(row[Col(t, "tbl_Verwaltung_Produkte", "lng_Einheit")], Value(std::int32_t{1}));
    EXPECT_EQ(row[Col(t, "tbl_Verwaltung_Produkte", "lng_Reihenfolge")], Value(std::int32_t{1}));
    EXPECT_EQ(row[Col(t, "tbl_Verwaltung_Produkte", "txt_Beschreibung")], Value(std::string()));
    EXPECT_EQ(row[Col(t, "tbl_Verwaltung_Produkte", "dbl_Rabatt")], Value(0.0));
    EXPECT_TRUE(row[Col(t, "tbl_Verwaltung_Produkte", "dtm_Erstellt")].is_null());
  }
  // Keys continue from the counter (122) and every product has its ten prices.
  std::map<std::int32_t, std::vector<std::int32_t>> groups_of;
  const auto prices = Rows(t, "tbl_Verwaltung_Produkte_Preise");
  EXPECT_EQ(prices.size(), 2470u);
  for (const auto& row : prices) {
    groups_of[row[Col(t, "tbl_Verwaltung_Produkte_Preise", "lng_ProduktID")].as<std::int32_t>()]
        .push_back(row[Col(t, "tbl_Verwaltung_Produkte_Preise", "lng_Gruppe")].as<std::int32_t>());
    EXPECT_EQ(row[Col(t, "tbl_Verwaltung_Produkte_Preise", "lng_MWSt")], Value(std::int32_t{2}));
  }
  for (const auto& row : products) {
    const auto key = row[0].as<std::int32_t>();
    EXPECT_GT(key, 122);
    EXPECT_EQ(groups_of[key], (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10})) << key;
  }
  // Extras: 25 add-ons less the repeated "Extra Käse"; the assignments are the cross product.
  const auto extras = Rows(t, "tbl_Verwaltung_ProdukteExtras");
  EXPECT_EQ(extras.size(), 24u);
  EXPECT_EQ(Rows(t, "tbl_Verwaltung_ProdukteExtras_Preise").size(), 240u);
  const auto assignments = Rows(t, "tbl_Verwaltung_Produkte_Extras");
  EXPECT_EQ(assignments.size(), 247u * 24u);
  std::set<std::pair<std::int32_t, std::int32_t>> pairs;
  for (const auto& row : assignments) {
    pairs.insert(
        {row[Col(t, "tbl_Verwaltung_Produkte_Extras", "lng_ProduktID")].as<std::int32_t>(),
         row[Col(t, "tbl_Verwaltung_Produkte_Extras", "lng_ProduktExtraID")].as<std::int32_t>()});
  }
  EXPECT_EQ(pairs.size(), assignments.size());

  // Unrelated tables are untouched; the independent readers agree with ours.
  EXPECT_EQ(Export(t, "tbl_Kunden"), customers_before);
  EXPECT_EQ(Export(t, "tbl_Einstellungen"), settings_before);
  auto counts = testing_support::RunCommand(
      testing_support::MdbReaderCommand(testing_support::DbFile{t, kTargetPassword}));
  EXPECT_NE(counts.out.find("tbl_Verwaltung_Produkte_Extras\t5928\n"), std::string::npos)
      << counts.out;
  EXPECT_NE(counts.out.find("tbl_Verwaltung_Produkte\t247\n"), std::string::npos);
  auto db = jet::Database::Open(t.string(), {.password = kTargetPassword});
  ASSERT_TRUE(db.ok());
  for (const char* table :
       {"tbl_Verwaltung_ProdukteKategorien", "tbl_Verwaltung_Produkte",
        "tbl_Verwaltung_Produkte_Preise", "tbl_Verwaltung_ProdukteExtras",
        "tbl_Verwaltung_ProdukteExtras_Preise", "tbl_Verwaltung_Produkte_Extras"}) {
    std::ostringstream ours;
    ASSERT_TRUE(inspect::ExportCsv(**db, table, ours).ok());
    EXPECT_EQ(Export(t, table), ours.str()) << table;
  }
  auto report = jet::CheckIntegrity(**db);
  ASSERT_TRUE(report.ok());
  for (const auto& p : report->problems) ADD_FAILURE() << p;
}

TEST(ImportRun, ProgressCountsEveryArticleAddOnAndProduct) {
  // tests/data/README.md: source.mdb has 249 articles and 25 add-ons; 247 articles become
  // products (the second PA01 of Pasta and SA01 of SALATE collide with one already imported).
  Scratch scratch;
  const RunResult r = RunImport(scratch.folder(), kFixtures + "/source.mdb");
  ASSERT_EQ(r.status, run::kExitCompleted);
  ASSERT_FALSE(r.progress.empty());
  using K = ProgressCall::Kind;
  // The bar is shown before anything else and never hidden while the run works.
  EXPECT_EQ(r.progress.front(), (ProgressCall{K::kVisible, 1}));
  std::vector<float> maxima;
  std::vector<std::vector<float>> values;  // the values after each maximum
  for (const ProgressCall& call : r.progress) {
    if (call.kind == K::kVisible) {
      EXPECT_EQ(call.value, 1);
    }
    if (call.kind == K::kMax) {
      maxima.push_back(call.value);
      values.emplace_back();
    }
    if (call.kind == K::kValue) {
      ASSERT_FALSE(values.empty()) << "a value before the first maximum";
      values.back().push_back(call.value);
    }
  }
  // Articles, add-ons, then the products the add-ons are assigned to: each counted 0, 1, ...
  // up to one below its maximum.
  ASSERT_EQ(maxima, (std::vector<float>{249, 25, 247}));
  for (std::size_t phase = 0; phase < maxima.size(); ++phase) {
    SCOPED_TRACE(phase);
    ASSERT_EQ(values[phase].size(), static_cast<std::size_t>(maxima[phase]));
    for (std::size_t i = 0; i < values[phase].size(); ++i) {
      EXPECT_EQ(values[phase][i], static_cast<float>(i));
    }
  }
  EXPECT_EQ(Rows(scratch.target(), "tbl_Verwaltung_Produkte").size(), 247u);
}

TEST(ImportRun, EdgeCasesOfTheSources) {
  {
    Scratch scratch;  // apostrophes in groups, short codes and add-on names
    const RunResult r = RunImport(scratch.folder(), kFixtures + "/source-quotes.mdb");
    ASSERT_EQ(r.status, run::kExitCompleted) << (r.messages.empty() ? "" : r.messages[0].prompt);
    EXPECT_EQ(Rows(scratch.target(), "tbl_Verwaltung_ProdukteKategorien").size(), 4u);
    EXPECT_EQ(Rows(scratch.target(), "tbl_Verwaltung_Produkte").size(), 9u);  // DR1 twice
    EXPECT_EQ(Rows(scratch.target(), "tbl_Verwaltung_ProdukteExtras").size(),
              4u);  // Chef's Sauce twice
  }
  {
    Scratch scratch;  // no rows at all: the run completes with empty tables
    const RunResult r = RunImport(scratch.folder(), kFixtures + "/source-empty.mdb");
    ASSERT_EQ(r.status, run::kExitCompleted);
    for (const char* table : {"tbl_Verwaltung_ProdukteKategorien", "tbl_Verwaltung_Produkte",
                              "tbl_Verwaltung_Produkte_Extras"}) {
      EXPECT_TRUE(Rows(scratch.target(), table).empty()) << table;
    }
  }
  {
    Scratch scratch;  // a Null only in the second row passes the validation
    EXPECT_EQ(RunImport(scratch.folder(), kFixtures + "/source-null-second.mdb").status,
              run::kExitCompleted);
  }
}

TEST(ImportRun, ArticlesWithoutGroupBecomeProductsOfTheEmptyCategory) {
  Scratch scratch;
  ASSERT_EQ(RunImport(scratch.folder(), kFixtures + "/source.mdb").status, run::kExitCompleted);
  auto cn = std::make_shared<db::Connection>();
  cn->Open(run::TargetConnectionString(scratch.folder()));
  db::Recordset rs;
  rs.Open("SELECT * FROM tbl_Verwaltung_ProdukteKategorien WHERE txt_ProduktGruppe = ''", cn,
          db::adOpenForwardOnly, db::adLockReadOnly);
  ASSERT_FALSE(rs.Eof());
  const Value empty_category = rs.Fields().Item("lng_ID").Value();
  rs.Close();
  rs.Open("SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = " +
          db::ToText(empty_category));
  std::set<std::string> codes;
  for (; !rs.Eof(); rs.MoveNext())
    codes.insert(db::ToText(rs.Fields().Item("txt_Kurzzeichen").Value()));
  rs.Close();
  cn->Close();
  EXPECT_EQ(codes, (std::set<std::string>{"GS20", "SERV"}));  // Null group and empty group
}

TEST(ImportRun, ASecondRunGivesTheSameRowsWithNewKeys) {
  Scratch scratch;
  ASSERT_EQ(RunImport(scratch.folder(), kFixtures + "/source.mdb").status, run::kExitCompleted);
  const auto first = Rows(scratch.target(), "tbl_Verwaltung_Produkte");
  ASSERT_EQ(RunImport(scratch.folder(), kFixtures + "/source.mdb").status, run::kExitCompleted);
  const auto second = Rows(scratch.target(), "tbl_Verwaltung_Produkte");
  ASSERT_EQ(first.size(), second.size());
  std::int32_t highest_first = 0;
  for (const auto& row : first) highest_first = std::max(highest_first, row[0].as<std::int32_t>());
  for (std::size_t i = 0; i < second.size(); ++i) {
    EXPECT_GT(second[i][0].as<std::int32_t>(), highest_first);
    EXPECT_TRUE(std::equal(second[i].begin() + 2, second[i].end(), first[i].begin() + 2));
  }
}

struct ValidationCase {
  std::string name;
  std::string source;   // in tests/data
  std::string target;   // copied as DBZentavo.mdb
  bool drop_separator;  // the folder given without its final '/'
};

class ValidationFailures : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(ValidationFailures, ShowTheMessageAndLeaveTheTargetAsItWas) {
  const ValidationCase& c = GetParam();
  Scratch scratch(c.target);
  const auto before = testing_support::ReadFileBytes(scratch.target());
  std::string root = scratch.folder();
  if (c.drop_separator) root.pop_back();
  const RunResult r = RunImport(root, kFixtures + "/" + c.source);
  EXPECT_EQ(r.status, run::kExitInvalidSource);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].prompt, run::kMessageInvalidDatabase);
  EXPECT_EQ(r.messages[0].style, run::vbCritical);
  EXPECT_EQ(r.messages[0].title, "Ungültige Datenbank");
  EXPECT_TRUE(r.progress.empty());
  EXPECT_EQ(testing_support::ReadFileBytes(scratch.target()), before);
  EXPECT_FALSE(fs::exists(fs::path(scratch.folder()) / "DBZentavo.ldb"));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ValidationFailures,
    ::testing::Values(
        ValidationCase{"MissingColumn", "source-missing-column.mdb", "target.mdb", false},
        ValidationCase{"MissingTable", "source-no-zusatz.mdb", "target.mdb", false},
        ValidationCase{"NullInFirstRow", "source-null-first.mdb", "target.mdb", false},
        ValidationCase{"NotADatabase", "not-a-database.mdb", "target.mdb", false},
        ValidationCase{"Truncated", "truncated.mdb", "target.mdb", false},
        ValidationCase{"MissingFile", "fehlt.mdb", "target.mdb", false},
        ValidationCase{"WrongTargetPassword", "source.mdb", "target-wrong-password.mdb", false}),
    [](const auto& p) { return p.param.name; });

// A recorded folder that leads to no database (here: without its final '/', so the file name is
// glued to the folder's) is not blamed on the source: its own message names the file that was
// looked for, and the program ends with the status of a missing setting.
TEST(ImportRun, AMissingTargetIsNamedAndNotBlamedOnTheSource) {
  Scratch scratch("target.mdb");
  const auto before = testing_support::ReadFileBytes(scratch.target());
  std::string root = scratch.folder();
  root.pop_back();
  const RunResult r = RunImport(root, kFixtures + "/source.mdb");
  EXPECT_EQ(r.status, run::kExitNotInstalled);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].prompt.find("Fehler 3024"), std::string::npos) << r.messages[0].prompt;
  EXPECT_NE(r.messages[0].prompt.find(root + "DBZentavo.mdb"), std::string::npos)
      << r.messages[0].prompt;
  EXPECT_EQ(r.messages[0].title, run::kTitleImport);
  EXPECT_EQ(testing_support::ReadFileBytes(scratch.target()), before);
}

TEST(ImportRun, AFailureInAnyPhaseLeavesTheTargetAsItWas) {
  // The n-th progress value falls in the product phase (n <= 249), the extra phase and the
  // assignment phase; each failure must leave every byte of the target unchanged.
  for (int fail_at : {1, 120, 249, 250, 262, 275, 400, 521}) {
    Scratch scratch;
    const auto before = testing_support::ReadFileBytes(scratch.target());
    FailingUserSide user(fail_at);
    const RunResult r = RunImport(scratch.folder(), kFixtures + "/source.mdb", &user);
    EXPECT_EQ(r.status, run::kExitUnexpectedError) << fail_at;
    ASSERT_EQ(r.messages.size(), 1u) << fail_at;
    EXPECT_EQ(r.messages[0].prompt,
              "Es ist ein unerwarteter Fehler aufgetreten (Fehler 3043: Datenträger- oder "
              "Netzwerkfehler). Die Zieldatenbank wurde nicht verändert. Das Programm wird jetzt "
              "beendet.");
    EXPECT_EQ(r.messages[0].style, run::vbCritical);
    EXPECT_EQ(r.messages[0].title, "Produkte Import");
    EXPECT_EQ(testing_support::ReadFileBytes(scratch.target()), before) << fail_at;
    // A run after it succeeds.
    EXPECT_EQ(RunImport(scratch.folder(), kFixtures + "/source.mdb").status, run::kExitCompleted);
  }
}

}  // namespace
