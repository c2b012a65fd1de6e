// Bounds-checked little-endian writes, the counterpart of ByteReader.
//
// Every page and record the engine writes is laid out through a ByteWriter: over a fixed range
// (a page, a row) it writes at offsets, and its Append calls fill the range from a cursor that
// starts at 0; over a growing byte string it writes at offsets inside what the string holds and
// appends to its end. A write that does not fit sets the writer's failed flag and changes
// nothing; writers check `ok()` where a failure is possible (callers that sized the range
// themselves rely on it in asserts).
//
// Index keys are the one big-endian structure of the file (they sort bytewise): AppendBigEndian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "jet/base/byte_reader.h"

namespace jet {

using MutableBytes = std::span<std::uint8_t>;

class ByteWriter {
 public:
  // Writes into a fixed range.
  explicit ByteWriter(MutableBytes data) : span_(data) {}
  // Writes into, and appends to, a growing byte string.
  explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(&out) {}

  bool ok() const { return ok_; }
  // The bytes written so far by Append calls over a fixed range; the string's size otherwise.
  std::size_t size() const { return out_ != nullptr ? out_->size() : end_; }

  // True when [offset, offset + length) lies inside the range (or the string as it is now).
  bool Has(std::size_t offset, std::size_t length) const {
    const std::size_t limit = out_ != nullptr ? out_->size() : span_.size();
    return offset <= limit && length <= limit - offset;
  }

  void Put8(std::size_t offset, std::uint8_t v) { Write(offset, v, 1); }
  void Put16(std::size_t offset, std::uint16_t v) { Write(offset, v, 2); }
  void Put24(std::size_t offset, std::uint32_t v) { Write(offset, v, 3); }
  void Put32(std::size_t offset, std::uint32_t v) { Write(offset, v, 4); }
  void Put64(std::size_t offset, std::uint64_t v) { Write(offset, v, 8); }
  void PutBytes(std::size_t offset, Bytes bytes) {
    if (!Has(offset, bytes.size())) {
      ok_ = false;
      return;
    }
    if (!bytes.empty()) std::memcpy(Data() + offset, bytes.data(), bytes.size());
  }

  void Append8(std::uint8_t v) { Append(v, 1); }
  void Append16(std::uint16_t v) { Append(v, 2); }
  void Append24(std::uint32_t v) { Append(v, 3); }
  void Append32(std::uint32_t v) { Append(v, 4); }
  void Append64(std::uint64_t v) { Append(v, 8); }
  void AppendBytes(Bytes bytes) {
    if (out_ != nullptr) {  // copied straight on, without zeroing the room first
      out_->insert(out_->end(), bytes.begin(), bytes.end());
      return;
    }
    const std::size_t at = Grow(bytes.size());
    if (at != kNoRoom && !bytes.empty()) std::memcpy(Data() + at, bytes.data(), bytes.size());
  }
  // The low `width` bytes of `v`, most significant first (index keys).
  void AppendBigEndian(std::uint64_t v, std::size_t width) {
    const std::size_t at = Grow(width);
    if (at == kNoRoom) return;
    // The target is fetched once: a byte store may alias the string's own pointer, so the
    // compiler would read it again for every byte.
    std::uint8_t* const to = Data() + at;
    for (std::size_t i = 0; i < width; ++i) {
      to[i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
    }
  }

 private:
  static constexpr std::size_t kNoRoom = static_cast<std::size_t>(-1);

  std::uint8_t* Data() const { return out_ != nullptr ? out_->data() : span_.data(); }

  void Write(std::size_t offset, std::uint64_t v, std::size_t width) {
    if (!Has(offset, width)) {
      ok_ = false;
      return;
    }
    std::uint8_t* const to = Data() + offset;
    for (std::size_t i = 0; i < width; ++i) to[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }

  void Append(std::uint64_t v, std::size_t width) {
    const std::size_t at = Grow(width);
    if (at == kNoRoom) return;
    std::uint8_t* const to = Data() + at;
    for (std::size_t i = 0; i < width; ++i) to[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }

  // Makes room for `length` more bytes at the end; where they start, or kNoRoom (and failure).
  std::size_t Grow(std::size_t length) {
    if (out_ != nullptr) {
      const std::size_t at = out_->size();
      out_->resize(at + length);
      return at;
    }
    if (!Has(end_, length)) {
      ok_ = false;
      return kNoRoom;
    }
    const std::size_t at = end_;
    end_ += length;
    return at;
  }

  MutableBytes span_;
  std::vector<std::uint8_t>* out_ = nullptr;
  std::size_t end_ = 0;  // the Append cursor over a fixed range
  bool ok_ = true;
};

}  // namespace jet
