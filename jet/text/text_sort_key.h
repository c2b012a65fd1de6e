// Index keys of text values: the bytes a text column contributes to an index entry, in the
// "General" sort orders of Jet.
//
// A text key sorts bytewise in the order Access shows: letter case is folded away, accents weigh
// less than letters, punctuation such as ' and - weighs least. Each character has a sort code
// (text_sort_tables.h); the key is built from the codes in parts.
//
// Jet 4 (General of Access 2000-2007, and of Access 2010+ with other codes):
//   primary weights     the primary weight of every plain, accented and letter character
//   01                  end of the primary part
//   accent part         only when some character has an accent or is a combining mark: one byte
//                       per character with a primary weight up to the last accented one, 02 for
//                       unaccented characters, the accent weight for accented ones; a combining
//                       mark adds its amount to the byte before it (or, at the start, stands as a
//                       byte of its own); trailing bytes 00..02 are dropped
//   then, only when the text holds kana or control characters (', -, soft hyphen, en and em dash
//   and the C0/C1 controls): 01 01 and
//     kana part         with kana: their size marks (3 normal, 2 small) without the trailing 3s,
//                       three per byte as 2-bit fields under 0x80, first mark highest; then
//                       FF 02 80 FF 80, and FF more when a control part follows
//     control part      with controls: 01, then per control character its position (2 bytes
//                       big-endian: 0x8000 | (7 + 4 * p), where p counts the accent part's bytes
//                       and the characters after it, without a leading mark byte) followed by 06
//                       and its control code
//   (a kana's voicing weight counts as its accent)
//   descending columns: 00 is appended, then every byte of the text's key is inverted
//   00                  end of the text
// Jet 3 (General, by Windows-1252 byte):
//   primary weights
//   accent nibbles      when some character has an accent: nibble 0, then for each accented
//                       character one nibble 2 per letter (kLetter) since the previous accented
//                       character and the accent weight's nibble, then nibble 0; packed high
//                       nibble first, a last odd nibble padded with 0. Without accents: byte 00.
//   descending columns: every byte inverted.
// Jet 4 keys are built from UTF-16 code units: a character past U+FFFF enters as its surrogate
// pair, each surrogate keyed on its own like an accented character (a two-byte weight computed
// from the unit, and the accent byte 3F; see SurrogateCode in text_sort_key.cc), an unpaired
// surrogate the same way. Texts are cut to their first 255 units (Jet 4) or bytes (Jet 3).
#pragma once

#include <cstdint>
#include <string_view>

#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

enum class TextSortOrder : std::uint8_t {
  kGeneralLegacy,  // Jet 4: sort order 1033 version 0 (Access 2000-2007)
  kGeneral,        // Jet 4: sort order 1033 version 1 (Access 2010 and later)
  kGeneral97,      // Jet 3: sort order 1033
};

// Characters of a text that enter its key.
inline constexpr std::size_t kTextKeyMaxChars = 255;

// Appends the key of a non-null text (UTF-8) to `key`: the bytes after the column's flag byte.
// Every text has a key in the Jet 4 orders. In Jet 3's, which keys Windows-1252 bytes, a
// character outside that code page (which a Jet 3 text cannot hold) gives a kNotSupported error
// naming it, and `key` is left unchanged. Malformed UTF-8 enters as U+FFFD.
Status AppendTextKey(std::string_view text, TextSortOrder order, bool ascending, ByteString& key);

}  // namespace jet
