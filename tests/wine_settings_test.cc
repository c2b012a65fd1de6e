// Zentavo under Wine: reading the registry files Wine writes (kept in tests/data/wine, written by
// real Wine), mapping Windows paths into a prefix, the order in which the settings are looked up,
// and imports into a target that a prefix's registry names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/error.h"
#include "host/settings.h"
#include "host/target_lookup.h"
#include "host/wine_prefix.h"
#include "host/wine_registry.h"
#include "import/import_run.h"
#include "jet/text/unicode.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"
#include "tests/test_support.h"
#include "tests/wine_test_util.h"

namespace {

using host::WinePathProblem;
using host::WineRegistry;
using testing_support::ReadFileText;
using namespace wine_test;

constexpr char kKey[] = "Software\\VB and VBA Program Settings\\ZentavoSettings\\DB";
constexpr char kTypesKey[] = "Software\\VB and VBA Program Settings\\ZentavoSettings\\Typen";
const std::string kRecordedRoot = "C:\\Programme\\Kassenbüro \"Süd\"\\Daten\\";

WineRegistry LoadFixture(const std::string& name) {
  auto reg = WineRegistry::Load(kRegistries + "/" + name);
  EXPECT_TRUE(reg.has_value()) << name;
  return reg.value_or(*WineRegistry::Parse("WINE REGISTRY Version 2\n"));
}

// --- The registry file ---------------------------------------------------------------------

TEST(WineRegistry, ReadsStringsAsWineWroteThem) {
  const WineRegistry reg = LoadFixture("umlauts.reg");
  // \xfc before a letter, \x00fc before a hex digit, \" and \\.
  EXPECT_EQ(reg.FindString(kKey, "Root"), kRecordedRoot);
  EXPECT_EQ(reg.FindString(kKey, "Tab"), "a\tb\\c");
  // \x with three digits, a surrogate pair, then a letter.
  EXPECT_EQ(reg.FindString(kKey, "Weit"), "Ж€\U0001F600x");
  EXPECT_EQ(reg.FindString(kKey, "Leer"), "");
  // REG_EXPAND_SZ is a string, read as stored.
  EXPECT_EQ(reg.FindString(kTypesKey, "Pfad"), "%USERPROFILE%\\Zentavo\\");
  // Another program's value in a key of the default prefix.
  EXPECT_EQ(reg.FindString("Software\\Wine\\Debug", "RelayFromExclude"),
            "winex11.drv;winemac.drv;user32;gdi32;advapi32;kernel32");
}

TEST(WineRegistry, OtherTypesAndMissingNamesAreNoEntry) {
  const WineRegistry reg = LoadFixture("umlauts.reg");
  EXPECT_EQ(reg.FindString(kTypesKey, "Zahl"), std::nullopt);   // dword
  EXPECT_EQ(reg.FindString(kTypesKey, "Liste"), std::nullopt);  // str(7), REG_MULTI_SZ
  EXPECT_EQ(reg.FindString(kTypesKey, "Bytes"), std::nullopt);  // hex, REG_BINARY
  EXPECT_EQ(reg.FindString(kKey, "Fehlt"), std::nullopt);
  EXPECT_EQ(reg.FindString(kKey + std::string("\\Unter"), "Root"), std::nullopt);
  EXPECT_EQ(LoadFixture("empty.reg").FindString(kKey, "Root"), std::nullopt);
}

TEST(WineRegistry, NamesWithoutRegardToLetterCase) {
  // Written as HKCU\SOFTWARE\vb and vba program settings\ZENTAVOSETTINGS\db, value ROOT, str(2).
  const WineRegistry reg = LoadFixture("case.reg");
  EXPECT_EQ(reg.FindString(kKey, "Root"), "c:\\programme\\zentavo\\");
  EXPECT_EQ(reg.FindString("software\\VB AND VBA PROGRAM SETTINGS\\zentavosettings\\Db", "rOOT"),
            "c:\\programme\\zentavo\\");
  // Umlauts fold too, as Windows compares names.
  const auto umlaut = WineRegistry::Parse(
      "WINE REGISTRY Version 2\n[Software\\\\K\\x00fcche] 1\n\"Gr\\xd6\\x00dfe\"=\"x\"\n");
  ASSERT_TRUE(umlaut);
  EXPECT_EQ(umlaut->FindString("software\\KÜCHE", "größe"), "x");
}

TEST(WineRegistry, EscapesAndNotations) {
  const auto reg = WineRegistry::Parse(
      "WINE REGISTRY Version 2\n"
      ";; comment\n"
      "#arch=win64\n"
      "\n"
      "[A\\\\B\\]C] 1796734349\n"
      "#time=1d9e4b2c1e0f3a0\n"
      "#class=\"x\"\n"
      "@=\"default\"\n"
      "\"octal\"=\"\\1\\101\\0610x\"\n"
      "\"controls\"=\"\\a\\b\\e\\f\\n\\r\\t\\v\"\n"
      "\"hexend\"=\"\\x\\q\\x41\\x00041\"\n"
      "\"nul\"=\"vor\\0nach\"\n"
      "\"sz\"=str:\"s\"\n"
      "\"sz1\"=str(1):\"eins\"\n"
      "\"hex1\"=hex(1):43,00,3a,00,5c,00,c4,00\n"
      "\"hex2\"=hex(2):25,00,41,00,25,00,00,00,\\\n"
      "  41,00\n"
      "\"odd\"=hex(1):41,00,42\n"
      "\"raw\"=\"K\xc3\xbc\"\n"
      "\"lone\"=\"\\xd800z\"\n");
  ASSERT_TRUE(reg);
  const std::string key = "A\\B]C";
  EXPECT_EQ(reg->FindString(key, ""), "default");
  EXPECT_EQ(reg->FindString(key, "octal"), std::string("\x01"
                                                       "A"
                                                       "\x31"
                                                       "0x"));
  EXPECT_EQ(reg->FindString(key, "controls"), "\a\b\x1b\f\n\r\t\v");
  // Four digits at most: \x0004, then "1".
  EXPECT_EQ(reg->FindString(key, "hexend"), std::string("xqA\x04"
                                                        "1"));
  EXPECT_EQ(reg->FindString(key, "nul"), "vor");  // the program reads up to the first NUL
  EXPECT_EQ(reg->FindString(key, "sz"), "s");
  EXPECT_EQ(reg->FindString(key, "sz1"), "eins");
  EXPECT_EQ(reg->FindString(key, "hex1"), "C:\\Ä");
  EXPECT_EQ(reg->FindString(key, "hex2"), "%A%");
  EXPECT_EQ(reg->FindString(key, "odd"), "A");
  EXPECT_EQ(reg->FindString(key, "raw"), "Kü");
  EXPECT_EQ(reg->FindString(key, "lone"), "\xEF\xBF\xBDz");
}

TEST(WineRegistry, WhatIsNotAWholeRegistryFileIsRefused) {
  const std::string head = "WINE REGISTRY Version 2\n[K] 1\n";
  for (const std::string& text : {
           std::string(""), std::string("WINE REGISTRY Version 1\n[K] 1\n\"a\"=\"b\"\n"),
           std::string("REGEDIT4\n[K]\n\"a\"=\"b\"\n"),
           std::string("WINE REGISTRY Version 2\n\"a\"=\"b\"\n"),  // a value before any key
           head + "\"a\"=\"b\n",                                   // unterminated string
           head + "\"a\"=\"b\\\n",                                 // a backslash at the end
           head + "\"a=\"b\"\n",                                   // unterminated name
           head + "\"a\"\"b\"\n",                                  // no '='
           head + "\"a\"=\"b\" x\n",                               // text after the string
           head + "\"a\"=dword:2a\n",                              // short dword
           head + "\"a\"=hex:4g\n",
           head + "\"a\"=hex:41,\\\n",               // continuation at the end
           head + "\"a\"=hex:41,\\\n\"b\"=\"c\"\n",  // continuation not indented
           head + "\"a\"=str(x):\"b\"\n", head + "\"a\"=blob:\"b\"\n",
           head + "[K2\n",  // unterminated key
           head + "[K2] gestern\n",
           head + "Root=C:\\\n",  // an INI line
       }) {
    EXPECT_FALSE(WineRegistry::Parse(text).has_value()) << text;
  }
  EXPECT_FALSE(WineRegistry::Load(kRegistries + "/fehlt.reg").has_value());
  EXPECT_FALSE(WineRegistry::Load(kRegistries).has_value());  // a folder
}

// A file cut anywhere, or with any byte of the entry changed, is never read in half: the entry is
// either the whole value Wine wrote or absent, and nothing crashes.
TEST(WineRegistry, DamagedFilesGiveTheWholeEntryOrNone) {
  const std::string text = ReadFileText(kRegistries + "/umlauts.reg");
  const std::size_t entry = text.find("[Software\\\\VB");
  ASSERT_NE(entry, std::string::npos);
  const std::size_t end = text.find("\n\n", entry);
  int refused = 0;
  // Every cut in and near the entry, every 61st elsewhere.
  for (std::size_t cut = 0; cut <= text.size();
       cut += (cut + 200 >= entry && cut < end + 200) ? 1 : 61) {
    const auto reg = WineRegistry::Parse(std::string_view(text).substr(0, cut));
    if (!reg) {
      ++refused;
      continue;
    }
    const auto root = reg->FindString(kKey, "Root");
    if (root) {
      EXPECT_EQ(*root, kRecordedRoot) << "cut at " << cut;
    }
  }
  EXPECT_GT(refused, 0);
  // Every byte of the entry's lines changed in turn.
  for (std::size_t i = entry; i < end; ++i) {
    for (const char c : {'\0', '"', '\\', '[', 'x', '\n', '\xfc'}) {
      std::string damaged = text;
      damaged[i] = c;
      const auto reg = WineRegistry::Parse(damaged);
      if (reg) (void)reg->FindString(kKey, "Root");
    }
  }
}

// --- Letter case as Wine folds names -------------------------------------------------------

// Wine compares file names through the upper-case table of its l_intl.nls: every UTF-16 code unit
// must fold as our table folds it (same pairs, both directions). Read from the installed Wine.
TEST(WineCase, FoldsEveryCodeUnitAsWinesCaseTable) {
  PI_REQUIRE_ORACLE(testing_support::Oracle::kWine);
  const std::string file = "/usr/share/wine/nls/l_intl.nls";
  if (!fs::exists(file)) GTEST_SKIP() << file << " is missing (Debian package wine64)";
  // Layout: u16 version; then the upper-case table and the lower-case table, each a u16 count of
  // its own words (itself included) followed by a three-level table of differences, read as
  // ch + t[t[t[ch >> 8] + ((ch >> 4) & 15)] + (ch & 15)] (mod 2^16).
  const std::vector<std::uint8_t> bytes = testing_support::ReadFileBytes(file);
  std::vector<std::uint16_t> words(bytes.size() / 2);
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  ASSERT_GE(words.size(), 3u);
  const std::size_t upper_at = 2, lower_at = 1 + words[1] + 1;
  ASSERT_LT(lower_at, words.size());
  const auto look = [&](std::size_t at, std::uint32_t ch) -> std::uint32_t {
    const auto word = [&](std::size_t i) -> std::uint32_t {
      return at + i < words.size() ? words[at + i] : 0;
    };
    return (ch + word(word(word(ch >> 8) + ((ch >> 4) & 15)) + (ch & 15))) & 0xFFFF;
  };
  int differences = 0;
  for (std::uint32_t ch = 0; ch < 0x10000; ++ch) {
    if (ch >= 0xD800 && ch <= 0xDFFF) continue;  // not a character on its own
    const bool same = jet::UpperCodePoint(ch) == look(upper_at, ch) &&
                      jet::FoldCodePoint(ch) == look(lower_at, ch);
    if (!same && ++differences <= 10) ADD_FAILURE() << "U+" << std::hex << ch;
  }
  EXPECT_EQ(differences, 0);
}

// --- Windows paths in a prefix --------------------------------------------------------------

class PrefixPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    MakePrefix(prefix_);
    fs::create_directories(prefix_ / "drive_c" / "Programme" / "Zentavo" / "Daten");
    WriteText(prefix_ / "drive_c" / "Programme" / "Zentavo" / "Daten" / "dbzentavo.MDB", "x");
    fs::create_directories(prefix_ / "drive_c" / "Kassenbüro \"Süd\"");
  }
  std::string prefix() const { return prefix_.string(); }
  std::string drive_c() const { return (prefix_ / "drive_c").string(); }

  testing_support::ScratchDir dir_{"wine-paths"};
  fs::path prefix_ = dir_.path() / "präfix";
};

