// An allocator that takes large blocks straight from the system (anonymous mappings) and gives
// them back the moment they are freed, whatever the C library's allocator would do with them: it
// keeps freed blocks below a threshold that grows with every large block freed, so that the
// memory of one large structure freed after another (index entries of one index after those of
// the one before, decoded rows let go of) would otherwise stay resident. Small blocks come from
// the ordinary allocator.
//
// Blocks of 2 MB and more start on a 2 MB boundary and are offered to the kernel for huge pages:
// filling them then takes one page fault per 2 MB instead of one per 4 KB, which matters most in
// virtual machines, where a page fault is expensive. The kernel may decline (huge pages off);
// the block then behaves as any other.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace jet {

inline constexpr std::size_t kLargeBlockBytes = std::size_t{256} * 1024;
inline constexpr std::size_t kHugePageBytes = std::size_t{2} * 1024 * 1024;

// When a block's pages come in: on first use, or all at once when it is made (for a block that
// will be filled whole soon: one call instead of a page fault per page where the kernel gives no
// huge pages; best effort, kernels before 5.14 lack it).
enum class Touch { kOnUse, kNow };

// `bytes` of anonymous memory, 2 MB aligned and marked for huge pages from kHugePageBytes up;
// null when the system has no room. Give it back with FreeLargeBlock(block, bytes).
inline void* AllocateLargeBlock(std::size_t bytes, Touch touch = Touch::kOnUse) {
  void* block = nullptr;
  if (bytes < kHugePageBytes) {
    block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
  } else {
    // Over-map by one huge page, then cut off what lies before the boundary and after the block.
    const std::size_t padded = bytes + kHugePageBytes;
    void* mapped =
        mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    const std::size_t system_page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t end = (aligned + bytes + system_page - 1) & ~(system_page - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    if (start + padded > end) munmap(reinterpret_cast<void*>(end), start + padded - end);
    block = reinterpret_cast<void*>(aligned);
    madvise(block, bytes, MADV_HUGEPAGE);
  }
#ifdef MADV_POPULATE_WRITE
  if (touch == Touch::kNow) madvise(block, bytes, MADV_POPULATE_WRITE);
#else
  (void)touch;
#endif
  return block;
}

inline void FreeLargeBlock(void* block, std::size_t bytes) { munmap(block, bytes); }

// Owns a block from AllocateLargeBlock().
class LargeBlock {
 public:
  LargeBlock() = default;
  // Null data() when the system has no room.
  explicit LargeBlock(std::size_t bytes, Touch touch = Touch::kOnUse)
      : data_(static_cast<std::uint8_t*>(AllocateLargeBlock(bytes, touch))),
        bytes_(data_ != nullptr ? bytes : 0) {}
  ~LargeBlock() {
    if (data_ != nullptr) FreeLargeBlock(data_, bytes_);
  }
  LargeBlock(LargeBlock&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}
  LargeBlock& operator=(LargeBlock&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(bytes_, other.bytes_);
    return *this;
  }

  std::uint8_t* data() const { return data_; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t bytes_ = 0;
};

template <typename T>
class LargeBlockAllocator {
 public:
  using value_type = T;

  LargeBlockAllocator() = default;
  template <typename U>
  LargeBlockAllocator(const LargeBlockAllocator<U>&) {}  // NOLINT(google-explicit-constructor)

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kLargeBlockBytes) return std::allocator<T>().allocate(n);
    void* block = AllocateLargeBlock(bytes);
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }

  void deallocate(T* p, std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kLargeBlockBytes) {
      std::allocator<T>().deallocate(p, n);
    } else {
      FreeLargeBlock(p, bytes);
    }
  }

  template <typename U>
  bool operator==(const LargeBlockAllocator<U>&) const {
    return true;
  }
};

}  // namespace jet
