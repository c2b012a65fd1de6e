#include "jet/text/unicode.h"

#include <array>

#include "jet/text/case_tables.h"

namespace jet {

char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(pos);
  std::size_t len = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    ++pos;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + len > s.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (std::size_t i = 1; i < len; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(pos + i) & 0x3F);
  }
  pos += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace {

// Both directions of the case pairs, indexed by UTF-16 code unit: the partner's code unit, or the
// unit itself where it has none.
struct CaseMaps {
  std::array<char16_t, 0x10000> to_lower;
  std::array<char16_t, 0x10000> to_upper;
  CaseMaps() {
    for (std::size_t i = 0; i < to_lower.size(); ++i) {
      to_lower[i] = to_upper[i] = static_cast<char16_t>(i);
    }
    for (std::size_t i = 0; i < kCasePairCount; ++i) {
      to_lower[kCasePairs[i].upper] = kCasePairs[i].lower;
      to_upper[kCasePairs[i].lower] = kCasePairs[i].upper;
    }
  }
};

const CaseMaps& Maps() {
  static const CaseMaps maps;
  return maps;
}

}  // namespace

char32_t FoldCodePoint(char32_t cp) {
  if (cp < 0x80) return (cp >= U'A' && cp <= U'Z') ? cp + 32 : cp;
  return cp < 0x10000 ? Maps().to_lower[cp] : cp;
}

char32_t UpperCodePoint(char32_t cp) {
  if (cp < 0x80) return (cp >= U'a' && cp <= U'z') ? cp - 32 : cp;
  return cp < 0x10000 ? Maps().to_upper[cp] : cp;
}

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = NextCodePoint(text, pos);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp >= U'A' && cp <= U'Z' ? cp + 32 : cp));
    } else {
      AppendUtf8(out, FoldCodePoint(cp));
    }
  }
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) AppendUtf8(out, UpperCodePoint(NextCodePoint(text, pos)));
  return out;
}

}  // namespace jet