TEST_F(PrefixPaths, NamesAreFoundWithoutRegardToLetterCase) {
  const std::string file = drive_c() + "/Programme/Zentavo/Daten/dbzentavo.MDB";
  for (const char* windows :
       {"C:\\Programme\\Zentavo\\Daten\\DBZentavo.mdb",
        "c:\\PROGRAMME\\zentavo\\daten\\dbzentavo.mdb", "C:/Programme/Zentavo/Daten/DBZentavo.mdb",
        "C:\\\\Programme\\.\\Zentavo\\Daten\\..\\Daten\\DBZentavo.mdb",
        "C:\\..\\Programme\\Zentavo\\Daten\\DBZentavo.mdb",
        "\\\\?\\C:\\Programme\\Zentavo\\Daten\\DBZentavo.mdb"}) {
    const host::WinePath p = host::MapWindowsPath(prefix(), windows);
    EXPECT_EQ(p.problem, WinePathProblem::kNone) << windows;
    EXPECT_EQ(p.path, file) << windows;
  }
  // Umlauts fold too; the exact spelling wins where several names match, else the first entry
  // the folder lists, as Wine takes it.
  EXPECT_EQ(host::MapWindowsPath(prefix(), "C:\\KASSENBÜRO \"SÜD\"").path,
            drive_c() + "/Kassenbüro \"Süd\"");
  fs::create_directories(prefix_ / "drive_c" / "programme");
  EXPECT_EQ(host::MapWindowsPath(prefix(), "C:\\programme").path, drive_c() + "/programme");
  EXPECT_EQ(host::MapWindowsPath(prefix(), "C:\\Programme").path, drive_c() + "/Programme");
  std::string listed_first;
  for (const auto& entry : fs::directory_iterator(prefix_ / "drive_c")) {
    const std::string name = entry.path().filename().string();
    if (name == "programme" || name == "Programme") {
      listed_first = name;
      break;
    }
  }
  EXPECT_EQ(host::MapWindowsPath(prefix(), "C:\\PROGRAMME").path, drive_c() + "/" + listed_first);
  // Drive Z: is the root of this system.
  const host::WinePath z = host::MapWindowsPath(prefix(), "Z:" + drive_c() + "/Programme");
  EXPECT_EQ(z.problem, WinePathProblem::kNone);
  EXPECT_EQ(z.path, drive_c() + "/Programme");
}

