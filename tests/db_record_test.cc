// The record objects, connection strings, the settings lookup and the window-level database
// state, on copies of the sample databases.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "db/recordset.h"
#include "db/statement_text.h"
#include "host/settings.h"
#include "run/database_state.h"
#include "run/source_layout.h"
#include "run/target_layout.h"
#include "tests/db_test_util.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kFixtures;
using testing_support::kTargetPassword;

using db::DbError;
using db::Value;

using testing_support::ErrorOf;

std::string SourceString(const std::string& file) {
  return run::SourceConnectionString(kFixtures + "/" + file);
}

// A scratch folder with DBZentavo.mdb (a copy of target.mdb) and a settings folder.
class Scratch {
 public:
  Scratch() {
    fs::create_directories(root_.path() / "Zentavo Daten");
    fs::create_directories(root_.path() / "config");
    fs::copy_file(kFixtures + "/target.mdb", root_.path() / "Zentavo Daten" / "DBZentavo.mdb");
  }
  std::string folder() const { return (root_.path() / "Zentavo Daten").string() + "/"; }
  fs::path config() const { return root_.path() / "config"; }

 private:
  testing_support::ScratchDir root_{"db"};
};

TEST(ConnectionString, TheTwoStringsOfTheImport) {
  const std::string target = run::TargetConnectionString("/daten/");
  EXPECT_EQ(
      target,
      std::string("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/daten/DBZentavo.mdb ;Persist "
                  "Security Info=False;Jet OLEDB:Database Password=") +
          kTargetPassword + ";");
  auto t = db::ParseConnectionString(target);
  EXPECT_EQ(t.data_source, "/daten/DBZentavo.mdb");  // the blank before ';' is not part of it
  EXPECT_EQ(t.database_password, kTargetPassword);
  EXPECT_FALSE(t.persist_security_info);

  const std::string source = run::SourceConnectionString("/mnt/Orbelin Daten/Küche/Kastrel.mdb");
  EXPECT_EQ(source,
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/mnt/Orbelin Daten/Küche/Kastrel.mdb "
            ";Mode=Read|Write;Persist Security Info=False");
  auto s = db::ParseConnectionString(source);
  EXPECT_EQ(s.data_source, "/mnt/Orbelin Daten/Küche/Kastrel.mdb");
  EXPECT_EQ(s.mode, "Read|Write");
  EXPECT_FALSE(s.read_only());
  EXPECT_TRUE(s.database_password.empty());
}

