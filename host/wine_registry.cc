#include "host/wine_registry.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "jet/text/unicode.h"

namespace host {
namespace {

constexpr std::string_view kFirstLine = "WINE REGISTRY Version 2";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// UTF-16 code units to UTF-8, up to the first NUL; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp == 0) break;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    jet::AppendUtf8(out, cp);
  }
  return out;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

// Reads an escaped text from `pos` up to the unescaped `end_char`, which it consumes. nullopt
// when the line ends first.
std::optional<std::u16string> ParseEscaped(std::string_view line, std::size_t& pos, char end_char) {
  std::u16string out;
  while (pos < line.size() && line[pos] != end_char) {
    const char c = line[pos];
    if (c != '\\') {
      AppendUtf16(out, jet::NextCodePoint(line, pos));
      continue;
    }
    ++pos;
    if (pos >= line.size()) return std::nullopt;  // a backslash at the end of the line
    const char e = line[pos++];
    switch (e) {
      case 'a':
        out.push_back(u'\a');
        break;
      case 'b':
        out.push_back(u'\b');
        break;
      case 'e':
        out.push_back(0x1B);
        break;
      case 'f':
        out.push_back(u'\f');
        break;
      case 'n':
        out.push_back(u'\n');
        break;
      case 'r':
        out.push_back(u'\r');
        break;
      case 't':
        out.push_back(u'\t');
        break;
      case 'v':
        out.push_back(u'\v');
        break;
      case 'x': {
        if (pos >= line.size() || HexDigit(line[pos]) < 0) {
          out.push_back(u'x');  // "\x" without a digit is the letter itself
          break;
        }
        unsigned unit = 0;
        for (int n = 0; n < 4 && pos < line.size() && HexDigit(line[pos]) >= 0; ++n) {
          unit = unit * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
        }
        out.push_back(static_cast<char16_t>(unit));
        break;
      }
      default:
        if (IsOctal(e)) {
          unsigned unit = static_cast<unsigned>(e - '0');
          for (int n = 1; n < 3 && pos < line.size() && IsOctal(line[pos]); ++n) {
            unit = unit * 8 + static_cast<unsigned>(line[pos++] - '0');
          }
          out.push_back(static_cast<char16_t>(unit));
        } else {
          --pos;
          AppendUtf16(out, jet::NextCodePoint(line, pos));  // \\, \", \] and the rest
        }
        break;
    }
  }
  if (pos >= line.size()) return std::nullopt;  // no closing character
  ++pos;
  return out;
}

// The text of a registry path: its names folded and separated by single backslashes.
std::string FoldPath(std::string_view path) {
  std::string out;
  std::size_t b = 0;
  while (b <= path.size()) {
    std::size_t e = path.find('\\', b);
    if (e == std::string_view::npos) e = path.size();
    if (e > b) {
      if (!out.empty()) out += '\\';
      out += jet::FoldCase(path.substr(b, e - b));
    }
    b = e + 1;
  }
  return out;
}

// Parses "hh,hh,...": appends the bytes; `continued` tells whether the text ends with "\".
bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes, bool& continued) {
  continued = false;
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  while (pos < text.size()) {
    if (text[pos] == '\\' && pos + 1 == text.size()) {
      continued = true;
      return true;
    }
    if (pos + 1 >= text.size()) return false;
    const int hi = HexDigit(text[pos]), lo = HexDigit(text[pos + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    pos += 2;
    if (pos < text.size()) {
      if (text[pos] == ',') {
        ++pos;
      } else if (!(text[pos] == '\\' && pos + 1 == text.size())) {
        return false;
      }
    }
  }
  return true;
}

// A type number in hex up to the closing ")".
std::optional<std::uint32_t> ParseType(std::string_view text, std::size_t& pos) {
  std::uint32_t type = 0;
  std::size_t digits = 0;
  while (pos < text.size() && HexDigit(text[pos]) >= 0) {
    if (++digits > 8) return std::nullopt;
    type = type * 16 + static_cast<std::uint32_t>(HexDigit(text[pos++]));
  }
  if (digits == 0 || pos + 1 >= text.size() || text.compare(pos, 2, "):") != 0) {
    return std::nullopt;
  }
  pos += 2;
  return type;
}

bool IsStringType(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

}  // namespace

std::optional<WineRegistry> WineRegistry::Parse(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t b = 0; b < text.size();) {
    std::size_t e = text.find('\n', b);
    if (e == std::string_view::npos) e = text.size();
    std::string_view line = text.substr(b, e - b);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    b = e + 1;
  }
  if (lines.empty() || lines.front() != kFirstLine) return std::nullopt;

  WineRegistry reg;
  Key* key = nullptr;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    std::size_t pos = 1;
    if (line[0] == '[') {
      const auto name = ParseEscaped(line, pos, ']');
      if (!name) return std::nullopt;
      // After the name: nothing, or a blank and the time of the last change in seconds.
      if (pos < line.size()) {
        if (line[pos] != ' ') return std::nullopt;
        for (++pos; pos < line.size(); ++pos) {
          if (line[pos] < '0' || line[pos] > '9') return std::nullopt;
        }
      }
      key = &reg.keys_[FoldPath(Utf16ToUtf8(*name))];
      continue;
    }
    if (line[0] != '@' && line[0] != '"') return std::nullopt;
    if (key == nullptr) return std::nullopt;  // a value outside any key
    std::string name;
    if (line[0] == '"') {
      const auto escaped = ParseEscaped(line, pos, '"');
      if (!escaped) return std::nullopt;
      name = jet::FoldCase(Utf16ToUtf8(*escaped));
    }
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    ++pos;
    const std::string_view data = line.substr(pos);
    Value value;
    if (data.starts_with('"') || data.starts_with("str:\"") || data.starts_with("str(")) {
      value.type = kRegSz;
      std::size_t p = 0;
      if (data.starts_with("str:")) {
        p = 4;
      } else if (data.starts_with("str(")) {
        p = 4;
        const auto type = ParseType(data, p);
        if (!type) return std::nullopt;
        value.type = *type;
      }
      if (p >= data.size() || data[p] != '"') return std::nullopt;
      ++p;
      const auto units = ParseEscaped(data, p, '"');
      if (!units || p != data.size()) return std::nullopt;
      value.text = Utf16ToUtf8(*units);
    } else if (data.starts_with("dword:")) {
      if (data.size() != 6 + 8) return std::nullopt;
      for (char c : data.substr(6)) {
        if (HexDigit(c) < 0) return std::nullopt;
      }
      value.type = kRegDword;
    } else if (data.starts_with("hex:") || data.starts_with("hex(")) {
      std::size_t p = 4;
      value.type = kRegBinary;
      if (data.starts_with("hex(")) {
        const auto type = ParseType(data, p);
        if (!type) return std::nullopt;
        value.type = *type;
      }
      std::vector<std::uint8_t> bytes;
      bool continued = false;
      if (!ParseHexBytes(data.substr(p), bytes, continued)) return std::nullopt;
      while (continued) {
        if (++i >= lines.size()) return std::nullopt;
        const std::string_view next = lines[i];
        if (next.empty() || next[0] != ' ') return std::nullopt;
        if (!ParseHexBytes(next, bytes, continued)) return std::nullopt;
      }
      // A string Wine could not write as text (no final NUL, odd length): UTF-16LE bytes.
      if (IsStringType(value.type)) {
        std::u16string units;
        for (std::size_t b = 0; b + 1 < bytes.size(); b += 2) {
          units.push_back(static_cast<char16_t>(bytes[b] | (bytes[b + 1] << 8)));
        }
        value.text = Utf16ToUtf8(units);
      }
    } else {
      return std::nullopt;
    }
    if (!IsStringType(value.type)) value.text.clear();
    (*key)[name] = std::move(value);
  }
  return reg;
}

std::optional<WineRegistry> WineRegistry::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return Parse(text.str());
}

std::optional<std::string> WineRegistry::FindString(std::string_view key_path,
                                                    std::string_view value_name) const {
  const auto key = keys_.find(FoldPath(key_path));
  if (key == keys_.end()) return std::nullopt;
  const auto value = key->second.find(jet::FoldCase(value_name));
  if (value == key->second.end() || !IsStringType(value->second.type)) return std::nullopt;
  return value->second.text;
}

}  // namespace host