// Letters beyond ASCII in another case than on the disk, as Wine folds them: Latin-1, Latin
// Extended Additional (Vietnamese), Greek and Cyrillic.
TEST_F(PrefixPaths, NonAsciiNamesInAnotherCase) {
  fs::create_directories(prefix_ / "drive_c" / "äpfel" / "Phở" / "σοφία" / "ЖУК");
  const host::WinePath p = host::MapWindowsPath(prefix(), "C:\\ÄPFEL\\PHỞ\\ΣΟΦΊΑ\\жук");
  EXPECT_EQ(p.problem, WinePathProblem::kNone);
  EXPECT_EQ(p.path, drive_c() + "/äpfel/Phở/σοφία/ЖУК");
  // Letters Wine does not fold stay apart: the Turkish dotted I is no i, long s no s.
  fs::create_directories(prefix_ / "drive_c" / "istanbul");
  EXPECT_EQ(host::MapWindowsPath(prefix(), "C:\\İSTANBUL").problem, WinePathProblem::kFileMissing);
  EXPECT_EQ(host::MapWindowsPath(prefix(), "C:\\ıstanbul").problem, WinePathProblem::kFileMissing);
  EXPECT_EQ(host::MapWindowsPath(prefix(), "C:\\ſtanbul").problem, WinePathProblem::kFileMissing);
}

