// Writing physical indexes: every B-tree of a table built anew from the table's live rows.
//
// The rebuild comes in two steps, so that a commit that must be refused leaves every page as it
// was: PrepareIndexRebuild() reads the rows, builds and sorts every entry, refuses duplicate keys
// in unique indexes and keys the encoder cannot build, and plans the pages of each tree;
// ApplyIndexRebuild() then gives the old index pages back and writes the planned ones.
//
//   JET_ASSIGN_OR_RETURN(IndexRebuild plan, PrepareIndexRebuild(store, table));
//   JET_RETURN_IF_ERROR(ApplyIndexRebuild(store, allocator, table, plan));
#pragma once

#include <cstdint>
#include <vector>

#include "jet/index_page.h"
#include "jet/page_allocator.h"
#include "jet/page_store.h"
#include "jet/status.h"
#include "jet/table_def.h"

namespace jet {

// How the entries of one tree are spread over pages, as Access fills them: each level left to
// right, each page taking entries while they fit. Entries fit when their complete bytes do; when
// they do not, every entry after the first is stored without the key bytes that the page's first
// and last keys share (the page's prefix), and they fit when that shorter form does. A page of an
// intermediate level holds one entry per child, except for its last child, which it names as
// its child tail (a page with a single child holds an entry for it and no tail).
struct PlannedIndexPage {
  std::size_t begin = 0;       // leaves: first entry; intermediate pages: first child page
  std::size_t end = 0;         // one past the last
  std::size_t prefix = 0;      // key bytes every entry after the first leaves out
  std::size_t last_entry = 0;  // the last leaf entry under the page (its entry one level up)
};

struct PlannedIndex {
  std::size_t real_index = 0;                         // position in TableDef::real_indexes
  std::vector<IndexEntry> entries;                    // every leaf entry, in index order
  std::uint32_t distinct_keys = 0;                    // different keys among them
  std::vector<std::vector<PlannedIndexPage>> levels;  // leaves first; the last level is the root
  std::vector<std::uint32_t> old_pages;               // the pages the index's usage map lists now
};

struct IndexRebuild {
  std::uint32_t table_page = 0;  // the table the plan was made for
  std::vector<PlannedIndex> indexes;
};

// Reads the live rows of `table` (a moved row is named by the slot that holds its forwarding
// pointer, as Access names it) and plans every physical index of the table. Refuses, before
// anything changes: two entries with the same key in a unique index (or one backing a primary
// key) with kDuplicateKey naming table and index (entries whose key columns are all Null do not
// collide, as in Access); a key the encoder refuses, with its error; Jet 3 files.
Result<IndexRebuild> PrepareIndexRebuild(const PageStore& store, const TableDef& table);

// Gives the old pages of every planned index back to the allocator, writes the new trees to
// pages from it, records the change in each index's usage map and stores the new root page and
// the counts (entries, distinct keys) in the table definition; `table` shows the new roots.
Status ApplyIndexRebuild(PageStore& store, PageAllocator& allocator, TableDef& table,
                         const IndexRebuild& rebuild);

// Both steps.
Status RebuildIndexes(PageStore& store, PageAllocator& allocator, TableDef& table);

// Plans the pages of a tree over `entries` (sorted); `version` gives the page layout.
std::vector<std::vector<PlannedIndexPage>> PlanIndexPages(JetVersion version,
                                                          const std::vector<IndexEntry>& entries);

}  // namespace jet
