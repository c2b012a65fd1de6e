#include "jet/page_store.h"

#include <algorithm>

#include "jet/rc4.h"

namespace jet {
namespace {

// The header needs at most this many bytes to be parsed (masked area of Jet 4 ends at 0x98).
constexpr std::size_t kHeaderProbeSize = 0x100;

}  // namespace

void CryptPage(std::uint32_t database_key, std::uint32_t page_number,
               std::span<std::uint8_t> page) {
  const std::uint32_t k = database_key ^ page_number;
  const std::uint8_t key[4] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                               static_cast<std::uint8_t>(k >> 16),
                               static_cast<std::uint8_t>(k >> 24)};
  Rc4 rc4(key);
  rc4.Apply(page);
}

Result<std::unique_ptr<PageStore>> PageStore::Load(FileSource& source) {
  JET_ASSIGN_OR_RETURN(std::uint64_t size, source.Size());
  const std::string& name = source.name();
  if (size == 0) {
    return Status(ErrorCode::kUnrecognizedFormat,
                  "Nicht erkanntes Datenbankformat: Die Datei '" + name + "' ist leer.");
  }
  std::vector<std::uint8_t> probe(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderProbeSize)));
  JET_RETURN_IF_ERROR(source.ReadAt(0, probe));
  JET_ASSIGN_OR_RETURN(Header header, ParseHeader(probe));
  const std::size_t page_size = header.format().page_size;
  if (size < page_size) {
    return Status::Corrupt("Die Datei '" + name + "' ist kürzer als eine Seite (" +
                           std::to_string(size) + " Bytes).");
  }
  constexpr std::uint64_t kMaxPages = 0xFFFFFF;  // page numbers have 24 bits in row pointers
  const std::uint64_t pages = size / page_size;
  if (pages > kMaxPages) {
    return Status::Corrupt("Die Datei '" + name + "' ist größer als jede Jet-Datenbank.");
  }

  auto store = std::unique_ptr<PageStore>(new PageStore());
  store->header_ = header;
  store->page_count_ = static_cast<std::uint32_t>(pages);
  store->name_ = name;
  store->bytes_.resize(static_cast<std::size_t>(pages * page_size));
  JET_RETURN_IF_ERROR(source.ReadAt(0, store->bytes_));
  if (header.database_key != 0) {
    for (std::uint32_t p = 1; p < store->page_count_; ++p) {
      CryptPage(header.database_key, p,
                std::span(store->bytes_).subspan(std::size_t{p} * page_size, page_size));
    }
  }
  return store;
}

Result<Bytes> PageStore::Page(std::uint32_t number) const {
  if (number >= page_count_) {
    return Status::Corrupt("Beschädigte Datenbank '" + name_ + "': Seite " +
                           std::to_string(number) + " liegt außerhalb der Datei (" +
                           std::to_string(page_count_) + " Seiten).");
  }
  return Bytes(bytes_.data() + std::size_t{number} * page_size(), page_size());
}

Result<Bytes> PageStore::TypedPage(std::uint32_t number, PageType type) const {
  JET_ASSIGN_OR_RETURN(Bytes page, Page(number));
  if (number == 0 || page[0] != static_cast<std::uint8_t>(type)) {
    return Status::Corrupt("Beschädigte Datenbank '" + name_ + "': Seite " +
                           std::to_string(number) + " hat den Typ " + std::to_string(page[0]) +
                           " statt " + std::to_string(static_cast<int>(type)) + ".");
  }
  return page;
}

}  // namespace jet
