// Index keys: the bytes of an index entry in front of its row pointer, built from a row's values.
//
// A key is the concatenation of one part per index column, in the index's column order. Keys sort
// bytewise in the index's order, so every part is built to sort that way:
//
//   flag byte   present value: 0x7F ascending, 0x80 descending
//               Null:          0x00 ascending, 0xFF descending; nothing follows
//   value bytes (ascending; a descending column has them inverted, except where noted)
//     Yes/No            00 for Yes, FF for No; never Null (the flag is always "present")
//     Byte              the byte
//     Integer, Long     big-endian two's complement with the sign bit flipped
//     Currency          the same, over the 8-byte count of ten-thousandths
//     Single, Double,   big-endian IEEE 754: for a value without the sign bit the sign bit is set,
//     Date/Time         for one with the sign bit all bits are inverted
//     Text, Memo        see text_sort_key.h (the first 255 characters)
//     Replication ID    the 16 bytes in text order (first three groups big-endian), in two groups
//                       of 8 each followed by a length byte: 09 after the first ("more follows"),
//                       08 after the last; descending inverts all but the 09
// Other column types (Binary, OLE, Decimal) are refused with kNotSupported.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/header.h"
#include "jet/table/table_def.h"
#include "jet/text/text_sort_key.h"

namespace jet {

inline constexpr std::uint8_t kKeyPresentAscending = 0x7F;
inline constexpr std::uint8_t kKeyPresentDescending = 0x80;
inline constexpr std::uint8_t kKeyNullAscending = 0x00;
inline constexpr std::uint8_t kKeyNullDescending = 0xFF;
inline constexpr std::uint8_t kKeyYes = 0x00;
inline constexpr std::uint8_t kKeyNo = 0xFF;
inline constexpr std::uint16_t kGeneralSortOrder = 1033;

// The sort order of a text column's keys: the column's own (the database's when the column names
// none). Jet 4 knows General of Access 2000-2007 (version 0) and of Access 2010+ (version 1), Jet
// 3 its General; other sort orders give kNotSupported.
Result<TextSortOrder> TextSortOrderOf(const Column& column, const Header& header);

// Appends the key part of one column's value (flag byte and value bytes).
Status AppendKeyColumn(const Column& column, bool ascending, const Value& value,
                       const Header& header, ByteString& key);

// Appends the key part of a present value of a fixed-size number column (Byte, Integer, Long,
// Currency, Single, Double, Date/Time) straight from its stored bytes, as AppendKeyColumn()
// appends it for the decoded value; returns false, appending nothing, for other columns.
bool AppendStoredNumberKey(const Column& column, bool ascending, Bytes stored, ByteString& key);
// The same key part as a number: `size` value bytes (after the flag byte kKeyPresentAscending or
// kKeyPresentDescending), most significant first, in the low bytes of `value`.
bool StoredNumberKey(const Column& column, bool ascending, Bytes stored, std::uint64_t& value,
                     std::size_t& size);

// Appends the key of a row for an index to `key`; `row` holds the table's values in the order of
// table.columns, as TableScan yields them (only the index's columns are read).
Status AppendIndexKey(const TableDef& table, const RealIndex& index, const std::vector<Value>& row,
                      const Header& header, ByteString& key);

// The key of a row for an index, as AppendIndexKey() builds it.
Result<ByteString> EncodeIndexKey(const TableDef& table, const RealIndex& index,
                                  const std::vector<Value>& row, const Header& header);

// True when every column of the index is Null in `row`: an index that ignores Nulls has no entry
// for such a row. (Yes/No columns are never Null.)
bool AllKeyColumnsNull(const TableDef& table, const RealIndex& index,
                       const std::vector<Value>& row);

}  // namespace jet
