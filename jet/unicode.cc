#include "jet/unicode.h"

#include "jet/text_codec.h"

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

char32_t FoldCodePoint(char32_t cp) {
  if (cp >= U'A' && cp <= U'Z') return cp + 32;
  if (cp < 0xC0) return cp;
  if (cp <= 0xDE) return cp == 0xD7 ? cp : cp + 32;  // À..Þ except ×
  if (cp >= 0x100 && cp <= 0x17F) {
    // Latin Extended-A: pairs (upper even, lower odd) except 0x130..0x138 and 0x149..0x14A area
    if (cp == 0x130 || cp == 0x131 || cp == 0x138 || cp == 0x149 || cp == 0x17F) return cp;
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) {
      return (cp % 2 == 1) ? cp + 1 : cp;  // these pairs start on odd code points
    }
    if (cp == 0x178) return 0xFF;
    return (cp % 2 == 0) ? cp + 1 : cp;
  }
  if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) return cp + 32;  // Greek capitals
  if (cp >= 0x410 && cp <= 0x42F) return cp + 32;                 // Cyrillic А..Я
  if (cp >= 0x400 && cp <= 0x40F) return cp + 80;                 // Cyrillic Ѐ..Џ
  return cp;
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

}  // namespace jet
