// A registry file as Wine keeps it in its prefix (user.reg, system.reg): read-only access to the
// string values of its keys.
//
// The file is text, written by the Wine server:
//   file    := "WINE REGISTRY Version 2" NL { line NL }
//   line    := "" | ";" comment | "#" option | key | value | "  " continuation
//   key     := "[" escaped-name "]" [ " " seconds ]          names separated by "\\"
//   value   := ( "@" | '"' escaped-name '"' ) "=" data
//   data    := '"' escaped '"'                                  REG_SZ
//            | "str(" hex-type "):" '"' escaped '"'            a string of that type
//            | "dword:" 8 hex digits                           REG_DWORD
//            | "hex:" bytes | "hex(" hex-type "):" bytes      other types (also strings)
//   bytes   := { hh "," } [ hh ] [ "\" NL spaces bytes ]      a final "\" continues the line
// Escapes inside names and strings: \a \b \t \n \v \f \r \e, \\, \" (\] in key names), \x with
// one to four hex digits (a UTF-16 code unit; Wine writes four when the next character is a hex
// digit), \ with one to three octal digits; any other escaped character stands for itself.
// Wine writes only ASCII; other bytes are read as UTF-8.
//
// Key and value names are compared without regard to letter case, as Windows does.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace host {

// Registry value types.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

class WineRegistry {
 public:
  // The parsed file, or nullopt when the text is not a whole registry file as Wine writes it
  // (wrong first line, an unknown or damaged line, an unterminated string or name, a value before
  // any key): such a file is never half-read.
  static std::optional<WineRegistry> Parse(std::string_view text);

  // Reads and parses the file at `path`; nullopt when it is missing, unreadable or not parseable.
  static std::optional<WineRegistry> Load(const std::string& path);

  // The text (UTF-8, up to its first NUL) of the value `value_name` ("" for the key's default
  // value) of the key `key_path` ("\"-separated, relative to the file's root), when that value
  // is a string (REG_SZ or REG_EXPAND_SZ; not expanded). nullopt when the key or the value is
  // missing or the value has another type.
  std::optional<std::string> FindString(std::string_view key_path,
                                        std::string_view value_name) const;

 private:
  struct Value {
    std::uint32_t type = 0;
    std::string text;  // for string types only
  };
  using Key = std::map<std::string, Value>;  // by folded value name
  std::map<std::string, Key> keys_;          // by folded key path, "\"-separated
};

}  // namespace host
