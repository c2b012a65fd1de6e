// Reading a physical index: its entries in key order, the rows with a given key, and a check of
// the whole B-tree.
//
//   jet::IndexCursor cursor(db.pages(), table, table.real_indexes[0]);
//   while (*cursor.Next()) use(cursor.entry().key, cursor.entry().row);
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/page_store.h"
#include "jet/index/index_page.h"
#include "jet/table/table_def.h"

namespace jet {

// Walks the leaf entries of an index in key order: from the leftmost leaf (reached by descending
// from the root through each intermediate page's first child) along the leaves' next pointers.
// Every page must be an index page of the table; entries must come in strictly ascending order
// (key, then row pointer), and a leaf's next page must name it as its previous page.
class IndexCursor {
 public:
  IndexCursor(const PageStore& store, const TableDef& table, const RealIndex& index)
      : store_(&store), table_(&table), index_(&index) {}

  // Moves to the next entry: true when there is one, false at the end.
  Result<bool> Next();
  const IndexEntry& entry() const { return page_.entries[pos_]; }
  std::uint32_t leaf_page() const { return page_.number; }

 private:
  Status Load(std::uint32_t number, std::uint32_t expected_prev);

  const PageStore* store_;
  const TableDef* table_;
  const RealIndex* index_;
  bool started_ = false;
  bool have_previous_ = false;
  IndexPage page_;
  std::size_t pos_ = 0;
  std::uint32_t pages_read_ = 0;
  IndexEntry previous_;
};

// Calls `visit` with the row of every leaf entry of an index, in leaf order, read as IndexCursor
// walks the leaves but without building keys: for checks that need the rows only. The pages must
// be index pages of the table and the leaf chain consistent (each leaf names the one before it);
// key order is not checked. Stops at the first error, and when `visit` returns false.
Status ForEachIndexedRow(const PageStore& store, const TableDef& table, const RealIndex& index,
                         const std::function<bool(RowPointer)>& visit);

// The rows whose key is exactly `key` (as EncodeIndexKey builds it), in index order. Descends from
// the root: in each intermediate page to the first child whose last key is not below `key` (the
// child tail when every entry is below it), then reads leaves along the next pointers while the
// keys are equal.
Result<std::vector<RowPointer>> FindEqual(const PageStore& store, const TableDef& table,
                                          const RealIndex& index, Bytes key);

// Facts about a B-tree that CheckIndexTree found consistent.
struct IndexTreeStats {
  std::size_t entries = 0;  // leaf entries
  std::size_t leaves = 0;
  std::size_t intermediates = 0;
  std::size_t depth = 0;  // levels, the root's included
};

// Visits every page reachable from the root and checks what a writer must keep true: pages are
// index pages of the table, all leaves lie at one depth, each intermediate entry equals the last
// entry of its child (the child tail has none), entries ascend across the whole tree, and the
// leaves reached from the root are exactly the leaves of the next-pointer chain, in order.
Result<IndexTreeStats> CheckIndexTree(const PageStore& store, const TableDef& table,
                                      const RealIndex& index);

}  // namespace jet
