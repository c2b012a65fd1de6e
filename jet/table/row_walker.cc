#include "jet/table/row_walker.h"

#include <string>

#include "jet/page/usage_map.h"

namespace jet {
namespace {

// A moved row may move again; more hops than this mean a cycle.
constexpr int kMaxRowHops = 16;

}  // namespace

Status RowWalker::LoadPage() {
  // A page given back (page type 0) whose bit another writer left in the usage map holds no rows
  // of the table (the writes drop the bit).
  JET_ASSIGN_OR_RETURN(Bytes bytes, store_->Page(pages_[page_index_]));
  if (pages_[page_index_] != 0 && bytes[0] == 0) {  // page 0, the header, is never given back
    rows_on_page_ = 0;
    row_number_ = 0;
    return Status::Ok();
  }
  JET_ASSIGN_OR_RETURN(DataPage page, DataPage::Open(*store_, pages_[page_index_]));
  if (page.owner() != table_->page) {
    return Status::Corrupt("Beschädigte Datenbank: Datenseite " + std::to_string(page.number()) +
                           " gehört nicht zur Tabelle '" + table_->name + "'.");
  }
  rows_on_page_ = page.row_count();
  row_number_ = 0;
  if (unchanged_) page_ = page;
  return Status::Ok();
}

Result<bool> RowWalker::Next() {
  if (!started_) {
    started_ = true;
    if (!given_pages_) {
      JET_ASSIGN_OR_RETURN(pages_, ReadUsageMap(*store_, table_->usage_map));
    }
    page_index_ = 0;
    rows_on_page_ = 0;
    row_number_ = 0;
    if (!pages_.empty()) JET_RETURN_IF_ERROR(LoadPage());
  }
  while (page_index_ < pages_.size()) {
    if (row_number_ >= rows_on_page_) {
      if (++page_index_ >= pages_.size()) break;
      JET_RETURN_IF_ERROR(LoadPage());
      continue;
    }
    const RowPointer at{pages_[page_index_], static_cast<std::uint8_t>(row_number_)};
    ++row_number_;
    // Unless the caller keeps the pages as they are, the page is opened again for every row:
    // the pages may change between two calls.
    if (!unchanged_) {
      JET_ASSIGN_OR_RETURN(page_, DataPage::Open(*store_, at.page));
    }
    JET_ASSIGN_OR_RETURN(RowSlot slot, page_->Row(at.row));
    if (slot.deleted) continue;
    int hops = 0;
    while (slot.overflow) {
      if (++hops > kMaxRowHops) {
        return Status::Corrupt("Beschädigte Datenbank: Verschobene Zeile auf Seite " +
                               std::to_string(at.page) + " bildet einen Zyklus.");
      }
      ByteReader r(slot.data);
      const RowPointer target = RowPointer::FromRaw(r.U32(0));
      if (!r.ok()) return Status::Corrupt("Beschädigte Datenbank: Zeilenverweis zu kurz.");
      JET_ASSIGN_OR_RETURN(DataPage target_page, DataPage::Open(*store_, target.page));
      JET_ASSIGN_OR_RETURN(slot, target_page.Row(target.row));
      if (slot.data.empty() && slot.deleted) {
        return Status::Corrupt("Beschädigte Datenbank: Verschobene Zeile auf Seite " +
                               std::to_string(at.page) + " zeigt auf eine ungültige Zeile.");
      }
    }
    position_ = at;
    row_ = slot.data;
    return true;
  }
  return false;
}

}  // namespace jet
