#include "host/wine_prefix.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "jet/text/unicode.h"

namespace host {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The path as the kernel resolves it (every symbolic link followed, relative links from the
// folder that holds them), or nullopt when it names nothing.
std::optional<std::string> RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

// `folder` + "/" + `name`, without doubling the root's slash.
std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// The entry of `folder` named `name` without regard to letter case: the exact name when it
// exists, else the first entry that matches, in the order the folder lists them (as Wine does).
std::optional<std::string> FindEntry(const std::string& folder, const std::string& name) {
  if (Exists(Join(folder, name))) return name;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  const std::string wanted = jet::FoldCase(name);
  std::optional<std::string> found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (jet::FoldCase(candidate) == wanted) {
      found = candidate;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

std::vector<std::string> SplitNames(std::string_view text) {
  std::vector<std::string> names;
  std::size_t b = 0;
  while (b <= text.size()) {
    std::size_t e = text.find('\\', b);
    if (e == std::string_view::npos) e = text.size();
    if (e > b) names.emplace_back(text.substr(b, e - b));
    b = e + 1;
  }
  return names;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string WithoutTrailingSlashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string Home() {
  const char* home = std::getenv("HOME");
  return (home != nullptr && home[0] == '/') ? WithoutTrailingSlashes(home) : std::string();
}

// $NAME when set to an absolute path, else $HOME + `fallback`; empty without either.
std::string XdgFolder(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  if (value != nullptr && value[0] == '/') return WithoutTrailingSlashes(value);
  const std::string home = Home();
  return home.empty() ? std::string() : home + fallback;
}

// The sub-folders of `folder`, in byte order of their names.
std::vector<std::string> SubFolders(const std::string& folder) {
  std::vector<std::string> names;
  if (folder.empty()) return names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (IsDirectory(Join(folder, name))) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (std::string& name : names) name = Join(folder, name);
  return names;
}

// A scalar of a game configuration: the text after "key:", without quotes.
std::string YamlScalar(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r')) --e;
  text = text.substr(b, e - b);
  if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') &&
      text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(text);
}

// The prefix a Lutris game configuration names: the key "prefix" in its top-level section
// "game" (Lutris writes these files itself; a "~" at the start is the home folder, as Lutris
// expands it). Empty when it names none.
std::string LutrisGamePrefix(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  bool in_game = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != ' ' && line[0] != '\t') {
      in_game = line.rfind("game:", 0) == 0;
      continue;
    }
    if (!in_game) continue;
    const std::size_t key = line.find_first_not_of(" \t");
    if (line.compare(key, 7, "prefix:") != 0) continue;
    std::string value = YamlScalar(std::string_view(line).substr(key + 7));
    if (value.rfind("~/", 0) == 0 && !Home().empty()) value = Home() + value.substr(1);
    return value.empty() || value[0] != '/' ? std::string() : WithoutTrailingSlashes(value);
  }
  return "";
}

// The prefixes named by the game configurations of Lutris, in byte order of the files' names.
std::vector<std::string> LutrisPrefixes() {
  // Lutris (lutris/settings.py) keeps one YAML file per game in CONFIG_DIR/games, where
  // CONFIG_DIR is $XDG_CONFIG_HOME/lutris (~/.config/lutris) when that folder exists and
  // $XDG_DATA_HOME/lutris (~/.local/share/lutris) otherwise; a Wine game names its prefix in
  // "game: prefix:" (the option "prefix" of lutris/runners/wine.py).
  std::string config = XdgFolder("XDG_CONFIG_HOME", "/.config");
  config = config.empty() ? config : config + "/lutris";
  if (config.empty() || !IsDirectory(config)) {
    const std::string data = XdgFolder("XDG_DATA_HOME", "/.local/share");
    config = data.empty() ? data : data + "/lutris";
  }
  std::vector<std::string> files;
  if (DIR* dir = config.empty() ? nullptr : ::opendir((config + "/games").c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 4 && name.ends_with(".yml")) files.push_back(config + "/games/" + name);
    }
    ::closedir(dir);
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> prefixes;
  for (const std::string& file : files) {
    const std::string prefix = LutrisGamePrefix(file);
    if (!prefix.empty()) prefixes.push_back(prefix);
  }
  return prefixes;
}

void AddUnique(std::vector<std::string>& list, const std::string& path) {
  if (!path.empty() && IsDirectory(path) &&
      std::find(list.begin(), list.end(), path) == list.end()) {
    list.push_back(path);
  }
}

}  // namespace

WinePrefixVariable ReadWinePrefixVariable() {
  WinePrefixVariable v;
  const char* named = std::getenv("WINEPREFIX");
  if (named == nullptr) return v;
  v.set = true;
  const std::string value = named;
  if (value.empty() || value[0] != '/') {
    v.fault = "Die Umgebungsvariable WINEPREFIX nennt den Ordner '" + value +
              "', der kein absoluter Pfad ist. Wine nimmt nur einen absoluten Pfad an: setzen "
              "Sie WINEPREFIX auf den vollständigen Pfad des Präfixes, in dem Zentavo läuft, oder "
              "entfernen Sie die Variable.";
    return v;
  }
  struct stat st;
  if (::stat(value.c_str(), &st) != 0) {
    v.fault = "Der Ordner '" + value +
              "', den die Umgebungsvariable WINEPREFIX nennt, existiert nicht. Setzen Sie "
              "WINEPREFIX auf das Präfix, in dem Zentavo läuft, oder entfernen Sie die Variable.";
    return v;
  }
  if (!S_ISDIR(st.st_mode)) {
    v.fault = "'" + value +
              "', das die Umgebungsvariable WINEPREFIX nennt, ist kein Ordner. Setzen Sie "
              "WINEPREFIX auf das Präfix, in dem Zentavo läuft, oder entfernen Sie die Variable.";
    return v;
  }
  v.path = WithoutTrailingSlashes(value);
  return v;
}

std::vector<std::string> UserWinePrefixes() {
  std::vector<std::string> prefixes;
  const std::string home = Home();
  // Wine's own default prefix (wine(1), WINEPREFIX: the default is $HOME/.wine).
  if (!home.empty()) AddUnique(prefixes, home + "/.wine");
  // winetricks (src/winetricks): W_PREFIXES_ROOT="${WINE_PREFIXES:-${XDG_DATA_HOME}/wineprefixes}"
  // with XDG_DATA_HOME defaulting to ~/.local/share; one prefix per sub-folder NAME.
  const std::string data = XdgFolder("XDG_DATA_HOME", "/.local/share");
  const char* winetricks = std::getenv("WINE_PREFIXES");
  std::string winetricks_root;
  if (winetricks != nullptr && winetricks[0] == '/') {
    winetricks_root = WithoutTrailingSlashes(winetricks);
  } else if (!data.empty()) {
    winetricks_root = data + "/wineprefixes";
  }
  for (const std::string& p : SubFolders(winetricks_root)) AddUnique(prefixes, p);
  // Bottles (bottles/backend/globals.py, class Paths): bottles = f"{base}/bottles" with
  // base = f"{xdg_data_home}/bottles", xdg_data_home = $XDG_DATA_HOME or ~/.local/share.
  if (!data.empty()) {
    for (const std::string& p : SubFolders(data + "/bottles/bottles")) AddUnique(prefixes, p);
  }
  // The Bottles Flatpak (com.usebottles.bottles): inside the sandbox $XDG_DATA_HOME is
  // ~/.var/app/<app id>/data (Flatpak documentation, "Conventions", XDG base directories), so the
  // same path lies below it.
  if (!home.empty()) {
    for (const std::string& p :
         SubFolders(home + "/.var/app/com.usebottles.bottles/data/bottles/bottles")) {
      AddUnique(prefixes, p);
    }
  }
  // PlayOnLinux (python/lib/Variables.py: POL_USER_ROOT = $HOME/.PlayOnLinux/; bash/POL_Command:
  // WINEPREFIX="$POL_USER_ROOT/wineprefix/$1").
  if (!home.empty()) {
    for (const std::string& p : SubFolders(home + "/.PlayOnLinux/wineprefix")) {
      AddUnique(prefixes, p);
    }
  }
  // CrossOver on Linux keeps the user's bottles in ~/.cxoffice/NAME (CrossOver Linux manual,
  // appendix "Directory Structure, Location of Files": the setup folder in the home folder).
  if (!home.empty()) {
    for (const std::string& p : SubFolders(home + "/.cxoffice")) AddUnique(prefixes, p);
  }
  for (const std::string& p : LutrisPrefixes()) AddUnique(prefixes, p);
  return prefixes;
}

std::vector<std::string> WinePrefixCandidates() {
  const WinePrefixVariable named = ReadWinePrefixVariable();
  if (named.set) {
    return named.fault.empty() ? std::vector<std::string>{named.path} : std::vector<std::string>{};
  }
  return UserWinePrefixes();
}

std::vector<std::string> WineDriveFolders() {
  std::vector<std::string> prefixes;
  const WinePrefixVariable named = ReadWinePrefixVariable();
  if (named.set && named.fault.empty()) prefixes.push_back(named.path);
  for (const std::string& p : UserWinePrefixes()) {
    if (std::find(prefixes.begin(), prefixes.end(), p) == prefixes.end()) prefixes.push_back(p);
  }
  std::vector<std::string> folders;
  for (const std::string& prefix : prefixes) {
    if (IsDirectory(prefix + "/drive_c")) folders.push_back(prefix + "/drive_c");
  }
  return folders;
}

WinePath MapWindowsPath(const std::string& prefix, std::string_view windows_path) {
  std::string p(windows_path);
  std::replace(p.begin(), p.end(), '/', '\\');
  // "\\?\C:\..." and "\\?\UNC\server\share\..." are the same paths without length limits.
  if (p.starts_with("\\\\?\\") || p.starts_with("\\??\\")) {
    p.erase(0, 4);
    if (p.size() >= 4 && jet::FoldCase(p.substr(0, 4)) == "unc\\") p.replace(0, 3, "\\");
  }
  WinePath result;
  std::string base;
  std::string rest;
  if (p.size() >= 2 && IsLetter(p[0]) && p[1] == ':') {
    if (p.size() > 2 && p[2] != '\\') {  // "C:Daten" is relative to the drive's current folder
      result.problem = WinePathProblem::kNotAbsolute;
      return result;
    }
    const std::optional<std::string> drive = RealPath(prefix + "/dosdevices/" + Lower(p[0]) + ":");
    if (!drive || !IsDirectory(*drive)) {
      result.problem = WinePathProblem::kNoDrive;
      result.where = std::string(1, static_cast<char>(p[0] & ~0x20)) + ":";
      return result;
    }
    base = *drive;
    rest = p.substr(2);
    result.where = p.substr(0, 2);
  } else if (p.starts_with("\\\\")) {
    const std::vector<std::string> names = SplitNames(p.substr(2));
    const std::string unc =
        RealPath(prefix + "/dosdevices/unc").value_or(prefix + "/dosdevices/unc");
    std::optional<std::string> server, share;
    if (names.size() >= 2) server = FindEntry(unc, names[0]);
    if (server) share = FindEntry(unc + "/" + *server, names[1]);
    if (!share || !IsDirectory(unc + "/" + *server + "/" + *share)) {
      result.problem = WinePathProblem::kNoShare;
      result.where = "\\\\" + (names.size() > 0 ? names[0] : std::string()) + "\\" +
                     (names.size() > 1 ? names[1] : std::string());
      return result;
    }
    base = RealPath(unc + "/" + *server + "/" + *share).value_or("");
    result.where = "\\\\" + names[0] + "\\" + names[1];
    const std::size_t share_end = p.find('\\', p.find('\\', 2) + 1);
    rest = share_end == std::string::npos ? std::string() : p.substr(share_end);
  } else {
    result.problem = WinePathProblem::kNotAbsolute;
    return result;
  }

  // The names after the drive; "." and ".." resolved first, as Windows does with the text.
  std::vector<std::string> names;
  for (std::string& name : SplitNames(rest)) {
    if (name == ".") continue;
    if (name == "..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    names.push_back(std::move(name));
  }
  std::string path = base;
  std::string shown = result.where;
  for (std::size_t i = 0; i < names.size(); ++i) {
    shown += "\\" + names[i];
    const std::optional<std::string> found = FindEntry(path, names[i]);
    const bool last = i + 1 == names.size();
    if (!found || (!last && !IsDirectory(Join(path, *found)))) {
      if (last) {
        result.problem = WinePathProblem::kFileMissing;
        result.path = Join(path, names[i]);
      } else {
        result.problem = WinePathProblem::kFolderMissing;
        result.where = shown;
      }
      return result;
    }
    path = Join(path, *found);
  }
  result.path = RealPath(path).value_or(path);
  return result;
}

}  // namespace host
