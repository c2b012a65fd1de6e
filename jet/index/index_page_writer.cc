#include "jet/index/index_page_writer.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "jet/base/byte_writer.h"
#include "jet/base/parallel.h"
#include "jet/index/index_page.h"
#include "jet/page/usage_map.h"

namespace jet {
namespace {

// What a written index page holds (Jet 4; the layout is index_page.h's):
//
//   0x00    1  0x04 leaf, 0x03 intermediate
//   0x01    1  0x01
//   0x02    2  free space: page size - 0x1E0 - end of the last entry
//   0x04    4  the table's definition page
//   0x08    4  0
//   0x0C    4  previous page of the level (0 for the first)
//   0x10    4  next page of the level (0 for the last)
//   0x14    4  intermediate pages with two or more children: the last child; else 0
//   0x18    2  prefix length (0 when the complete entries fit)
//   0x1A    1  0x01 on intermediate pages, 0x00 on leaves (as Access writes them)
//   0x1B  453  entry bitmap: bit n set where an entry ends n bytes into the entry area
//   0x1E0      entries: the first complete, each further one without the prefix; zeros after
constexpr std::uint8_t kPageMarker = 0x01;
constexpr std::uint8_t kIntermediateMarker = 0x01;
// Pages of one level from which on two threads write them.
constexpr std::size_t kParallelPages = 64;
// Count entry of a physical index in the definition: entries (4), then distinct keys (4).
constexpr std::size_t kCountDistinctKeys = 4;

// One entry of a page: its key, then the row pointer (page 3 bytes, row 1 byte) and, on
// intermediate pages, the child page (4 bytes), all big-endian.
struct PageEntry {
  Bytes key;
  std::uint64_t tail = 0;
  std::size_t tail_size = 0;
};

PageEntry EntryOf(const IndexEntryStore& entries, std::size_t e, IndexEntryStore::Scratch& scratch,
                  bool leaf, std::uint32_t child) {
  PageEntry entry{entries.Key(e, scratch), entries.Row(e).Raw(), kIndexEntryRowSize};
  if (!leaf) {
    entry.tail = entry.tail << (8 * kIndexEntryChildSize) | child;
    entry.tail_size += kIndexEntryChildSize;
  }
  return entry;
}

// The pages an index's usage map lists, each checked to be an index page of the table; pages
// given back (a page type of 0, as other writers leave an emptied index page while its bit stays
// in the map) go to `given_back`.
Result<std::vector<std::uint32_t>> OldPages(const PageStore& store, const TableDef& table,
                                            const RealIndex& index,
                                            std::vector<std::uint32_t>& given_back) {
  JET_ASSIGN_OR_RETURN(std::vector<std::uint32_t> listed, ReadUsageMap(store, index.usage_map));
  std::vector<std::uint32_t> pages;
  for (std::uint32_t number : listed) {
    JET_ASSIGN_OR_RETURN(Bytes bytes, store.Page(number));
    if (number != 0 && bytes[0] == 0) {  // page 0, the header, is never given back
      given_back.push_back(number);
      continue;
    }
    pages.push_back(number);
    JET_ASSIGN_OR_RETURN(IndexPage page, ReadIndexPage(store, number));
    if (page.owner != table.page) {
      return Status::Corrupt("Beschädigte Datenbank: Indexseite " + std::to_string(number) +
                             " des Index '" + IndexNames(table, index) +
                             "' gehört nicht zur Tabelle '" + table.name + "'.");
    }
  }
  return pages;
}

struct PageLinks {
  std::uint32_t prev = 0;
  std::uint32_t next = 0;
  std::uint32_t tail = 0;
};

// Writes one index page holding `count` entries; `entry(k, scratch)` gives the page's entry k
// (its key may lie in `scratch`).
template <typename Entry>
void WriteIndexPage(std::span<std::uint8_t> page, JetVersion version, std::uint32_t owner,
                    bool leaf, const PageLinks& links, std::size_t prefix, std::size_t count,
                    Entry entry) {
  const IndexPageLayout& l = IndexPageLayoutFor(version);
  std::fill(page.begin(), page.end(), 0);
  ByteWriter out(page);
  out.Put8(0,
           static_cast<std::uint8_t>(leaf ? PageType::kLeafIndex : PageType::kIntermediateIndex));
  out.Put8(1, kPageMarker);
  out.Put32(kIndexPageOwnerOffset, owner);
  out.Put32(l.prev_page, links.prev);
  out.Put32(l.next_page, links.next);
  out.Put32(l.child_tail, links.tail);
  if (l.prefix_length_size == 2) {
    out.Put16(l.prefix_length, static_cast<std::uint16_t>(prefix));
  } else {
    out.Put8(l.prefix_length, static_cast<std::uint8_t>(prefix));
  }
  if (!leaf) out.Put8(l.node_marker, kIntermediateMarker);
  std::size_t end = 0;
  IndexEntryStore::Scratch scratch;
  std::array<std::uint8_t, kIndexEntryRowSize + kIndexEntryChildSize> tail;
  for (std::size_t i = 0; i < count; ++i) {
    // The first entry complete, every further one without the prefix the page's keys share.
    const PageEntry e = entry(i, scratch);
    const std::size_t skip = i == 0 ? 0 : prefix;
    out.PutBytes(l.entries + end, e.key.subspan(std::min(skip, e.key.size())));
    end += e.key.size() - std::min(skip, e.key.size());
    for (std::size_t b = 0; b < e.tail_size; ++b) {
      tail[b] = static_cast<std::uint8_t>(e.tail >> (8 * (e.tail_size - 1 - b)));
    }
    out.PutBytes(l.entries + end, Bytes(tail.data(), e.tail_size));
    end += e.tail_size;
    page[l.bitmap + end / 8] |= static_cast<std::uint8_t>(1u << (end % 8));
  }
  out.Put16(kIndexPageFreeSpaceOffset, static_cast<std::uint16_t>(page.size() - l.entries - end));
}

}  // namespace

Status WriteIndexTree(PageStore& store, PageAllocator& allocator, const TableDef& table,
                      RealIndex& index, const IndexEntryStore& entries, const IndexPagePlan& levels,
                      std::uint32_t distinct_keys) {
  const JetVersion version = store.format().version;
  std::vector<std::uint32_t> given_back;
  JET_ASSIGN_OR_RETURN(std::vector<std::uint32_t> old_pages,
                       OldPages(store, table, index, given_back));
  // A page given back may be in use elsewhere by now: it leaves the map, but is not freed again.
  for (std::uint32_t page : given_back) {
    JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, index.usage_map, page, false));
  }
  for (std::uint32_t page : old_pages) {
    JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, index.usage_map, page, false));
    JET_RETURN_IF_ERROR(allocator.Free(page));
  }
  // Page numbers from the root down, each level left to right.
  std::vector<std::vector<std::uint32_t>> numbers(levels.size());
  for (std::size_t level = levels.size(); level-- > 0;) {
    for (std::size_t i = 0; i < levels[level].size(); ++i) {
      JET_ASSIGN_OR_RETURN(std::uint32_t number, allocator.Allocate());
      numbers[level].push_back(number);
    }
  }
  for (std::size_t level = 0; level < levels.size(); ++level) {
    const bool leaf = level == 0;
    const std::vector<PlannedIndexPage>& pages = levels[level];
    std::vector<std::span<std::uint8_t>> bytes(pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
      JET_ASSIGN_OR_RETURN(bytes[i], store.MutablePage(numbers[level][i]));
    }
    // Each page depends only on the entries and the page numbers: a level of many pages is
    // written by two threads, each taking a run of pages.
    const auto write = [&](std::size_t from, std::size_t to) {
      for (std::size_t i = from; i < to; ++i) {
        const PlannedIndexPage& p = pages[i];
        PageLinks links;
        links.prev = i == 0 ? 0 : numbers[level][i - 1];
        links.next = i + 1 == pages.size() ? 0 : numbers[level][i + 1];
        if (leaf) {
          WriteIndexPage(bytes[i], version, table.page, true, links, p.prefix, p.end - p.begin,
                         [&](std::size_t k, IndexEntryStore::Scratch& scratch) {
                           return EntryOf(entries, p.begin + k, scratch, true, 0);
                         });
          continue;
        }
        const std::vector<PlannedIndexPage>& below = levels[level - 1];
        const std::size_t with_entry = p.end - p.begin >= 2 ? p.end - 1 : p.end;
        if (with_entry < p.end) links.tail = numbers[level - 1][p.end - 1];
        WriteIndexPage(bytes[i], version, table.page, false, links, p.prefix, with_entry - p.begin,
                       [&](std::size_t k, IndexEntryStore::Scratch& scratch) {
                         const std::size_t child = p.begin + k;
                         return EntryOf(entries, below[child].last_entry, scratch, false,
                                        numbers[level - 1][child]);
                       });
      }
    };
    if (pages.size() < kParallelPages) {
      write(0, pages.size());
    } else {
      const std::size_t half = pages.size() / 2;
      RunBoth([&] { write(0, half); }, [&] { write(half, pages.size()); });
    }
  }
  for (const std::vector<std::uint32_t>& level : numbers) {
    for (std::uint32_t page : level) {
      JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, index.usage_map, page, true));
    }
  }
  const std::uint32_t root = numbers.back().front();
  JET_RETURN_IF_ERROR(PutDefinitionU32(store, table.page, index.first_page_at, root));
  JET_RETURN_IF_ERROR(PutDefinitionU32(store, table.page, index.counts_at,
                                       static_cast<std::uint32_t>(entries.size())));
  JET_RETURN_IF_ERROR(
      PutDefinitionU32(store, table.page, index.counts_at + kCountDistinctKeys, distinct_keys));
  index.first_page = root;
  return Status::Ok();
}

}  // namespace jet
