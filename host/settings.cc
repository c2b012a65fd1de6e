#include "host/settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/wine_prefix.h"
#include "host/wine_registry.h"
#include "jet/text/unicode.h"

namespace host {
namespace {

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

std::optional<std::string> ReadIniSetting(const std::string& file, const std::string& section,
                                          const std::string& key) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return FindIniValue(text.str(), section, key);
}

}  // namespace

std::optional<std::string> FindIniValue(std::string_view text, const std::string& section,
                                        const std::string& key) {
  const std::string wanted_section = jet::FoldCase(section);
  const std::string wanted_key = jet::FoldCase(key);
  bool in_section = false;
  bool first = true;
  std::size_t b = 0;
  while (b < text.size()) {
    std::size_t e = text.find('\n', b);
    if (e == std::string_view::npos) e = text.size();
    std::string line(text.substr(b, e - b));
    b = e + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // UTF-8 BOM
    first = false;
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
    if (trimmed.front() == '[') {
      const std::size_t close = trimmed.find(']');
      in_section = close != std::string::npos &&
                   jet::FoldCase(Trim(trimmed.substr(1, close - 1))) == wanted_section;
      continue;
    }
    if (!in_section) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (jet::FoldCase(Trim(line.substr(0, eq))) == wanted_key) return line.substr(eq + 1);
  }
  return std::nullopt;
}

std::string SettingsFile(const std::string& application) {
  return SettingsFolder() + "/" + application + ".ini";
}

std::string SettingsFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg != '\0') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

std::string RegistrySettingsKey(const std::string& application, const std::string& section) {
  return "Software\\VB and VBA Program Settings\\" + application + "\\" + section;
}

std::optional<SettingsEntry> FindSetting(const std::string& application, const std::string& section,
                                         const std::string& key) {
  if (auto value = ReadIniSetting(SettingsFile(application), section, key)) {
    return SettingsEntry{std::move(*value), ""};
  }
  for (const std::string& prefix : WinePrefixCandidates()) {
    const std::optional<WineRegistry> registry = WineRegistry::Load(prefix + "/user.reg");
    if (!registry) continue;
    if (auto value = registry->FindString(RegistrySettingsKey(application, section), key)) {
      return SettingsEntry{std::move(*value), prefix};
    }
  }
  return std::nullopt;
}

std::string GetSetting(const std::string& application, const std::string& section,
                       const std::string& key, const std::string& default_value) {
  std::optional<SettingsEntry> entry = FindSetting(application, section, key);
  if (entry) return std::move(entry->value);
  return default_value;
}

}  // namespace host
