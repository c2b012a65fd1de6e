// Text indexes of a real file holding names in every script and with emoji: written by our
// engine, and by the migration, into a copy of the sample target, in the sort order of Access
// 2000-2007 and in that of Access 2010 and later, then read back by our reader, `jet-inspect
// export` and `check`, mdb-export (which prints each surrogate of a character past U+FFFF as '?')
// and mdb-reader.
//
// The sample target's text indexes are tbl_Kunden.txt_Nachname and the unique index on
// tbl_Einstellungen.txt_Schluessel. For the 2010 order the copy's definitions of both columns are
// switched to sort order version 1 before writing; the writer builds every index of a written
// table anew, so the whole index then holds 2010 keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "import/import_run.h"
#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/index/index_key.h"
#include "jet/table/table_scan.h"
#include "jet/text/unicode.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"
#include "tools/csv_export.h"

namespace {

using testing_support::kTargetPassword;

using jet::Value;
using testing_support::RunCommand;
using testing_support::ShellQuote;

constexpr std::uint8_t kTableDefinitionPage = 0x02;
constexpr std::size_t kJet4PageSize = 4096;
// Jet 4 physical index entry: the ten column slots (30 bytes) and the usage map (4) come before
// the root page field.
constexpr std::size_t kRootFieldAfterColumns = 34;

// Group names as shops write them: emoji (one with the emoji presentation selector, one a flag,
// one joined by U+200D), CJK and a CJK extension character, mathematical letters, a combining
// accent, Arabic, Hebrew, Thai, and two names that differ only in their emoji.
const std::vector<std::string> kNames = {
    "Pizza \xF0\x9F\x8D\x95",                            // Pizza 🍕
    "Pizza \xF0\x9F\x8D\x94",                            // Pizza 🍔
    "Scharf \xF0\x9F\x8C\xB6\xEF\xB8\x8F",               // Scharf 🌶️
    "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA",                  // 🇩🇪: U+1F1E9 U+1F1EA
    "\xF0\xA9\xB8\xBD",                                  // 𩸽: U+29E3D (CJK extension B)
    "\xF0\x9D\x90\x81\xF0\x9D\x90\xA2\xF0\x9D\x90\xA8",  // 𝐁𝐢𝐨: U+1D401 U+1D422 U+1D428
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x8D\xB3",      // 👨‍🍳: U+1F468 U+200D U+1F373
    "\xE5\xAF\xBF\xE5\x8F\xB8",                          // 寿司
    "Cafe\xCC\x81",                                      // Café, e + U+0301
    "\xD9\x85\xD8\xB7\xD8\xB9\xD9\x85",                  // مطعم
    "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",                  // שלום
    // One word over two lines. NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
    "\xE0\xB8\x82\xE0\xB9\x89\xE0\xB8\xB2\xE0\xB8\xA7\xE0\xB8\x9C\xE0\xB8\xB1\xE0\xB8"
    "\x94",  // ข้าวผัด
    "Pizza",
};

// The text as mdb-export prints it: a character past U+FFFF as "??", one '?' per surrogate.
std::string AsMdbExportPrints(const std::string& text) {
  std::string out;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = jet::NextCodePoint(text, pos);
    if (cp > 0xFFFF) {
      out += "??";
    } else {
      jet::AppendUtf8(out, cp);
    }
  }
  return out;
}

