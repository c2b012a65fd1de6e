#include "jet/text/text_sort_key.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "jet/base/byte_writer.h"
#include "jet/text/text_codec.h"
#include "jet/text/text_sort_tables.h"
#include "jet/text/unicode.h"

namespace jet {
namespace {

constexpr std::uint8_t kEndOfPrimary = 0x01;  // Jet 4: after the primary weights
constexpr std::uint8_t kEndOfText = 0x00;     // Jet 4: last byte; Jet 3: no accents
constexpr std::uint8_t kUnaccented = 0x02;    // accent byte (nibble in Jet 3) of a plain character
// Two of these open the kana and control parts, one more the control part itself.
constexpr std::uint8_t kSeparator = 0x01;
constexpr std::uint16_t kControlPositionFlag = 0x8000;
constexpr std::uint16_t kControlPositionBase = 7;
constexpr std::uint16_t kControlPositionStep = 4;
constexpr std::uint8_t kControlCodeMarker = 0x06;
constexpr std::uint8_t kAccentNibbleBound = 0x0;  // Jet 3: first and last accent nibble
constexpr std::uint8_t kKanaMarkNormal = 3;
constexpr std::uint8_t kKanaMarkSmall = 2;
constexpr std::uint8_t kKanaMarkByte = 0x80;  // three 2-bit marks in its low six bits
constexpr std::uint8_t kKanaPartEnd[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr std::uint8_t kKanaBeforeControls = 0xFF;
// UTF-16: a code point past U+FFFF is the pair (high, low) of its offset's upper and lower ten
// bits.
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kHighSurrogateBase = 0xD800;
constexpr char32_t kLowSurrogateBase = 0xDC00;
// Jet 4: a surrogate code unit, paired or not, keys like an accented character: a two-byte weight
// and the accent byte 3F. A high surrogate weighs its unit less 10238 (D800 -> B002). A low one
// weighs its unit less an amount that falls by 2 from band to band of its offset in DC00-DFFF: 9992
// for the first 8 units, then 9990, 9988 and 9986 for 254 units each, 9984 for the rest; so the low
// byte of its weight skips 00 and 01 (DC07 -> B4FF, DC08 -> B502, ..., DFFF -> B8FF).
constexpr std::uint16_t kHighSurrogateWeightOffset = 10238;
constexpr std::uint16_t kLowSurrogateWeightOffset = 9992;  // of the first band
constexpr std::uint16_t kLowSurrogateFirstBand = 8;        // units in the first band
constexpr std::uint16_t kLowSurrogateBand = 254;           // units in each band after it
constexpr std::uint16_t kLowSurrogateLastBand = 4;
constexpr std::uint16_t kLowSurrogateBandStep = 2;
constexpr std::uint8_t kSurrogateAccent = 0x3F;
constexpr std::uint8_t kSurrogateWeightSize = 2;

std::string CodePointName(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

Status Unsupported(char32_t cp, TextSortOrder order) {
  const char* name = order == TextSortOrder::kGeneralLegacy ? "Allgemein (Access 2000-2007)"
                     : order == TextSortOrder::kGeneral     ? "Allgemein (ab Access 2010)"
                                                            : "Allgemein (Jet 3)";
  return Status(ErrorCode::kNotSupported, "Das Zeichen " + CodePointName(cp) +
                                              " kann im Textindex der Sortierfolge " + name +
                                              " nicht abgebildet werden.");
}

// The codes of one unit, worked out from its run (see text_sort_tables.h).
struct SortCode {
  SortCodeKind kind;
  std::uint8_t primary_size;
  std::uint64_t primary;
  std::uint8_t secondary_size;
  std::uint32_t secondary;
};

// The code of a surrogate code unit (D800-DFFF).
SortCode SurrogateCode(std::uint16_t unit) {
  unsigned offset = kHighSurrogateWeightOffset;
  if (unit >= kLowSurrogateBase) {
    const unsigned o = unit - kLowSurrogateBase;
    const unsigned band =
        o < kLowSurrogateFirstBand
            ? 0
            : std::min<unsigned>(kLowSurrogateLastBand,
                                 1 + (o - kLowSurrogateFirstBand) / kLowSurrogateBand);
    offset = kLowSurrogateWeightOffset - kLowSurrogateBandStep * band;
  }
  return {SortCodeKind::kAccented, kSurrogateWeightSize, unit - offset, 1, kSurrogateAccent};
}

SortCode CodeOf(const SortCodeTable& table, const SortCodeRun& run, std::uint16_t unit) {
  if (run.kind == SortCodeKind::kSurrogate) return SurrogateCode(unit);
  SortCode c{run.kind, run.primary_size(), run.primary, run.secondary_size(), run.secondary};
  if (c.primary_size > sizeof run.primary) {
    c.primary = table.wide[run.primary];  // wide weights never count
    return c;
  }
  const std::uint32_t n = static_cast<std::uint32_t>(unit - run.first);
  // Steps may be negative: the sums wrap around to the right weight.
  const auto advance = [&run](std::uint32_t times) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(run.step) *
                                      static_cast<std::int32_t>(times));
  };
  switch (run.kind) {
    case SortCodeKind::kIgnored:
    case SortCodeKind::kSurrogate:  // handled above
      break;
    case SortCodeKind::kControl:
    case SortCodeKind::kMark:
      c.secondary += advance(n);
      break;
    case SortCodeKind::kAccentCycle: {
      c.primary = static_cast<std::uint32_t>(c.primary + advance(n / run.group));
      const std::uint32_t k = n % run.group;
      if (k == 0) {
        c.kind = SortCodeKind::kPlain;
        c.secondary_size = 0;
        c.secondary = 0;
      } else {
        c.kind = SortCodeKind::kAccented;
        c.secondary += (k - 1) * run.accent_step;
      }
      break;
    }
    default:
      c.primary = static_cast<std::uint32_t>(c.primary + advance(n));
      break;
  }
  return c;
}

// The codes of the text's units: UTF-16 code units (Jet 4; a code point past U+FFFF enters as its
// surrogate pair, a surrogate that UTF-8 carries alone as itself) or Windows-1252 bytes (Jet 3), at
// most kTextKeyMaxChars of them.
Status CodesOf(std::string_view text, TextSortOrder order, const SortCodeTable& table,
               std::vector<SortCode>& codes) {
  const auto add = [&](std::uint16_t unit) -> Status {
    const SortCodeRun* run = FindSortCode(table, unit);
    if (run == nullptr) return Unsupported(unit, order);  // not reached: the tables are whole
    codes.push_back(CodeOf(table, *run, unit));
    return Status::Ok();
  };
  for (std::size_t pos = 0; pos < text.size() && codes.size() < kTextKeyMaxChars;) {
    char32_t cp = NextCodePoint(text, pos);
    if (order == TextSortOrder::kGeneral97) {
      // A Jet 3 text holds only Windows-1252 characters; others cannot reach its index.
      const int b = CodePageByte(cp);
      if (b < 0) return Unsupported(cp, order);
      JET_RETURN_IF_ERROR(add(static_cast<std::uint16_t>(b)));
      continue;
    }
    if (cp > kLastCodePoint) cp = kReplacementCharacter;
    if (cp <= 0xFFFF) {
      JET_RETURN_IF_ERROR(add(static_cast<std::uint16_t>(cp)));
      continue;
    }
    const char32_t v = cp - kFirstSupplementary;
    JET_RETURN_IF_ERROR(add(static_cast<std::uint16_t>(kHighSurrogateBase + (v >> 10))));
    if (codes.size() < kTextKeyMaxChars) {
      JET_RETURN_IF_ERROR(add(static_cast<std::uint16_t>(kLowSurrogateBase + (v & 0x3FF))));
    }
  }
  return Status::Ok();
}

const SortCodeTable& TableFor(TextSortOrder order) {
  switch (order) {
    case TextSortOrder::kGeneralLegacy:
      return kGeneralLegacyCodes;
    case TextSortOrder::kGeneral:
      return kGeneralCodes;
    case TextSortOrder::kGeneral97:
      break;
  }
  return kGeneral97Codes;
}

// Jet 4: see text_sort_key.h for the parts.
void AppendJet4Key(const std::vector<SortCode>& codes, ByteString& key) {
  ByteString accents;
  bool accents_started = false;
  std::size_t accent_chars = 0;  // characters the accent part speaks for
  std::size_t leading_mark = 0;  // 1 when the accent part starts with a mark's own byte
  ByteString controls;
  std::vector<std::uint8_t> kana_marks;
  std::size_t position = 0;  // characters with a primary weight so far
  for (const SortCode& c : codes) {
    const std::size_t here = position;
    if (c.primary_size > 0) {
      ByteWriter(key).AppendBigEndian(c.primary, c.primary_size);
      ++position;
    }
    const bool kana = c.kind == SortCodeKind::kKana || c.kind == SortCodeKind::kSmallKana;
    if (kana)
      kana_marks.push_back(c.kind == SortCodeKind::kKana ? kKanaMarkNormal : kKanaMarkSmall);
    if (c.kind == SortCodeKind::kAccented || c.kind == SortCodeKind::kMark ||
        (kana && c.secondary_size > 0)) {
      accents_started = true;
      if (accent_chars < here) {
        accents.insert(accents.end(), here - accent_chars, kUnaccented);
        accent_chars = here;
      }
      if (c.kind != SortCodeKind::kMark) {
        ByteWriter(accents).AppendBigEndian(c.secondary, c.secondary_size);
        ++accent_chars;
      } else if (!accents.empty()) {
        accents.back() = static_cast<std::uint8_t>(accents.back() + c.secondary);
      } else {
        accents.push_back(static_cast<std::uint8_t>(c.secondary));
        leading_mark = 1;
      }
    } else if (c.kind == SortCodeKind::kControl) {
      std::size_t p = here;
      if (accents_started) p = accents.size() + (here - accent_chars) - leading_mark;
      const auto at = static_cast<std::uint16_t>(kControlPositionFlag |
                                                 (kControlPositionBase + kControlPositionStep * p));
      ByteWriter(controls).AppendBigEndian(at, 2);
      controls.push_back(kControlCodeMarker);
      ByteWriter(controls).AppendBigEndian(c.secondary, c.secondary_size);
    }
  }
  key.push_back(kEndOfPrimary);
  while (!accents.empty() && accents.back() <= kUnaccented) accents.pop_back();
  key.insert(key.end(), accents.begin(), accents.end());
  if (controls.empty() && kana_marks.empty()) return;
  key.insert(key.end(), 2, kSeparator);
  if (!kana_marks.empty()) {
    while (!kana_marks.empty() && kana_marks.back() == kKanaMarkNormal) kana_marks.pop_back();
    for (std::size_t i = 0; i < kana_marks.size(); i += 3) {
      std::uint8_t b = kKanaMarkByte;
      for (std::size_t j = 0; j < 3 && i + j < kana_marks.size(); ++j) {
        b = static_cast<std::uint8_t>(b | (kana_marks[i + j] << (2 * (2 - j))));
      }
      key.push_back(b);
    }
    key.insert(key.end(), std::begin(kKanaPartEnd), std::end(kKanaPartEnd));
    if (!controls.empty()) key.push_back(kKanaBeforeControls);
  }
  if (!controls.empty()) {
    key.push_back(kSeparator);
    key.insert(key.end(), controls.begin(), controls.end());
  }
}

// Jet 3: see text_sort_key.h for the parts.
void AppendJet3Key(const std::vector<SortCode>& codes, ByteString& key) {
  std::vector<std::uint8_t> nibbles;
  std::size_t letters = 0;  // letters since the last accented character
  for (const SortCode& c : codes) {
    if (c.primary_size > 0) ByteWriter(key).AppendBigEndian(c.primary, c.primary_size);
    if (c.kind == SortCodeKind::kLetter) {
      ++letters;
    } else if (c.kind == SortCodeKind::kAccented) {
      if (nibbles.empty()) nibbles.push_back(kAccentNibbleBound);
      nibbles.insert(nibbles.end(), letters, kUnaccented);
      nibbles.push_back(static_cast<std::uint8_t>(c.secondary & 0x0F));
      letters = 0;
    }
  }
  if (nibbles.empty()) {
    key.push_back(kEndOfText);
    return;
  }
  nibbles.push_back(kAccentNibbleBound);
  for (std::size_t i = 0; i < nibbles.size(); i += 2) {
    const std::uint8_t low = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
    key.push_back(static_cast<std::uint8_t>((nibbles[i] << 4) | low));
  }
}

}  // namespace

const SortCodeRun* FindSortCode(const SortCodeTable& table, std::uint16_t unit) {
  if (unit >= table.end) return nullptr;
  // The block's first run holds its first unit; the next block's first run ends the search.
  const std::size_t block = unit >> 8;
  const SortCodeRun* lo = table.runs + table.blocks[block];
  const SortCodeRun* hi = block + 1 < (table.end >> 8) ? table.runs + table.blocks[block + 1] + 1
                                                       : table.runs + table.count;
  const SortCodeRun* it = std::upper_bound(
      lo, hi, unit, [](std::uint16_t u, const SortCodeRun& r) { return u < r.first; });
  return it - 1;
}

Status AppendTextKey(std::string_view text, TextSortOrder order, bool ascending, ByteString& key) {
  const SortCodeTable& table = TableFor(order);
  thread_local std::vector<SortCode> codes;
  codes.clear();
  JET_RETURN_IF_ERROR(CodesOf(text, order, table, codes));
  const std::size_t start = key.size();
  if (order == TextSortOrder::kGeneral97) {
    AppendJet3Key(codes, key);
  } else {
    AppendJet4Key(codes, key);
    if (!ascending) key.push_back(kEndOfText);
  }
  if (!ascending) {
    for (std::size_t i = start; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(~key[i]);
  }
  if (order != TextSortOrder::kGeneral97) key.push_back(kEndOfText);
  return Status::Ok();
}

}  // namespace jet
