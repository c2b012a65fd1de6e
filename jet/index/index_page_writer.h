// Writing an index tree: the pages a plan (index_page_plan.h) describes, filled with the sorted
// entries of an IndexEntryStore, in place of the index's old pages.
#pragma once

#include <cstdint>

#include "jet/base/status.h"
#include "jet/file/page_store.h"
#include "jet/index/index_entry_store.h"
#include "jet/index/index_page_plan.h"
#include "jet/page/page_allocator.h"
#include "jet/table/table_def.h"

namespace jet {

// Replaces the tree of `index` by one over `entries` spread as `plan` says: the old pages (each
// checked to be an index page of the table) go back to the allocator, the new pages come from
// it, the index's usage map records the change, and the definition (on its pages and in `index`)
// gets the new root and the counts: the number of entries and `distinct_keys`.
Status WriteIndexTree(PageStore& store, PageAllocator& allocator, const TableDef& table,
                      RealIndex& index, const IndexEntryStore& entries, const IndexPagePlan& plan,
                      std::uint32_t distinct_keys);

}  // namespace jet