// The ascending keys of the names past U+FFFF, worked out by hand. Each surrogate keys on its own
// with a two-byte weight and the accent byte 3F (letters before it get 02): a high surrogate weighs
// its unit less 10238, a low one its unit less 9992 / 9990 / 9988 / 9986 / 9984 for offsets
// o = unit - DC00 below 8 / 262 / 516 / 770 / beyond. So D83C -> B03E, D835 -> B037, D867 -> B069,
// D83D -> B03F; DC01 (o 1) -> B4F9, DC22 (o 34) -> B51C, DC28 (o 40) -> B522, DC68 (o 104) ->
// B562, DDE9 (o 489) -> B6E5, DDEA -> B6E6, DE3D (o 573) -> B73B, DF55 (o 853) -> B855, DF73 (o
// 883) -> B873. U+200D is ignored.
struct HandKey {
  std::string name;
  const char* legacy;   // order of Access 2000-2007
  const char* general;  // order of Access 2010 and later
};
const std::vector<HandKey> kHandKeys = {
    {kNames[0],  // P i z z a, space, then the pizza
     "66 59 78 78 4A 07 B0 3E B8 55 01 02 02 02 02 02 02 3F 3F 00",
     "0E 7E 0E 32 0E A9 0E A9 0E 02 07 02 B0 3E B8 55 01 02 02 02 02 02 02 3F 3F 00"},
    {kNames[3], "B0 3E B6 E5 B0 3E B6 E6 01 3F 3F 3F 3F 00",
     "B0 3E B6 E5 B0 3E B6 E6 01 3F 3F 3F 3F 00"},
    {kNames[4], "B0 69 B7 3B 01 3F 3F 00", "B0 69 B7 3B 01 3F 3F 00"},
    {kNames[5], "B0 37 B4 F9 B0 37 B5 1C B0 37 B5 22 01 3F 3F 3F 3F 3F 3F 00",
     "B0 37 B4 F9 B0 37 B5 1C B0 37 B5 22 01 3F 3F 3F 3F 3F 3F 00"},
    {kNames[6], "B0 3F B5 62 B0 3E B8 73 01 3F 3F 3F 3F 00",
     "B0 3F B5 62 B0 3E B8 73 01 3F 3F 3F 3F 00"},
};

// The hand-written key of `name` in `order`, with the flag byte 7F of an ascending column; empty
// for other names.
std::string HandKeyOf(const std::string& name, jet::TextSortOrder order) {
  for (const HandKey& h : kHandKeys) {
    if (h.name == name) {
      return std::string("7F ") + (order == jet::TextSortOrder::kGeneral ? h.general : h.legacy);
    }
  }
  return "";
}

