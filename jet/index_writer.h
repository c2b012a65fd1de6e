// Writing physical indexes: every B-tree of a table built anew from the table's live rows.
//
// One index at a time: its entries are read from the rows (only the key columns decoded), kept
// sixteen bytes apiece, sorted, checked (duplicates in unique indexes, keys too long for a page),
// spread over pages as Access fills them, and written; then they are let go of before the next
// index. Indexes over the same columns with the same handling of Nulls share one pass.
//
// A refused rebuild may leave some indexes written and others not: the caller brackets it with a
// savepoint of the page store (Database::Commit does) to return to the state before it.
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

// Writes every physical index of `table` anew from its live rows (a moved row is named by the
// slot that holds its forwarding pointer, as Access names it): the old pages of each index go back
// to the allocator, the new tree's pages come from it, each index's usage map records the change,
// and the table definition (on its pages and in `table`) gets the new roots and counts (entries,
// distinct keys). Refuses with kDuplicateKey, naming table and index, two entries with the same
// key in a unique index (or one backing a primary key); entries whose key columns are all Null do
// not collide, as in Access. Refuses a key the encoder refuses, with its error, a key too long
// for an index page, and Jet 3 files (kNotSupported, before anything changes).
Status RebuildIndexes(PageStore& store, PageAllocator& allocator, TableDef& table);

// Plans the pages of a tree over `entries` (sorted); `version` gives the page layout.
std::vector<std::vector<PlannedIndexPage>> PlanIndexPages(JetVersion version,
                                                          const std::vector<IndexEntry>& entries);

}  // namespace jet
