// The jet-inspect program as a user runs it: its commands, the --password option in both
// spellings, and its failures (exit status 2 for wrong usage, non-zero with a German message on
// stderr for files and tables it cannot read, and never any output on stdout then).
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "jet/database/database.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"
#include "tools/schema_print.h"

namespace {

using testing_support::Fixture;
using testing_support::kOtherTargetPassword;
using testing_support::kTargetPassword;

namespace fs = std::filesystem;
using testing_support::ShellQuote;

constexpr char kInspect[] = PI_BINARY_DIR "/tools/jet-inspect";

struct InspectRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

InspectRun Inspect(const std::vector<std::string>& args) {
  testing_support::TempFile err("jet-inspect-stderr");
  std::string cmd = ShellQuote(kInspect);
  for (const std::string& a : args) cmd += " " + ShellQuote(a);
  cmd += " 2>" + ShellQuote(err.path().string());
  const auto r = testing_support::RunCommand(cmd);
  return InspectRun{r.exit_code, r.out, testing_support::ReadFileText(err.path())};
}

std::string ArgsText(const std::vector<std::string>& args) {
  std::string s = "jet-inspect";
  for (const std::string& a : args) s += " " + a;
  return s;
}

std::unique_ptr<jet::Database> OpenDb(const std::string& file, const std::string& password) {
  auto db = jet::Database::Open(Fixture(file), {.password = password});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(*db) : nullptr;
}

std::string TableList(const std::string& file, const std::string& password) {
  auto db = OpenDb(file, password);
  std::string out;
  if (db) {
    for (const std::string& name : db->TableNames()) out += name + "\n";
  }
  return out;
}

std::string Schema(const std::string& file, const std::string& table) {
  auto db = OpenDb(file, "");
  std::ostringstream out;
  if (db) {
    EXPECT_TRUE(inspect::PrintSchema(*db, table, out).ok());
  }
  return out.str();
}

std::string MdbExport(const std::string& file, const std::string& table) {
  const auto r = testing_support::RunCommand("LC_ALL=C mdb-export " + ShellQuote(Fixture(file)) +
                                             " " + ShellQuote(table) + " 2>/dev/null");
  EXPECT_EQ(r.exit_code, 0);
  return r.out;
}

// ---------------------------------------------------------------------------------------------
// Commands that work: exit status 0, nothing on stderr, stdout as the library or mdb-export
// produces it.

struct GoodCase {
  std::string name;
  std::vector<std::string> args;
  std::function<std::string()> expected_out;
};
void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.name; }

class Commands : public testing::TestWithParam<GoodCase> {};

TEST_P(Commands, PrintWhatTheLibraryPrints) {
  PI_REQUIRE_MDB_EXPORT();
  const GoodCase& c = GetParam();
  const InspectRun run = Inspect(c.args);
  EXPECT_EQ(run.exit_code, 0) << ArgsText(c.args) << "\n" << run.err;
  EXPECT_EQ(run.err, "");
  const std::string expected = c.expected_out();
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(run.out, expected);
}

const std::string kSource = Fixture("source.mdb");
const std::string kTarget = Fixture("target.mdb");

