// The sort codes of characters in Jet's text sort orders, as run-length tables.
//
// Each character of a text gets a code of one kind; the encoder in text_sort_key.cc turns the codes
// of a text into its index key. The tables are generated (text_sort_tables.cc, by
// tools/make_sort_tables.py) and hold only the code points of their ranges; a code point without a
// run is one the encoder does not know.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

enum class SortCodeKind : std::uint8_t {
  kIgnored,    // adds nothing to the key
  kPlain,      // a primary weight only
  kAccented,   // a primary weight and a secondary (accent) weight
  kControl,    // no primary weight; noted with its position in the control part of the key
  kMark,       // a combining mark: adds `secondary` to the last accent weight
  kLetter,     // (Jet 3) a primary weight; counts as a letter position for the accent part
  kKana,       // a primary weight, an optional secondary (voicing) weight and the size mark 3
  kSmallKana,  // the same with the size mark 2
};

// Code points first..last share a kind and field sizes. A run with step 0 gives all of them the
// codes of `first`; with step 1 the primary weight (kPlain, kLetter) or the control code
// (kControl) counts up by one per code point.
struct SortCodeRun {
  std::uint16_t first;
  std::uint16_t last;
  SortCodeKind kind;
  std::uint8_t primary_size;  // bytes, big-endian in `primary`
  std::uint64_t primary;      // weight of `first`
  std::uint8_t secondary_size;
  std::uint32_t secondary;  // accent weight, control code or mark amount of `first`
  std::uint8_t step;        // 0 or 1
};

struct SortCodeTable {
  const SortCodeRun* runs;  // ascending, not overlapping
  std::size_t count;
};

// General order of Access 2000-2007 (sort order 1033, version 0), by UTF-16 code unit.
extern const SortCodeTable kGeneralLegacyCodes;
// General order of Access 2010 and later (sort order 1033, version 1), by UTF-16 code unit.
extern const SortCodeTable kGeneralCodes;
// General order of Jet 3 (sort order 1033), by Windows-1252 byte.
extern const SortCodeTable kGeneral97Codes;

// The run holding `unit`, or null when the table does not cover it.
const SortCodeRun* FindSortCode(const SortCodeTable& table, std::uint16_t unit);

}  // namespace jet
