// Where the pages a writer adds live: in a scratch file beside the database, mapped into memory,
// so that the pages of a large import stay in the system's file cache (and go to disk when memory
// runs short) instead of all staying resident in the process.
//
// The scratch file has no name (it is removed as soon as it is made), so nothing is left behind
// when the process ends, however it ends. It holds chunks of pages at fixed offsets:
//
//   chunk k: bytes [k * chunk_bytes, (k + 1) * chunk_bytes), the pages of chunk k of the store
//
// Every chunk's room is allocated on disk before it is mapped (fallocate), so that writing to
// the mapping can never meet a full disk (which would end the process). When the room cannot be
// allocated (a full disk, a file system without fallocate), Map() fails and the caller keeps
// the chunk in ordinary memory instead.
//
// A chunk that was dropped from the process's memory (Trim) keeps its bytes in the file cache
// and is mapped in again, unchanged, on the next access: addresses stay valid throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace jet {

class PageSpill {
 public:
  // A scratch file in `folder`, or null when none can be made there (a read-only folder, a file
  // system that cannot map files): the pages then stay in ordinary memory.
  static std::unique_ptr<PageSpill> Create(const std::string& folder, std::size_t chunk_bytes);
  ~PageSpill();
  PageSpill(const PageSpill&) = delete;
  PageSpill& operator=(const PageSpill&) = delete;

  // Maps chunk `index` (zeros when new, its former bytes when it was mapped before) and returns its
  // first byte, or null when its room cannot be allocated on disk or mapped.
  std::uint8_t* Map(std::size_t index);
  // Unmaps a chunk (pages dropped by a rollback); its bytes are forgotten.
  void Unmap(std::uint8_t* chunk);
  // Drops a mapped chunk from the process's resident memory; its bytes stay.
  void Trim(std::uint8_t* chunk);

  std::size_t chunk_bytes() const { return chunk_bytes_; }

 private:
  PageSpill(int fd, std::size_t chunk_bytes) : fd_(fd), chunk_bytes_(chunk_bytes) {}

  int fd_;
  std::size_t chunk_bytes_;
  std::uint64_t allocated_ = 0;  // bytes of the file allocated on disk, from its start
};

}  // namespace jet
