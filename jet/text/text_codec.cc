#include "jet/text/text_codec.h"

#include <array>
#include <vector>

#include "jet/base/byte_writer.h"
#include "jet/text/unicode.h"

namespace jet {
namespace {

constexpr std::uint8_t kCompressedMarker0 = 0xFF;
constexpr std::uint8_t kCompressedMarker1 = 0xFE;
constexpr std::uint8_t kCompressionToggle = 0x00;

// Windows-1252 0x80..0x9F; 0 marks the five unmapped bytes.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUnits(std::string& out, const std::vector<char16_t>& units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
        ++i;
      }
    }
    // An unpaired surrogate stays as it is (in the three bytes UTF-8 gives a code unit of its
    // range), so that the text writes back unchanged and keys as Access keys it.
    AppendUtf8(out, cp);
  }
}

}  // namespace

std::string DecodeUcs2(Bytes bytes) {
  std::vector<char16_t> units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  std::string out;
  out.reserve(units.size());
  AppendUnits(out, units);
  return out;
}

std::string DecodeJet4Text(Bytes bytes) {
  if (bytes.size() < 2 || bytes[0] != kCompressedMarker0 || bytes[1] != kCompressedMarker1) {
    return DecodeUcs2(bytes);
  }
  std::vector<char16_t> units;
  units.reserve(bytes.size());
  bool compressed = true;
  std::size_t i = 2;
  while (i < bytes.size()) {
    if (bytes[i] == kCompressionToggle) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      units.push_back(bytes[i]);
      ++i;
    } else {
      if (i + 1 >= bytes.size()) break;
      units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
      i += 2;
    }
  }
  std::string out;
  out.reserve(units.size());
  AppendUnits(out, units);
  return out;
}

void AppendJet4Text(std::string_view utf8, bool compress, std::vector<std::uint8_t>& out) {
  // Compression must save space: the two marker bytes pay off from three characters on. It
  // needs every character in 1..U+00FF; a code point past U+FFFF is never compressible.
  constexpr std::size_t kMarkerSize = 2;
  std::size_t units = 0;
  bool compressible = compress;
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = NextCodePoint(utf8, pos);
    units += cp >= 0x10000 ? 2 : 1;
    if (cp < 1 || cp > 0xFF) compressible = false;
  }
  compressible = compressible && units > kMarkerSize;
  ByteWriter w(out);
  if (compressible) {
    w.Append8(kCompressedMarker0);
    w.Append8(kCompressedMarker1);
    for (std::size_t pos = 0; pos < utf8.size();) {
      w.Append8(static_cast<std::uint8_t>(NextCodePoint(utf8, pos)));
    }
    return;
  }
  out.reserve(out.size() + units * 2);
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = NextCodePoint(utf8, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      w.Append16(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
      w.Append16(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      w.Append16(static_cast<std::uint16_t>(cp));
    }
  }
}

std::vector<std::uint8_t> EncodeJet4Text(std::string_view utf8, bool compress) {
  std::vector<std::uint8_t> out;
  AppendJet4Text(utf8, compress, out);
  return out;
}

std::string DecodeCodePage(Bytes bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::uint8_t b : bytes) {
    if (b >= 0x80 && b <= 0x9F) {
      char16_t u = kCp1252High[b - 0x80];
      AppendUtf8(out, u == 0 ? char32_t{b} : char32_t{u});  // unmapped: the C1 control
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

int CodePageByte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
    const char32_t mapped =
        kCp1252High[i] != 0 ? char32_t{kCp1252High[i]} : static_cast<char32_t>(0x80 + i);
    if (cp == mapped) return static_cast<int>(0x80 + i);
  }
  return -1;
}

}  // namespace jet
