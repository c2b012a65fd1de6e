#include "db/wine_prefix.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "jet/unicode.h"

namespace db {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Where a link of dosdevices/ leads: its target, read relative to dosdevices/ and normalised
// (`c:` -> `../drive_c` gives <prefix>/drive_c), or the entry itself when it is no link.
std::string FollowDeviceLink(const std::string& entry) {
  std::error_code ec;
  const std::filesystem::path link(entry);
  const std::filesystem::path target = std::filesystem::read_symlink(link, ec);
  if (ec) return entry;
  std::string path =
      (target.is_absolute() ? target : link.parent_path() / target).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// `folder` + "/" + `name`, without doubling the root's slash.
std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// The entry of `folder` named `name` without regard to letter case: the exact name when it
// exists, else the first matching name in byte order.
std::optional<std::string> FindEntry(const std::string& folder, const std::string& name) {
  if (Exists(Join(folder, name))) return name;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  const std::string wanted = jet::FoldCase(name);
  std::vector<std::string> matches;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (jet::FoldCase(candidate) == wanted) matches.push_back(candidate);
  }
  ::closedir(dir);
  if (matches.empty()) return std::nullopt;
  return *std::min_element(matches.begin(), matches.end());
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

}  // namespace

std::vector<std::string> WinePrefixCandidates() {
  std::vector<std::string> prefixes;
  const char* named = std::getenv("WINEPREFIX");
  if (named != nullptr && named[0] == '/') {
    std::string p = named;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    prefixes.push_back(p);
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    std::string p =
        std::string(home) + (std::string_view(home).ends_with('/') ? "" : "/") + ".wine";
    if (std::find(prefixes.begin(), prefixes.end(), p) == prefixes.end()) prefixes.push_back(p);
  }
  return prefixes;
}

std::vector<std::string> WineDriveFolders() {
  std::vector<std::string> folders;
  for (const std::string& prefix : WinePrefixCandidates()) {
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
    base = prefix + "/dosdevices/" + Lower(p[0]) + ":";
    if (!IsDirectory(base)) {
      result.problem = WinePathProblem::kNoDrive;
      result.where = std::string(1, static_cast<char>(p[0] & ~0x20)) + ":";
      return result;
    }
    base = FollowDeviceLink(base);
    rest = p.substr(2);
    result.where = p.substr(0, 2);
  } else if (p.starts_with("\\\\")) {
    const std::vector<std::string> names = SplitNames(p.substr(2));
    const std::string unc = prefix + "/dosdevices/unc";
    std::optional<std::string> server, share;
    if (names.size() >= 2) server = FindEntry(unc, names[0]);
    if (server) share = FindEntry(unc + "/" + *server, names[1]);
    if (!share || !IsDirectory(unc + "/" + *server + "/" + *share)) {
      result.problem = WinePathProblem::kNoShare;
      result.where = "\\\\" + (names.size() > 0 ? names[0] : std::string()) + "\\" +
                     (names.size() > 1 ? names[1] : std::string());
      return result;
    }
    base = FollowDeviceLink(unc + "/" + *server + "/" + *share);
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
  result.path = path;
  return result;
}

}  // namespace db
