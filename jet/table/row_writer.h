// Encoding of a table row (Jet 4), the inverse of row_reader.h.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/table/table_def.h"

namespace jet {

// The stored bytes of one non-Null value of a fixed or variable column (not Yes/No, not a long
// value). Fails when the value is not of the column's kind or does not fit the column.
Result<std::vector<std::uint8_t>> EncodeColumnData(const Column& column, const Value& value);
// The same, appended to `out`.
Status AppendColumnData(const Column& column, const Value& value, ByteString& out);

// Encodes a row in the layout row_reader.h describes. `values` follow table.columns and are Null
// or of each column's kind; a long-value column takes its stored field (the 12-byte head and any
// inline data) from `long_fields` at the same position. Fails for Jet 3 and for values that do
// not fit.
Result<std::vector<std::uint8_t>> EncodeRow(const Format& format, const TableDef& table,
                                            const std::vector<Value>& values,
                                            const std::vector<ByteString>& long_fields);

// EncodeRow() for a writer that encodes many rows: its buffers are kept from row to row.
class RowEncoder {
 public:
  // Encodes into `row` (replacing what it held) as EncodeRow() does.
  Status Encode(const Format& format, const TableDef& table, const std::vector<Value>& values,
                const std::vector<ByteString>& long_fields, std::vector<std::uint8_t>& row);

 private:
  // What the row's frame needs from the table's columns, worked out once per table.
  struct Layout {
    const TableDef* table = nullptr;
    std::size_t columns = 0;      // of the definition, to notice another one at the same place
    std::size_t row_columns = 0;  // the column count the row states
    std::size_t fixed_size = 0;   // bytes of the fixed part
    std::size_t var_count = 0;    // variable columns, by their highest slot
    bool numbers_only = false;    // every column a fixed number or Yes/No (no variable part)
  };
  // The row of a table of numbers and Yes/No columns only, without the general path's buffers.
  // False when a value needs the general path (which also names any mismatch).
  bool EncodeNumbers(const Format& format, const TableDef& table, const Layout& layout,
                     const std::vector<Value>& values, std::vector<std::uint8_t>& row);
  const Layout& LayoutOf(const TableDef& table);

  Layout layout_;
  ByteString mask_;
  ByteString var_bytes_;
  ByteString fixed_;
  std::vector<std::pair<std::size_t, std::size_t>> var_ranges_;
  std::vector<std::size_t> offsets_;
};

}  // namespace jet
