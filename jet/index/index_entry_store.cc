#include "jet/index/index_entry_store.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "jet/base/byte_writer.h"
#include "jet/base/parallel.h"
#include "jet/index/index_page.h"

namespace jet {
namespace {

// Short keys only: the order of (key prefix, key length, row pointer) taken a byte at a time,
// most significant first, as digits 0-7 (prefix), 8 (length) and 9-12 (row pointer).
constexpr int kDigits = 13;
constexpr std::size_t kSmallRange = 64;         // sorted by comparisons instead
constexpr std::size_t kParallelSort = 1 << 16;  // stores at least this large: two threads
// A long key's length takes two bytes in the key store.
constexpr std::size_t kMaxLongKey = 0xFFFF;
constexpr std::size_t kLongKeyLengthSize = 2;

}  // namespace

std::size_t SharedPrefix(Bytes a, Bytes b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

Status IndexEntryStore::Add(Bytes key, RowPointer row, bool null_key) {
  // The first bytes as a number, then zeros up to kInlineKey bytes.
  const std::size_t leading = std::min(key.size(), kInlineKey);
  std::array<std::uint8_t, kInlineKey> first{};
  if (leading > 0) std::memcpy(first.data(), key.data(), leading);
  std::uint64_t prefix = 0;
  std::memcpy(&prefix, first.data(), kInlineKey);
  if constexpr (std::endian::native == std::endian::little) prefix = __builtin_bswap64(prefix);
  std::uint32_t meta = null_key ? kNullKey : 0;
  if (key.size() <= kInlineKey) {
    meta |= static_cast<std::uint32_t>(key.size());
  } else {
    if (store_.size() + kLongKeyLengthSize + key.size() > kValueMask || key.size() > kMaxLongKey) {
      return Status(ErrorCode::kNotSupported, "Der Index ist zu groß, um ihn zu schreiben.");
    }
    meta |= kLongKey | static_cast<std::uint32_t>(store_.size());
    ByteWriter out(store_);
    out.Append16(static_cast<std::uint16_t>(key.size()));
    out.AppendBytes(key);
  }
  items_.push_back({prefix, row.Raw(), meta});
  return Status::Ok();
}

Status IndexEntryStore::Append(const IndexEntryStore& other) {
  if (store_.size() + other.store_.size() > kValueMask) {
    return Status(ErrorCode::kNotSupported, "Der Index ist zu groß, um ihn zu schreiben.");
  }
  const auto shift = static_cast<std::uint32_t>(store_.size());
  items_.reserve(items_.size() + other.items_.size());
  for (Item item : other.items_) {
    if ((item.meta & kLongKey) != 0) item.meta += shift;  // its key moves up with the store
    items_.push_back(item);
  }
  store_.insert(store_.end(), other.store_.begin(), other.store_.end());
  return Status::Ok();
}

void IndexEntryStore::Sort() {
  const auto less = [this](const Item& a, const Item& b) { return Less(a, b); };
  if (std::is_sorted(items_.begin(), items_.end(), less)) return;
  if (!store_.empty()) {
    std::sort(items_.begin(), items_.end(), less);
    return;
  }
  Item* first = items_.data();
  Item* last = first + items_.size();
  if (items_.size() < kParallelSort) {
    RadixSort(first, last, 0);
    return;
  }
  // The first split by one thread; then the buckets in two shares of about equal size, one
  // share on another thread. The order is total (row pointers differ), so it comes out the same.
  const int digit = FirstDifferingDigit(first, last, 0);
  if (digit >= kDigits) return;
  const Buckets buckets = Distribute(first, last, digit);
  std::size_t split = 0;
  for (std::size_t taken = 0; split < 256 && 2 * taken < items_.size(); ++split) {
    taken += buckets.count[split];
  }
  const auto sort_buckets = [&](std::size_t from, std::size_t to) {
    for (std::size_t b = from; b < to; ++b) {
      if (buckets.count[b] > 1) {
        RadixSort(first + buckets.begin[b], first + buckets.begin[b] + buckets.count[b], digit + 1);
      }
    }
  };
  RunBoth([&] { sort_buckets(0, split); }, [&] { sort_buckets(split, 256); });
}

std::size_t IndexEntryStore::KeySize(std::size_t i) const {
  const Item& item = items_[i];
  if ((item.meta & kLongKey) == 0) return item.meta & kValueMask;
  return ByteReader(store_).U16(item.meta & kValueMask);
}

bool IndexEntryStore::SameKey(std::size_t i, std::size_t j) const {
  const Item& a = items_[i];
  const Item& b = items_[j];
  if (a.prefix != b.prefix) return false;
  if (((a.meta | b.meta) & kLongKey) == 0) return (a.meta & kValueMask) == (b.meta & kValueMask);
  Scratch sa, sb;
  return CompareKeys(Key(a, sa), Key(b, sb)) == 0;
}

std::size_t IndexEntryStore::Shared(std::size_t i, std::size_t j) const {
  const Item& a = items_[i];
  const Item& b = items_[j];
  if (((a.meta | b.meta) & kLongKey) == 0) {
    // Leading equal bytes of the prefixes, up to the shorter key's length.
    const std::size_t equal =
        a.prefix == b.prefix ? kInlineKey
                             : static_cast<std::size_t>(std::countl_zero(a.prefix ^ b.prefix)) / 8;
    return std::min({equal, std::size_t{a.meta & kValueMask}, std::size_t{b.meta & kValueMask}});
  }
  Scratch sa, sb;
  return SharedPrefix(Key(a, sa), Key(b, sb));
}

Bytes IndexEntryStore::Key(const Item& item, Scratch& scratch) const {
  if ((item.meta & kLongKey) != 0) {
    const std::size_t at = item.meta & kValueMask;
    const std::size_t length = ByteReader(store_).U16(at);
    return Bytes(store_).subspan(at + kLongKeyLengthSize, length);
  }
  // The prefix's bytes, most significant first.
  const std::uint64_t big_endian =
      std::endian::native == std::endian::big ? item.prefix : __builtin_bswap64(item.prefix);
  static_assert(sizeof(big_endian) == kInlineKey);
  std::memcpy(scratch.data(), &big_endian, kInlineKey);
  return Bytes(scratch.data(), item.meta & kValueMask);
}

bool IndexEntryStore::Less(const Item& a, const Item& b) const {
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  if (((a.meta | b.meta) & kLongKey) == 0) {
    // Whole keys in the prefix: the shorter key first, then the row pointer.
    const std::uint32_t la = a.meta & kValueMask;
    const std::uint32_t lb = b.meta & kValueMask;
    if (la != lb) return la < lb;
    return a.row < b.row;
  }
  Scratch sa, sb;
  if (const int c = CompareKeys(Key(a, sa), Key(b, sb)); c != 0) return c < 0;
  return a.row < b.row;
}

unsigned IndexEntryStore::Digit(const Item& item, int digit) {
  if (digit < 8) return static_cast<unsigned>(item.prefix >> (56 - 8 * digit)) & 0xFF;
  if (digit == 8) return item.meta & 0xFF;  // a short key's length (at most 8)
  return (item.row >> (24 - 8 * (digit - 9))) & 0xFF;
}

// The first digit from `digit` on in which two items of the range differ (kDigits if none).
int IndexEntryStore::FirstDifferingDigit(const Item* first, const Item* last, int digit) {
  std::uint64_t prefix_diff = 0;
  std::uint64_t rest_diff = 0;  // length (digit 8) and row pointer (digits 9-12)
  const auto rest = [](const Item& item) {
    return std::uint64_t{item.meta & 0xFF} << 32 | item.row;
  };
  const std::uint64_t first_rest = rest(*first);
  for (const Item* p = first + 1; p != last; ++p) {
    prefix_diff |= p->prefix ^ first->prefix;
    rest_diff |= rest(*p) ^ first_rest;
  }
  for (; digit < kDigits; ++digit) {
    if (digit < 8) {
      if ((prefix_diff >> (56 - 8 * digit)) & 0xFF) return digit;
    } else if ((rest_diff >> (32 - 8 * (digit - 8))) & 0xFF) {
      return digit;
    }
  }
  return digit;
}

// In-place most-significant-digit radix sort (each level distributes its range into 256
// buckets by swapping items along cycles, then sorts every bucket by the next digit).
IndexEntryStore::Buckets IndexEntryStore::Distribute(Item* first, Item* last, int digit) {
  Buckets buckets;
  for (const Item* p = first; p != last; ++p) ++buckets.count[Digit(*p, digit)];
  std::array<std::size_t, 256> next{};
  for (std::size_t b = 0, at = 0; b < 256; ++b) {
    buckets.begin[b] = next[b] = at;
    at += buckets.count[b];
  }
  // Each item goes to its bucket by swapping along cycles.
  for (std::size_t b = 0; b < 256; ++b) {
    const std::size_t end = buckets.begin[b] + buckets.count[b];
    while (next[b] < end) {
      Item item = first[next[b]];
      for (unsigned d = Digit(item, digit); d != b; d = Digit(item, digit)) {
        std::swap(item, first[next[d]++]);
      }
      first[next[b]++] = item;
    }
  }
  return buckets;
}

void IndexEntryStore::RadixSort(Item* first, Item* last, int digit) const {
  const auto n = static_cast<std::size_t>(last - first);
  if (n <= kSmallRange) {
    std::sort(first, last, [this](const Item& a, const Item& b) { return Less(a, b); });
    return;
  }
  // Digits every item of the range shares decide nothing: skip them all in one pass.
  digit = FirstDifferingDigit(first, last, digit);
  if (digit >= kDigits) return;
  const Buckets buckets = Distribute(first, last, digit);
  for (std::size_t b = 0; b < 256; ++b) {
    if (buckets.count[b] > 1) {
      RadixSort(first + buckets.begin[b], first + buckets.begin[b] + buckets.count[b], digit + 1);
    }
  }
}

}  // namespace jet
