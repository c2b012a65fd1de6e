// Rows on data pages, located by page and row number.
#pragma once

#include <cstdint>

#include "jet/base/byte_reader.h"
#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/file/page_store.h"

namespace jet {

// Data page layout:
//   Jet 4: 0x00 type (0x01), 0x01 always 0x01, 0x02 free space (2), 0x04 owning table definition
//          page (4), 0x08 unknown (4), 0x0C row count (2), 0x0E row offset table (2 bytes a row)
//   Jet 3: same up to 0x08, then 0x08 row count (2), 0x0A row offset table
// A row offset holds the row's start in its low 13 bits; bit 15 marks a deleted row and bit 14 a
// row that moved: its bytes are then a 4-byte row pointer to where the row lives now. The row at
// the pointer's target carries bit 15 as well, so that a scan skips it and meets it only through
// the pointer; a scan therefore skips every row with bit 15 and follows every pointer. Rows are
// stored from the end of the page downwards: row i ends where row i-1 starts (row 0 ends at the
// page end).
inline constexpr std::size_t kDataPageFreeSpaceOffset = 0x02;
inline constexpr std::size_t kDataPageOwnerOffset = 0x04;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr std::uint16_t kRowDeletedFlag = 0x8000;
inline constexpr std::uint16_t kRowOverflowFlag = 0x4000;
// Row pointers hold the row number in one byte: a data page never has more rows than this.
inline constexpr std::uint16_t kMaxRowsPerDataPage = 256;

struct RowSlot {
  Bytes data;             // the row's bytes (for a moved row: the 4-byte pointer)
  bool deleted = false;   // deleted, or the target of a moved row (read only through its pointer)
  bool overflow = false;  // `data` is a row pointer to the row's new place
};

class DataPage {
 public:
  // Checks the page type; `number` is for error messages.
  static Result<DataPage> Open(const PageStore& store, std::uint32_t number);

  std::uint32_t number() const { return number_; }
  std::uint32_t owner() const;
  std::uint16_t row_count() const { return row_count_; }
  // The row's bytes and flags; corrupt offsets give an error naming page and row.
  Result<RowSlot> Row(std::uint16_t row) const;

 private:
  DataPage(const Format& format, std::uint32_t number, Bytes page)
      : format_(&format), number_(number), page_(page) {}

  const Format* format_;
  std::uint32_t number_;
  Bytes page_;
  std::uint16_t row_count_ = 0;
};

// The bytes of the row a pointer names, following no moves (long values and usage maps).
Result<Bytes> ReadRowAt(const PageStore& store, RowPointer where);

}  // namespace jet
