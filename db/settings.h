// The per-user settings store, looked up by application name, section and key.
//
// On Linux the store of an application is an INI file named after it in the user's XDG config
// folder: $XDG_CONFIG_HOME/<application>.ini, or ~/.config/<application>.ini when the variable is
// unset or empty. The file is UTF-8:
//   [DB]
//   Root=/home/wirt/Zentavo/
// Section and key names are matched without regard to letter case (as the registry does); the
// value is everything after the first '=' up to the line end, blanks included. Lines starting
// with ';' or '#' are comments.
#pragma once

#include <string>

namespace db {

// The folder that holds the settings files.
std::string SettingsFolder();

// The stored value, or `default_value` when the file, section or key is absent or unreadable.
std::string GetSetting(const std::string& application, const std::string& section,
                       const std::string& key, const std::string& default_value);

}  // namespace db