// The prefix, dosdevices/ and the drive links are resolved by the kernel: a relative link counts
// from the folder that really holds it, not from the path it was reached through.
TEST_F(PrefixPaths, LinksAreResolvedAsTheKernelDoes) {
  // elsewhere/prefix holds user.reg; its dosdevices/ is a link to ../devices, a folder beside the
  // prefix, whose c: is the usual relative link ../drive_c: the drive_c beside devices/, not the
  // prefix's own.
  const fs::path elsewhere = dir_.path() / "elsewhere";
  const fs::path real_prefix = elsewhere / "prefix";
  fs::create_directories(real_prefix / "drive_c" / "Zentavo");
  WriteText(real_prefix / "drive_c" / "Zentavo" / "DBZentavo.mdb", "falsch");
  fs::create_directories(elsewhere / "devices");
  fs::create_directories(elsewhere / "drive_c" / "Zentavo");
  WriteText(elsewhere / "drive_c" / "Zentavo" / "DBZentavo.mdb", "richtig");
  fs::create_directory_symlink("../devices", real_prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", elsewhere / "devices" / "c:");
  fs::create_directory_symlink(elsewhere / "drive_c", elsewhere / "devices" / "d:");  // absolute
  // The prefix itself is reached through a link.
  const fs::path linked = dir_.path() / "home-wine";
  fs::create_directory_symlink(real_prefix, linked);
  for (const char* windows : {"C:\\zentavo\\dbzentavo.mdb", "D:\\ZENTAVO\\DBZentavo.mdb"}) {
    const host::WinePath p = host::MapWindowsPath(linked.string(), windows);
    EXPECT_EQ(p.problem, WinePathProblem::kNone) << windows;
    EXPECT_EQ(p.path, (elsewhere / "drive_c" / "Zentavo" / "DBZentavo.mdb").string()) << windows;
    EXPECT_EQ(ReadFileText(p.path), "richtig");
  }
  // A drive link that leads nowhere is an unmapped drive.
  fs::create_directory_symlink("../fehlt", elsewhere / "devices" / "e:");
  EXPECT_EQ(host::MapWindowsPath(linked.string(), "E:\\x").problem, WinePathProblem::kNoDrive);
}

TEST_F(PrefixPaths, WhatCannotBeMappedSaysWhy) {
  struct Case {
    const char* windows;
    WinePathProblem problem;
    std::string where;
  };
  for (const Case& c : {
           Case{"\\\\server\\freigabe\\Zentavo\\DBZentavo.mdb", WinePathProblem::kNoShare,
                "\\\\server\\freigabe"},
           Case{"\\\\server", WinePathProblem::kNoShare, "\\\\server\\"},
           Case{"D:\\Zentavo\\DBZentavo.mdb", WinePathProblem::kNoDrive, "D:"},
           Case{"d:\\Zentavo\\DBZentavo.mdb", WinePathProblem::kNoDrive, "D:"},
           Case{"C:Zentavo\\DBZentavo.mdb", WinePathProblem::kNotAbsolute, ""},
           Case{"Zentavo\\DBZentavo.mdb", WinePathProblem::kNotAbsolute, ""},
           Case{"/home/wirt/DBZentavo.mdb", WinePathProblem::kNotAbsolute, ""},
           Case{"", WinePathProblem::kNotAbsolute, ""},
           Case{"C:\\Programme\\Zentavo\\Fehlt\\DBZentavo.mdb", WinePathProblem::kFolderMissing,
                "C:\\Programme\\Zentavo\\Fehlt"},
           // A file where a folder must be.
           Case{"C:\\Programme\\Zentavo\\Daten\\DBZentavo.mdb\\x.mdb",
                WinePathProblem::kFolderMissing, "C:\\Programme\\Zentavo\\Daten\\DBZentavo.mdb"},
       }) {
    const host::WinePath p = host::MapWindowsPath(prefix(), c.windows);
    EXPECT_EQ(p.problem, c.problem) << c.windows;
    EXPECT_EQ(p.where, c.where) << c.windows;
  }
  const host::WinePath missing = host::MapWindowsPath(prefix(), "C:\\Programme\\Zentavo\\Neu.mdb");
  EXPECT_EQ(missing.problem, WinePathProblem::kFileMissing);
  EXPECT_EQ(missing.path, drive_c() + "/Programme/Zentavo/Neu.mdb");
  // A prefix without dosdevices knows no drive at all.
  EXPECT_EQ(host::MapWindowsPath(dir_.path().string() + "/kein-präfix", "C:\\x").problem,
            WinePathProblem::kNoDrive);
}

TEST_F(PrefixPaths, SharesThroughTheirLinkInDosdevices) {
  const fs::path share = dir_.path() / "mnt" / "zentavo";
  fs::create_directories(share / "Daten");
  fs::create_directories(prefix_ / "dosdevices" / "unc" / "Server");
  fs::create_directory_symlink(share, prefix_ / "dosdevices" / "unc" / "Server" / "freigabe");
  for (const char* windows :
       {"\\\\server\\Freigabe\\DATEN", "\\\\?\\UNC\\SERVER\\freigabe\\daten"}) {
    const host::WinePath p = host::MapWindowsPath(prefix(), windows);
    EXPECT_EQ(p.problem, WinePathProblem::kNone) << windows;
    EXPECT_EQ(p.path, (share / "Daten").string()) << windows;
  }
  EXPECT_EQ(host::MapWindowsPath(prefix(), "\\\\server\\andere\\x").problem,
            WinePathProblem::kNoShare);
}

// --- The lookup order ----------------------------------------------------------------------

struct RunResult {
  int status = -1;
  std::vector<run::Message> messages;
};

// The window's load step and the import run, as import-run does them.
RunResult RunImport(const std::string& source) {
  run::RecordingUserSide user;
  run::DatabaseState state;
  RunResult result;
  try {
    try {
      host::SettingsEntry entry = run::LookupTargetSetting();
      state.strDBRoot = entry.value;
      state.strDBRootPrefix = entry.wine_prefix;
    } catch (const db::TargetLocationError& e) {
      user.MsgBox(run::TargetLocationMessage(e.code(), e.description()), run::vbCritical,
                  run::kTitleImport);
      user.EndProgram(run::kExitNotInstalled);
    }
    if (state.strDBRoot.empty()) {
      user.MsgBox(run::kMessageNotInstalled, run::vbInformation, run::kTitleImport);
      user.EndProgram(run::kExitNotInstalled);
    }
    run::RunContext run{state, source, user};
    import::cmdImport_Click(run);
  } catch (const run::ProgramEnd& end) {
    result.status = end.status();
  }
  result.messages = user.messages();
  return result;
}

// case.reg (written by Wine) with another Root value, escaped as Wine escapes it.
std::string RegistryWithRoot(const std::string& root) {
  std::string escaped;
  std::size_t pos = 0;
  while (pos < root.size()) {
    const char32_t cp = jet::NextCodePoint(root, pos);
    if (cp == '\\' || cp == '"') {
      escaped += '\\';
      escaped += static_cast<char>(cp);
    } else if (cp >= 0x20 && cp < 0x7F) {
      escaped += static_cast<char>(cp);
    } else {
      char unit[8];
      std::snprintf(unit, sizeof unit, "\\x%04x", static_cast<unsigned>(cp));
      escaped += unit;
    }
  }
  std::string text = ReadFileText(kRegistries + "/case.reg");
  const std::string old = "c:\\\\programme\\\\zentavo\\\\";
  text.replace(text.find(old), old.size(), escaped);
  return text;
}

// A prefix at `prefix` whose registry records `root`, with the database placed where it leads
// (`folders` below drive_c, spelled as on the disk); returns the database file.
fs::path MakeZentavoPrefix(const fs::path& prefix, const std::string& root,
                           const std::string& folders) {
  MakePrefix(prefix);
  WriteText(prefix / "user.reg", RegistryWithRoot(root));
  fs::path target = prefix / "drive_c" / folders / "DBZentavo.mdb";
  PlaceTarget(target);
  return target;
}

// Where the front ends keep their prefixes, each found with no setting and no $WINEPREFIX.
TEST(WineSettings, EveryFrontEndsPrefixesAreSearched) {
  struct Place {
    const char* front_end;
    std::string prefix;                  // below the scratch home
    std::vector<std::string> variables;  // NAME=value below the scratch home
    std::string lutris_config;           // a Lutris game file naming the prefix, below home
  };
  for (const Place& place : {
           Place{"Wine", ".wine", {}, ""},
           Place{"winetricks", ".local/share/wineprefixes/zentavo", {}, ""},
           Place{"winetricks, XDG_DATA_HOME",
                 "daten/wineprefixes/zentavo",
                 {"XDG_DATA_HOME=daten"},
                 ""},
           Place{"winetricks, WINE_PREFIXES", "präfixe/zentavo", {"WINE_PREFIXES=präfixe"}, ""},
           Place{"Bottles", ".local/share/bottles/bottles/Kasse", {}, ""},
           Place{"Bottles (Flatpak)",
                 ".var/app/com.usebottles.bottles/data/bottles/bottles/Kasse",
                 {},
                 ""},
           Place{"PlayOnLinux", ".PlayOnLinux/wineprefix/Zentavo", {}, ""},
           Place{"CrossOver", ".cxoffice/Zentavo", {}, ""},
           Place{"Lutris", "Games/zentavo", {}, ".config/lutris/games/zentavo-1.yml"},
           Place{"Lutris (data folder)",
                 "Games/zentavo",
                 {},
                 ".local/share/lutris/games/zentavo-1.yml"},
       }) {
    ScratchUser user;
    std::vector<std::unique_ptr<ScopedEnv>> env;
    for (const std::string& v : place.variables) {
      const std::size_t eq = v.find('=');
      env.push_back(std::make_unique<ScopedEnv>(v.substr(0, eq).c_str(),
                                                (user.home() / v.substr(eq + 1)).string()));
    }
    if (place.lutris_config.rfind(".local", 0) == 0) {
      fs::remove_all(user.home() / ".config");  // Lutris then keeps its files in the data folder
    }
    const fs::path prefix = user.home() / place.prefix;
    const fs::path target = MakeZentavoPrefix(prefix, "C:\\Zentavo\\", "Zentavo");
    if (!place.lutris_config.empty()) {
      fs::create_directories((user.home() / place.lutris_config).parent_path());
      WriteText(user.home() / place.lutris_config,
                "game:\n  exe: drive_c/Zentavo/Zentavo.exe\n  prefix: '" + prefix.string() +
                    "'\nname: Zentavo\nrunner: wine\nwine:\n  version: lutris-7.2\n");
    }
    const std::vector<host::TargetCandidate> found = host::FindTargetCandidates();
    ASSERT_EQ(found.size(), 1u) << place.front_end;
    EXPECT_EQ(found[0].prefix, prefix.string()) << place.front_end;
    EXPECT_EQ(found[0].database, target.string()) << place.front_end;
    EXPECT_TRUE(found[0].last_change.has_value()) << place.front_end;
    const host::SettingsEntry entry = run::LookupTargetSetting();
    EXPECT_EQ(entry.value, "C:\\Zentavo\\") << place.front_end;
    EXPECT_EQ(entry.wine_prefix, prefix.string()) << place.front_end;
  }
}

// Lutris names each game's prefix in its game configuration, as it writes them: quoted or not,
// with "~" for the home folder; only the key in the top-level section "game" counts.
TEST(WineSettings, LutrisGameConfigurations) {
  ScratchUser user;
  const fs::path games = user.home() / ".config/lutris/games";
  fs::create_directories(games);
  const fs::path a = user.home() / "Games/a b", b = user.home() / "Games/b", c = user.path() / "c";
  for (const fs::path& p : {a, b, c, user.path() / "anders"}) fs::create_directories(p);
  WriteText(games / "a-1.yml", "game:\n  exe: x.exe\n  prefix: \"" + a.string() + "\"\n");
  WriteText(games / "b-2.yml", "name: b\ngame:\n  prefix: ~/Games/b\nwine: {}\n");
  WriteText(games / "c-3.yml", "game:\n    prefix: " + c.string() + "/\r\nsystem:\n");
  WriteText(games / "d-4.yml", "system:\n  prefix: " + (user.path() / "anders").string() + "\n");
  WriteText(games / "e-5.yml", "game:\n  exe: x.exe\n");
  WriteText(games / "f-6.yaml", "game:\n  prefix: " + (user.path() / "anders").string() + "\n");
  EXPECT_EQ(host::UserWinePrefixes(),
            (std::vector<std::string>{a.string(), b.string(), c.string()}));
}

TEST(WineSettings, TheSettingsFileDecidesAloneAndMustHoldTheEntry) {
  ScratchUser user;
  MakeZentavoPrefix(user.default_prefix(), "C:\\Zentavo\\", "Zentavo");
  const fs::path ini = user.home() / ".config" / "ZentavoSettings.ini";
  WriteText(ini, "[DB]\nRoot=/srv/zentavo/\n");
  auto found = host::FindTargetCandidates();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].root, "/srv/zentavo/");
  EXPECT_EQ(found[0].prefix, "");
  WriteText(ini, "[DB]\nRoot=\n");  // an empty entry: not installed, the prefix is not asked
  EXPECT_TRUE(host::FindTargetCandidates().empty());
  EXPECT_EQ(run::LookupTargetFolder(), "");

  struct Fault {
    const char* what;
    std::function<void()> make;
    int number;
  };
  for (const Fault& f : {
           Fault{"no [DB] entry", [&] { WriteText(ini, "[Anders]\nRoot=/x/\n"); }, 3265},
           Fault{"unreadable",
                 [&] {
                   fs::remove(ini);
                   fs::create_directory(ini);
                 },
                 3043},
       }) {
    f.make();
    try {
      host::FindTargetCandidates();
      ADD_FAILURE() << f.what;
    } catch (const db::TargetLocationError& e) {
      EXPECT_EQ(e.number(), f.number) << f.what;
      EXPECT_NE(e.description().find(ini.string()), std::string::npos) << e.description();
    }
  }
}

