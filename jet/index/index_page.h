// Index pages: the nodes of the B-trees that hold a table's physical indexes.
//
// Every physical index is one B-tree. Its leaf pages (type 0x04) hold one entry per indexed row,
// in key order; its intermediate pages (type 0x03) hold one entry per child page: a copy of that
// child's last entry plus the child's page number. Pages of one level are chained through their
// previous/next pointers, so the leaves can be walked in key order without the upper levels.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/page_store.h"

namespace jet {

// Page layout (offsets in bytes; Jet 3 in brackets where it differs):
//
//   0x00         1  page type: 0x03 intermediate, 0x04 leaf
//   0x01         1  always 0x01
//   0x02         2  free space: page size - entry area start - end of the last entry
//   0x04         4  definition page of the table that owns the index
//   0x08 (-)     4  Jet 4 only: unknown, 0 in every file seen
//   0x0C (0x08)  4  previous page of the same level (0 = none)
//   0x10 (0x0C)  4  next page of the same level (0 = none)
//   0x14 (0x10)  4  child tail: on intermediate pages the child after the last entry, whose own
//                   last entry the page does not repeat (0 = none); 0 on leaves
//   0x18 (0x14)  2 (1)  prefix length: bytes the first entry shares with every other entry
//   0x1A (0x15)  1  1 on intermediate pages Access wrote, 0 on leaves (other writers leave 0)
//   0x1B (0x16)  453 (226)  entry bitmap: bit n (low bit first) set = an entry ends n bytes into
//                   the entry area; the first entry starts at the area's start, each further entry
//                   where the one before it ended
//   0x1E0 (0xF8)    entry area, up to the page end
//
// An entry, as stored:
//   first entry: all of its bytes;
//   every further entry: its bytes without the first `prefix length` bytes, which it shares with
//   the first entry.
// A complete entry (all integers big-endian):
//   key bytes (see index_key.h), then the row: data page (3) and row number (1);
//   intermediate pages add the child page number (4).
inline constexpr std::size_t kIndexPageFreeSpaceOffset = 0x02;
inline constexpr std::size_t kIndexPageOwnerOffset = 0x04;
inline constexpr std::size_t kIndexEntryRowSize = 4;
inline constexpr std::size_t kIndexEntryChildSize = 4;

struct IndexPageLayout {
  std::size_t prev_page;
  std::size_t next_page;
  std::size_t child_tail;
  std::size_t prefix_length;
  std::size_t prefix_length_size;
  std::size_t node_marker;
  std::size_t bitmap;
  std::size_t bitmap_size;
  std::size_t entries;  // start of the entry area (= bitmap + bitmap_size)
};

inline constexpr IndexPageLayout kJet3IndexPage = {
    .prev_page = 0x08,
    .next_page = 0x0C,
    .child_tail = 0x10,
    .prefix_length = 0x14,
    .prefix_length_size = 1,
    .node_marker = 0x15,
    .bitmap = 0x16,
    .bitmap_size = 226,
    .entries = 0xF8,
};

inline constexpr IndexPageLayout kJet4IndexPage = {
    .prev_page = 0x0C,
    .next_page = 0x10,
    .child_tail = 0x14,
    .prefix_length = 0x18,
    .prefix_length_size = 2,
    .node_marker = 0x1A,
    .bitmap = 0x1B,
    .bitmap_size = 453,
    .entries = 0x1E0,
};

inline const IndexPageLayout& IndexPageLayoutFor(JetVersion v) {
  return v == JetVersion::kJet3 ? kJet3IndexPage : kJet4IndexPage;
}

// One complete entry (prefix restored).
struct IndexEntry {
  ByteString key;           // the encoded key columns
  RowPointer row;           // the row the entry stands for
  std::uint32_t child = 0;  // intermediate pages: the child page; 0 on leaves
};

struct IndexPage {
  std::uint32_t number = 0;
  bool leaf = true;
  std::uint16_t free_space = 0;
  std::uint32_t owner = 0;  // the table's definition page
  std::uint32_t prev_page = 0;
  std::uint32_t next_page = 0;
  std::uint32_t child_tail = 0;
  std::uint16_t prefix_length = 0;
  std::uint8_t node_marker = 0;
  std::vector<IndexEntry> entries;
};

// Decodes one index page's bytes; `number` names the page in errors. Bitmaps that point past the
// page, entries too short for their row pointer (and child), prefixes longer than the first entry
// and a free-space field that disagrees with the bitmap are corruption.
Result<IndexPage> DecodeIndexPage(JetVersion version, std::uint32_t number, Bytes page);

// A leaf page's head (entries left empty) with the row pointers of its entries appended to `rows`
// in page order, without building the keys; checks what DecodeIndexPage checks, and that the
// page is a leaf.
Result<IndexPage> DecodeLeafRows(JetVersion version, std::uint32_t number, Bytes page,
                                 std::vector<RowPointer>& rows);
// Reads and decodes an index page (type 0x03 or 0x04) of the store.
Result<IndexPage> ReadIndexPage(const PageStore& store, std::uint32_t number);

// Orders entries as the B-tree does: key bytes first (a key that is a prefix of another sorts
// first), then the row pointer. Negative, zero or positive like memcmp.
int CompareKeys(Bytes a, Bytes b);
int CompareEntries(const IndexEntry& a, const IndexEntry& b);

}  // namespace jet
