#include "jet/page/usage_map.h"

#include "jet/page/data_page.h"

namespace jet {
namespace {

void CollectBits(Bytes bitmap, std::uint64_t first_page, std::uint32_t page_count,
                 std::vector<std::uint32_t>& out) {
  for (std::size_t byte = 0; byte < bitmap.size(); ++byte) {
    if (bitmap[byte] == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      if (!(bitmap[byte] & (1u << bit))) continue;
      const std::uint64_t page = first_page + byte * 8 + static_cast<unsigned>(bit);
      // Bits past the end of the file are ignored: Access leaves them set in free-space maps.
      if (page < page_count) out.push_back(static_cast<std::uint32_t>(page));
    }
  }
}

}  // namespace

Result<std::vector<std::uint32_t>> ReadUsageMap(const PageStore& store, RowPointer where) {
  JET_ASSIGN_OR_RETURN(Bytes row, ReadRowAt(store, where));
  ByteReader in(row);
  std::vector<std::uint32_t> pages;
  const std::uint8_t type = in.U8(0);
  if (!in.ok()) return Status::Corrupt("Beschädigte Datenbank: leere Belegungstabelle.");
  if (type == kUsageMapInline) {
    const std::uint32_t first = in.U32(kInlineMapStartOffset);
    if (!in.ok()) return Status::Corrupt("Beschädigte Datenbank: zu kurze Belegungstabelle.");
    CollectBits(row.subspan(kInlineMapBitmapOffset), first, store.page_count(), pages);
  } else if (type == kUsageMapReference) {
    const std::uint64_t pages_per_map = (store.page_size() - kMapPageBitmapOffset) * 8;
    for (std::size_t off = kReferenceMapPagesOffset, j = 0; off + 4 <= row.size(); off += 4, ++j) {
      const std::uint32_t map_page = in.U32(off);
      if (map_page == 0) continue;
      JET_ASSIGN_OR_RETURN(Bytes page, store.TypedPage(map_page, PageType::kUsageMap));
      CollectBits(page.subspan(kMapPageBitmapOffset), j * pages_per_map, store.page_count(), pages);
    }
  } else {
    return Status::Corrupt("Beschädigte Datenbank: unbekannter Belegungstabellentyp " +
                           std::to_string(type) + " auf Seite " + std::to_string(where.page) + ".");
  }
  return pages;
}

}  // namespace jet
