// Allocation of pages while writing, and the database's map of free pages.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/file/page_store.h"

namespace jet {

// The database-wide map of free pages: row 0 of page 1, a usage map whose set bits mark pages
// that no table or index uses.
inline constexpr RowPointer kGlobalFreeMap{1, 0};

// The pages some structure of the file still claims (bit n: page n), for the allocator to leave
// alone even where the free-page map lists them: other writers, Access among them, leave pages in
// that map that a table's or an index's usage map still names.
using ClaimedPages = std::function<Result<std::vector<bool>>()>;

class PageAllocator {
 public:
  // Without `claimed`, every page of the free map whose bytes show no use counts as unused.
  explicit PageAllocator(PageStore& store, ClaimedPages claimed = nullptr)
      : store_(&store), claimed_source_(std::move(claimed)) {}

  // A page of zeros: a free page when one is known to be unused, else a page appended to the file.
  // A page of the free map counts as unused when its bytes show no use (a zero page type) and no
  // usage map claims it (asked of `claimed` once, when the free map is first looked at; when that
  // fails, the free map is not used at all and pages are appended).
  Result<std::uint32_t> Allocate();

  // Gives a page back: its bytes are zeroed, the free-page map records it when it can reach it,
  // and Allocate() hands it out again before any other.
  Status Free(std::uint32_t page);

 private:
  // True when the free map's page `page` may not be handed out: some usage map claims it, or
  // what the usage maps claim could not be read.
  bool Claimed(std::uint32_t page);

  PageStore* store_;
  std::set<std::uint32_t> freed_;  // pages given back since the database was opened
  ClaimedPages claimed_source_;
  bool claimed_known_ = false;
  bool free_map_usable_ = true;
  std::vector<bool> claimed_;
};

// Marks `page` used (or unused) in the usage map stored at `map`. An inline map whose window
// cannot reach the page moves its window when all its pages fit, and otherwise becomes a
// reference map with map pages taken from `allocator`.
// With `may_grow` unset, a page the map cannot reach as it stands fails with kNotSupported.
Status SetPageInUsageMap(PageStore& store, PageAllocator& allocator, RowPointer map,
                         std::uint32_t page, bool used, bool may_grow = true);

}  // namespace jet
