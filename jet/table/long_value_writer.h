// Storing and freeing long values (Memo and OLE data; layout in long_value.h).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/status.h"
#include "jet/file/page_store.h"
#include "jet/page/page_allocator.h"
#include "jet/table/table_def.h"

namespace jet {

// Values up to this many bytes are stored inline in the row, as Access does.
inline constexpr std::size_t kMaxInlineLongValue = 64;
// LVAL pages are data pages whose owner field holds these bytes ("LVAL").
inline constexpr std::uint32_t kLongValueOwner = 0x4C41564C;

class LongValueWriter {
 public:
  LongValueWriter(PageStore& store, PageAllocator& allocator, TableDef& table)
      : store_(&store), allocator_(&allocator), table_(&table) {}

  // Stores the value's bytes and returns the field the row holds: the 12-byte head and, for
  // short values, the data inline; longer data goes to one LVAL row, or a chain of them.
  Result<std::vector<std::uint8_t>> Store(const Column& column, Bytes data);

  // Marks the LVAL rows a stored field points to deleted; pages left empty are given back.
  Status Free(const Column& column, Bytes field);

 private:
  Result<RowPointer> AddLvalRow(const Column& column, Bytes row);
  const LongValueMaps* MapsOf(const Column& column) const;

  PageStore* store_;
  PageAllocator* allocator_;
  TableDef* table_;
  std::uint32_t current_page_ = 0;  // the LVAL page new rows go to
};

}  // namespace jet
