// Long values: the data of Memo and OLE columns.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/status.h"
#include "jet/file/page_store.h"

namespace jet {

// A long-value field in a row starts with a 12-byte head:
//   0x00 3  total length of the value in bytes
//   0x03 1  kind: 0x80 the data follows the head inline, 0x40 the data is the whole row that the
//           pointer names, 0x00 the data is a chain of rows starting at the pointer, each row a
//           4-byte pointer to the next row (0 = last) followed by a piece of the data
//   0x04 4  row pointer (kinds 0x40 and 0x00)
//   0x08 4  unused
//   0x0C    inline data (kind 0x80)
inline constexpr std::size_t kLongValueHeadSize = 12;
inline constexpr std::uint8_t kLongValueInline = 0x80;
inline constexpr std::uint8_t kLongValueSinglePage = 0x40;
inline constexpr std::uint8_t kLongValueChain = 0x00;
inline constexpr std::size_t kLongValueKindOffset = 3;
inline constexpr std::size_t kLongValuePointerOffset = 4;
inline constexpr std::size_t kChainNextSize = 4;

// The value's bytes, assembled from wherever they are stored.
Result<std::vector<std::uint8_t>> ReadLongValue(const PageStore& store, Bytes field);

}  // namespace jet
