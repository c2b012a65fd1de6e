// Writing physical indexes: every B-tree of a table built anew from the table's live rows.
//
// One index at a time: its entries are read from the rows (row_walker.h; only the key columns
// decoded) into an IndexEntryStore (index_entry_store.h), sorted, checked (duplicates in unique
// indexes by index_uniqueness.h's rule, keys too long for a page), spread over pages as Access
// fills them (index_page_plan.h), and written (index_page_writer.h); then they are let go of
// before the next index. Indexes over the same columns with the same handling of Nulls share one
// pass.
//
// A refused rebuild may leave some indexes written and others not: the caller brackets it with a
// savepoint of the page store (Database::Commit does) to return to the state before it.
#pragma once

#include "jet/base/status.h"
#include "jet/file/page_store.h"
#include "jet/page/page_allocator.h"
#include "jet/table/table_def.h"

namespace jet {

// Writes every physical index of `table` anew from its live rows (a moved row is named by the
// slot that holds its forwarding pointer, as Access names it): the old pages of each index go back
// to the allocator, the new tree's pages come from it, each index's usage map records the change,
// and the table definition (on its pages and in `table`) gets the new roots and counts (entries,
// distinct keys). Refuses with kDuplicateKey, naming table and index, two entries with the same
// key in a unique index (or one backing a primary key); entries whose key columns are all Null do
// not collide, as in Access. Refuses a key the encoder refuses, with its error, a key too long
// for an index page, and Jet 3 files (kNotSupported, before anything changes).
Status RebuildIndexes(PageStore& store, PageAllocator& allocator, TableDef& table);

}  // namespace jet
