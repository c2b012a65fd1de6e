#include "jet/page/data_page_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "jet/page/data_page.h"

namespace jet {
namespace {

// Where the lowest row starts: rows fill the page from its end downwards. A row table that runs
// past the page leaves no room (0).
std::size_t LowestRowStart(Bytes page, const Format& f, std::size_t rows) {
  const std::size_t table = f.data_row_table_offset;
  if (table + 2 * rows > page.size()) return 0;
  ByteReader in(page);
  std::size_t lowest = page.size();
  for (std::size_t at = table; at < table + 2 * rows; at += 2) {
    const std::size_t start = in.U16(at) & kRowOffsetMask;
    lowest = std::min(lowest, start);
  }
  return lowest;
}

}  // namespace

void InitDataPage(MutableBytes page, const Format& f, std::uint32_t owner) {
  std::fill(page.begin(), page.end(), 0);
  ByteWriter out(page);
  out.Put8(0, static_cast<std::uint8_t>(PageType::kData));
  out.Put8(1, kDataPageMarker);
  out.Put16(kDataPageFreeSpaceOffset,
            static_cast<std::uint16_t>(f.page_size - f.data_row_table_offset));
  out.Put32(kDataPageOwnerOffset, owner);
}

std::size_t DataPageRoom::Free(const Format& f) const {
  const std::size_t table_end = f.data_row_table_offset + 2 * rows;
  return lowest > table_end ? lowest - table_end : 0;
}

bool DataPageRoom::Takes(const Format& f, std::size_t row_size) const {
  return rows < kMaxRowsPerWrittenPage && Free(f) >= row_size + 2;
}

std::size_t MaxRowSize(const Format& f) { return f.page_size - f.data_row_table_offset - 2; }

DataPageRoom MeasureDataPage(Bytes page, const Format& f) {
  ByteReader in(page);
  DataPageRoom room;
  room.rows = in.U16(f.data_row_count_offset);
  room.lowest = LowestRowStart(page, f, room.rows);
  return room;
}

std::size_t DataPageFreeSpace(Bytes page, const Format& f) {
  return MeasureDataPage(page, f).Free(f);
}

Result<std::uint16_t> AddRowToPage(MutableBytes page, const Format& f, Bytes row) {
  DataPageRoom room = MeasureDataPage(page, f);
  return AddRowToPage(page, f, row, room);
}

Result<std::uint16_t> AddRowToPage(MutableBytes page, const Format& f, Bytes row,
                                   DataPageRoom& room) {
  ByteReader in(page);
  const std::size_t rows = in.U16(f.data_row_count_offset);
  if (rows != room.rows || room.lowest > page.size()) {
    return Status::Corrupt("Die Datenseite wurde unerwartet verändert.");
  }
  const std::size_t table_end = f.data_row_table_offset + 2 * rows;
  if (row.size() > MaxRowSize(f)) {
    return Status(ErrorCode::kRecordTooLarge, "Der Datensatz ist zu groß.");
  }
  if (!room.Takes(f, row.size())) {
    return Status(ErrorCode::kRecordTooLarge, "Der Datensatz passt nicht mehr auf die Seite.");
  }
  const std::size_t start = room.lowest - row.size();
  std::memcpy(page.data() + start, row.data(), row.size());
  ByteWriter out(page);
  out.Put16(f.data_row_table_offset + 2 * rows, static_cast<std::uint16_t>(start));
  out.Put16(f.data_row_count_offset, static_cast<std::uint16_t>(rows + 1));
  out.Put16(kDataPageFreeSpaceOffset, static_cast<std::uint16_t>(start - (table_end + 2)));
  room.rows = rows + 1;
  room.lowest = start;
  return static_cast<std::uint16_t>(rows);
}

Status MarkRowDeleted(MutableBytes page, const Format& f, std::uint16_t row) {
  ByteReader in(page);
  const std::size_t rows = in.U16(f.data_row_count_offset);
  if (row >= rows) {
    return Status::Corrupt("Zeile " + std::to_string(row) + " gibt es auf der Seite nicht.");
  }
  const std::size_t at = f.data_row_table_offset + 2 * std::size_t{row};
  ByteWriter(page).Put16(
      at, static_cast<std::uint16_t>(in.U16(at) | kRowDeletedFlag | kRowOverflowFlag));
  return Status::Ok();
}

std::size_t LiveRowCount(Bytes page, const Format& f) {
  ByteReader in(page);
  const std::size_t rows = in.U16(f.data_row_count_offset);
  std::size_t live = 0;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::uint16_t flags = in.U16(f.data_row_table_offset + 2 * r) & ~kRowOffsetMask;
    if (flags != (kRowDeletedFlag | kRowOverflowFlag)) ++live;
  }
  return live;
}

}  // namespace jet
