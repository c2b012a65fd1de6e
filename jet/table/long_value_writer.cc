#include "jet/table/long_value_writer.h"

#include <algorithm>
#include <set>
#include <string>

#include "jet/base/byte_writer.h"
#include "jet/page/data_page.h"
#include "jet/page/data_page_writer.h"
#include "jet/page/long_value.h"

namespace jet {
namespace {

std::vector<std::uint8_t> Head(std::size_t length, std::uint8_t kind, RowPointer where) {
  std::vector<std::uint8_t> head;
  ByteWriter out(head);
  out.Append24(static_cast<std::uint32_t>(length));
  out.Append8(kind);
  out.Append32(where.Raw());
  out.Append32(0);
  return head;
}

}  // namespace

const LongValueMaps* LongValueWriter::MapsOf(const Column& column) const {
  for (const LongValueMaps& m : table_->long_value_maps) {
    if (m.column_number == column.number) return &m;
  }
  return nullptr;
}

Result<RowPointer> LongValueWriter::AddLvalRow(const Column& column, Bytes row) {
  const Format& f = store_->format();
  if (current_page_ != 0) {
    JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> page, store_->MutablePage(current_page_));
    if (MeasureDataPage(page, f).Takes(f, row.size())) {
      JET_ASSIGN_OR_RETURN(std::uint16_t r, AddRowToPage(page, f, row));
      return RowPointer{current_page_, static_cast<std::uint8_t>(r)};
    }
  }
  JET_ASSIGN_OR_RETURN(current_page_, allocator_->Allocate());
  JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> page, store_->MutablePage(current_page_));
  InitDataPage(page, f, kLongValueOwner);
  if (const LongValueMaps* maps = MapsOf(column)) {
    JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *allocator_, maps->used, current_page_, true));
    JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *allocator_, maps->free, current_page_, true));
    JET_ASSIGN_OR_RETURN(page, store_->MutablePage(current_page_));
  }
  JET_ASSIGN_OR_RETURN(std::uint16_t r, AddRowToPage(page, f, row));
  return RowPointer{current_page_, static_cast<std::uint8_t>(r)};
}

Result<std::vector<std::uint8_t>> LongValueWriter::Store(const Column& column, Bytes data) {
  const Format& f = store_->format();
  constexpr std::size_t kMaxLength = 0xFFFFFF;  // three bytes of length
  if (data.size() > kMaxLength) {
    return Status(ErrorCode::kInvalidValue, "Der Wert für '" + column.name + "' ist zu lang.");
  }
  if (data.size() <= kMaxInlineLongValue) {
    std::vector<std::uint8_t> field = Head(data.size(), kLongValueInline, RowPointer{});
    field.insert(field.end(), data.begin(), data.end());
    return field;
  }
  const std::size_t max_row = f.page_size - f.data_row_table_offset - 2;
  if (data.size() <= max_row) {
    JET_ASSIGN_OR_RETURN(RowPointer where, AddLvalRow(column, data));
    return Head(data.size(), kLongValueSinglePage, where);
  }
  // A chain: written from its last piece, so that every piece knows the one after it.
  const std::size_t piece = max_row - kChainNextSize;
  const std::size_t pieces = (data.size() + piece - 1) / piece;
  RowPointer next{};
  std::vector<std::uint8_t> row;
  for (std::size_t i = pieces; i-- > 0;) {
    const std::size_t begin = i * piece;
    const std::size_t end = std::min(data.size(), begin + piece);
    row.clear();
    ByteWriter(row).Append32(next.Raw());
    row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(begin),
               data.begin() + static_cast<std::ptrdiff_t>(end));
    JET_ASSIGN_OR_RETURN(next, AddLvalRow(column, row));
  }
  return Head(data.size(), kLongValueChain, next);
}

Status LongValueWriter::Free(const Column& column, Bytes field) {
  ByteReader in(field);
  const std::uint8_t kind = in.U8(kLongValueKindOffset);
  RowPointer at = RowPointer::FromRaw(in.U32(kLongValuePointerOffset));
  if (!in.ok()) return Status::Corrupt("Beschädigter Memo- oder OLE-Wert.");
  if (kind == kLongValueInline) return Status::Ok();
  const Format& f = store_->format();
  std::set<std::uint32_t> seen;
  std::set<std::uint32_t> touched_pages;
  while (at.page != 0 && seen.insert(at.Raw()).second) {
    RowPointer next{};
    if (kind == kLongValueChain) {
      JET_ASSIGN_OR_RETURN(Bytes row, ReadRowAt(*store_, at));
      ByteReader r(row);
      next = RowPointer::FromRaw(r.U32(0));
    }
    JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> page, store_->MutablePage(at.page));
    JET_RETURN_IF_ERROR(MarkRowDeleted(page, f, at.row));
    touched_pages.insert(at.page);
    if (kind != kLongValueChain) break;
    at = next;
  }
  for (std::uint32_t p : touched_pages) {
    JET_ASSIGN_OR_RETURN(Bytes page, store_->Page(p));
    if (LiveRowCount(page, f) != 0) continue;
    if (const LongValueMaps* maps = MapsOf(column)) {
      JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *allocator_, maps->used, p, false));
      JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *allocator_, maps->free, p, false));
    }
    if (p == current_page_) current_page_ = 0;
    JET_RETURN_IF_ERROR(allocator_->Free(p));
  }
  return Status::Ok();
}

}  // namespace jet
