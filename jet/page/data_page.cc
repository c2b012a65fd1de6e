#include "jet/page/data_page.h"

#include <string>

namespace jet {

Result<DataPage> DataPage::Open(const PageStore& store, std::uint32_t number) {
  JET_ASSIGN_OR_RETURN(Bytes page, store.TypedPage(number, PageType::kData));
  DataPage dp(store.format(), number, page);
  ByteReader in(page);
  dp.row_count_ = in.U16(store.format().data_row_count_offset);
  const std::size_t table_end =
      store.format().data_row_table_offset + 2 * std::size_t{dp.row_count_};
  if (!in.ok() || table_end > page.size() || dp.row_count_ > kMaxRowsPerDataPage) {
    return Status::Corrupt("Beschädigte Datenbank '" + store.name() + "': Datenseite " +
                           std::to_string(number) + " nennt " + std::to_string(dp.row_count_) +
                           " Zeilen, mehr als die Seite fasst.");
  }
  return dp;
}

std::uint32_t DataPage::owner() const {
  ByteReader in(page_);
  return in.U32(kDataPageOwnerOffset);
}

Result<RowSlot> DataPage::Row(std::uint16_t row) const {
  auto corrupt = [&](const std::string& why) {
    return Status::Corrupt("Beschädigte Datenbank: Zeile " + std::to_string(row) + " auf Seite " +
                           std::to_string(number_) + " " + why + ".");
  };
  if (row >= row_count_) return corrupt("gibt es nicht");
  ByteReader in(page_);
  const std::size_t entry = format_->data_row_table_offset + 2 * std::size_t{row};
  const std::uint16_t raw = in.U16(entry);
  const std::size_t start = raw & kRowOffsetMask;
  std::size_t end = page_.size();
  if (row > 0) end = in.U16(entry - 2) & kRowOffsetMask;
  RowSlot slot;
  slot.deleted = (raw & kRowDeletedFlag) != 0;
  slot.overflow = (raw & kRowOverflowFlag) != 0;
  const std::size_t table_end = format_->data_row_table_offset + 2 * std::size_t{row_count_};
  if (start < table_end || start > end || end > page_.size()) {
    // A deleted slot's offsets may be stale; its bytes are never needed.
    if (slot.deleted) return slot;
    return corrupt("hat ungültige Grenzen (" + std::to_string(start) + ".." + std::to_string(end) +
                   ")");
  }
  slot.data = page_.subspan(start, end - start);
  return slot;
}

Result<Bytes> ReadRowAt(const PageStore& store, RowPointer where) {
  JET_ASSIGN_OR_RETURN(DataPage page, DataPage::Open(store, where.page));
  JET_ASSIGN_OR_RETURN(RowSlot slot, page.Row(where.row));
  if (slot.deleted) {
    return Status::Corrupt("Beschädigte Datenbank: Zeile " + std::to_string(where.row) +
                           " auf Seite " + std::to_string(where.page) +
                           " ist gelöscht, wird aber noch verwendet.");
  }
  return slot.data;
}

}  // namespace jet
