// Adding and deleting the rows of one table, with everything that keeps the file consistent:
// data pages, usage maps, long values, the definition's row count and AutoNumber counter.
// Indexes are rebuilt from the rows when the changes are committed (database.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/page_store.h"
#include "jet/page/data_page_writer.h"
#include "jet/page/page_allocator.h"
#include "jet/table/long_value_writer.h"
#include "jet/table/row_writer.h"
#include "jet/table/table_def.h"

namespace jet {

class TableWriter {
 public:
  TableWriter(PageStore& store, PageAllocator& allocator, TableDef& table)
      : store_(&store),
        allocator_(&allocator),
        table_(&table),
        long_values_(store, allocator, table) {}

  // Stores a row. `values` follow table.columns and are Null or of each column's kind; an
  // AutoNumber column must be Null and receives the next number, a Null Yes/No becomes No (both
  // written back into `values`). A row with Null in the key of a Required index or of the
  // primary key is refused with ErrorCode::kNullInKey before anything changes
  // (null_keys.h); so is such a row given to Replace().
  Result<RowPointer> Insert(std::vector<Value>& values);

  // Deletes the row a scan reports at `row` (a moved row is deleted at both places).
  Status Delete(RowPointer row);

  // Stores `values` in place of the row at `row`. Where they differ from the stored row only in
  // fixed-size columns that become Null, the row is changed where it lies; otherwise the old row
  // is deleted and the new one stored where there is room. An AutoNumber column keeps the number
  // given in `values`.
  Result<RowPointer> Replace(RowPointer row, std::vector<Value>& values);

 private:
  Result<std::uint32_t> PageWithRoom(std::size_t row_size);
  Status WriteCounters();
  // Sets fixed-size columns of the stored row to Null where it lies, when that is all that
  // differs between it and `values`; false (nothing changed) otherwise.
  Result<bool> NullInPlace(RowPointer row, const std::vector<Value>& values);

  PageStore* store_;
  PageAllocator* allocator_;
  TableDef* table_;
  LongValueWriter long_values_;
  std::uint32_t last_page_ = 0;       // the data page rows went to last
  std::optional<DataPageRoom> room_;  // the room on last_page_, once measured
  bool keep_numbers_ = false;         // Insert() keeps given AutoNumber values (Replace)
  // Buffers kept from row to row.
  RowEncoder encoder_;
  std::vector<std::uint8_t> row_;
  std::vector<ByteString> long_fields_;
  std::vector<ByteString> long_data_;
  // The definition page as last made mutable, and under which generation of the page store.
  std::span<std::uint8_t> definition_;
  std::uint64_t definition_generation_ = 0;
};

}  // namespace jet