TEST(ConnectionString, QuotesCaseAndFailures) {
  auto q = db::ParseConnectionString(
      "provider=microsoft.jet.oledb.4.0; DATA SOURCE=\"/a;b/c.mdb\"; mode=Read");
  EXPECT_EQ(q.data_source, "/a;b/c.mdb");
  EXPECT_TRUE(q.read_only());
  EXPECT_EQ(ErrorOf([] { db::ParseConnectionString("Provider=SQLOLEDB;Data Source=x"); }), 3706);
  EXPECT_EQ(ErrorOf([] { db::ParseConnectionString("Data Source=x"); }), 3706);
  EXPECT_EQ(
      ErrorOf([] {
        db::ParseConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Farbe=blau;Data Source=x");
      }),
      3001);
  EXPECT_EQ(ErrorOf([] { db::ParseConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;"); }), 3001);
  EXPECT_EQ(ErrorOf([] {
              db::ParseConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"x");
            }),
            3001);
}

TEST(Settings, LooksUpTheIniFileOfTheApplication) {
  Scratch scratch;
  ::setenv("XDG_CONFIG_HOME", scratch.config().c_str(), 1);
  // No Wine prefix of the user's either (~/.wine is the scratch folder's).
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::setenv("HOME", scratch.config().c_str(), 1);
  ::unsetenv("WINEPREFIX");
  ::unsetenv("XDG_DATA_HOME");  // nor the front ends' prefixes
  ::unsetenv("WINE_PREFIXES");
  EXPECT_EQ(run::LookupTargetFolder(), "");  // no file
  {
    std::ofstream ini(scratch.config() / "ZentavoSettings.ini");
    ini << "\xEF\xBB\xBF; Zentavo\r\n[Andere]\r\nRoot=/falsch/\r\n[db]\r\n root = "
           "/home/wirt/Zentavo Daten/\r\n";
  }
  EXPECT_EQ(run::LookupTargetFolder(), " /home/wirt/Zentavo Daten/");
  EXPECT_EQ(host::GetSetting("ZentavoSettings", "DB", "Fehlt", "vorgabe"), "vorgabe");
  EXPECT_EQ(host::GetSetting("ZentavoSettings", "Nichts", "Root", "x"), "x");
  {
    std::ofstream ini(scratch.config() / "ZentavoSettings.ini");
    ini << "[DB]\nRoot=   \n";
  }
  EXPECT_EQ(run::LookupTargetFolder(), "   ");  // blanks are a value, not an absent entry
  {
    std::ofstream ini(scratch.config() / "ZentavoSettings.ini");
    ini << "[DB]\nRoot=\n";
  }
  EXPECT_EQ(run::LookupTargetFolder(), "");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", home.c_str(), 1);
}

TEST(Connection, OpensTheSourceAndRefusesWhatCannotBeOpened) {
  db::Connection cn;
  cn.Open(SourceString("source.mdb"));
  EXPECT_TRUE(cn.IsOpen());
  EXPECT_EQ(ErrorOf([&] { cn.Open(SourceString("source.mdb")); }), 3705);
  cn.Close();
  EXPECT_FALSE(cn.IsOpen());
  EXPECT_EQ(ErrorOf([&] { cn.Close(); }), 3704);

  db::Connection bad;
  EXPECT_EQ(ErrorOf([&] { bad.Open(SourceString("fehlt.mdb")); }), 3024);
  EXPECT_EQ(ErrorOf([&] { bad.Open(SourceString("not-a-database.mdb")); }), 3343);
  EXPECT_NE(ErrorOf([&] { bad.Open(SourceString("truncated.mdb")); }), 0);
  EXPECT_FALSE(bad.IsOpen());
}

TEST(Connection, TheTargetOpensOnlyWithItsPasswordAndItsFolder) {
  Scratch scratch;
  db::Connection cn;
  cn.Open(run::TargetConnectionString(scratch.folder()));
  cn.Close();
  std::string no_separator = scratch.folder();
  no_separator.pop_back();
  EXPECT_EQ(ErrorOf([&] { cn.Open(run::TargetConnectionString(no_separator)); }), 3024);
  fs::copy_file(kFixtures + "/target-wrong-password.mdb", scratch.folder() + "DBZentavo.mdb",
                fs::copy_options::overwrite_existing);
  EXPECT_EQ(ErrorOf([&] { cn.Open(run::TargetConnectionString(scratch.folder())); }), 3031);
}

TEST(Connection, SourceIsNeverWrittenWhateverTheModeSays) {
  Scratch scratch;
  const fs::path source = fs::path(scratch.folder()) / "Kastrel.mdb";
  fs::copy_file(kFixtures + "/source.mdb", source);
  const auto before = fs::last_write_time(source);
  run::DatabaseState state;
  state.strDBRoot = scratch.folder();
  run::OpenDatabaseConnections(state, source.string());
  EXPECT_EQ(ErrorOf([&] { state.cnSource->Execute("DELETE * FROM ArtikelStamm"); }), 3251);
  EXPECT_EQ(ErrorOf([&] { state.cnSource->BeginTrans(); }), 3251);
  state.rsSource->Open("SELECT * FROM ArtikelStamm", state.cnSource, db::adOpenDynamic,
                       db::adLockOptimistic);
  EXPECT_EQ(ErrorOf([&] {
              state.rsSource->AddNew();
              state.rsSource->Update();
            }),
            3251);
  state.rsSource->Close();
  run::CloseDatabaseConnections(state);
  EXPECT_EQ(fs::last_write_time(source), before);
  EXPECT_FALSE(fs::exists(fs::path(scratch.folder()) / "Kastrel.ldb"));  // not even a lock file
}

class Records : public ::testing::Test {
 protected:
  void SetUp() override {
    cn_ = std::make_shared<db::Connection>();
    cn_->Open(SourceString("source.mdb"));
  }
  std::shared_ptr<db::Connection> cn_;
  db::Recordset rs_;
};

TEST_F(Records, WalksToEofAndFailsPastIt) {
  rs_.Open("SELECT * FROM ArtikelZusatzStamm", cn_, db::adOpenForwardOnly, db::adLockReadOnly);
  int rows = 0;
  while (!rs_.Eof()) {
    ++rows;
    rs_.MoveNext();
  }
  EXPECT_EQ(rows, 25);
  EXPECT_TRUE(rs_.Eof());
  EXPECT_EQ(ErrorOf([&] { rs_.MoveNext(); }), 3021);
  EXPECT_EQ(ErrorOf([&] { (void)rs_.Fields().Item("Bezeichnung").Value(); }), 3021);
  rs_.Close();
  EXPECT_EQ(ErrorOf([&] { (void)rs_.Eof(); }), 3704);
}

TEST_F(Records, EmptyResultIsAtEofAtOnceAndStaysOpen) {
  rs_.Open("SELECT * FROM ArtikelStamm WHERE Gruppe = 'Gibt es nicht'", cn_, db::adOpenForwardOnly,
           db::adLockReadOnly);
  EXPECT_TRUE(rs_.IsOpen());
  EXPECT_TRUE(rs_.Eof());
  rs_.Close();
}

TEST_F(Records, FieldsByNameIncludingNullValues) {
  rs_.Open("SELECT * FROM ArtikelStamm WHERE Gruppe IS NULL", cn_, db::adOpenForwardOnly,
           db::adLockReadOnly);
  ASSERT_FALSE(rs_.Eof());
  EXPECT_TRUE(rs_.Fields().Item("Gruppe").Value().is_null());
  EXPECT_TRUE(rs_.Fields().Item("gruppe").Value().is_null());
  EXPECT_EQ(rs_.Fields().Item("Kurzzeichen").Value(), Value(std::string("GS20")));
  EXPECT_EQ(ErrorOf([&] { rs_.Fields().Item("Gibtsnicht"); }), 3265);
  // Null to text fails; through cNull it is the empty text.
  EXPECT_EQ(ErrorOf([&] { (void)db::ToText(rs_.Fields().Item("Gruppe").Value()); }), 94);
  EXPECT_EQ(db::cNull(rs_.Fields().Item("Gruppe").Value()), Value(std::string()));
  rs_.Close();
}

TEST_F(Records, ReopenWithOmittedConnectionKeepsConnectionCursorAndLock) {
  rs_.Open(run::source::kCountArticles, cn_, db::adOpenForwardOnly, db::adLockReadOnly);
  EXPECT_EQ(db::ToSingle(rs_.Fields().Item("TotalProdukte").Value()), 249.0f);
  rs_.Close();
  rs_.Open(std::string(run::source::kSelectArticlesOfGroupPrefix) + "Fisch'");
  EXPECT_EQ(rs_.ActiveConnection(), cn_);
  EXPECT_EQ(rs_.CursorType(), db::adOpenForwardOnly);
  EXPECT_EQ(rs_.LockType(), db::adLockReadOnly);
  int rows = 0;
  for (; !rs_.Eof(); rs_.MoveNext()) ++rows;
  EXPECT_EQ(rows, 21);
  rs_.Close();
  db::Recordset fresh;
  EXPECT_EQ(ErrorOf([&] { fresh.Open("SELECT * FROM ArtikelStamm"); }), 3709);
}

TEST_F(Records, ClosingTheConnectionClosesItsRecordsets) {
  db::Recordset other;
  rs_.Open("SELECT * FROM ArtikelStamm", cn_, db::adOpenForwardOnly, db::adLockReadOnly);
  other.Open("SELECT * FROM ArtikelZusatzStamm", cn_, db::adOpenForwardOnly, db::adLockReadOnly);
  other.Close();
  EXPECT_NO_THROW(cn_->Close());
  EXPECT_FALSE(rs_.IsOpen());
  EXPECT_EQ(ErrorOf([&] { rs_.Open("SELECT * FROM ArtikelStamm"); }), 3709);
}

TEST_F(Records, AddNewNeedsAnUpdatableSelectStar) {
  rs_.Open("SELECT * FROM ArtikelStamm", cn_, db::adOpenForwardOnly, db::adLockReadOnly);
  EXPECT_EQ(ErrorOf([&] { rs_.AddNew(); }), 3251);
  rs_.Close();
  rs_.Open("SELECT Count(*) AS n FROM ArtikelStamm", cn_, db::adOpenDynamic, db::adLockOptimistic);
  EXPECT_EQ(ErrorOf([&] { rs_.AddNew(); }), 3251);
  rs_.Close();
}

TEST(StatementText, JoinsNullAsNothingIntegersAsDigitsAndDoublesApostrophes) {
  EXPECT_EQ(std::string(run::source::kSelectArticlesOfGroupPrefix) + db::JoinValue(Value()) + "'",
            "SELECT * FROM ArtikelStamm WHERE Gruppe = ''");
  EXPECT_EQ(run::target::kSelectProductPricesPrefix + db::JoinValue(Value(std::int32_t{1234567})),
            "SELECT * FROM tbl_Verwaltung_Produkte_Preise WHERE lng_ProduktID = 1234567");
  EXPECT_EQ(db::JoinValue(Value(std::string("Chef's Specials"))), "Chef''s Specials");
  EXPECT_EQ(db::JoinValue(Value(std::string("''"))), "''''");
  EXPECT_EQ(db::JoinValue(Value(std::string("Salate"))), "Salate");
}

TEST(CNull, OnlyNullChanges) {
  EXPECT_EQ(db::cNull(Value()), Value(std::string()));
  EXPECT_EQ(db::cNull(Value(std::int32_t{0})), Value(std::int32_t{0}));
  EXPECT_EQ(db::cNull(Value(std::string())), Value(std::string()));
  EXPECT_EQ(db::cNull(Value(jet::DateTime{1.5})), Value(jet::DateTime{1.5}));
}

TEST(DatabaseState, OpenCloseAndPartialFailures) {
  Scratch scratch;
  run::DatabaseState state;
  state.strDBRoot = scratch.folder();
  run::OpenDatabaseConnections(state, kFixtures + "/source.mdb");
  ASSERT_TRUE(state.cnTarget && state.cnTarget->IsOpen());
  ASSERT_TRUE(state.cnSource && state.cnSource->IsOpen());
  ASSERT_TRUE(state.rsTargetA && state.rsTargetB && state.rsTargetC && state.rsSource);
  EXPECT_FALSE(state.rsSource->IsOpen());
  const auto first_target = state.cnTarget;
  const auto first_a = state.rsTargetA;
  run::CloseDatabaseConnections(state);
  EXPECT_FALSE(state.cnTarget->IsOpen());
  EXPECT_FALSE(state.cnSource->IsOpen());
  EXPECT_TRUE(state.rsTargetA && state.rsSource);  // recordsets survive the close

  // A second open gives six new objects.
  run::OpenDatabaseConnections(state, kFixtures + "/source.mdb");
  EXPECT_NE(state.cnTarget, first_target);
  EXPECT_NE(state.rsTargetA, first_a);
  EXPECT_TRUE(state.cnTarget->IsOpen());
  run::CloseDatabaseConnections(state);

  // A failed source open: the target is open, the source connection new and not open, rsSource
  // as it was; closing afterwards works.
  const auto old_source_rs = state.rsSource;
  EXPECT_EQ(ErrorOf([&] { run::OpenDatabaseConnections(state, kFixtures + "/fehlt.mdb"); }), 3024);
  EXPECT_TRUE(state.cnTarget->IsOpen());
  EXPECT_FALSE(state.cnSource->IsOpen());
  EXPECT_EQ(state.rsSource, old_source_rs);
  EXPECT_NO_THROW(run::CloseDatabaseConnections(state));
  EXPECT_FALSE(state.cnTarget->IsOpen());

  // A failed target open (folder without its final separator): cnTarget not open, the rest as
  // it was.
  std::string no_separator = scratch.folder();
  no_separator.pop_back();
  state.strDBRoot = no_separator;
  const auto source_before = state.cnSource;
  const auto a_before = state.rsTargetA;
  EXPECT_EQ(ErrorOf([&] { run::OpenDatabaseConnections(state, kFixtures + "/source.mdb"); }), 3024);
  EXPECT_FALSE(state.cnTarget->IsOpen());
  EXPECT_EQ(state.cnSource, source_before);
  EXPECT_EQ(state.rsTargetA, a_before);
  EXPECT_NO_THROW(run::CloseDatabaseConnections(state));

  run::DatabaseState empty;
  EXPECT_NO_THROW(run::CloseDatabaseConnections(empty));
}

}  // namespace
