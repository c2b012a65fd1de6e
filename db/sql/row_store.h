// The decoded rows of a table, held compactly: every row's values one after the other in large
// blocks of bytes, instead of a vector of variants per row, so that a table of millions of rows
// takes little more memory than its values need and lets go of it in a few large blocks.
//
// A row in a block:
//
//   0  2  number of values, little-endian
//   2     the values, each a tag byte (its kind: the index of the alternative in
//         jet::Value::Storage) followed by its bytes:
//           Null                                  nothing
//           Yes/No, Byte, Integer, Long, Currency, Single, Double, Date/Time, GUID, Decimal
//                                                 the value's bytes as held in memory
//           Text (UTF-8), binary                  length (4 bytes), then the bytes
//
// Rows are added at the end and never change in place; a row's values come back exactly as they
// went in (floating-point numbers bit for bit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "db/value.h"
#include "jet/base/large_allocator.h"

namespace db::sql {

using Row = std::vector<Value>;

class RowStore {
 public:
  std::size_t size() const { return starts_.size(); }
  bool empty() const { return starts_.empty(); }

  void push_back(const Row& row);
  // The row's values (a copy).
  Row operator[](std::size_t row) const;
  // One value of a row.
  Value value(std::size_t row, std::size_t column) const;
  // Adds row `row` of `other` as it is.
  void AppendFrom(const RowStore& other, std::size_t row);

 private:
  static constexpr std::size_t kFirstBlockBytes = std::size_t{4} * 1024;
  static constexpr std::size_t kMaxBlockBytes = std::size_t{2} * 1024 * 1024;

  // Room for `size` more bytes at the end of the last block (a new block when it lacks it);
  // notes where the row that starts there begins.
  std::uint8_t* StartRow(std::size_t size);
  const std::uint8_t* RowBytes(std::size_t row) const;

  using Block = std::vector<std::uint8_t, jet::LargeBlockAllocator<std::uint8_t>>;
  std::vector<Block> blocks_;
  // Block number << 32 | offset in the block.
  std::vector<std::uint64_t, jet::LargeBlockAllocator<std::uint64_t>> starts_;
};

}  // namespace db::sql