TEST(WineSettings, SeveralPrefixesGiveTheChoice) {
  ScratchUser user;
  const fs::path bottle = user.home() / ".local/share/bottles/bottles/Kasse";
  const fs::path wine_db = MakeZentavoPrefix(user.default_prefix(), "C:\\Zentavo\\", "Zentavo");
  const fs::path bottle_db =
      MakeZentavoPrefix(bottle, "C:\\Programme\\Zentavo\\", "programme/zentavo");
  // A prefix without the entry, one with an empty entry and a link to a prefix already listed
  // add nothing.
  MakePrefix(user.home() / ".PlayOnLinux/wineprefix/Leer", "empty.reg");
  MakeZentavoPrefix(user.home() / ".cxoffice/Alt", "", "x");
  fs::create_directory_symlink(bottle, user.home() / ".cxoffice/Kasse");

  const std::vector<host::TargetCandidate> found = host::FindTargetCandidates();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].prefix, user.default_prefix().string());
  EXPECT_EQ(found[0].database, wine_db.string());
  EXPECT_EQ(found[1].prefix, bottle.string());
  EXPECT_EQ(found[1].database, bottle_db.string());

  // Without a window: refused, naming both with their databases and how to choose.
  try {
    run::LookupTargetSetting();
    ADD_FAILURE() << "no refusal";
  } catch (const host::SeveralTargetsError& e) {
    EXPECT_EQ(e.candidates().size(), 2u);
    const std::string& text = e.description();
    for (const std::string& part :
         {user.default_prefix().string(), wine_db.string(), bottle.string(), bottle_db.string(),
          host::LastChangeText(found[0]), std::string("WINEPREFIX="), std::string("--target")}) {
      EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    }
  }
  EXPECT_EQ(RunImport(kFixtures + "/source.mdb").status, run::kExitNotInstalled);
  // A candidate that leads to no database is listed with the reason.
  std::vector<host::TargetCandidate> listed = found;
  listed[1].database.clear();
  listed[1].problem = "der Ordner 'C:\\Programme' fehlt";
  const std::string text = host::SeveralTargetsMessage(listed);
  EXPECT_NE(text.find(bottle.string() + "': der Ordner 'C:\\Programme' fehlt"), std::string::npos)
      << text;
  // $WINEPREFIX chooses: then only that prefix counts.
  ScopedEnv env("WINEPREFIX", bottle.string());
  EXPECT_EQ(run::LookupTargetSetting().wine_prefix, bottle.string());
}

