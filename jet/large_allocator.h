// An allocator that takes large blocks straight from the system (anonymous mappings) and gives
// them back the moment they are freed, whatever the C library's allocator would do with them: it
// keeps freed blocks below a threshold that grows with every large block freed, so that the
// memory of one large structure freed after another (index entries of one index after those of
// the one before, decoded rows let go of) would otherwise stay resident. Small blocks come from
// the ordinary allocator.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <memory>
#include <new>

namespace jet {

inline constexpr std::size_t kLargeBlockBytes = 256 * 1024;

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
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return static_cast<T*>(block);
  }

  void deallocate(T* p, std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kLargeBlockBytes) {
      std::allocator<T>().deallocate(p, n);
    } else {
      munmap(p, bytes);
    }
  }

  template <typename U>
  bool operator==(const LargeBlockAllocator<U>&) const {
    return true;
  }
};

}  // namespace jet
