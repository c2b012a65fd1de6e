// Planning an index tree's pages: how the sorted entries of one index are spread over leaf and
// intermediate pages, as Access fills them (index_page_writer.h writes the plan).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/format.h"
#include "jet/index/index_page.h"

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

// The levels of a planned tree, leaves first; the last level is the root's.
using IndexPagePlan = std::vector<std::vector<PlannedIndexPage>>;

// Bytes the entry area of an index page holds.
inline std::size_t IndexEntryCapacity(JetVersion version) {
  return FormatFor(version).page_size - IndexPageLayoutFor(version).entries;
}

// Plans the pages of a tree over `entries` (sorted); `version` gives the page layout.
IndexPagePlan PlanIndexPages(JetVersion version, const std::vector<IndexEntry>& entries);

// Splits `count` items of one level into pages, filling each as far as it goes. `size(i)` is the
// complete size of item i's entry, `shared(i, j)` the key bytes items i and j share. With `tails`,
// the last item of every page with two or more items is its child tail and has no entry.
template <typename Size, typename Shared>
std::vector<PlannedIndexPage> FillLevel(std::size_t count, bool tails, std::size_t capacity,
                                        Size size, Shared shared) {
  std::vector<PlannedIndexPage> pages;
  std::size_t begin = 0;
  while (begin < count) {
    // Entries [begin, entries_end) with complete sizes adding up to `total`.
    std::size_t entries_end = begin + 1;
    std::size_t total = size(begin);
    auto fits_with = [&](std::size_t next) {
      const std::size_t with = total + size(next);
      if (with <= capacity) return true;
      const std::size_t prefix = shared(begin, next);
      return with - (next - begin) * prefix <= capacity;
    };
    std::size_t end = entries_end;  // items of the page
    if (!tails) {
      while (entries_end < count && fits_with(entries_end)) total += size(entries_end++);
      end = entries_end;
    } else if (begin + 1 < count) {
      // Item `end - 1` is the tail; taking one more item gives it an entry.
      end = begin + 2;
      while (end < count && fits_with(end - 1)) total += size(end++ - 1);
      entries_end = end - 1;
    }
    PlannedIndexPage page;
    page.begin = begin;
    page.end = end;
    page.prefix = total <= capacity ? 0 : shared(begin, entries_end - 1);
    pages.push_back(page);
    begin = end;
  }
  return pages;
}

// The levels of a tree over `count` sorted entries, leaves first; `key_size(i)` and
// `shared(i, j)` describe the entries' keys.
template <typename KeySize, typename Shared>
IndexPagePlan PlanLevels(JetVersion version, std::size_t count, KeySize key_size, Shared shared) {
  const std::size_t capacity = IndexEntryCapacity(version);
  IndexPagePlan levels;
  // Leaves; an empty index is one empty leaf.
  levels.push_back(FillLevel(
      count, /*tails=*/false, capacity,
      [&](std::size_t i) { return key_size(i) + kIndexEntryRowSize; }, shared));
  if (levels.back().empty()) levels.back().push_back(PlannedIndexPage{});
  for (PlannedIndexPage& p : levels.back()) p.last_entry = p.end == 0 ? 0 : p.end - 1;
  // Intermediate levels until one page is left: the root.
  while (levels.back().size() > 1) {
    const std::vector<PlannedIndexPage>& below = levels.back();
    auto last = [&](std::size_t i) { return below[i].last_entry; };
    std::vector<PlannedIndexPage> level = FillLevel(
        below.size(), /*tails=*/true, capacity,
        [&](std::size_t i) {
          return key_size(last(i)) + kIndexEntryRowSize + kIndexEntryChildSize;
        },
        [&](std::size_t i, std::size_t j) { return shared(last(i), last(j)); });
    for (PlannedIndexPage& p : level) p.last_entry = below[p.end - 1].last_entry;
    levels.push_back(std::move(level));
  }
  return levels;
}

}  // namespace jet
