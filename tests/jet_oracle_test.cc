// The engine against two independent readers of .mdb files, on every test database:
//
// - mdb-export (mdbtools): for every user table, our CSV (inspect::ExportCsv) must equal
//   `LC_ALL=C mdb-export FILE TABLE` byte for byte.
// - mdb-reader (npm, through tests/oracle/mdb_reader_dump.mjs): the same user tables with the
//   same row counts, and for the tables the migration reads, every value (which also tells Null
//   from the empty text; mdb-export prints both as an empty field).
// - tests/data/expected/*.csv, written by mdb-export with other date options.
//
// One normalisation, for tables with moved rows: a row that grew and no longer fit on its page
// moved elsewhere and left a forwarding pointer in its old slot. Our scan returns it at the place
// of that pointer (its original row id, which is the row's bookmark), while mdbtools and
// mdb-reader list it where its bytes now live. For such tables the CSV lines are compared sorted
// (header line first), and so are the table lists when the catalog itself has moved rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "jet/database/database.h"
#include "jet/page/data_page.h"
#include "jet/table/table_scan.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"

namespace {

using testing_support::kTargetPassword;

namespace fs = std::filesystem;
using testing_support::DbFile;
using testing_support::JsonValue;
using testing_support::RunCommand;
using testing_support::ShellQuote;

std::string OurCsv(const jet::Database& db, const std::string& table) {
  std::ostringstream out;
  const jet::Status s = inspect::ExportCsv(db, table, out);
  EXPECT_TRUE(s.ok()) << table << ": " << s.ToString();
  return out.str();
}

testing_support::CommandResult MdbExport(const fs::path& file, const std::string& table) {
  return RunCommand("LC_ALL=C mdb-export " + ShellQuote(file.string()) + " " + ShellQuote(table) +
                    " 2>/dev/null");
}

// The header line, then the other lines sorted.
std::vector<std::string> HeaderThenSorted(const std::string& csv) {
  std::vector<std::string> lines = testing_support::SplitLines(csv);
  if (!lines.empty()) std::sort(lines.begin() + 1, lines.end());
  return lines;
}

std::unique_ptr<jet::Database> OpenOrFail(const DbFile& f) {
  auto db = jet::Database::Open(f.path.string(), {.password = f.password});
  EXPECT_TRUE(db.ok()) << f.path << ": " << db.status().ToString();
  if (!db.ok()) return nullptr;
  return std::move(*db);
}

// ---------------------------------------------------------------------------------------------
// Every table of every database (tests/data and, when present, access-made/).

class EveryDatabase : public testing::TestWithParam<DbFile> {
 protected:
  void SetUp() override {
    testing_support::SkipWithoutDatabase(GetParam());
    if (IsSkipped()) return;
  }
};

TEST_P(EveryDatabase, EveryTableExportsLikeMdbExport) {
  PI_REQUIRE_MDB_EXPORT();
  const DbFile& f = GetParam();
  auto db = OpenOrFail(f);
  ASSERT_NE(db, nullptr);
  for (const std::string& name : db->TableNames()) {
    SCOPED_TRACE(f.path.filename().string() + " :: " + name);
    auto table = db->GetTable(name);
    ASSERT_TRUE(table.ok()) << table.status().ToString();
    const std::string ours = OurCsv(*db, name);
    const auto theirs = MdbExport(f.path, name);
    ASSERT_EQ(theirs.exit_code, 0) << "mdb-export failed";
    if (testing_support::HasMovedRows(*db, **table)) {
      // Moved rows: same lines, in another order (see the top of this file).
      EXPECT_EQ(HeaderThenSorted(ours), HeaderThenSorted(theirs.out));
    } else {
      EXPECT_EQ(ours, theirs.out);
    }
  }
}

TEST_P(EveryDatabase, TablesAndRowCountsEqualMdbReader) {
  PI_REQUIRE_MDB_READER();
  const DbFile& f = GetParam();
  auto db = OpenOrFail(f);
  ASSERT_NE(db, nullptr);
  const auto dump = RunCommand(testing_support::MdbReaderCommand(f));
  ASSERT_EQ(dump.exit_code, 0) << "mdb_reader_dump.mjs failed on " << f.path;

  std::vector<std::string> their_names;
  std::map<std::string, std::uint64_t> their_counts;
  for (const std::string& line : testing_support::SplitLines(dump.out)) {
    const std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    their_names.push_back(line.substr(0, tab));
    their_counts[their_names.back()] = std::strtoull(line.c_str() + tab + 1, nullptr, 10);
  }

  std::vector<std::string> our_names = db->TableNames();
  auto catalog = db->GetTable("MSysObjects");
  ASSERT_TRUE(catalog.ok()) << catalog.status().ToString();
  if (testing_support::HasMovedRows(*db, **catalog)) {
    std::sort(our_names.begin(), our_names.end());
    std::sort(their_names.begin(), their_names.end());
  }
  EXPECT_EQ(our_names, their_names);

  for (const std::string& name : db->TableNames()) {
    SCOPED_TRACE(name);
    auto table = db->GetTable(name);
    ASSERT_TRUE(table.ok()) << table.status().ToString();
    const auto rows = testing_support::ReadAllRows(*db, **table);
    EXPECT_EQ(rows.size(), their_counts[name]);
    EXPECT_EQ((*table)->row_count, their_counts[name]) << "row count in the table definition";
  }
}

std::string ParamName(const testing::TestParamInfo<DbFile>& info) {
  return info.param.path.empty() ? std::string("missing") : info.param.TestName();
}

std::vector<DbFile> AccessMadeOrPlaceholder() {
  std::vector<DbFile> files = testing_support::AccessMadeDatabases();
  if (files.empty()) files.push_back(DbFile{});  // skips with a message
  return files;
}

INSTANTIATE_TEST_SUITE_P(Project, EveryDatabase,
                         testing::ValuesIn(testing_support::ProjectDatabases()), ParamName);
INSTANTIATE_TEST_SUITE_P(AccessMade, EveryDatabase, testing::ValuesIn(AccessMadeOrPlaceholder()),
                         ParamName);

// tests/data/README.md has a section per database ("## a.mdb and b.mdb — password `x`"); the
// section of the files that are no databases is left out. The tests read exactly those
// databases, each with the password of its section (none when the heading names none).
TEST(EveryDatabase, ProjectListHasTheDatabasesOfTheReadme) {
  std::ifstream readme(testing_support::kFixtures + "/README.md");
  ASSERT_TRUE(readme) << "tests/data/README.md";
  std::map<std::string, std::string> documented;  // file name -> password
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("## ", 0) != 0 || line.find("not-a-database.mdb") != std::string::npos) continue;
    const std::string names = line.substr(3, line.find(" — ") - 3);
    std::string password;
    if (const std::size_t at = line.find("password `"); at != std::string::npos) {
      const std::size_t from = at + std::string_view("password `").size();
      password = line.substr(from, line.find('`', from) - from);
    }
    std::istringstream words(names);
    for (std::string word; words >> word;) {
      if (word.back() == ',') word.pop_back();
      if (word.size() > 4 && word.ends_with(".mdb")) documented[word] = password;
    }
  }
  std::map<std::string, std::string> listed;
  for (const DbFile& f : testing_support::ProjectDatabases()) {
    listed[f.path.filename().string()] = f.password;
  }
  EXPECT_EQ(listed, documented);
  EXPECT_EQ(documented.size(), 12u);
}