std::string Hex(const jet::ByteString& b) {
  std::string s;
  char buf[4];
  for (std::uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02X ", x);
    s += buf;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

// The targets are made by changing index definitions in place, which leaves each changed index's
// stored entries out of step with its definition until the writer builds the tree anew. The
// integrity check that guards writing would refuse such a file, so these tests leave it out; the
// files they commit are checked whole afterwards.
const jet::TestOptions kWithoutWriteCheck{.check_before_writing = false};

std::unique_ptr<jet::Database> Open(const std::filesystem::path& file, bool writable) {
  auto db = jet::Database::Open(
      file.string(),
      {.password = kTargetPassword, .writable = writable, .test = kWithoutWriteCheck});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(*db) : nullptr;
}

std::size_t ColumnAt(const jet::TableDef& def, const char* name) {
  return static_cast<std::size_t>(def.FindColumn(name) - def.columns.data());
}

// Sets the sort order version of a text column in the file: the byte of its descriptor on the
// table's first definition page (Jet 4: the 63-byte header, 12 bytes per physical index, then
// 25-byte column descriptors; the column number at +5, the version at +14).
void SetSortVersion(const std::filesystem::path& file, const std::string& table, const char* column,
                    std::uint8_t version) {
  std::uint32_t page = 0, real_indexes = 0;
  std::uint16_t number = 0;
  {
    auto db = Open(file, false);
    ASSERT_TRUE(db);
    const auto def = *db->GetTable(table);
    page = def->page;
    real_indexes = static_cast<std::uint32_t>(def->real_indexes.size());
    number = def->FindColumn(column)->number;
  }
  std::vector<std::uint8_t> bytes = testing_support::ReadFileBytes(file);
  const jet::Format& f = jet::FormatFor(jet::JetVersion::kJet4);
  const std::size_t start = static_cast<std::size_t>(page) * f.page_size;
  ASSERT_LT(start, bytes.size());
  ASSERT_EQ(bytes[start], kTableDefinitionPage);
  const std::uint16_t columns = static_cast<std::uint16_t>(
      bytes[start + f.tdef_num_cols_offset] | bytes[start + f.tdef_num_cols_offset + 1] << 8);
  std::size_t at = start + f.tdef_header_end + real_indexes * f.tdef_real_idx_count_entry;
  for (std::uint16_t i = 0; i < columns; ++i, at += f.tdef_column_entry) {
    ASSERT_LT(at + f.tdef_column_entry, start + f.page_size) << "descriptor past the first page";
    if ((bytes[at + f.col_number] | bytes[at + f.col_number + 1] << 8) != number) continue;
    bytes[at + f.col_sort_version] = version;
    testing_support::WriteFileBytes(file, bytes);
    return;
  }
  FAIL() << "no descriptor for " << column;
}

class TextIndexFile : public testing::TestWithParam<jet::TextSortOrder> {};

TEST_P(TextIndexFile, NamesInEveryScriptAreIndexedAndReadBackByEveryReader) {
  const jet::TextSortOrder order = GetParam();
  testing_support::TargetCopy copy;
  const std::uint8_t version = order == jet::TextSortOrder::kGeneral ? 1 : 0;
  SetSortVersion(copy.path(), "tbl_Kunden", "txt_Nachname", version);
  SetSortVersion(copy.path(), "tbl_Einstellungen", "txt_Schluessel", version);
  {
    auto db = Open(copy.path(), true);
    ASSERT_TRUE(db);
    const auto customers = *db->GetTable("tbl_Kunden");
    const auto settings = *db->GetTable("tbl_Einstellungen");
    ASSERT_EQ(*jet::TextSortOrderOf(*customers->FindColumn("txt_Nachname"), db->header()), order);
    for (const std::string& name : kNames) {
      std::vector<Value> customer(customers->columns.size());
      customer[ColumnAt(*customers, "txt_Nachname")] = Value(name);
      ASSERT_TRUE(db->InsertRow("tbl_Kunden", customer).ok()) << name;
      std::vector<Value> setting(settings->columns.size());
      setting[ColumnAt(*settings, "txt_Schluessel")] = Value(name);  // a unique index
      ASSERT_TRUE(db->InsertRow("tbl_Einstellungen", setting).ok()) << name;
    }
    const jet::Status s = db->Commit();
    ASSERT_TRUE(s.ok()) << s.ToString();
  }

  // jet-inspect check: the file is sound, every index entry holds its row's key, in order.
  const auto check = RunCommand(ShellQuote(PI_BINARY_DIR "/tools/jet-inspect") + " --password " +
                                kTargetPassword + " check " + ShellQuote(copy.path().string()));
  EXPECT_EQ(check.exit_code, 0) << check.out;

  auto db = Open(copy.path(), false);
  ASSERT_TRUE(db);
  for (const char* table_name : {"tbl_Kunden", "tbl_Einstellungen"}) {
    SCOPED_TRACE(table_name);
    const auto table = *db->GetTable(table_name);
    const std::size_t col = ColumnAt(
        *table, table_name == std::string("tbl_Kunden") ? "txt_Nachname" : "txt_Schluessel");
    // Our reader gives the names back unchanged.
    std::map<std::uint32_t, std::string> name_at;
    {
      jet::TableScan scan(*db, *table);
      while (*scan.Next()) {
        if (scan.values()[col].is<std::string>()) {
          name_at[scan.position().Raw()] = scan.values()[col].as<std::string>();
        }
      }
    }
    for (const std::string& name : kNames) {
      EXPECT_EQ(std::count_if(name_at.begin(), name_at.end(),
                              [&](const auto& e) { return e.second == name; }),
                1)
          << name;
    }
    // The text index names the rows in the order of the keys: Pizza, then 🍔 before 🍕.
    const jet::RealIndex* text_index = nullptr;
    for (const jet::RealIndex& ri : table->real_indexes) {
      if (ri.columns.size() == 1 && ri.columns[0].column_number == table->columns[col].number) {
        text_index = &ri;
      }
    }
    ASSERT_NE(text_index, nullptr);
    std::vector<std::string> in_order;
    for (const jet::IndexEntry& e : testing_support::EntriesOf(db->pages(), *table, *text_index)) {
      const auto named = name_at.find(e.row.Raw());
      if (named == name_at.end()) continue;  // a row without a name
      const std::string& name = named->second;
      if (std::find(kNames.begin(), kNames.end(), name) != kNames.end()) in_order.push_back(name);
      jet::ByteString key;
      ASSERT_TRUE(jet::AppendKeyColumn(table->columns[col], text_index->columns[0].ascending,
                                       Value(name), db->header(), key)
                      .ok());
      EXPECT_EQ(key, e.key) << name;
    }
    ASSERT_EQ(in_order.size(), kNames.size());
    const auto pos = [&](const std::string& n) {
      return std::find(in_order.begin(), in_order.end(), n) - in_order.begin();
    };
    EXPECT_LT(pos("Pizza"), pos(kNames[1]));
    EXPECT_LT(pos(kNames[1]), pos(kNames[0]));

    // jet-inspect export prints them as they are, mdb-export with "??" past U+FFFF.
    std::ostringstream ours;
    ASSERT_TRUE(inspect::ExportCsv(*db, table_name, ours).ok());
    const auto theirs = RunCommand("LC_ALL=C.UTF-8 mdb-export " + ShellQuote(copy.path().string()) +
                                   " " + table_name);
    EXPECT_EQ(theirs.exit_code, 0);
    for (const std::string& name : kNames) {
      EXPECT_NE(ours.str().find("\"" + name + "\""), std::string::npos) << name;
      EXPECT_NE(theirs.out.find("\"" + AsMdbExportPrints(name) + "\""), std::string::npos)
          << AsMdbExportPrints(name);
    }
    // mdb-reader reads every name exactly.
    const auto dump = RunCommand(testing_support::MdbReaderCommand({copy.path(), kTargetPassword}) +
                                 " --table " + table_name);
    ASSERT_EQ(dump.exit_code, 0);
    std::vector<std::string> read;
    for (const std::string& line : testing_support::SplitLines(dump.out)) {
      const auto row = testing_support::ParseJsonObject(line);
      ASSERT_TRUE(row) << line;
      for (const auto& [key, value] : *row) {
        if (key == table->columns[col].name) read.push_back(value.text);
      }
    }
    for (const std::string& name : kNames) {
      EXPECT_NE(std::find(read.begin(), read.end(), name), read.end()) << name;
    }
  }
}

// The names among `names` that the single-column index on `column` lists, with their keys, in
// the index's order (ascending).
std::vector<std::pair<std::string, jet::ByteString>> IndexedNames(
    jet::Database& db, const std::string& table_name, const char* column,
    const std::vector<std::string>& names) {
  const auto table = *db.GetTable(table_name);
  const std::size_t col = ColumnAt(*table, column);
  std::map<std::uint32_t, std::string> name_at;
  jet::TableScan scan(db, *table);
  while (*scan.Next()) {
    if (scan.values()[col].is<std::string>()) {
      name_at[scan.position().Raw()] = scan.values()[col].as<std::string>();
    }
  }
  const auto index = std::find_if(
      table->real_indexes.begin(), table->real_indexes.end(), [&](const jet::RealIndex& ri) {
        return ri.columns.size() == 1 && ri.columns[0].column_number == table->columns[col].number;
      });
  std::vector<std::pair<std::string, jet::ByteString>> in_order;
  if (index == table->real_indexes.end()) {
    ADD_FAILURE() << "no index on " << column;
    return in_order;
  }
  EXPECT_TRUE(index->columns[0].ascending) << column;
  for (const jet::IndexEntry& e : testing_support::EntriesOf(db.pages(), *table, *index)) {
    const auto named = name_at.find(e.row.Raw());
    if (named != name_at.end() &&
        std::find(names.begin(), names.end(), named->second) != names.end()) {
      in_order.emplace_back(named->second, e.key);
    }
  }
  return in_order;
}

// Inserts `names` into tbl_Kunden.txt_Nachname of `file` (its index in `order`) and commits.
void InsertCustomers(const std::filesystem::path& file, jet::TextSortOrder order,
                     const std::vector<std::string>& names) {
  ASSERT_NO_FATAL_FAILURE(SetSortVersion(file, "tbl_Kunden", "txt_Nachname",
                                         order == jet::TextSortOrder::kGeneral ? 1 : 0));
  auto db = Open(file, true);
  ASSERT_TRUE(db);
  const auto customers = *db->GetTable("tbl_Kunden");
  for (const std::string& name : names) {
    std::vector<Value> customer(customers->columns.size());
    customer[ColumnAt(*customers, "txt_Nachname")] = Value(name);
    ASSERT_TRUE(db->InsertRow("tbl_Kunden", customer).ok()) << name;
  }
  const jet::Status s = db->Commit();
  ASSERT_TRUE(s.ok()) << s.ToString();
}

int CheckExitCode(const std::filesystem::path& file) {
  const auto check = RunCommand(ShellQuote(PI_BINARY_DIR "/tools/jet-inspect") + " --password " +
                                kTargetPassword + " check " + ShellQuote(file.string()));
  EXPECT_EQ(check.exit_code, 0) << check.out;
  return check.exit_code;
}

// A table of names past U+FFFF (emoji, a flag, CJK extensions, mathematical letters) with some of
// the BMP around them, in the order their keys give: by the weights of their surrogates, which in
// the 2010 order lie between the private use area (A902..) and Hangul (C003..), and in the
// 2000-2007 order after Hangul (8103..) and among CJK ideographs (U+5BFF weighs AD5A), before the
// private use area (E602..).
TEST_P(TextIndexFile, NamesPastTheBmpStandInTheIndexInTheOrderOfTheirKeys) {
  const jet::TextSortOrder order = GetParam();
  const std::string pua = "\xEE\x80\x80", hangul = "\xEA\xB0\x80", kotobuki = "\xE5\xAF\xBF";
  std::vector<std::string> expected = {
      "Pizza",
      "Pizza \xF0\x9F\x8D\x95",  // 🍕 B03E B855
      "Pizza \xF0\x9F\x98\x80",  // 😀 B03F B6FC
      "Pizzen",
      "\xF0\x90\x80\x80",                  // U+10000: B002 B4F8
      "\xF0\x9D\x90\x81io",                // 𝐁io: B037 B4F9, letters
      "\xF0\x9D\x90\x81\xF0\x9D\x90\xA2",  // 𝐁𝐢: B037 B4F9 B037 B51C
      "\xF0\x9D\x93\x90",                  // 𝓐 U+1D4D0: B037 B5CA
      "\xF0\x9D\x94\xB8",                  // 𝔸 U+1D538: B037 B634
      "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA",  // 🇩🇪: B03E B6E5 B03E B6E6
      "\xF0\x9F\x8D\x95",                  // 🍕 U+1F355: B03E B855
      "\xF0\x9F\x98\x80",                  // 😀 U+1F600: B03F B6FC
      "\xF0\x9F\x98\x84",                  // 😄 U+1F604: B03F B702
      "\xF0\xA0\x80\x80",                  // 𠀀 U+20000: B042 B4F8
      "\xF0\xAA\x9C\x80",                  // 𪜀 U+2A700: B06B B7FE
  };
  if (order == jet::TextSortOrder::kGeneral) {
    expected.insert(expected.begin() + 4, pua);
    expected.push_back(hangul);
    expected.push_back(kotobuki);  // FDFF4A85
  } else {
    expected.insert(expected.begin() + 4, {hangul, kotobuki});
    expected.push_back(pua);
  }
  testing_support::TargetCopy copy;
  ASSERT_NO_FATAL_FAILURE(InsertCustomers(
      copy.path(), order, std::vector<std::string>(expected.rbegin(), expected.rend())));
  EXPECT_EQ(CheckExitCode(copy.path()), 0);
  auto db = Open(copy.path(), false);
  ASSERT_TRUE(db);
  std::vector<std::string> in_order;
  for (const auto& [name, key] : IndexedNames(*db, "tbl_Kunden", "txt_Nachname", expected)) {
    in_order.push_back(name);
  }
  EXPECT_EQ(in_order, expected);
}

// Unpaired surrogates, which other programs may leave in a file, are read and written as the
// units they are, and keyed unit by unit as the pairs are: "a" + DE00, D83D alone, DE00 before
// D83D. Every reader copes with them.
TEST_P(TextIndexFile, UnpairedSurrogatesKeepTheirUnitsAndAreKeyedByThem) {
  const jet::TextSortOrder order = GetParam();
  const bool general = order == jet::TextSortOrder::kGeneral;
  const std::vector<std::pair<std::string, std::string>> names = {
      {"a\xED\xB8\x80", general ? "7F 0E 02 B6 FC 01 02 3F 00" : "7F 4A B6 FC 01 02 3F 00"},
      {"\xED\xA0\xBD", "7F B0 3F 01 3F 00"},
      {"\xED\xB8\x80\xED\xA0\xBD", "7F B6 FC B0 3F 01 3F 3F 00"},
  };
  std::vector<std::string> texts;
  texts.reserve(names.size());
  for (const auto& n : names) texts.push_back(n.first);
  testing_support::TargetCopy copy;
  ASSERT_NO_FATAL_FAILURE(InsertCustomers(copy.path(), order, texts));
  EXPECT_EQ(CheckExitCode(copy.path()), 0);
  auto db = Open(copy.path(), false);
  ASSERT_TRUE(db);
  // Our reader gives each text back as written (else it would not be found), keyed as by hand,
  // in key order.
  const auto indexed = IndexedNames(*db, "tbl_Kunden", "txt_Nachname", texts);
  ASSERT_EQ(indexed.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(indexed[i].first, names[i].first) << i;
    EXPECT_EQ(Hex(indexed[i].second), names[i].second) << i;
  }
  // mdb-export and mdb-reader read the table.
  EXPECT_EQ(
      RunCommand("LC_ALL=C.UTF-8 mdb-export " + ShellQuote(copy.path().string()) + " tbl_Kunden")
          .exit_code,
      0);
  EXPECT_EQ(RunCommand(testing_support::MdbReaderCommand({copy.path(), kTargetPassword}) +
                       " --table tbl_Kunden")
                .exit_code,
            0);
}

// ---- The migration into a target with a text index on the group names ----

// The sample target with its index "lng_ID" of the categories turned into a text index on
// txt_ProduktGruppe named "Gruppe": the first column of its physical index (the map of ten
// (column number 2, order 1) slots 34 bytes before the root page field) and its name (same
// length, UCS-2) changed in place on the definition's first page. The writer builds the tree anew
// when the migration writes the table.
void TurnIdIndexIntoGroupIndex(const std::filesystem::path& file) {
  const std::string table = "tbl_Verwaltung_ProdukteKategorien";
  std::uint32_t page = 0;
  std::size_t columns_at = 0;
  std::uint16_t group_column = 0;
  {
    auto db = Open(file, false);
    ASSERT_TRUE(db);
    const auto def = *db->GetTable(table);
    page = def->page;
    const auto index = std::find_if(def->indexes.begin(), def->indexes.end(),
                                    [](const jet::Index& x) { return x.name == "lng_ID"; });
    ASSERT_NE(index, def->indexes.end());
    const jet::RealIndex& real = def->real_indexes[index->real_index];
    ASSERT_EQ(real.columns.size(), 1u);
    ASSERT_FALSE(real.unique());
    columns_at = real.first_page_at - kRootFieldAfterColumns;
    group_column = def->FindColumn("txt_ProduktGruppe")->number;
  }
  std::vector<std::uint8_t> bytes = testing_support::ReadFileBytes(file);
  const std::size_t start = static_cast<std::size_t>(page) * kJet4PageSize;
  ASSERT_LT(columns_at + 2, kJet4PageSize);
  bytes[start + columns_at] = static_cast<std::uint8_t>(group_column);
  bytes[start + columns_at + 1] = static_cast<std::uint8_t>(group_column >> 8);
  // The index name is the last "lng_ID" on the page (the column of that name comes first).
  const std::u16string from = u"lng_ID", to = u"Gruppe";
  std::vector<std::uint8_t> pattern;
  for (char16_t c : from) {
    pattern.push_back(static_cast<std::uint8_t>(c));
    pattern.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  const auto page_begin = bytes.begin() + static_cast<std::ptrdiff_t>(start);
  const auto found =
      std::find_end(page_begin, page_begin + kJet4PageSize, pattern.begin(), pattern.end());
  ASSERT_NE(found, page_begin + kJet4PageSize);
  ASSERT_EQ(found[-2], pattern.size());  // its length in bytes
  for (std::size_t i = 0; i < to.size(); ++i) {
    found[static_cast<std::ptrdiff_t>(2 * i)] = static_cast<std::uint8_t>(to[i]);
    found[static_cast<std::ptrdiff_t>(2 * i + 1)] = static_cast<std::uint8_t>(to[i] >> 8);
  }
  testing_support::WriteFileBytes(file, bytes);
}

// A copy of the sample source with one more article in each of the groups kNames.
void AddArticlesInGroups(const std::filesystem::path& file) {
  auto db = Open(file, true);
  ASSERT_TRUE(db);
  const auto def = *db->GetTable("ArtikelStamm");
  std::vector<Value> model;
  {
    jet::TableScan scan(*db, *def);
    ASSERT_TRUE(*scan.Next());
    model = scan.values();
  }
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    std::vector<Value> row = model;
    row[ColumnAt(*def, "ID")] = Value();
    row[ColumnAt(*def, "Kurzzeichen")] = Value("U" + std::to_string(i));
    row[ColumnAt(*def, "Bezeichnung")] = Value("Spezial " + std::to_string(i));
    row[ColumnAt(*def, "Gruppe")] = Value(kNames[i]);
    ASSERT_TRUE(db->InsertRow("ArtikelStamm", row).ok()) << kNames[i];
  }
  const jet::Status s = db->Commit();
  ASSERT_TRUE(s.ok()) << s.ToString();
}

int Migrate(const std::string& root, const std::string& source) {
  run::RecordingUserSide user;
  run::DatabaseState state;
  state.strDBRoot = root;
  state.target_test = kWithoutWriteCheck;
  run::RunContext run{state, source, user};
  try {
    import::cmdImport_Click(run);
  } catch (const run::ProgramEnd& end) {
    for (const run::Message& m : user.messages()) std::printf("  %s\n", m.prompt.c_str());
    return end.status();
  }
  return -1;
}

TEST_P(TextIndexFile, AMigrationWithSuchGroupNamesFillsATextIndexOnTheGroups) {
  const jet::TextSortOrder order = GetParam();
  testing_support::ScratchDir dir("text-index-import");
  const std::filesystem::path target = dir.path() / "DBZentavo.mdb";
  const std::filesystem::path source = dir.path() / "Kastrel.mdb";
  std::filesystem::copy_file(testing_support::Fixture("target.mdb"), target);
  std::filesystem::copy_file(testing_support::Fixture("source.mdb"), source);
  const std::string table = "tbl_Verwaltung_ProdukteKategorien";
  ASSERT_NO_FATAL_FAILURE(TurnIdIndexIntoGroupIndex(target));
  ASSERT_NO_FATAL_FAILURE(SetSortVersion(target, table, "txt_ProduktGruppe",
                                         order == jet::TextSortOrder::kGeneral ? 1 : 0));
  ASSERT_NO_FATAL_FAILURE(AddArticlesInGroups(source));

  ASSERT_EQ(Migrate(dir.path().string() + "/", source.string()), run::kExitCompleted);

  const auto check = RunCommand(ShellQuote(PI_BINARY_DIR "/tools/jet-inspect") + " --password " +
                                kTargetPassword + " check " + ShellQuote(target.string()));
  EXPECT_EQ(check.exit_code, 0) << check.out;
  auto db = Open(target, false);
  ASSERT_TRUE(db);
  const auto def = *db->GetTable(table);
  const auto index = std::find_if(def->indexes.begin(), def->indexes.end(),
                                  [](const jet::Index& x) { return x.name == "Gruppe"; });
  ASSERT_NE(index, def->indexes.end());
  const jet::RealIndex& real = def->real_indexes[index->real_index];
  const std::size_t col = ColumnAt(*def, "txt_ProduktGruppe");
  ASSERT_EQ(real.columns[0].column_number, def->columns[col].number);
  ASSERT_EQ(*jet::TextSortOrderOf(def->columns[col], db->header()), order);

  // Every group is in the index, keyed as the encoder keys it, in key order.
  std::map<std::uint32_t, std::string> group_at;
  jet::TableScan scan(*db, *def);
  while (*scan.Next()) {
    if (scan.values()[col].is<std::string>()) {
      group_at[scan.position().Raw()] = scan.values()[col].as<std::string>();
    }
  }
  std::vector<std::string> in_order;
  std::size_t hand_checked = 0;
  for (const jet::IndexEntry& e : testing_support::EntriesOf(db->pages(), *def, real)) {
    const auto named = group_at.find(e.row.Raw());
    if (named == group_at.end()) continue;
    in_order.push_back(named->second);
    jet::ByteString key;
    ASSERT_TRUE(
        jet::AppendKeyColumn(def->columns[col], true, Value(named->second), db->header(), key)
            .ok());
    EXPECT_EQ(key, e.key) << named->second;
    // The names past U+FFFF, byte for byte as written out by hand.
    const std::string hand = HandKeyOf(named->second, order);
    if (!hand.empty()) {
      ++hand_checked;
      EXPECT_EQ(Hex(e.key), hand) << named->second;
    }
  }
  EXPECT_EQ(hand_checked, kHandKeys.size());
  for (const std::string& name : kNames) {
    EXPECT_EQ(std::count(in_order.begin(), in_order.end(), name), 1) << name;
  }
  const auto pos = [&](const std::string& n) {
    return std::find(in_order.begin(), in_order.end(), n) - in_order.begin();
  };
  EXPECT_LT(pos("Pizza"), pos(kNames[1]));
  EXPECT_LT(pos(kNames[1]), pos(kNames[0]));

  // The readers: jet-inspect export and mdb-reader exactly, mdb-export with "??" past U+FFFF.
  std::ostringstream ours;
  ASSERT_TRUE(inspect::ExportCsv(*db, table, ours).ok());
  const auto theirs =
      RunCommand("LC_ALL=C.UTF-8 mdb-export " + ShellQuote(target.string()) + " " + table);
  EXPECT_EQ(theirs.exit_code, 0);
  const auto dump = RunCommand(testing_support::MdbReaderCommand({target, kTargetPassword}) +
                               " --table " + table);
  ASSERT_EQ(dump.exit_code, 0);
  for (const std::string& name : kNames) {
    EXPECT_NE(ours.str().find("\"" + name + "\""), std::string::npos) << name;
    EXPECT_NE(theirs.out.find("\"" + AsMdbExportPrints(name) + "\""), std::string::npos) << name;
    EXPECT_NE(dump.out.find("\"txt_ProduktGruppe\":\"" + name + "\""), std::string::npos) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(BothOrders, TextIndexFile,
                         testing::Values(jet::TextSortOrder::kGeneralLegacy,
                                         jet::TextSortOrder::kGeneral),
                         [](const testing::TestParamInfo<jet::TextSortOrder>& p) {
                           return p.param == jet::TextSortOrder::kGeneral
                                      ? std::string("Access2010")
                                      : std::string("Access2000");
                         });

}  // namespace
