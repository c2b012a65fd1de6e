// The migration of source.mdb into targets whose product tables carry an Access designer's
// choices (tests/data/designs/): defaults of every kind, validation rules that keep or refuse
// the new rows, a Decimal column, and a table of small rows. Each gives what Jet gives.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <string>

#include "import/import_run.h"
#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kFixtures;
using testing_support::kTargetPassword;

using jet::Value;

// The highest product key of every design before the run.
constexpr std::int32_t kLastProductBefore = 122;

struct RunResult {
  int status = -1;
  std::string message;  // the last message shown
};

RunResult Import(const testing_support::ScratchDir& dir) {
  run::RecordingUserSide user;
  run::DatabaseState state;
  state.strDBRoot = dir.path().string() + "/";
  run::RunContext run{state, kFixtures + "/source.mdb", user};
  RunResult result;
  try {
    import::cmdImport_Click(run);
  } catch (const run::ProgramEnd& end) {
    result.status = end.status();
  }
  if (!user.messages().empty()) result.message = user.messages().back().prompt;
  return result;
}

class Design {
 public:
  explicit Design(const std::string& file) {
    fs::copy_file(kFixtures + "/designs/" + file, target());
    fs::permissions(target(), fs::perms::owner_read | fs::perms::owner_write);
  }
  fs::path target() const { return dir_.path() / "DBZentavo.mdb"; }
  RunResult Import() const { return ::Import(dir_); }

  // The values of one column in the products the run added.
  std::vector<Value> NewProducts(const std::string& column) const {
    auto db = jet::Database::Open(target().string(), {.password = kTargetPassword});
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    const auto t = *(*db)->GetTable("tbl_Verwaltung_Produkte");
    const auto at = t->FindColumn(column) - t->columns.data();
    std::vector<Value> out;
    for (const auto& row : testing_support::ReadAllRows(**db, *t)) {
      if (row[0].as<std::int32_t>() > kLastProductBefore) {
        out.push_back(row[static_cast<std::size_t>(at)]);
      }
    }
    return out;
  }

  void ExpectSound() const {
    auto db = jet::Database::Open(target().string(), {.password = kTargetPassword});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto report = jet::CheckIntegrity(**db);
    ASSERT_TRUE(report.ok()) << report.status().ToString();
    EXPECT_TRUE(report->ok()) << report->problems.front();
  }

 private:
  testing_support::ScratchDir dir_{"design"};
};

void ExpectEveryNewProduct(const Design& d, const std::string& column, const Value& expected) {
  const auto values = d.NewProducts(column);
  ASSERT_FALSE(values.empty());
  for (const Value& v : values) ASSERT_EQ(v, expected) << column;
}

// Today plus one month, the day kept or cut to the month's end, as a Jet day number.
double TodayPlusOneMonth() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  long long year = local.tm_year + 1900;
  unsigned month = static_cast<unsigned>(local.tm_mon) + 2;
  if (month == 13) {
    month = 1;
    ++year;
  }
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const unsigned lengths[] = {31, leap ? 29u : 28u, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const unsigned day = std::min(static_cast<unsigned>(local.tm_mday), lengths[month - 1]);
  return static_cast<double>(jet::JetDayFromCivil(year, month, day));
}

TEST(ImportDesigns, DefaultsAreEvaluatedAsJetEvaluatesThem) {
  {
    Design d("default-concat.mdb");
    ASSERT_EQ(d.Import().status, run::kExitCompleted);
    ExpectEveryNewProduct(d, "txt_Code", Value(std::string("AB")));
    d.ExpectSound();
  }
  {
    Design d("default-date-literal.mdb");
    ASSERT_EQ(d.Import().status, run::kExitCompleted);
    const double day = static_cast<double>(jet::JetDayFromCivil(2019, 12, 24));
    ExpectEveryNewProduct(d, "dtm_Gueltig", Value(jet::DateTime{day + 18.5 / 24}));
  }
  {
    Design d("default-arithmetic.mdb");
    ASSERT_EQ(d.Import().status, run::kExitCompleted);
    ExpectEveryNewProduct(d, "lng_Lager", Value(std::int32_t{11}));
  }
  {
    Design d("default-dateadd.mdb");
    const double expected = TodayPlusOneMonth();
    ASSERT_EQ(d.Import().status, run::kExitCompleted);
    const auto values = d.NewProducts("dtm_Ablauf");
    ASSERT_FALSE(values.empty());
    // A run across midnight may see the next day.
    const double got = values.front().as<jet::DateTime>().days;
    EXPECT_TRUE(got == expected || got == TodayPlusOneMonth()) << got << " " << expected;
  }
  {
    Design d("decimal-default.mdb");
    ASSERT_EQ(d.Import().status, run::kExitCompleted);
    const auto values = d.NewProducts("dec_Menge");
    ASSERT_FALSE(values.empty());
    for (const Value& v : values) {
      ASSERT_TRUE(v.is<jet::Decimal>());
      EXPECT_EQ(jet::FormatDecimal(v.as<jet::Decimal>()), "0.00");
    }
    d.ExpectSound();
  }
}

