// The per-user settings store, looked up by application name, section and key.
//
// On Linux an entry is found in these places, in this order; the first that holds it wins (also
// when its value is empty):
//   1. the INI file named after the application in the user's XDG config folder:
//      $XDG_CONFIG_HOME/<application>.ini, or ~/.config/<application>.ini when the variable is
//      unset or empty. The file is UTF-8:
//        [DB]
//        Root=/home/wirt/Zentavo/
//      Section and key names are matched without regard to letter case (as the registry does);
//      the value is everything after the first '=' up to the line end, blanks included. Lines
//      starting with ';' or '#' are comments. The value is a path of this system.
//   2. the registry of the Wine prefix that $WINEPREFIX names, when set: the file user.reg, key
//      Software\VB and VBA Program Settings\<application>\<section>, string value <key>, where a
//      Windows program running under Wine records its settings. The value is a Windows path.
//   3. otherwise the same in each prefix of the user (~/.wine, then the front ends' prefixes:
//      WinePrefixCandidates()), the first that holds it.
// A user.reg that cannot be parsed, or a value of another type than a string, holds no entry here.
// The load step's own search (host/target_lookup.h) is stricter: it refuses such faults by name and
// lets the user choose between several prefixes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

// The folder that holds the settings files.
std::string SettingsFolder();
// The settings file of `application` in it.
std::string SettingsFile(const std::string& application);

// The value of `key` in `[section]` of an INI text as described above, or nullopt.
std::optional<std::string> FindIniValue(std::string_view text, const std::string& section,
                                        const std::string& key);

// Where the registry of a Windows program keeps the settings of `application`.
std::string RegistrySettingsKey(const std::string& application, const std::string& section);

struct SettingsEntry {
  std::string value;
  // The Wine prefix whose registry holds the entry (its value is then a path of that Windows
  // system); empty when the entry comes from the INI file.
  std::string wine_prefix;
};

// The entry from the first place that holds it, or nullopt when none does.
std::optional<SettingsEntry> FindSetting(const std::string& application, const std::string& section,
                                         const std::string& key);

// The stored value, or `default_value` when no place holds the entry.
std::string GetSetting(const std::string& application, const std::string& section,
                       const std::string& key, const std::string& default_value);

}  // namespace host
