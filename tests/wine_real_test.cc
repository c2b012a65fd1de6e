// Zentavo under real Wine: prefixes whose registry `wine64 reg add` wrote, found and imported
// into by import-run as a user would run it; and the write lock of the target meeting the byte-
// range locks of a Windows program (tests/wine/ldb_lock.c) in the .ldb file. Skipped, saying why,
// where wine64 or the mingw-w64 compiler is missing. Each prefix takes some seconds to make.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "db/connection.h"
#include "host/settings.h"
#include "host/target_lookup.h"
#include "import/import_run.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"
#include "tests/test_support.h"
#include "tests/wine_test_util.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunCommand;
using testing_support::ShellQuote;
using namespace wine_test;

const std::string kImportRun = std::string(PI_BINARY_DIR) + "/bench/import-run";
const std::string kLdbLock = PI_LDB_LOCK_EXE;  // empty when mingw-w64 was not found
constexpr char kKey[] = "HKCU\\Software\\VB and VBA Program Settings\\ZentavoSettings";

// The environment Wine runs in: the prefix, no debug output, no offer to install Mono or Gecko.
std::string WineEnv(const fs::path& prefix) {
  return "env WINEPREFIX=" + ShellQuote(prefix.string()) +
         " WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= PATH=/usr/lib/wine:$PATH ";
}

// Runs a Windows command in the prefix (made on first use) and waits until Wine has written its
// registry files.
testing_support::CommandResult Wine(const fs::path& prefix, const std::string& args) {
  auto r = RunCommand(WineEnv(prefix) + "wine64 " + args + " 2>/dev/null");
  RunCommand(WineEnv(prefix) + "wineserver -w");
  return r;
}

// Writes Zentavo's entry into the prefix (made, with the folders above it, when missing).
void RegAdd(const fs::path& prefix, const std::string& value) {
  fs::create_directories(prefix.parent_path());
  const auto r = Wine(prefix, "reg add " + ShellQuote(std::string(kKey) + "\\DB") + " /v Root /d " +
                                  ShellQuote(value) + " /f");
  ASSERT_EQ(r.exit_code, 0) << r.out;
}

// Stops the prefix's Wine server, if one still runs, before the scratch folder goes.
class PrefixServer {
 public:
  explicit PrefixServer(fs::path prefix) : prefix_(std::move(prefix)) {}
  ~PrefixServer() { RunCommand(WineEnv(prefix_) + "wineserver -k 2>/dev/null"); }

 private:
  fs::path prefix_;
};

struct ImportRun {
  int status = -1;
  std::string out;
};

ImportRun RunImportProgram() {
  const auto r = RunCommand(ShellQuote(kImportRun) + " " + ShellQuote(kFixtures + "/source.mdb") +
                            " 2>/dev/null");
  return {r.exit_code, r.out};
}

