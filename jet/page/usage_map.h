// Usage maps: the bitmaps that say which pages belong to a table (or index).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/file/page_store.h"

namespace jet {

// A usage map is stored in a row (found through a row pointer). Its first byte is the map type:
//   type 0 (inline):    0x01 first page covered (4), 0x05.. bitmap: bit i = page first + i
//   type 1 (reference): 0x01.. page numbers (4 each) of usage-map pages (type 0x05); the j-th
//                       map page covers (page_size - 4) * 8 pages starting at j times that, its
//                       bitmap starting at byte 4 of the page; page number 0 = no map page
// A usage-map page: 0x00 type (0x05), 0x01 always 0x01, 0x04.. bitmap.
inline constexpr std::uint8_t kUsageMapInline = 0x00;
inline constexpr std::uint8_t kUsageMapReference = 0x01;
inline constexpr std::size_t kInlineMapStartOffset = 1;
inline constexpr std::size_t kInlineMapBitmapOffset = 5;
inline constexpr std::size_t kReferenceMapPagesOffset = 1;
inline constexpr std::uint8_t kMapPageMarker = 0x01;
inline constexpr std::size_t kMapPageBitmapOffset = 4;

// The pages the map marks as used, ascending.
Result<std::vector<std::uint32_t>> ReadUsageMap(const PageStore& store, RowPointer where);

}  // namespace jet
