// What the tests of Zentavo under Wine share: a scratch home folder with its environment, and
// prefixes laid out as Wine lays them out.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace wine_test {

namespace fs = std::filesystem;
using testing_support::kFixtures;

inline const std::string kRegistries = kFixtures + "/wine";

// Sets an environment variable for its lifetime (unset when `value` is nullopt), then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A scratch user: HOME, an empty XDG config folder (no INI file), no WINEPREFIX, and the data
// folder and winetricks' prefix folder at their defaults below HOME.
class ScratchUser {
 public:
  ScratchUser() { fs::create_directories(home() / ".config"); }
  fs::path home() const { return dir_.path() / "home"; }
  fs::path default_prefix() const { return home() / ".wine"; }
  fs::path path() const { return dir_.path(); }

 private:
  testing_support::ScratchDir dir_{"wine-user"};
  ScopedEnv home_{"HOME", (dir_.path() / "home").string()};
  ScopedEnv config_{"XDG_CONFIG_HOME", (dir_.path() / "home" / ".config").string()};
  ScopedEnv prefix_{"WINEPREFIX", std::nullopt};
  ScopedEnv data_{"XDG_DATA_HOME", std::nullopt};
  ScopedEnv winetricks_{"WINE_PREFIXES", std::nullopt};
};

// A prefix as Wine makes it: drive_c, dosdevices/c: -> ../drive_c, dosdevices/z: -> /, and the
// given user.reg (a file of tests/data/wine, or none).
inline void MakePrefix(const fs::path& prefix, const std::string& registry = "") {
  fs::create_directories(prefix / "drive_c" / "windows");
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
  fs::create_directory_symlink("/", prefix / "dosdevices" / "z:");
  if (!registry.empty()) fs::copy_file(kRegistries + "/" + registry, prefix / "user.reg");
}

// A copy of the sample target at `file` (its folders made).
inline void PlaceTarget(const fs::path& file) {
  fs::create_directories(file.parent_path());
  fs::copy_file(kFixtures + "/target.mdb", file);
}

inline void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace wine_test
