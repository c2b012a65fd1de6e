#include "jet/index/index_page.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace jet {
namespace {

Status Corrupt(std::uint32_t page, const std::string& why) {
  return Status::Corrupt("Beschädigte Datenbank: Indexseite " + std::to_string(page) + " " + why +
                         ".");
}

// Big-endian reads of entry fields (the page header is little-endian, entries are not).
std::uint32_t BigEndian(Bytes b) {
  std::uint32_t v = 0;
  for (std::uint8_t x : b) v = (v << 8) | x;
  return v;
}

// The page's head fields into `p` (entries left empty) and its entry bitmap.
Status DecodeHead(JetVersion version, std::uint32_t number, Bytes page, IndexPage& p,
                  Bytes& bitmap) {
  const IndexPageLayout& layout = IndexPageLayoutFor(version);
  const std::size_t page_size = FormatFor(version).page_size;
  ByteReader in(page);
  if (page.size() != page_size) return Corrupt(number, "hat die falsche Größe");

  p.number = number;
  const std::uint8_t type = in.U8(0);
  if (type == static_cast<std::uint8_t>(PageType::kLeafIndex)) {
    p.leaf = true;
  } else if (type == static_cast<std::uint8_t>(PageType::kIntermediateIndex)) {
    p.leaf = false;
  } else {
    return Corrupt(number, "ist keine Indexseite (Typ " + std::to_string(type) + ")");
  }
  p.free_space = in.U16(kIndexPageFreeSpaceOffset);
  p.owner = in.U32(kIndexPageOwnerOffset);
  p.prev_page = in.U32(layout.prev_page);
  p.next_page = in.U32(layout.next_page);
  p.child_tail = in.U32(layout.child_tail);
  p.prefix_length =
      layout.prefix_length_size == 2 ? in.U16(layout.prefix_length) : in.U8(layout.prefix_length);
  p.node_marker = in.U8(layout.node_marker);
  bitmap = in.Slice(layout.bitmap, layout.bitmap_size);
  if (!in.ok()) return Corrupt(number, "hat einen unvollständigen Kopf");
  if (p.leaf && p.child_tail != 0) {
    return Corrupt(
        number, "ist ein Blatt, nennt aber eine Endseite (" + std::to_string(p.child_tail) + ")");
  }
  return Status::Ok();
}

// The free-space field must be what the entries leave.
Status CheckFreeSpace(const IndexPage& p, std::size_t entries_end, const IndexPageLayout& layout,
                      std::size_t page_size) {
  if (std::size_t{p.free_space} + layout.entries + entries_end != page_size) {
    return Corrupt(p.number, "nennt " + std::to_string(p.free_space) + " freie Bytes, die " +
                                 "Einträge lassen " +
                                 std::to_string(page_size - layout.entries - entries_end));
  }
  return Status::Ok();
}

}  // namespace

Result<IndexPage> DecodeIndexPage(JetVersion version, std::uint32_t number, Bytes page) {
  const IndexPageLayout& layout = IndexPageLayoutFor(version);
  const std::size_t page_size = FormatFor(version).page_size;
  IndexPage p;
  Bytes bitmap;
  JET_RETURN_IF_ERROR(DecodeHead(version, number, page, p, bitmap));

  const Bytes area = page.subspan(layout.entries);
  const std::size_t trailer = kIndexEntryRowSize + (p.leaf ? 0 : kIndexEntryChildSize);
  std::size_t start = 0;
  for (std::size_t bit = 0; bit < bitmap.size() * 8; ++bit) {
    if ((bitmap[bit / 8] & (1u << (bit % 8))) == 0) continue;
    const std::size_t end = bit;
    if (end > area.size()) {
      return Corrupt(
          number, "markiert ein Eintragsende (" + std::to_string(end) + ") hinter dem Seitenende");
    }
    const Bytes stored = area.subspan(start, end - start);
    IndexEntry e;
    if (p.entries.empty()) {
      if (stored.size() < p.prefix_length) {
        return Corrupt(number, "teilt " + std::to_string(p.prefix_length) +
                                   " Bytes, der erste Eintrag hat nur " +
                                   std::to_string(stored.size()));
      }
      e.key.assign(stored.begin(), stored.end());
    } else {
      const ByteString& first = p.entries.front().key;  // still the complete first entry here
      e.key.reserve(p.prefix_length + stored.size());
      e.key.assign(first.begin(), first.begin() + p.prefix_length);
      e.key.insert(e.key.end(), stored.begin(), stored.end());
    }
    if (e.key.size() <= trailer) {
      return Corrupt(number, "hat einen Eintrag von nur " + std::to_string(e.key.size()) +
                                 " Bytes (Eintrag " + std::to_string(p.entries.size()) + ")");
    }
    p.entries.push_back(std::move(e));
    start = end;
  }
  if (p.entries.empty() && p.prefix_length != 0) {
    return Corrupt(number, "hat keine Einträge, aber eine Präfixlänge");
  }
  JET_RETURN_IF_ERROR(CheckFreeSpace(p, start, layout, page_size));

  // Split off the row pointer (and child page) now that every entry is complete.
  for (IndexEntry& e : p.entries) {
    const std::size_t key_size = e.key.size() - trailer;
    const Bytes tail(e.key.data() + key_size, trailer);
    const std::uint32_t data_page = BigEndian(tail.subspan(0, 3));
    e.row = RowPointer{data_page, tail[3]};
    e.child = p.leaf ? 0 : BigEndian(tail.subspan(kIndexEntryRowSize, kIndexEntryChildSize));
    e.key.resize(key_size);
  }
  return p;
}