INSTANTIATE_TEST_SUITE_P(
    Inspector, Commands,
    testing::Values(GoodCase{"TablesOfSource",
                             {"tables", kSource},
                             [] {
                               return std::string(
                                   "ArtikelStamm\nArtikelZusatzStamm\nKunden\nRechnungen\n");
                             }},
                    GoodCase{"TablesWithPassword",
                             {"--password", kTargetPassword, "tables", kTarget},
                             [] { return TableList("target.mdb", kTargetPassword); }},
                    GoodCase{"TablesWithPasswordEquals",
                             {std::string("--password=") + kTargetPassword, "tables", kTarget},
                             [] { return TableList("target.mdb", kTargetPassword); }},
                    GoodCase{"TablesWithPasswordLast",
                             {"tables", kTarget, "--password", kTargetPassword},
                             [] { return TableList("target.mdb", kTargetPassword); }},
                    GoodCase{"Schema",
                             {"schema", kSource, "ArtikelStamm"},
                             [] { return Schema("source.mdb", "ArtikelStamm"); }},
                    GoodCase{"SchemaAnyCase",
                             {"schema", kSource, "ARTIKELZUSATZSTAMM"},
                             [] { return Schema("source.mdb", "ArtikelZusatzStamm"); }},
                    GoodCase{"Export",
                             {"export", kSource, "ArtikelStamm"},
                             [] { return MdbExport("source.mdb", "ArtikelStamm"); }},
                    GoodCase{"ExportAnyCase",
                             {"export", kSource, "artikelzusatzstamm"},
                             [] { return MdbExport("source.mdb", "ArtikelZusatzStamm"); }},
                    GoodCase{"ExportWithPassword",
                             {"--password", kTargetPassword, "export", kTarget, "tbl_Kunden"},
                             [] { return MdbExport("target.mdb", "tbl_Kunden"); }},
                    GoodCase{"ExportEmptyTable",
                             {"export", Fixture("source-empty.mdb"), "ArtikelZusatzStamm"},
                             [] { return MdbExport("source-empty.mdb", "ArtikelZusatzStamm"); }}),
    [](const testing::TestParamInfo<GoodCase>& p) { return p.param.name; });