TEST(WineSettings, AnUnusableWineprefixIsRefusedByName) {
  ScratchUser user;
  const fs::path target = MakeZentavoPrefix(user.default_prefix(), "C:\\Zentavo\\", "Zentavo");
  const auto bytes = testing_support::ReadFileBytes(target);
  WriteText(user.path() / "datei", "x");
  for (const std::string& value :
       {std::string("prefixes/zentavo"), std::string(""), (user.path() / "fehlt").string(),
        (user.path() / "datei").string()}) {
    ScopedEnv env("WINEPREFIX", value);
    try {
      host::FindTargetCandidates();
      ADD_FAILURE() << value;
    } catch (const db::TargetLocationError& e) {
      EXPECT_EQ(e.number(), 3044);
      EXPECT_NE(e.description().find("WINEPREFIX"), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("'" + value + "'"), std::string::npos) << e.description();
    }
    const RunResult r = RunImport(kFixtures + "/source.mdb");
    EXPECT_EQ(r.status, run::kExitNotInstalled) << value;
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_NE(r.messages[0].prompt.find("'" + value + "'"), std::string::npos);
    EXPECT_EQ(testing_support::ReadFileBytes(target), bytes) << value;
  }
}

TEST(WineSettings, EveryLookupFaultNamesItsPath) {
  ScratchUser user;
  const fs::path prefix = user.default_prefix();
  MakeZentavoPrefix(prefix, "C:\\Zentavo\\", "Zentavo");
  std::string damaged = RegistryWithRoot("C:\\Zentavo\\");
  damaged.resize(damaged.find("zentavo\\\\") + 3);  // cut inside the Root value
  struct Fault {
    const char* what;
    std::string user_reg;
    int number;
    std::string named;
  };
  for (const Fault& f : {
           Fault{"damaged user.reg", damaged, 3049, (prefix / "user.reg").string()},
           Fault{"missing folder", RegistryWithRoot("C:\\Fehlt\\Zentavo\\"), 3044, "C:\\Fehlt"},
           Fault{"missing database", RegistryWithRoot("C:\\Windows\\"), 3024,
                 "C:\\Windows\\DBZentavo.mdb"},
           Fault{"unmapped drive", RegistryWithRoot("K:\\Zentavo\\"), 3044, "K:"},
       }) {
    WriteText(prefix / "user.reg", f.user_reg);
    const RunResult r = RunImport(kFixtures + "/source.mdb");
    EXPECT_EQ(r.status, run::kExitNotInstalled) << f.what;
    ASSERT_EQ(r.messages.size(), 1u) << f.what;
    const std::string& prompt = r.messages[0].prompt;
    EXPECT_NE(prompt.find("Fehler " + std::to_string(f.number)), std::string::npos) << prompt;
    EXPECT_NE(prompt.find(f.named), std::string::npos) << prompt;
    EXPECT_EQ(prompt.find("Ungültige Datenbank"), std::string::npos) << prompt;
    EXPECT_EQ(r.messages[0].title, run::kTitleImport);
  }
}