Result<IndexPage> DecodeLeafRows(JetVersion version, std::uint32_t number, Bytes page,
                                 std::vector<RowPointer>& rows) {
  const IndexPageLayout& layout = IndexPageLayoutFor(version);
  const std::size_t page_size = FormatFor(version).page_size;
  IndexPage p;
  Bytes bitmap;
  JET_RETURN_IF_ERROR(DecodeHead(version, number, page, p, bitmap));
  if (!p.leaf) return Corrupt(number, "ist kein Blatt");
  const Bytes area = page.subspan(layout.entries);
  Bytes first;  // the first entry, complete: the source of every further entry's prefix
  std::size_t start = 0;
  std::size_t count = 0;
  for (std::size_t byte = 0; byte < bitmap.size(); ++byte) {
    for (unsigned bits = bitmap[byte]; bits != 0; bits &= bits - 1) {
      const std::size_t end = byte * 8 + static_cast<std::size_t>(std::countr_zero(bits));
      if (end > area.size() || end < start) {
        return Corrupt(number, "markiert ein Eintragsende (" + std::to_string(end) +
                                   ") hinter dem Seitenende");
      }
      const Bytes stored = area.subspan(start, end - start);
      const std::size_t shared = count == 0 ? 0 : p.prefix_length;
      if (count == 0) {
        if (stored.size() < p.prefix_length) {
          return Corrupt(number, "teilt " + std::to_string(p.prefix_length) +
                                     " Bytes, der erste Eintrag hat nur " +
                                     std::to_string(stored.size()));
        }
        first = stored;
      }
      const std::size_t size = shared + stored.size();
      if (size <= kIndexEntryRowSize) {
        return Corrupt(number, "hat einen Eintrag von nur " + std::to_string(size) +
                                   " Bytes (Eintrag " + std::to_string(count) + ")");
      }
      // The row pointer is the entry's last 4 bytes; the shared prefix may reach into it.
      std::uint8_t joined[kIndexEntryRowSize];
      const std::uint8_t* tail = joined;
      if (stored.size() >= kIndexEntryRowSize) {
        tail = stored.data() + stored.size() - kIndexEntryRowSize;
      } else {
        for (std::size_t k = 0; k < kIndexEntryRowSize; ++k) {
          const std::size_t at = size - kIndexEntryRowSize + k;
          joined[k] = at < shared ? first[at] : stored[at - shared];
        }
      }
      rows.push_back(RowPointer{
          std::uint32_t{tail[0]} << 16 | std::uint32_t{tail[1]} << 8 | tail[2], tail[3]});
      start = end;
      ++count;
    }
  }
  if (count == 0 && p.prefix_length != 0) {
    return Corrupt(number, "hat keine Einträge, aber eine Präfixlänge");
  }
  JET_RETURN_IF_ERROR(CheckFreeSpace(p, start, layout, page_size));
  return p;
}

Result<IndexPage> ReadIndexPage(const PageStore& store, std::uint32_t number) {
  JET_ASSIGN_OR_RETURN(Bytes page, store.Page(number));
  return DecodeIndexPage(store.format().version, number, page);
}

int CompareKeys(Bytes a, Bytes b) {
  const std::size_t n = std::min(a.size(), b.size());
  if (n > 0) {
    if (const int c = std::memcmp(a.data(), b.data(), n); c != 0) return c < 0 ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareEntries(const IndexEntry& a, const IndexEntry& b) {
  if (const int c = CompareKeys(a.key, b.key); c != 0) return c;
  const std::uint32_t ra = a.row.Raw();
  const std::uint32_t rb = b.row.Raw();
  if (ra == rb) return 0;
  return ra < rb ? -1 : 1;
}

}  // namespace jet