TEST(JetInspectCli, SchemaNamesKeyColumnsAndIndexes) {
  const InspectRun run = Inspect({"schema", kSource, "ArtikelStamm"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  for (const char* part : {"Tabelle ArtikelStamm\n", "  Zeilen: 249\n", "  Letzter AutoWert: 252\n",
                           "  0 ID: Long, fest, Null erlaubt, AutoWert\n",
                           "  11 BestandesÄnderung: Long", "      DefaultValue = \"0\"\n",
                           "  PrimaryKey (ID aufsteigend) Primärschlüssel eindeutig erforderlich",
                           "  Gruppe (Gruppe aufsteigend), Indexbaum"}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part;
  }
  // An index's flags as the definition stores them: here Required without Unique.
  const InspectRun required =
      Inspect({"--password", kTargetPassword, "schema", Fixture("designs/index-required.mdb"),
               "tbl_Verwaltung_Produkte"});
  ASSERT_EQ(required.exit_code, 0) << required.err;
  EXPECT_NE(required.out.find("  dtm_ErstelltIndex (dtm_Erstellt aufsteigend) erforderlich, "),
            std::string::npos)
      << required.out;
}

// check: damage apart from what Access leaves as well (a row count that is off), and the exit
// status set by the damage only.
TEST(JetInspectCli, CheckSeparatesDamageFromWhatAccessLeaves) {
  testing_support::TempFile copy("inspect-check");
  auto bytes = testing_support::ReadFileBytes(Fixture("target.mdb"));
  std::uint32_t customers = 0, settings = 0;
  std::size_t count_at = 0, root_at = 0, page_size = 0;
  {
    auto db = OpenDb("target.mdb", kTargetPassword);
    ASSERT_TRUE(db);
    customers = (*db->GetTable("tbl_Kunden"))->page;
    const auto t = *db->GetTable("tbl_Einstellungen");
    settings = t->page;
    root_at = t->real_indexes[0].first_page_at;
    count_at = db->format().tdef_row_count_offset;
    page_size = db->format().page_size;
  }
  bytes[std::size_t{customers} * page_size + count_at] += 2;  // two rows too many
  testing_support::WriteFileBytes(copy.path(), bytes);
  InspectRun run = Inspect({"--password", kTargetPassword, "check", copy.path().string()});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(run.out.find("Wie von Access (hält keinen Import an): Tabelle 'tbl_Kunden': Die "
                         "Definition nennt 299 Zeilen, es sind 297."),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("in Ordnung, 1 wie von Access\n"), std::string::npos) << run.out;

  // The root of an index sent to page 1, which is no index page: damage.
  const std::size_t root = std::size_t{settings} * page_size + root_at;
  bytes[root] = 1;
  bytes[root + 1] = bytes[root + 2] = bytes[root + 3] = 0;
  testing_support::WriteFileBytes(copy.path(), bytes);
  run = Inspect({"--password", kTargetPassword, "check", copy.path().string()});
  EXPECT_EQ(run.exit_code, 1) << run.out;
  EXPECT_NE(run.out.find("Fehler (hält einen Import an, der die Tabelle schreibt): Index "
                         "'PrimaryKey' der Tabelle 'tbl_Einstellungen'"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Wie von Access (hält keinen Import an): Tabelle 'tbl_Kunden'"),
            std::string::npos)
      << run.out;
}

// ---------------------------------------------------------------------------------------------
// Failures.

struct BadCase {
  std::string name;
  std::vector<std::string> args;
  int exit_code;                      // 2 for wrong usage; -1: any status but 0 and 2
  std::vector<std::string> messages;  // parts of stderr
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class Failures : public testing::TestWithParam<BadCase> {};

TEST_P(Failures, ExitNonZeroWithAGermanMessageAndNoOutput) {
  const BadCase& c = GetParam();
  const InspectRun run = Inspect(c.args);
  SCOPED_TRACE(ArgsText(c.args));
  if (c.exit_code == -1) {
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.exit_code, 2) << "2 is for wrong usage only";
    EXPECT_NE(run.exit_code, -1) << "did not end normally";
  } else {
    EXPECT_EQ(run.exit_code, c.exit_code);
  }
  EXPECT_EQ(run.out, "") << "nothing on stdout";
  for (const std::string& part : c.messages) {
    EXPECT_NE(run.err.find(part), std::string::npos) << "stderr lacks '" << part << "':\n"
                                                     << run.err;
  }
}

const std::vector<std::string> kUsage = {"Aufruf: jet-inspect"};

INSTANTIATE_TEST_SUITE_P(
    Usage, Failures,
    testing::Values(BadCase{"NoArguments", {}, 2, kUsage}, BadCase{"NoFile", {"tables"}, 2, kUsage},
                    BadCase{"UnknownCommand", {"dump", kSource}, 2, kUsage},
                    BadCase{"SchemaWithoutTable", {"schema", kSource}, 2, kUsage},
                    BadCase{"ExportWithoutTable", {"export", kSource}, 2, kUsage},
                    BadCase{"TablesWithTable", {"tables", kSource, "ArtikelStamm"}, 2, kUsage},
                    BadCase{"ExportTooMany", {"export", kSource, "ArtikelStamm", "x"}, 2, kUsage},
                    BadCase{"PasswordWithoutValue", {"tables", kSource, "--password"}, 2, kUsage}),
    [](const testing::TestParamInfo<BadCase>& p) { return p.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Reading, Failures,
    testing::Values(
        BadCase{"MissingFile",
                {"tables", Fixture("no-such-file.mdb")},
                -1,
                {"Fehler 3024", "wurde nicht gefunden", "no-such-file.mdb"}},
        BadCase{"MissingFileExport",
                {"export", Fixture("no-such-file.mdb"), "ArtikelStamm"},
                -1,
                {"Fehler 3024", "wurde nicht gefunden"}},
        BadCase{"WrongPassword",
                {"--password", kOtherTargetPassword, "tables", kTarget},
                -1,
                {"Fehler 3031", "Kein gültiges Kennwort"}},
        BadCase{"NoPassword", {"export", kTarget, "tbl_Kunden"}, -1, {"Fehler 3031", "Kennwort"}},
        BadCase{"UnknownTableExport",
                {"export", kSource, "Artikel"},
                -1,
                {"Fehler 3078", "Die Tabelle 'Artikel' wurde nicht gefunden"}},
        BadCase{"UnknownTableSchema",
                {"schema", kSource, "Nope"},
                -1,
                {"Fehler 3078", "Die Tabelle 'Nope' wurde nicht gefunden"}},
        BadCase{"NotADatabase",
                {"tables", Fixture("not-a-database.mdb")},
                -1,
                {"Fehler 3343", "Nicht erkanntes Datenbankformat"}},
        BadCase{"Truncated",
                {"export", Fixture("truncated.mdb"), "ArtikelStamm"},
                -1,
                {"Fehler 3049", "Beschädigte Datenbank"}}),
    [](const testing::TestParamInfo<BadCase>& p) { return p.param.name; });

}  // namespace
