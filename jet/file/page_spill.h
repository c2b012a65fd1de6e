// Where the pages a writer adds live: in memory while they are new, and in a scratch file beside
// the database once they have cooled, mapped into memory at the same addresses, so that the pages
// of a large import stay in the system's file cache (and go to disk when memory runs short)
// instead of all staying resident in the process.
//
// The scratch file has no name (it is removed as soon as it is made), so nothing is left behind
// when the process ends, however it ends. It holds chunks of pages at fixed offsets:
//
//   slot k: bytes [k * chunk_bytes, (k + 1) * chunk_bytes), one chunk of the store
//
// A chunk starts as anonymous memory (NewChunk). Spill() writes its bytes to its slot and maps
// the slot in its place: the addresses stay, so views into the chunk stay valid, and the bytes
// are now the file cache's. Writing first with pwrite, instead of filling the mapping page by
// page, means a full disk shows as a failed write (the chunk then stays in memory) and never as
// a fault while a page is changed through the mapping.
//
// A file chunk dropped from the process's memory (Trim) keeps its bytes in the file cache and is
// mapped in again, unchanged, on the next access. Read() copies a chunk's bytes out of the file
// instead: for a chunk that is read once from end to end (the final write), that costs no page
// faults, and a write from the copy never stops at a page that is not mapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace jet {

class PageSpill {
 public:
  // A scratch file in `folder`, or null when none can be made there (a read-only folder): the
  // pages then stay in ordinary memory.
  static std::unique_ptr<PageSpill> Create(const std::string& folder, std::size_t chunk_bytes);
  ~PageSpill();
  PageSpill(const PageSpill&) = delete;
  PageSpill& operator=(const PageSpill&) = delete;

  // A chunk of anonymous memory (zeros), or null when none can be mapped.
  std::uint8_t* NewChunk();
  // Writes the chunk's bytes to `slot` of the scratch file and maps the slot at the chunk's
  // address. False (the chunk unchanged, still in memory) when the write or the mapping fails.
  bool Spill(std::uint8_t* chunk, std::size_t slot);
  // Unmaps a chunk of either kind (pages dropped by a rollback); its bytes are forgotten.
  void Unmap(std::uint8_t* chunk);
  // Drops a spilled chunk from the process's resident memory; its bytes stay.
  void Trim(std::uint8_t* chunk);
  // Copies the first `bytes` of `slot` to `out` straight from the file (its changes through the
  // mapping included), without mapping a page of it into the process. 0, or the errno of the
  // failed read (EIO also for a file that ends early).
  int Read(std::size_t slot, std::uint8_t* out, std::size_t bytes) const;

 private:
  PageSpill(int fd, std::size_t chunk_bytes) : fd_(fd), chunk_bytes_(chunk_bytes) {}

  int fd_;
  std::size_t chunk_bytes_;
};

}  // namespace jet
