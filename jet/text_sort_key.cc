#include "jet/text_sort_key.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "jet/text_codec.h"
#include "jet/text_sort_tables.h"
#include "jet/unicode.h"

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

void AppendBigEndian(ByteString& out, std::uint64_t value, std::size_t size) {
  for (std::size_t i = size; i > 0; --i)
    out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
}

// The codes of one unit: the run's codes advanced to `unit` when the run counts up.
struct SortCode {
  SortCodeKind kind;
  std::uint8_t primary_size;
  std::uint64_t primary;
  std::uint8_t secondary_size;
  std::uint32_t secondary;
};

SortCode CodeOf(const SortCodeRun& run, std::uint16_t unit) {
  SortCode c{run.kind, run.primary_size, run.primary, run.secondary_size, run.secondary};
  const std::uint32_t n = run.step * static_cast<std::uint32_t>(unit - run.first);
  if (run.kind == SortCodeKind::kControl) {
    c.secondary += n;
  } else {
    c.primary += n;
  }
  return c;
}

// The text as units of the order's table: UTF-16 code units (Jet 4) or Windows-1252 bytes (Jet 3).
Result<std::vector<std::uint16_t>> Units(std::string_view text, TextSortOrder order) {
  std::vector<std::uint16_t> units;
  for (std::size_t pos = 0; pos < text.size() && units.size() < kTextKeyMaxChars;) {
    const char32_t cp = NextCodePoint(text, pos);
    if (order == TextSortOrder::kGeneral97) {
      const int b = CodePageByte(cp);
      if (b < 0) return Unsupported(cp, order);
      units.push_back(static_cast<std::uint16_t>(b));
    } else {
      if (cp > 0xFFFF) return Unsupported(cp, order);  // no table covers surrogate pairs
      units.push_back(static_cast<std::uint16_t>(cp));
    }
  }
  return units;
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
      AppendBigEndian(key, c.primary, c.primary_size);
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
        AppendBigEndian(accents, c.secondary, c.secondary_size);
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
      AppendBigEndian(controls, at, 2);
      controls.push_back(kControlCodeMarker);
      AppendBigEndian(controls, c.secondary, c.secondary_size);
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
    if (c.primary_size > 0) AppendBigEndian(key, c.primary, c.primary_size);
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
  const SortCodeRun* end = table.runs + table.count;
  const SortCodeRun* it = std::upper_bound(
      table.runs, end, unit, [](std::uint16_t u, const SortCodeRun& r) { return u < r.first; });
  if (it == table.runs) return nullptr;
  --it;
  return unit <= it->last ? it : nullptr;
}

Status AppendTextKey(std::string_view text, TextSortOrder order, bool ascending, ByteString& key) {
  JET_ASSIGN_OR_RETURN(std::vector<std::uint16_t> units, Units(text, order));
  const SortCodeTable& table = TableFor(order);
  std::vector<SortCode> codes;
  codes.reserve(units.size());
  for (std::uint16_t u : units) {
    const SortCodeRun* run = FindSortCode(table, u);
    if (run == nullptr) return Unsupported(u, order);
    codes.push_back(CodeOf(*run, u));
  }
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