TEST(RealWine, ThePrefixesRegistryNamesTheTarget) {
  PI_REQUIRE_ORACLE(testing_support::Oracle::kWine);
  ScratchUser user;
  const fs::path named = user.path() / "prefixes" / "kasse";
  PrefixServer named_server(named), default_server(user.default_prefix());

  // $WINEPREFIX: umlauts, blanks and quotes, recorded in other letter case than the folders.
  const std::string recorded = "C:\\Programme\\Kassenbüro \"Süd\"\\Daten Zentavo\\";
  ASSERT_NO_FATAL_FAILURE(RegAdd(named, recorded));
  const fs::path named_target =
      named / "drive_c" / "programme" / "KASSENBÜRO \"SÜD\"" / "daten zentavo" / "dbzentavo.mdb";
  PlaceTarget(named_target);
  // ~/.wine: another installation.
  ASSERT_NO_FATAL_FAILURE(RegAdd(user.default_prefix(), "c:\\zentavo\\"));
  const fs::path default_target = user.default_prefix() / "drive_c" / "Zentavo" / "DBZentavo.mdb";
  PlaceTarget(default_target);
  const auto named_bytes = ReadFileBytes(named_target);
  const auto default_bytes = ReadFileBytes(default_target);

  {
    ScopedEnv env("WINEPREFIX", named.string());
    const host::SettingsEntry entry = run::LookupTargetSetting();
    EXPECT_EQ(entry.value, recorded);
    EXPECT_EQ(entry.wine_prefix, named.string());
    const ImportRun r = RunImportProgram();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(ReadFileBytes(named_target), named_bytes);
    EXPECT_EQ(ReadFileBytes(default_target), default_bytes);
  }
  const ImportRun r = RunImportProgram();  // no $WINEPREFIX: ~/.wine
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(ReadFileBytes(default_target), default_bytes);

  // A damaged registry in $WINEPREFIX is refused by name; ~/.wine is not taken instead.
  std::string text = testing_support::ReadFileText(named / "user.reg");
  const std::size_t root = text.find("\"Root\"=");
  ASSERT_NE(root, std::string::npos);
  text.resize(root + 20);
  WriteText(named / "user.reg", text);
  {
    ScopedEnv env("WINEPREFIX", named.string());
    const auto before = ReadFileBytes(default_target);
    const ImportRun damaged = RunImportProgram();
    EXPECT_EQ(damaged.status, run::kExitNotInstalled) << damaged.out;
    EXPECT_NE(damaged.out.find((named / "user.reg").string()), std::string::npos) << damaged.out;
    EXPECT_EQ(ReadFileBytes(default_target), before);
  }

  // Without the entry anywhere the program is not installed: the load step's message.
  ASSERT_EQ(Wine(user.default_prefix(), "reg delete " + ShellQuote(kKey) + " /f").exit_code, 0);
  EXPECT_EQ(host::FindSetting("ZentavoSettings", "DB", "Root"), std::nullopt);
  const ImportRun none = RunImportProgram();
  EXPECT_EQ(none.status, run::kExitNotInstalled);
  EXPECT_NE(none.out.find(run::kMessageNotInstalled), std::string::npos) << none.out;
}

