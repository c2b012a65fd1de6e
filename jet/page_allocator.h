// Allocation of pages while writing, and the database's map of free pages.
#pragma once

#include <cstdint>
#include <set>

#include "jet/format.h"
#include "jet/page_store.h"
#include "jet/status.h"

namespace jet {

// The database-wide map of free pages: row 0 of page 1, a usage map whose set bits mark pages
// that no table or index uses.
inline constexpr RowPointer kGlobalFreeMap{1, 0};

class PageAllocator {
 public:
  explicit PageAllocator(PageStore& store) : store_(&store) {}

  // A page of zeros: a free page when one is known to be unused, else a page appended to the file.
  Result<std::uint32_t> Allocate();

  // Gives a page back: its bytes are zeroed, the free-page map records it when it can reach it,
  // and Allocate() hands it out again before any other.
  Status Free(std::uint32_t page);

 private:
  PageStore* store_;
  std::set<std::uint32_t> freed_;  // pages given back since the database was opened
};

// Marks `page` used (or unused) in the usage map stored at `map`. An inline map whose window
// cannot reach the page moves its window when all its pages fit, and otherwise becomes a
// reference map with map pages taken from `allocator`.
// With `may_grow` unset, a page the map cannot reach as it stands fails with kNotSupported.
Status SetPageInUsageMap(PageStore& store, PageAllocator& allocator, RowPointer map,
                         std::uint32_t page, bool used, bool may_grow = true);

}  // namespace jet
