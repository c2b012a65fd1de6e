// Decoding of a table row into values.
#pragma once

#include <span>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/page_store.h"
#include "jet/table/table_def.h"

namespace jet {

// Row layout (Jet 4; Jet 3 in brackets where it differs):
//   0x00  2 (1)  number of columns the row was written with
//   then the fixed-length columns, each at 2 (1) + its fixed offset
//   then the variable-length data
//   from the end backwards:
//     null mask: ceil(columns / 8) bytes at the very end; bit n of it is set when column number n
//       holds a value (for Yes/No columns the bit is the value itself)
//     Jet 4: variable column count (2), then the offsets (2 each, counted from the row start) of
//       the variable columns 0, 1, ... and one past the last, running backwards
//     Jet 3: variable column count (1), then a jump table (1 each: the variable column numbers at
//       which offsets pass another multiple of 256), then the offsets (low byte, 1 each) running
//       backwards; the number of jumps is (row length - 1) / 256, less one when the last is unused
// A column whose number or variable slot lies past what the row holds was added later: Null.

// One column's place in a stored row.
struct FieldSlot {
  bool bit = false;     // its null-mask bit (for Yes/No columns: the value)
  bool stored = false;  // it holds bytes (false: Null, or added after the row was written)
  Bytes data;           // fixed bytes, variable bytes, or a long value's field
};

struct RowFields {
  std::size_t row_columns = 0;           // the column count the row was written with
  std::vector<std::size_t> var_offsets;  // variable offsets, one past the last included
  std::vector<FieldSlot> fields;         // in the order of table.columns
};

// Locates every column of `table` in the row's bytes, checking every bound. With `only` (positions
// in table.columns), just those columns are located; the other fields are left as they were.
Status SplitRow(const Format& format, const TableDef& table, Bytes row, RowFields& out,
                std::span<const std::size_t> only = {});

inline constexpr std::size_t kGuidSize = 16;
inline constexpr std::size_t kDecimalSize = 17;  // sign byte, then four 32-bit words

// A number column stored in the fixed part of a row: Byte, Integer, Long, Currency, Single,
// Double or Date/Time (not Yes/No, which lives in the null mask).
inline bool IsFixedNumber(const Column& column) {
  switch (column.type()) {
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return column.fixed();
    default:
      return false;
  }
}

// Bytes a fixed column of this type occupies (text and binary use the column's length).
inline std::size_t FixedSize(const Column& column) {
  switch (column.type()) {
    case ColumnType::kBoolean:
      return 0;
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInteger:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return 8;
    case ColumnType::kGuid:
      return kGuidSize;
    case ColumnType::kDecimal:
      return kDecimalSize;
    default:
      return column.length;
  }
}

// Decodes every column of `table` (in the order of table.columns) from `row` into `out`.
Status DecodeRow(const PageStore& store, const TableDef& table, Bytes row, std::vector<Value>& out);

// Decodes one column's stored bytes (fixed or variable part, not Yes/No).
Result<Value> DecodeColumnData(const PageStore& store, const Column& column, Bytes data);

}  // namespace jet
