// The sort codes of characters in Jet's text sort orders, as tables of runs.
//
// Each UTF-16 code unit (Jet 4) or Windows-1252 byte (Jet 3) of a text gets a code of one kind;
// the encoder in text_sort_key.cc turns the codes of a text into its index key. The tables are
// generated (text_sort_tables.cc, by tools/make_sort_tables.py) from reference lists of Access's
// codes and cover every code unit of their order: 0000-FFFF for the Jet 4 orders, 00-FF for Jet 3.
// The lists hold no surrogates (D800-DFFF); the tables mark them kSurrogate, and the encoder
// computes their codes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

enum class SortCodeKind : std::uint8_t {
  kIgnored,      // adds nothing to the key
  kPlain,        // a primary weight only
  kAccented,     // a primary weight and a secondary (accent) weight
  kControl,      // no primary weight; noted with its position in the control part of the key
  kMark,         // a combining mark: adds `secondary` to the last accent weight
  kLetter,       // (Jet 3) a primary weight; counts as a letter position for the accent part
  kKana,         // a primary weight, an optional secondary (voicing) weight and the size mark 3
  kSmallKana,    // the same with the size mark 2
  kAccentCycle,  // groups of `group` code units sharing a primary weight: the first plain, the
                 // k-th (k >= 1) accented with `secondary + (k - 1) * accent_step`
  kSurrogate,    // a UTF-16 surrogate (D800-DFFF): no run data; text_sort_key.cc computes the
                 // code from the unit
};

// Code units from `first` up to the next run's `first` (the last run: up to the table's end)
// share a kind and field sizes. Their codes are those of `first` advanced by `step` per code
// unit: the primary weight counts (kPlain, kAccented, kLetter, kKana, kSmallKana), or the code
// (kControl, kMark); in a kAccentCycle the primary weight counts by `step` per group.
struct SortCodeRun {
  std::uint32_t primary;    // weight of `first`, big-endian in `primary_size` bytes; for more than
                            // four bytes the index of the weight in the table's `wide`
  std::uint32_t secondary;  // accent weight, control code or mark amount of `first`
  std::uint16_t first;
  std::int16_t step;
  SortCodeKind kind;
  std::uint8_t sizes;  // primary size in bytes << 4 | secondary size in bytes
  std::uint8_t group;  // kAccentCycle: code units per group
  std::uint8_t accent_step;

  std::uint8_t primary_size() const { return sizes >> 4; }
  std::uint8_t secondary_size() const { return sizes & 0x0F; }
};
static_assert(sizeof(SortCodeRun) == 16, "runs stay compact");

struct SortCodeTable {
  const SortCodeRun* runs;  // ascending by `first`, the first at 0
  std::size_t count;
  std::uint32_t end;            // one past the last code unit covered
  const std::uint64_t* wide;    // primary weights of five to eight bytes
  const std::uint16_t* blocks;  // per 256 code units (end / 256 entries): the run of the first
};

// General order of Access 2000-2007 (sort order 1033, version 0), by UTF-16 code unit.
extern const SortCodeTable kGeneralLegacyCodes;
// General order of Access 2010 and later (sort order 1033, version 1), by UTF-16 code unit.
extern const SortCodeTable kGeneralCodes;
// General order of Jet 3 (sort order 1033), by Windows-1252 byte.
extern const SortCodeTable kGeneral97Codes;

// The run holding `unit`, or null when the unit lies past the table's end.
const SortCodeRun* FindSortCode(const SortCodeTable& table, std::uint16_t unit);

}  // namespace jet
