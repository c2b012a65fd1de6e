#include "db/sql/row_store.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace db::sql {
namespace {

using Storage = jet::Value::Storage;
constexpr std::size_t kCountSize = 2;
constexpr std::size_t kTagSize = 1;
constexpr std::size_t kLengthSize = 4;

template <typename T>
constexpr bool kHasLength = std::is_same_v<T, std::string> || std::is_same_v<T, jet::ByteString>;

// Bytes a value takes after its tag.
std::size_t PayloadSize(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::size_t {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return 0;
        } else if constexpr (kHasLength<T>) {
          return kLengthSize + v.size();
        } else {
          return sizeof(T);
        }
      },
      value.storage());
}

std::uint8_t* Put(const Value& value, std::uint8_t* out) {
  *out++ = static_cast<std::uint8_t>(value.storage().index());
  return std::visit(
      [out](const auto& v) -> std::uint8_t* {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return out;
        } else if constexpr (kHasLength<T>) {
          const auto length = static_cast<std::uint32_t>(v.size());
          std::memcpy(out, &length, kLengthSize);
          // Length-prefixed bytes, never read as a C string.
          // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
          if (length > 0) std::memcpy(out + kLengthSize, v.data(), length);
          return out + kLengthSize + length;
        } else {
          static_assert(std::is_trivially_copyable_v<T>);
          std::memcpy(out, &v, sizeof(T));
          return out + sizeof(T);
        }
      },
      value.storage());
}

// The value at `in` (of alternative I or later), and the bytes after it.
template <std::size_t I = 0>
Value Take(std::size_t tag, const std::uint8_t*& in) {
  if constexpr (I < std::variant_size_v<Storage>) {
    if (tag != I) return Take<I + 1>(tag, in);
    using T = std::variant_alternative_t<I, Storage>;
    if constexpr (std::is_same_v<T, std::monostate>) {
      return Value();
    } else if constexpr (kHasLength<T>) {
      std::uint32_t length = 0;
      std::memcpy(&length, in, kLengthSize);
      const std::uint8_t* bytes = in + kLengthSize;
      in = bytes + length;
      return Value(T(bytes, bytes + length));
    } else {
      T v;
      std::memcpy(&v, in, sizeof(T));
      in += sizeof(T);
      return Value(v);
    }
  } else {
    return Value();  // no such tag is ever written
  }
}

// Skips the value at `in`.
template <std::size_t I = 0>
void Skip(std::size_t tag, const std::uint8_t*& in) {
  if constexpr (I < std::variant_size_v<Storage>) {
    if (tag != I) return Skip<I + 1>(tag, in);
    using T = std::variant_alternative_t<I, Storage>;
    if constexpr (kHasLength<T>) {
      std::uint32_t length = 0;
      std::memcpy(&length, in, kLengthSize);
      in += kLengthSize + length;
    } else if constexpr (!std::is_same_v<T, std::monostate>) {
      in += sizeof(T);
    }
  }
}

std::uint16_t CountAt(const std::uint8_t* row) {
  std::uint16_t count = 0;
  std::memcpy(&count, row, kCountSize);
  return count;
}

// Bytes of the whole row that starts at `row`.
std::size_t RowSize(const std::uint8_t* row) {
  const std::uint8_t* in = row + kCountSize;
  for (std::uint16_t i = CountAt(row); i > 0; --i) {
    const std::size_t tag = *in++;
    Skip(tag, in);
  }
  return static_cast<std::size_t>(in - row);
}

}  // namespace

std::uint8_t* RowStore::StartRow(std::size_t size) {
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < size) {
    // Blocks grow with the table, up to a size the allocator takes straight from the system
    // and hands back to it when the rows go.
    const std::size_t grown =
        blocks_.empty() ? kFirstBlockBytes
                        : std::min(2 * blocks_.back().capacity(), std::size_t{kMaxBlockBytes});
    blocks_.emplace_back().reserve(std::max(grown, size));
  }
  Block& block = blocks_.back();
  const std::size_t at = block.size();
  starts_.push_back(std::uint64_t{blocks_.size() - 1} << 32 | at);
  block.resize(at + size);  // within the reserved room: the block's bytes stay where they are
  return block.data() + at;
}

const std::uint8_t* RowStore::RowBytes(std::size_t row) const {
  const std::uint64_t start = starts_[row];
  return blocks_[static_cast<std::size_t>(start >> 32)].data() + (start & 0xFFFFFFFFu);
}

void RowStore::push_back(const Row& row) {
  std::size_t size = kCountSize;
  for (const Value& v : row) size += kTagSize + PayloadSize(v);
  std::uint8_t* out = StartRow(size);
  const auto count = static_cast<std::uint16_t>(row.size());
  std::memcpy(out, &count, kCountSize);
  out += kCountSize;
  for (const Value& v : row) out = Put(v, out);
}

Row RowStore::operator[](std::size_t row) const {
  const std::uint8_t* bytes = RowBytes(row);
  Row out;
  const std::uint16_t count = CountAt(bytes);
  out.reserve(count);
  const std::uint8_t* in = bytes + kCountSize;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t tag = *in++;
    out.push_back(Take(tag, in));
  }
  return out;
}

Value RowStore::value(std::size_t row, std::size_t column) const {
  const std::uint8_t* bytes = RowBytes(row);
  if (column >= CountAt(bytes)) return Value();
  const std::uint8_t* in = bytes + kCountSize;
  for (std::size_t i = 0; i < column; ++i) {
    const std::size_t tag = *in++;
    Skip(tag, in);
  }
  const std::size_t tag = *in++;
  return Take(tag, in);
}

void RowStore::AppendFrom(const RowStore& other, std::size_t row) {
  const std::uint8_t* bytes = other.RowBytes(row);
  const std::size_t size = RowSize(bytes);
  std::memcpy(StartRow(size), bytes, size);
}

}  // namespace db::sql