TEST(WineSettings, TheDialogIsOfferedTheDrivesOfThePrefixesThatExist) {
  ScratchUser user;
  EXPECT_TRUE(host::WineDriveFolders().empty());
  MakePrefix(user.default_prefix());
  const fs::path named = user.path() / "andere";
  ScopedEnv env("WINEPREFIX", named.string());
  EXPECT_EQ(host::WineDriveFolders(),
            std::vector<std::string>{(user.default_prefix() / "drive_c").string()});
  MakePrefix(named);
  EXPECT_EQ(host::WineDriveFolders(),
            (std::vector<std::string>{(named / "drive_c").string(),
                                      (user.default_prefix() / "drive_c").string()}));
}

// --- The target the registry names ---------------------------------------------------------

TEST(WineTarget, TheRecordedFolderIsFoundInThePrefixWhateverItsLetterCase) {
  ScratchUser user;
  MakePrefix(user.default_prefix(), "case.reg");  // c:\programme\zentavo\ as str(2)
  const fs::path target =
      user.default_prefix() / "drive_c" / "Programme" / "Zentavo" / "DBZentavo.MDB";
  PlaceTarget(target);
  const auto before = fs::last_write_time(target);
  run::DatabaseState state;
  state.strDBRoot = "c:\\programme\\zentavo\\";
  state.strDBRootPrefix = user.default_prefix().string();
  EXPECT_EQ(run::TargetDatabaseFile(state), target.string());

  const RunResult r = RunImport(kFixtures + "/source.mdb");
  EXPECT_EQ(r.status, run::kExitCompleted);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].prompt, run::kMessageCompleted);
  EXPECT_NE(fs::last_write_time(target), before);
  EXPECT_FALSE(fs::exists(target.parent_path() / "DBZentavo.ldb"));  // released
}

