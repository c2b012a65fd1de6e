// Walking the live rows of a table: the one place that knows which row slots hold rows and
// where a moved row's bytes are.
//
// A table's rows lie on the data pages its usage map lists; the walk takes those pages in page
// order and the rows of a page in row order (data_page.h has the page layout). A slot with the
// deleted flag is skipped: either the row was deleted, or the slot holds the bytes of a moved
// row, which the walk meets through the slot that points to it. A slot with the moved-row flag
// holds a row pointer; the walk follows it (and any further one) to the row's bytes and reports
// the row at the pointing slot, as index entries and Access name it.
//
// The slot a pointer leads to always carries the deleted flag (that is what keeps the walk from
// meeting the row twice), so the flag is no reason to refuse it. A slot without bytes is: no row
// is empty (every row holds at least its column count and null mask), and an empty deleted slot
// is one whose row is gone. Such a pointer is reported as damage of the file, naming the page,
// instead of handing the row decoder nothing to decode; the Java Access library Jackcess treats
// moved rows the same way (it ignores the deleted flag of the slot a pointer leads to and reads
// the bytes found there as the row).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/file/page_store.h"
#include "jet/page/data_page.h"
#include "jet/table/table_def.h"

namespace jet {

class RowWalker {
 public:
  // kMayChange: the pages may change between two calls of Next(), so each row's page is read
  // afresh. kUnchanged: the caller changes no page during the walk (the commit's index rebuild
  // reading a table), so a page is opened once for all its rows.
  enum class Pages { kMayChange, kUnchanged };

  RowWalker(const PageStore& store, const TableDef& table, Pages pages = Pages::kMayChange)
      : store_(&store), table_(&table), unchanged_(pages == Pages::kUnchanged) {}
  // Walks only the rows of these data pages of the table (a part of its usage map), in this
  // order.
  RowWalker(const PageStore& store, const TableDef& table, std::vector<std::uint32_t> data_pages,
            Pages pages)
      : store_(&store),
        table_(&table),
        unchanged_(pages == Pages::kUnchanged),
        given_pages_(true),
        pages_(std::move(data_pages)) {}

  // Moves to the next live row: true when there is one, false at the end. The first call reads
  // the table's usage map.
  Result<bool> Next();
  // The slot that names the current row (for a moved row: the slot holding the pointer).
  RowPointer position() const { return position_; }
  // The current row's bytes, valid until the pages change.
  Bytes row() const { return row_; }

 private:
  Status LoadPage();

  const PageStore* store_;
  const TableDef* table_;
  bool unchanged_;
  std::optional<DataPage> page_;  // the current page, kept when the pages do not change
  bool given_pages_ = false;
  bool started_ = false;
  std::vector<std::uint32_t> pages_;
  std::size_t page_index_ = 0;
  std::uint16_t row_number_ = 0;
  std::uint16_t rows_on_page_ = 0;
  RowPointer position_;
  Bytes row_;
};

}  // namespace jet
