// Changing data pages: new pages, rows added and rows marked deleted (layout in data_page.h).
#pragma once

#include <cstdint>
#include <span>

#include "jet/base/byte_reader.h"
#include "jet/base/byte_writer.h"
#include "jet/base/format.h"
#include "jet/base/status.h"

namespace jet {

// Jet 4 data page header: 0x08 holds four unused bytes (zero).
inline constexpr std::uint8_t kDataPageMarker = 0x01;

// Makes `page` an empty data page owned by the table definition at `owner`.
void InitDataPage(MutableBytes page, const Format& format, std::uint32_t owner);

// A page this writer fills holds at most this many rows, deleted ones included: row pointers
// name the row in one byte, and Jet starts a new page at 255 rows.
inline constexpr std::size_t kMaxRowsPerWrittenPage = 255;

// The room on a data page, whose rows fill it from its end downwards.
struct DataPageRoom {
  std::size_t rows = 0;    // entries of the row offset table
  std::size_t lowest = 0;  // where the lowest row starts (0: the row table runs past the page)
  // Free bytes between the row offset table and the lowest row (what the header's free-space
  // field holds): what a new row and its 2-byte offset entry must fit into.
  std::size_t Free(const Format& format) const;
  // Whether a row of `row_size` bytes can still be added: room for its bytes and offset entry,
  // and a row number left.
  bool Takes(const Format& format, std::size_t row_size) const;
};

// The largest row an empty data page takes.
std::size_t MaxRowSize(const Format& format);

// Reads the room off the page (every row offset looked at).
DataPageRoom MeasureDataPage(Bytes page, const Format& format);

// The page's free bytes, as DataPageRoom::Free() counts them.
std::size_t DataPageFreeSpace(Bytes page, const Format& format);

// Adds a row below the lowest one and returns its row number, or an error when it does not fit
// (3047 for a row larger than any page takes, otherwise Corrupt: callers ask Takes() first).
Result<std::uint16_t> AddRowToPage(MutableBytes page, const Format& format, Bytes row);

// The same for a writer that keeps the page's room between rows: `room` must be what
// MeasureDataPage() or the previous call left in it (a row count that differs from the page's is
// refused), and is updated.
Result<std::uint16_t> AddRowToPage(MutableBytes page, const Format& format, Bytes row,
                                   DataPageRoom& room);

// Marks a row deleted, as Access does (both flag bits); its bytes stay until the page is reused.
Status MarkRowDeleted(MutableBytes page, const Format& format, std::uint16_t row);

// The rows of the page that are not deleted (moved rows and their new places count as live).
std::size_t LiveRowCount(Bytes page, const Format& format);

}  // namespace jet
