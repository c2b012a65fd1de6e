// Bounds-checked little-endian reads from a byte range.
//
// Every structure of the file is decoded through a ByteReader over exactly the bytes that belong to
// it. A read past the end sets the reader's failed flag and yields zero instead of touching memory
// outside the range; decoders check `ok()` once after a group of reads and report corruption.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace jet {

using Bytes = std::span<const std::uint8_t>;

class ByteReader {
 public:
  explicit ByteReader(Bytes data) : data_(data) {}

  bool ok() const { return ok_; }
  std::size_t size() const { return data_.size(); }
  Bytes data() const { return data_; }

  // True when [offset, offset + length) lies inside the range.
  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }

  std::uint8_t U8(std::size_t offset) { return static_cast<std::uint8_t>(Read(offset, 1)); }
  std::uint16_t U16(std::size_t offset) { return static_cast<std::uint16_t>(Read(offset, 2)); }
  std::uint32_t U24(std::size_t offset) { return static_cast<std::uint32_t>(Read(offset, 3)); }
  std::uint32_t U32(std::size_t offset) { return static_cast<std::uint32_t>(Read(offset, 4)); }
  std::uint64_t U64(std::size_t offset) { return Read(offset, 8); }
  std::int16_t I16(std::size_t offset) { return static_cast<std::int16_t>(U16(offset)); }
  std::int32_t I32(std::size_t offset) { return static_cast<std::int32_t>(U32(offset)); }
  std::int64_t I64(std::size_t offset) { return static_cast<std::int64_t>(U64(offset)); }
  float F32(std::size_t offset) {
    std::uint32_t bits = U32(offset);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  double F64(std::size_t offset) {
    std::uint64_t bits = U64(offset);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }

  // The sub-range [offset, offset + length), or an empty range (and failure) when it overruns.
  Bytes Slice(std::size_t offset, std::size_t length) {
    if (!Has(offset, length)) {
      ok_ = false;
      return {};
    }
    return data_.subspan(offset, length);
  }

 private:
  std::uint64_t Read(std::size_t offset, std::size_t width) {
    if (!Has(offset, width)) {
      ok_ = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= std::uint64_t{data_[offset + i]} << (8 * i);
    return v;
  }

  Bytes data_;
  bool ok_ = true;
};

}  // namespace jet
