// The entries of one index while it is rebuilt, sixteen bytes each, so that an index of millions
// of rows fits in little memory:
//
//   0   8  the key's first eight bytes as a big-endian number (zeros past a shorter key)
//   8   4  the row pointer, raw (page << 8 | row)
//   12  4  bit 31 clear: the key is at most eight bytes long, bits 0-29 give its length;
//          bit 31 set: bits 0-29 give where the key's length (2 bytes, little-endian) and bytes
//          start in the store's key bytes; bit 30: every key column of the row is Null
//
// Comparing the first eight bytes as numbers orders keys as their bytes do, up to ties, which
// the lengths (short keys) or the complete bytes (longer keys) settle.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/format.h"
#include "jet/base/large_allocator.h"
#include "jet/base/status.h"

namespace jet {

class IndexEntryStore {
 public:
  static constexpr std::size_t kInlineKey = 8;
  // Room for the bytes of a key of at most kInlineKey bytes (see Key()).
  using Scratch = std::array<std::uint8_t, kInlineKey>;

  void Reserve(std::size_t n) { items_.reserve(n); }

  // Adds an entry; `null_key`: every key column of the row is Null. Fails when the long keys
  // outgrow what the entries can address.
  Status Add(Bytes key, RowPointer row, bool null_key);
  // Adds an entry whose key of `length` bytes (at most kInlineKey) is given as the big-endian
  // number its bytes form, left-aligned in 64 bits, as Add() lays it out.
  void AddShort(std::uint64_t prefix, std::size_t length, RowPointer row, bool null_key) {
    items_.push_back(
        {prefix, row.Raw(), (null_key ? kNullKey : 0) | static_cast<std::uint32_t>(length)});
  }

  // Adds the entries of `other` after these (the entries of a later part of the table). Fails,
  // changing nothing, when the long keys together outgrow what the entries can address.
  Status Append(const IndexEntryStore& other);

  // Index order: key bytes, then row pointer. Rows read in storage order often come sorted
  // already (AutoNumber keys). A large store is sorted by two threads.
  void Sort();

  std::size_t size() const { return items_.size(); }
  RowPointer Row(std::size_t i) const { return RowPointer::FromRaw(items_[i].row); }
  bool NullKey(std::size_t i) const { return (items_[i].meta & kNullKey) != 0; }
  std::size_t KeySize(std::size_t i) const;
  // The key bytes of entry i; a short key is laid out in `scratch`.
  Bytes Key(std::size_t i, Scratch& scratch) const { return Key(items_[i], scratch); }
  bool SameKey(std::size_t i, std::size_t j) const;
  // Leading key bytes entries i and j share.
  std::size_t Shared(std::size_t i, std::size_t j) const;

 private:
  struct Item {
    std::uint64_t prefix;
    std::uint32_t row;
    std::uint32_t meta;
  };
  static_assert(sizeof(Item) == 16);
  static constexpr std::uint32_t kLongKey = 1u << 31;
  static constexpr std::uint32_t kNullKey = 1u << 30;
  static constexpr std::uint32_t kValueMask = kNullKey - 1;

  Bytes Key(const Item& item, Scratch& scratch) const;
  bool Less(const Item& a, const Item& b) const;
  static unsigned Digit(const Item& item, int digit);
  static int FirstDifferingDigit(const Item* first, const Item* last, int digit);
  void RadixSort(Item* first, Item* last, int digit) const;
  // Distributes the range into 256 buckets by the digit (in place); returns where each begins
  // and how many items it holds.
  struct Buckets {
    std::array<std::size_t, 256> begin{};
    std::array<std::size_t, 256> count{};
  };
  static Buckets Distribute(Item* first, Item* last, int digit);

  std::vector<Item, LargeBlockAllocator<Item>> items_;
  std::vector<std::uint8_t> store_;  // keys longer than eight bytes: length, then the bytes
};

// Leading bytes two keys share.
std::size_t SharedPrefix(Bytes a, Bytes b);

}  // namespace jet