TEST(WineTarget, AnUnreachableFolderIsAClearErrorAndChangesNothing) {
  ScratchUser user;
  MakePrefix(user.default_prefix());
  const fs::path target = user.default_prefix() / "drive_c" / "Zentavo" / "DBZentavo.mdb";
  PlaceTarget(target);
  const std::vector<std::uint8_t> bytes = testing_support::ReadFileBytes(target);
  struct Case {
    std::string root;
    int number;
    std::string named;  // a part of the message besides the recorded path
  };
  for (const Case& c : {
           Case{"\\\\kasse\\zentavo\\", 3044, "Netzwerkfreigabe \\\\kasse\\zentavo"},
           Case{"D:\\Zentavo\\", 3044, "Laufwerk D:"},
           Case{"C:\\Programme\\Zentavo\\", 3044, "'C:\\Programme' fehlt"},
           Case{"Zentavo\\", 3044, "kein vollständiger Windows-Pfad"},
           Case{"C:\\Zentavo", 3024, "C:\\ZentavoDBZentavo.mdb"},
       }) {
    std::string text = ReadFileText(kRegistries + "/case.reg");
    std::string escaped;
    for (char ch : c.root) escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    const std::size_t at = text.find("c:\\\\programme\\\\zentavo\\\\");
    text.replace(at, std::string("c:\\\\programme\\\\zentavo\\\\").size(), escaped);
    WriteText(user.default_prefix() / "user.reg", text);
    // Refused at the load step, and again when the target is opened (should the folder have gone
    // in between).
    EXPECT_THROW(run::LookupTargetFolder(), db::TargetLocationError) << c.root;
    run::DatabaseState state;
    state.strDBRoot = c.root;
    state.strDBRootPrefix = user.default_prefix().string();
    EXPECT_THROW(run::OpenDatabaseConnections(state, kFixtures + "/source.mdb"),
                 db::TargetLocationError);

    const RunResult r = RunImport(kFixtures + "/source.mdb");
    EXPECT_EQ(r.status, run::kExitNotInstalled) << c.root;
    ASSERT_EQ(r.messages.size(), 1u) << c.root;
    const std::string& prompt = r.messages[0].prompt;
    EXPECT_NE(prompt.find("Fehler " + std::to_string(c.number)), std::string::npos) << prompt;
    EXPECT_NE(prompt.find(c.root), std::string::npos) << prompt;
    EXPECT_NE(prompt.find(c.named), std::string::npos) << prompt;
    EXPECT_NE(prompt.find(user.default_prefix().string()), std::string::npos) << prompt;
    EXPECT_NE(prompt.find("nichts verändert"), std::string::npos) << prompt;
    EXPECT_EQ(testing_support::ReadFileBytes(target), bytes);
  }
}

// Jet under Wine asks for DBZentavo.ldb, and Wine takes an existing name in any letter case: a
// lock on DBZentavo.ldb (held by another process) keeps the import away from dbzentavo.mdb.
TEST(WineTarget, TheLockFileIsFoundInAnotherLetterCase) {
  ScratchUser user;
  MakePrefix(user.default_prefix(), "case.reg");
  const fs::path folder = user.default_prefix() / "drive_c" / "programme" / "zentavo";
  PlaceTarget(folder / "dbzentavo.mdb");
  const auto bytes = testing_support::ReadFileBytes(folder / "dbzentavo.mdb");
  const std::string ldb = (folder / "DBZentavo.ldb").string();
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(ldb.c_str(), O_RDWR | O_CREAT, 0644);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x10000001;
    lock.l_len = 1;
    const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? '1' : '0';
    (void)!::write(ready[1], &ok, 1);
    char c;
    (void)!::read(done[0], &c, 1);
    ::_exit(0);
  }
  char ok = '0';
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, '1');
  const RunResult r = RunImport(kFixtures + "/source.mdb");
  (void)!::write(done[1], "x", 1);
  ::waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
  EXPECT_EQ(r.status, run::kExitUnexpectedError);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].prompt.find("Fehler 3045"), std::string::npos) << r.messages[0].prompt;
  EXPECT_EQ(testing_support::ReadFileBytes(folder / "dbzentavo.mdb"), bytes);
  EXPECT_FALSE(fs::exists(folder / "dbzentavo.ldb"));
}

}  // namespace
