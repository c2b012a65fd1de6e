#include "jet/page/page_allocator.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "jet/base/byte_writer.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"

namespace jet {
namespace {

// Pages 0 to 2 (header, free map, catalog) are never handed out.
constexpr std::uint32_t kFirstReusablePage = 3;

// The mutable bytes of the row a pointer names.
Result<std::span<std::uint8_t>> MutableRow(PageStore& store, RowPointer where) {
  JET_ASSIGN_OR_RETURN(Bytes row, ReadRowAt(store, where));
  JET_ASSIGN_OR_RETURN(Bytes page, store.Page(where.page));
  const std::size_t offset = static_cast<std::size_t>(row.data() - page.data());
  JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> mutable_page, store.MutablePage(where.page));
  return mutable_page.subspan(offset, row.size());
}

void SetBit(std::span<std::uint8_t> bitmap, std::size_t bit, bool on) {
  const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
  if (on) {
    bitmap[bit / 8] |= mask;
  } else {
    bitmap[bit / 8] &= static_cast<std::uint8_t>(~mask);
  }
}

Status SetInReferenceMap(PageStore& store, PageAllocator& allocator, std::span<std::uint8_t> row,
                         RowPointer map, std::uint32_t page, bool used, bool may_grow) {
  const std::size_t pages_per_map = (store.page_size() - kMapPageBitmapOffset) * 8;
  const std::size_t slot = page / pages_per_map;
  const std::size_t at = kReferenceMapPagesOffset + 4 * slot;
  if (at + 4 > row.size()) {
    return Status(ErrorCode::kIoError, "Die Belegungstabelle auf Seite " +
                                           std::to_string(map.page) + " reicht nicht bis Seite " +
                                           std::to_string(page) + ".");
  }
  std::uint32_t map_page = ByteReader(row).U32(at);
  if (map_page == 0) {
    if (!used) return Status::Ok();
    if (!may_grow) return Status(ErrorCode::kNotSupported, "Die Belegungstabelle reicht nicht.");
    JET_ASSIGN_OR_RETURN(map_page, allocator.Allocate());
    JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> fresh, store.MutablePage(map_page));
    ByteWriter page_head(fresh);
    page_head.Put8(0, static_cast<std::uint8_t>(PageType::kUsageMap));
    page_head.Put8(1, kMapPageMarker);
    // The allocation may have moved nothing, but re-read the row: it lives on another page.
    JET_ASSIGN_OR_RETURN(row, MutableRow(store, map));
    ByteWriter(row).Put32(at, map_page);
  }
  JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bits, store.MutablePage(map_page));
  if (bits[0] != static_cast<std::uint8_t>(PageType::kUsageMap)) {
    return Status::Corrupt("Seite " + std::to_string(map_page) + " ist keine Belegungsseite.");
  }
  SetBit(bits.subspan(kMapPageBitmapOffset), page % pages_per_map, used);
  return Status::Ok();
}

}  // namespace

Result<std::uint32_t> PageAllocator::Allocate() {
  // Pages given back in this session first, then pages the free map lists whose bytes show that
  // nothing uses them (a zero page type), then a new page at the end of the file.
  auto reuse = [&](std::uint32_t page) -> Result<std::uint32_t> {
    JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *this, kGlobalFreeMap, page, false));
    JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bytes, store_->MutablePage(page));
    std::fill(bytes.begin(), bytes.end(), 0);
    return page;
  };
  if (!freed_.empty()) {
    const std::uint32_t page = *freed_.begin();
    freed_.erase(freed_.begin());
    return reuse(page);
  }
  auto free_pages = ReadUsageMap(*store_, kGlobalFreeMap);
  if (free_pages.ok()) {
    for (std::uint32_t page : *free_pages) {
      if (page < kFirstReusablePage || Claimed(page)) continue;
      JET_ASSIGN_OR_RETURN(Bytes bytes, store_->Page(page));
      if (std::all_of(bytes.begin(), bytes.begin() + 8, [](std::uint8_t b) { return b == 0; })) {
        return reuse(page);
      }
    }
  }
  // Access leaves bits set in the free map for pages past the end of the file: the new page
  // must not stay listed there, or it would be handed out (and read by Access) as free.
  JET_ASSIGN_OR_RETURN(std::uint32_t page, store_->AppendPage());
  JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *this, kGlobalFreeMap, page, false));
  return page;
}

bool PageAllocator::Claimed(std::uint32_t page) {
  if (!claimed_known_) {
    claimed_known_ = true;
    if (claimed_source_) {
      auto claimed = claimed_source_();
      if (claimed.ok()) {
        claimed_ = std::move(*claimed);
      } else {
        free_map_usable_ = false;  // what is still used is unknown: nothing of the map is taken
      }
    }
  }
  if (!free_map_usable_) return true;
  return page < claimed_.size() && claimed_[page];
}

Status PageAllocator::Free(std::uint32_t page) {
  JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bytes, store_->MutablePage(page));
  std::fill(bytes.begin(), bytes.end(), 0);
  // The free map is not grown for this: a page it cannot reach is not recorded there, but it is
  // still handed out again while the database stays open.
  (void)SetPageInUsageMap(*store_, *this, kGlobalFreeMap, page, true, /*may_grow=*/false);
  freed_.insert(page);
  return Status::Ok();
}

Status SetPageInUsageMap(PageStore& store, PageAllocator& allocator, RowPointer map,
                         std::uint32_t page, bool used, bool may_grow) {
  JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> row, MutableRow(store, map));
  if (row.empty()) return Status::Corrupt("Leere Belegungstabelle.");
  if (row[0] == kUsageMapReference) {
    return SetInReferenceMap(store, allocator, row, map, page, used, may_grow);
  }
  if (row[0] != kUsageMapInline || row.size() < kInlineMapBitmapOffset) {
    return Status::Corrupt("Unbekannte Belegungstabelle auf Seite " + std::to_string(map.page) +
                           ".");
  }
  const std::uint32_t start = ByteReader(row).U32(kInlineMapStartOffset);
  std::span<std::uint8_t> bitmap = row.subspan(kInlineMapBitmapOffset);
  const std::size_t bits = bitmap.size() * 8;
  if (page >= start && page - start < bits) {
    SetBit(bitmap, page - start, used);
    return Status::Ok();
  }
  if (!used) return Status::Ok();
  if (!may_grow) return Status(ErrorCode::kNotSupported, "Die Belegungstabelle reicht nicht.");
  // Outside the window: move it when every page fits, else become a reference map.
  std::vector<std::uint32_t> pages;
  for (std::size_t b = 0; b < bits; ++b) {
    if (bitmap[b / 8] & (1u << (b % 8))) pages.push_back(static_cast<std::uint32_t>(start + b));
  }
  pages.push_back(page);
  const auto [lo, hi] = std::minmax_element(pages.begin(), pages.end());
  if (*hi - *lo < bits) {
    std::fill(bitmap.begin(), bitmap.end(), 0);
    ByteWriter(row).Put32(kInlineMapStartOffset, *lo);
    for (std::uint32_t p : pages) SetBit(bitmap, p - *lo, true);
    return Status::Ok();
  }
  std::fill(row.begin(), row.end(), 0);
  row[0] = kUsageMapReference;
  for (std::uint32_t p : pages)
    JET_RETURN_IF_ERROR(SetPageInUsageMap(store, allocator, map, p, true));
  return Status::Ok();
}

}  // namespace jet