TEST(ImportDesigns, RulesThatTheNewRowsBreakRefuseTheRunAndLeaveTheTarget) {
  {
    Design d("rule-field.mdb");
    const auto before = testing_support::ReadFileBytes(d.target());
    const RunResult r = d.Import();
    EXPECT_EQ(r.status, run::kExitUnexpectedError);
    EXPECT_NE(r.message.find("Fehler 3316: Der Preis eines Extras muss unter 1 liegen)."),
              std::string::npos)
        << r.message;
    EXPECT_EQ(testing_support::ReadFileBytes(d.target()), before);
  }
  {
    Design d("rule-table.mdb");
    const auto before = testing_support::ReadFileBytes(d.target());
    const RunResult r = d.Import();
    EXPECT_EQ(r.status, run::kExitUnexpectedError);
    EXPECT_NE(r.message.find("Fehler 3317"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("[lng_Reihenfolge]>1"), std::string::npos) << r.message;
    EXPECT_EQ(testing_support::ReadFileBytes(d.target()), before);
  }
  {
    Design d("rule-kept.mdb");
    const RunResult r = d.Import();
    EXPECT_EQ(r.status, run::kExitCompleted) << r.message;
    d.ExpectSound();
  }
}

TEST(ImportDesigns, ARequiredIndexRefusesTheNewRowsWithoutItsKey) {
  // An index over dtm_Erstellt with Required set: the run leaves the column Null.
  Design d("index-required.mdb");
  const auto before = testing_support::ReadFileBytes(d.target());
  const RunResult r = d.Import();
  EXPECT_EQ(r.status, run::kExitUnexpectedError);
  EXPECT_NE(r.message.find("Fehler 3058: Index oder Primärschlüssel kann keinen Nullwert "
                           "enthalten (Feld 'dtm_Erstellt' im Index 'dtm_ErstelltIndex'"),
            std::string::npos)
      << r.message;
  EXPECT_EQ(testing_support::ReadFileBytes(d.target()), before);
}

TEST(ImportDesigns, BetweenBoundsInEitherOrderAndTheFunctionLibrary) {
  for (const char* file : {"rule-between-reversed.mdb", "rule-strcomp.mdb", "rule-string.mdb"}) {
    SCOPED_TRACE(file);
    Design d(file);
    const RunResult r = d.Import();
    EXPECT_EQ(r.status, run::kExitCompleted) << r.message;
    d.ExpectSound();
  }
  {
    Design d("default-chr.mdb");  // Chr$(128): the euro sign of Windows-1252
    ASSERT_EQ(d.Import().status, run::kExitCompleted);
    ExpectEveryNewProduct(d, "txt_Code", Value(std::string("€")));
    d.ExpectSound();
  }
  {
    Design d("default-choose.mdb");
    ASSERT_EQ(d.Import().status, run::kExitCompleted);
    const double day = static_cast<double>(jet::JetDayFromCivil(2019, 12, 24));
    ExpectEveryNewProduct(d, "dtm_Ablauf", Value(jet::DateTime{day}));
  }
}

TEST(ImportDesigns, ATableOfSmallRowsTakesEveryAssignment) {
  Design d("small-rows.mdb");
  const RunResult r = d.Import();
  ASSERT_EQ(r.status, run::kExitCompleted) << r.message;
  auto db = jet::Database::Open(d.target().string(), {.password = kTargetPassword});
  ASSERT_TRUE(db.ok());
  EXPECT_EQ((*(*db)->GetTable("tbl_Verwaltung_Produkte_Extras"))->row_count, 5928u);
  d.ExpectSound();
}

}  // namespace
