// The pages of a database file, held in memory.
//
// The whole file is read once at open; encrypted pages are decrypted then, so every later read is
// a bounds-checked view into memory. Page 0 (the header) is kept as stored.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/byte_reader.h"
#include "jet/file_source.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/status.h"

namespace jet {

class PageStore {
 public:
  // Reads the file, parses the header and decrypts encrypted pages.
  static Result<std::unique_ptr<PageStore>> Load(FileSource& source);

  const Header& header() const { return header_; }
  const Format& format() const { return header_.format(); }
  std::size_t page_size() const { return format().page_size; }
  std::uint32_t page_count() const { return page_count_; }
  const std::string& name() const { return name_; }

  // The page's bytes, or a corruption error naming the page when it lies outside the file.
  Result<Bytes> Page(std::uint32_t number) const;

  // A page that must be of the given type (checked against its first byte).
  Result<Bytes> TypedPage(std::uint32_t number, PageType type) const;

 private:
  PageStore() = default;

  Header header_;
  std::vector<std::uint8_t> bytes_;
  std::uint32_t page_count_ = 0;
  std::string name_;
};

// Decrypts (or encrypts: the same operation) one page of a database whose header has a non-zero
// database key. The page's RC4 key is the database key XOR the page number, as four bytes
// little-endian. Page 0 is never encrypted this way.
void CryptPage(std::uint32_t database_key, std::uint32_t page_number, std::span<std::uint8_t> page);

}  // namespace jet