// Starts `ldb_lock hold` in the background; it holds its lock until the marker file goes.
class HeldLock {
 public:
  HeldLock(const fs::path& prefix, const std::string& windows_ldb, const fs::path& marker)
      : marker_(marker) {
    const std::string command = WineEnv(prefix) + "wine64 " + ShellQuote(kLdbLock) + " hold " +
                                ShellQuote(windows_ldb) + " 0x10000001 1 " +
                                ShellQuote("Z:" + marker.string()) + " 2>/dev/null";
    std::fflush(nullptr);
    pipe_ = ::popen(command.c_str(), "r");
  }
  // Whether the lock was taken (the marker appeared) within a minute.
  bool WaitUntilHeld() {
    for (int i = 0; i < 600 && pipe_ != nullptr; ++i) {
      if (fs::exists(marker_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  // Lets the lock go; the program's exit status.
  int Release() {
    std::error_code ignored;
    fs::remove(marker_, ignored);
    if (pipe_ == nullptr) return -1;
    char buf[256];
    while (std::fread(buf, 1, sizeof buf, pipe_) > 0) {
    }
    const int status = ::pclose(pipe_);
    pipe_ = nullptr;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~HeldLock() { Release(); }

 private:
  fs::path marker_;
  FILE* pipe_ = nullptr;
};

TEST(RealWine, LocksMeetAcrossWine) {
  PI_REQUIRE_ORACLE(testing_support::Oracle::kWine);
  if (kLdbLock.empty()) {
    const char* why =
        "no Windows lock program: x86_64-w64-mingw32-gcc was not found when the build was "
        "configured (Debian package gcc-mingw-w64-x86-64)";
    if (testing_support::InCi()) FAIL() << why << " (required in CI)";
    GTEST_SKIP() << why;
  }
  ScratchUser user;
  const fs::path prefix = user.default_prefix();
  PrefixServer server(prefix);
  // Zentavo recorded C:\Zentavo\; the folder and the database are spelled in lower case, so Jet
  // under Wine makes DBZentavo.ldb beside dbzentavo.mdb.
  ASSERT_NO_FATAL_FAILURE(RegAdd(prefix, "C:\\Zentavo\\"));
  const fs::path target = prefix / "drive_c" / "zentavo" / "dbzentavo.mdb";
  PlaceTarget(target);
  const std::string windows_ldb = "C:\\Zentavo\\DBZentavo.ldb";
  const auto bytes = ReadFileBytes(target);

  // A Windows program holds a range of the .ldb, as Jet does: the import refuses and leaves the
  // target as it was.
  {
    HeldLock held(prefix, windows_ldb, user.path() / "gesperrt");
    ASSERT_TRUE(held.WaitUntilHeld()) << "ldb_lock did not take its lock";
    EXPECT_TRUE(fs::exists(target.parent_path() / "DBZentavo.ldb"));
    const ImportRun r = RunImportProgram();
    EXPECT_EQ(r.status, run::kExitUnexpectedError) << r.out;
    EXPECT_NE(r.out.find("Fehler 3045"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFileBytes(target), bytes);
    EXPECT_EQ(held.Release(), 0);
  }
  std::error_code ignored;
  fs::remove(target.parent_path() / "DBZentavo.ldb", ignored);

  // While our import holds the write lock, the Windows program's LockFile fails with
  // ERROR_LOCK_VIOLATION (33); once it is released, the same lock is granted.
  const std::string try_lock = WineEnv(prefix) + "wine64 " + ShellQuote(kLdbLock) + " try " +
                               ShellQuote(windows_ldb) + " 0x10000001 1 2>/dev/null";
  {
    run::DatabaseState state;
    const host::SettingsEntry entry = run::LookupTargetSetting();
    state.strDBRoot = entry.value;
    state.strDBRootPrefix = entry.wine_prefix;
    db::Connection cn;
    cn.Open(run::TargetConnectionStringForFile(run::TargetDatabaseFile(state)));
    cn.BeginTrans();
    cn.Execute("DELETE FROM tbl_Verwaltung_ProdukteExtras_Preise");
    const auto r = RunCommand(try_lock);
    EXPECT_EQ(r.exit_code, 33) << r.out;
    cn.RollbackTrans();
    cn.Close();
  }
  const auto r = RunCommand(try_lock);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ReadFileBytes(target), bytes);
}

// Zentavo installed with a front end, as a new user has it: no settings file, no $WINEPREFIX.
// Each front end's prefix alone is found; two of them give the choice, which import-run refuses
// naming both; a relative or missing $WINEPREFIX is refused and ~/.wine's database stays as it was.
TEST(RealWine, FrontEndPrefixesAreFoundAndSeveralGiveTheChoice) {
  PI_REQUIRE_ORACLE(testing_support::Oracle::kWine);
  ScratchUser user;
  const fs::path home = user.home();
  struct FrontEnd {
    const char* name;
    fs::path prefix;
  };
  const FrontEnd front_ends[] = {
      {"winetricks", home / ".local/share/wineprefixes/zentavo"},
      {"Bottles", home / ".local/share/bottles/bottles/Zentavo"},
      {"Bottles (Flatpak)", home / ".var/app/com.usebottles.bottles/data/bottles/bottles/Zentavo"},
      {"PlayOnLinux", home / ".PlayOnLinux/wineprefix/Zentavo"},
  };
  std::vector<std::unique_ptr<PrefixServer>> servers;
  for (const FrontEnd& f : front_ends) {
    servers.push_back(std::make_unique<PrefixServer>(f.prefix));
    ASSERT_NO_FATAL_FAILURE(RegAdd(f.prefix, "C:\\Zentavo\\"));
    PlaceTarget(f.prefix / "drive_c" / "Zentavo" / "DBZentavo.mdb");
  }
  // One at a time: the others' registries are moved away.
  for (const FrontEnd& f : front_ends) {
    for (const FrontEnd& other : front_ends) {
      if (&other != &f) fs::rename(other.prefix / "user.reg", other.prefix / "user.reg.weg");
    }
    const fs::path target = f.prefix / "drive_c" / "Zentavo" / "DBZentavo.mdb";
    const auto before = ReadFileBytes(target);
    const ImportRun r = RunImportProgram();
    EXPECT_EQ(r.status, 0) << f.name << "\n" << r.out;
    EXPECT_NE(ReadFileBytes(target), before) << f.name;
    for (const FrontEnd& other : front_ends) {
      if (&other != &f) fs::rename(other.prefix / "user.reg.weg", other.prefix / "user.reg");
    }
  }
  // All four: the choice. import-run has no window to ask in and refuses, naming every prefix
  // and how to choose; nothing changes.
  const fs::path first = front_ends[0].prefix / "drive_c" / "Zentavo" / "DBZentavo.mdb";
  const auto first_bytes = ReadFileBytes(first);
  EXPECT_EQ(host::FindTargetCandidates().size(), 4u);
  const ImportRun several = RunImportProgram();
  EXPECT_EQ(several.status, run::kExitNotInstalled) << several.out;
  for (const FrontEnd& f : front_ends) {
    EXPECT_NE(several.out.find(f.prefix.string()), std::string::npos) << several.out;
  }
  EXPECT_NE(several.out.find("WINEPREFIX="), std::string::npos) << several.out;
  EXPECT_NE(several.out.find("--target"), std::string::npos) << several.out;
  EXPECT_EQ(ReadFileBytes(first), first_bytes);

  // A relative or missing $WINEPREFIX is refused by name; ~/.wine's database stays unchanged.
  PrefixServer default_server(user.default_prefix());
  ASSERT_NO_FATAL_FAILURE(RegAdd(user.default_prefix(), "C:\\Zentavo\\"));
  const fs::path default_target = user.default_prefix() / "drive_c" / "Zentavo" / "DBZentavo.mdb";
  PlaceTarget(default_target);
  const auto default_bytes = ReadFileBytes(default_target);
  for (const std::string& value :
       {std::string(".wine"), std::string("Zentavo/prefix"), (home / "fehlt").string()}) {
    ScopedEnv env("WINEPREFIX", value);
    const ImportRun r = RunImportProgram();
    EXPECT_EQ(r.status, run::kExitNotInstalled) << value << "\n" << r.out;
    EXPECT_NE(r.out.find("'" + value + "'"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFileBytes(default_target), default_bytes) << value;
  }
}

// ~/.wine is a link to a prefix elsewhere whose dosdevices/ is a link to a folder beside it, with
// Wine's own relative c: link; the recorded folder has letters beyond ASCII in another case than
// on the disk. The import changes the very database that Wine reaches as the recorded path.
TEST(RealWine, ALinkedPrefixLeadsToTheDatabaseWineOpens) {
  PI_REQUIRE_ORACLE(testing_support::Oracle::kWine);
  ScratchUser user;
  const fs::path elsewhere = user.path() / "woanders";
  const fs::path real_prefix = elsewhere / "präfix";
  PrefixServer server(real_prefix);
  ASSERT_NO_FATAL_FAILURE(RegAdd(real_prefix, "C:\\ÄPFEL\\PHỞ\\"));
  // Move dosdevices/ beside the prefix, keeping Wine's own links, and link it back.
  fs::rename(real_prefix / "dosdevices", elsewhere / "geräte");
  fs::create_directory_symlink("../geräte", real_prefix / "dosdevices");
  // c: -> ../drive_c now means elsewhere/drive_c: Wine's C: is that folder, so the prefix's
  // drive (with Windows in it) goes there, and a decoy takes its place in the prefix.
  fs::rename(real_prefix / "drive_c", elsewhere / "drive_c");
  const fs::path wine_target = elsewhere / "drive_c" / "äpfel" / "Phở" / "DBZentavo.mdb";
  PlaceTarget(wine_target);
  const fs::path text_target = real_prefix / "drive_c" / "äpfel" / "Phở" / "DBZentavo.mdb";
  PlaceTarget(text_target);
  fs::create_directory_symlink(real_prefix, user.default_prefix());

  // Where Wine itself writes C:\ÄPFEL\PHỞ\marke.txt.
  const auto r = Wine(user.default_prefix(), "cmd /c \"echo x> C:\\ÄPFEL\\PHỞ\\marke.txt\"");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  ASSERT_TRUE(fs::exists(wine_target.parent_path() / "marke.txt"));
  ASSERT_FALSE(fs::exists(text_target.parent_path() / "marke.txt"));

  const auto found = host::FindTargetCandidates();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].database, wine_target.string());
  const auto wine_bytes = ReadFileBytes(wine_target);
  const auto text_bytes = ReadFileBytes(text_target);
  const ImportRun run = RunImportProgram();
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(ReadFileBytes(wine_target), wine_bytes);
  EXPECT_EQ(ReadFileBytes(text_target), text_bytes);
}

}  // namespace