// ---------------------------------------------------------------------------------------------
// Moved rows: the normalisation above rests on them being found, and on where the scan puts them.

TEST(MovedRows, ScanReportsAMovedRowAtItsForwardingPointer) {
  const auto dir = testing_support::AccessMadeDir();
  if (!dir) GTEST_SKIP() << "no Access-made databases: " PI_SHARED_FIXTURE_DIR "/access-made";
  auto db = OpenOrFail(DbFile{*dir / "overflowTestV2000.mdb", ""});
  ASSERT_NE(db, nullptr);
  auto table = db->GetTable("Table1");
  ASSERT_TRUE(table.ok()) << table.status().ToString();
  EXPECT_TRUE(testing_support::HasMovedRows(*db, **table));

  jet::TableScan scan(*db, **table);
  int rows = 0;
  int at_pointer = 0;
  while (true) {
    auto more = scan.Next();
    ASSERT_TRUE(more.ok()) << more.status().ToString();
    if (!*more) break;
    ++rows;
    auto page = jet::DataPage::Open(db->pages(), scan.position().page);
    ASSERT_TRUE(page.ok()) << page.status().ToString();
    auto slot = page->Row(scan.position().row);
    ASSERT_TRUE(slot.ok()) << slot.status().ToString();
    // Every position is a live slot of its own: the row itself or the pointer to it, never the
    // moved bytes (which carry the deleted flag so that a scan meets them only once).
    EXPECT_FALSE(slot->deleted);
    if (slot->overflow) ++at_pointer;
  }
  EXPECT_EQ(rows, 7);
  EXPECT_GT(at_pointer, 0);
}

TEST(MovedRows, ProjectDatabasesHaveNone) {
  // The value comparisons with mdb-reader below rely on both readers using the same order.
  for (const DbFile& f : testing_support::ProjectDatabases()) {
    auto db = OpenOrFail(f);
    ASSERT_NE(db, nullptr);
    for (const std::string& name : db->TableNames()) {
      auto table = db->GetTable(name);
      ASSERT_TRUE(table.ok());
      EXPECT_FALSE(testing_support::HasMovedRows(*db, **table)) << f.path << " " << name;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Every value of the tables the migration reads, against mdb-reader's JSON rows.

// True when `text` has the form of `pattern`, where '9' stands for any digit and every other
// character for itself.
bool HasForm(std::string_view text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

// Currency text "-12.3400" (1 to 4 decimals, or none) as value * 10000.
bool ParseCurrency(const std::string& text, std::int64_t& out) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string body = text.substr(negative ? 1 : 0);
  const std::size_t dot = body.find('.');
  const std::string whole = body.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : body.substr(dot + 1);
  if (whole.empty() || whole.size() > 15 || frac.size() > 4 ||
      (dot != std::string::npos && frac.empty()) ||
      !HasForm(whole, std::string(whole.size(), '9')) ||
      !HasForm(frac, std::string(frac.size(), '9'))) {
    return false;
  }
  frac.resize(4, '0');
  const std::int64_t v = std::stoll(whole) * 10000 + std::stoll(frac);
  out = negative ? -v : v;
  return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// "2023-12-31T00:00:00.000Z" (Date.toISOString) as milliseconds since 1970.
bool ParseIsoMillis(const std::string& text, std::int64_t& out) {
  if (!HasForm(text, "9999-99-99T99:99:99.999Z")) return false;
  auto num = [&](std::size_t at, std::size_t len) { return std::stoll(text.substr(at, len)); };
  const std::int64_t days =
      DaysFromCivil(num(0, 4), static_cast<unsigned>(num(5, 2)), static_cast<unsigned>(num(8, 2)));
  out = (((days * 24 + num(11, 2)) * 60 + num(14, 2)) * 60 + num(17, 2)) * 1000 + num(20, 3);
  return true;
}

// mdb-reader's timestamp of a Date/Time: milliseconds since 1970, rounded half up.
std::int64_t DateMillis(const jet::DateTime& d) {
  constexpr double kDaysFrom1899To1970 = 25569;
  return static_cast<std::int64_t>(
      std::floor((d.days - kDaysFrom1899To1970) * 86400.0 * 1000.0 + 0.5));
}

std::string Hex(const jet::ByteString& b) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (std::uint8_t c : b) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

const char* KindName(JsonValue::Kind k) {
  switch (k) {
    case JsonValue::Kind::kNull:
      return "null";
    case JsonValue::Kind::kBool:
      return "bool";
    case JsonValue::Kind::kNumber:
      return "number";
    case JsonValue::Kind::kString:
      return "string";
  }
  return "?";
}

// Empty when our value and mdb-reader's agree, otherwise what differs.
std::string Difference(const jet::Value& ours, const JsonValue& theirs) {
  using Kind = JsonValue::Kind;
  const std::string ours_text = inspect::CsvField(ours);
  const std::string theirs_text =
      theirs.kind == Kind::kBool ? (theirs.boolean ? "true" : "false") : theirs.text;
  std::string mismatch = "ours " + (ours.is_null() ? std::string("Null") : ours_text) +
                         ", mdb-reader " + KindName(theirs.kind) + " " + theirs_text;
  auto expect_kind = [&](Kind k) { return theirs.kind == k; };
  if (ours.is_null()) return expect_kind(Kind::kNull) ? "" : mismatch;
  if (ours.is<bool>()) {
    return expect_kind(Kind::kBool) && theirs.boolean == ours.as<bool>() ? "" : mismatch;
  }
  double number = 0;
  bool is_number = true;
  if (ours.is<std::uint8_t>()) {
    number = ours.as<std::uint8_t>();
  } else if (ours.is<std::int16_t>()) {
    number = ours.as<std::int16_t>();
  } else if (ours.is<std::int32_t>()) {
    number = ours.as<std::int32_t>();
  } else if (ours.is<float>()) {
    number = static_cast<double>(ours.as<float>());
  } else if (ours.is<double>()) {
    number = ours.as<double>();
  } else {
    is_number = false;
  }
  if (is_number) return expect_kind(Kind::kNumber) && theirs.number == number ? "" : mismatch;
  if (!expect_kind(Kind::kString)) return mismatch;
  if (ours.is<std::string>()) return theirs.text == ours.as<std::string>() ? "" : mismatch;
  if (ours.is<jet::Currency>()) {
    std::int64_t scaled = 0;
    return ParseCurrency(theirs.text, scaled) && scaled == ours.as<jet::Currency>().scaled
               ? ""
               : mismatch;
  }
  if (ours.is<jet::DateTime>()) {
    std::int64_t millis = 0;
    return ParseIsoMillis(theirs.text, millis) && millis == DateMillis(ours.as<jet::DateTime>())
               ? ""
               : mismatch;
  }
  if (ours.is<jet::ByteString>()) {
    return theirs.text == Hex(ours.as<jet::ByteString>()) ? "" : mismatch;
  }
  return "no comparison for this kind of value: " + mismatch;
}

struct ValueCase {
  std::string file;
  std::string password;
  std::string table;
};
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.file << " " << c.table; }

class MdbReaderValues : public testing::TestWithParam<ValueCase> {};

TEST_P(MdbReaderValues, EveryValueEqualsMdbReaders) {
  PI_REQUIRE_MDB_READER();
  const ValueCase& c = GetParam();
  const DbFile f{fs::path(testing_support::kFixtures) / c.file, c.password};
  auto db = OpenOrFail(f);
  ASSERT_NE(db, nullptr);
  auto table = db->GetTable(c.table);
  ASSERT_TRUE(table.ok()) << table.status().ToString();
  const auto& columns = (*table)->columns;
  const auto rows = testing_support::ReadAllRows(*db, **table);

  const auto dump =
      RunCommand(testing_support::MdbReaderCommand(f) + " --table " + ShellQuote(c.table));
  ASSERT_EQ(dump.exit_code, 0) << "mdb_reader_dump.mjs failed";
  const auto lines = testing_support::SplitLines(dump.out);
  ASSERT_EQ(rows.size(), lines.size());
  ASSERT_GT(rows.size(), 0u);

  int differences = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto object = testing_support::ParseJsonObject(lines[r]);
    ASSERT_TRUE(object.has_value()) << "not a JSON object: " << lines[r];
    ASSERT_EQ(object->size(), columns.size()) << lines[r];
    for (std::size_t i = 0; i < columns.size(); ++i) {
      ASSERT_EQ((*object)[i].first, columns[i].name) << "column order";
      const std::string diff = Difference(rows[r][i], (*object)[i].second);
      if (!diff.empty() && ++differences <= 20) {
        ADD_FAILURE() << "row " << r << " (" << inspect::CsvField(rows[r][0]) << "), column "
                      << columns[i].name << ": " << diff;
      }
    }
  }
  EXPECT_EQ(differences, 0);
}

INSTANTIATE_TEST_SUITE_P(MigrationTables, MdbReaderValues,
                         testing::Values(ValueCase{"source.mdb", "", "ArtikelStamm"},
                                         ValueCase{"source.mdb", "", "ArtikelZusatzStamm"},
                                         ValueCase{"target.mdb", kTargetPassword, "tbl_Kunden"}),
                         [](const testing::TestParamInfo<ValueCase>& p) {
                           std::string name =
                               p.param.file.substr(0, p.param.file.find('.')) + "_" + p.param.table;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(MdbReaderValuesSelf, ComparisonTellsNullFromEmptyTextAndCatchesDifferences) {
  using Kind = JsonValue::Kind;
  auto json = [](Kind k, std::string text = "", double number = 0, bool b = false) {
    JsonValue v;
    v.kind = k;
    v.text = std::move(text);
    v.number = number;
    v.boolean = b;
    return v;
  };
  EXPECT_EQ(Difference(jet::Value(std::string()), json(Kind::kString)), "");
  EXPECT_NE(Difference(jet::Value(std::string()), json(Kind::kNull)), "");
  EXPECT_NE(Difference(jet::Value::Null(), json(Kind::kString)), "");
  EXPECT_EQ(Difference(jet::Value(jet::Currency{45800}), json(Kind::kString, "4.5800")), "");
  EXPECT_EQ(Difference(jet::Value(jet::Currency{-45800}), json(Kind::kString, "-4.58")), "");
  EXPECT_NE(Difference(jet::Value(jet::Currency{45801}), json(Kind::kString, "4.5800")), "");
  EXPECT_EQ(Difference(jet::Value(0.875), json(Kind::kNumber, "0.875", 0.875)), "");
  EXPECT_NE(Difference(jet::Value(0.875), json(Kind::kString, "0.875")), "");
  EXPECT_EQ(Difference(jet::Value(jet::DateTime{45291.875}),
                       json(Kind::kString, "2023-12-31T21:00:00.000Z")),
            "");
  EXPECT_EQ(
      Difference(jet::Value(jet::DateTime{0.875}), json(Kind::kString, "1899-12-30T21:00:00.000Z")),
      "");
  EXPECT_NE(Difference(jet::Value(jet::DateTime{45291.0}),
                       json(Kind::kString, "2023-12-31T00:00:01.000Z")),
            "");
  EXPECT_EQ(Difference(jet::Value(true), json(Kind::kBool, "", 0, true)), "");
  EXPECT_NE(Difference(jet::Value(false), json(Kind::kBool, "", 0, true)), "");
}

TEST(MdbReaderValuesSelf, JsonReaderDecodesEscapesAndKinds) {
  const auto o = testing_support::ParseJsonObject(
      R"({"a":"x\"y\\z\r\n\u00e4\ud83d\ude00","b":null,"c":-1.5e3,"d":true,"e":false,"f":""})");
  ASSERT_TRUE(o.has_value());
  ASSERT_EQ(o->size(), 6u);
  EXPECT_EQ((*o)[0].second.text, "x\"y\\z\r\nä\xF0\x9F\x98\x80");
  EXPECT_EQ((*o)[1].second.kind, JsonValue::Kind::kNull);
  EXPECT_EQ((*o)[2].second.number, -1500.0);
  EXPECT_TRUE((*o)[3].second.boolean);
  EXPECT_FALSE((*o)[4].second.boolean);
  EXPECT_EQ((*o)[5].second.kind, JsonValue::Kind::kString);
  EXPECT_FALSE(testing_support::ParseJsonObject(R"({"a":1)").has_value());
  EXPECT_FALSE(testing_support::ParseJsonObject(R"({"a":1} x)").has_value());
}

// ---------------------------------------------------------------------------------------------
// tests/data/expected/*.csv

// The expected files were written with `-D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S'`; our CSV
// has mdb-export's default date form `%m/%d/%y %H:%M:%S`. The one normalisation: every quoted
// "YYYY-MM-DD HH:MM:SS" of the expected file becomes "MM/DD/YY HH:MM:SS". Returns how many.
int NormaliseDates(std::string& csv) {
  constexpr std::string_view kForm = "\"9999-99-99 99:99:99\"";
  std::string out;
  int count = 0;
  for (std::size_t i = 0; i < csv.size();) {
    const std::string_view here = std::string_view(csv).substr(i, kForm.size());
    if (HasForm(here, kForm)) {
      // "YYYY-MM-DD HH:MM:SS" -> "MM/DD/YY HH:MM:SS"
      out += '"';
      out += here.substr(6, 2);
      out += '/';
      out += here.substr(9, 2);
      out += '/';
      out += here.substr(3, 2);
      out += here.substr(11);
      i += kForm.size();
      ++count;
    } else {
      out.push_back(csv[i++]);
    }
  }
  csv = std::move(out);
  return count;
}

TEST(ExpectedCsv, DateNormalisationRewritesOnlyQuotedDates) {
  std::string csv = "1,\"2023-12-31 00:00:00\",\"1899-12-30 21:00:00\",\"2023-12-31\",2023\n";
  EXPECT_EQ(NormaliseDates(csv), 2);
  EXPECT_EQ(csv, "1,\"12/31/23 00:00:00\",\"12/30/99 21:00:00\",\"2023-12-31\",2023\n");
}

class ExpectedCsv : public testing::TestWithParam<std::string> {};

TEST_P(ExpectedCsv, SourceTableEqualsTheExpectedExport) {
  const std::string table = GetParam();
  auto db = OpenOrFail(DbFile{fs::path(testing_support::kFixtures) / "source.mdb", ""});
  ASSERT_NE(db, nullptr);
  std::string expected = testing_support::ReadFileText(fs::path(testing_support::kFixtures) /
                                                       "expected" / ("source." + table + ".csv"));
  ASSERT_FALSE(expected.empty());
  const int dates = NormaliseDates(expected);
  if (table == "ArtikelStamm") {
    EXPECT_GT(dates, 0) << "the file has dates; the normalisation must have found them";
  }
  EXPECT_EQ(OurCsv(*db, table), expected);
}

INSTANTIATE_TEST_SUITE_P(Source, ExpectedCsv, testing::Values("ArtikelStamm", "ArtikelZusatzStamm"),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
