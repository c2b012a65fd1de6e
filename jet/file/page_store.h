// The pages of a database file, held in memory.
//
// The whole file is read once at open; encrypted pages are decrypted then, so every later read is
// a bounds-checked view into memory. Pages live in fixed chunks, so a view stays valid while pages
// are appended. Page 0 (the header) is kept as stored. Once SpillAppendedPages() named a folder,
// the chunks of pages a writer appends move to a scratch file there as they cool (page_spill.h):
// the process then keeps only the newest chunks and those it used last resident, however large
// the database grows.
//
// Writing happens in memory: MutablePage() and AppendPage() record what they change in an undo
// log, so that Rollback() restores the pages exactly as they were at the last MarkClean(); the
// image is written to disk by WriteImage() (see file_commit.h for the atomic replacement).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/format.h"
#include "jet/base/large_allocator.h"
#include "jet/base/status.h"
#include "jet/file/file_source.h"
#include "jet/file/header.h"
#include "jet/file/page_spill.h"

namespace jet {

class PageStore {
 public:
  // Reads the file, parses the header and decrypts encrypted pages.
  static Result<std::unique_ptr<PageStore>> Load(FileSource& source);
  ~PageStore();
  PageStore(const PageStore&) = delete;
  PageStore& operator=(const PageStore&) = delete;

  const Header& header() const { return header_; }
  const Format& format() const { return header_.format(); }
  std::size_t page_size() const { return format().page_size; }
  std::uint32_t page_count() const { return page_count_; }
  const std::string& name() const { return name_; }

  // The page's bytes, or a corruption error naming the page when it lies outside the file.
  Result<Bytes> Page(std::uint32_t number) const;

  // A page that must be of the given type (checked against its first byte).
  Result<Bytes> TypedPage(std::uint32_t number, PageType type) const;

  // The page for changing it; its former bytes go to the undo log on the first change since the
  // last MarkClean(). Page 0 cannot be changed this way.
  Result<std::span<std::uint8_t>> MutablePage(std::uint32_t number);

  // Appends a page of zeros and returns its number.
  Result<std::uint32_t> AppendPage();

  // From now on, the chunks of appended pages beyond the kNewChunks newest move to a scratch file
  // in `folder`, of which at most kUsedChunks stay resident at a time. Where no such file can be
  // made, or when its room on disk runs out, pages stay in memory as before.
  void SpillAppendedPages(const std::string& folder);

  // Reading from two threads at once (the commit's index rebuild): between BeginParallelReads()
  // and EndParallelReads() no page may change or be appended, and reads leave the count of
  // resident chunks alone; each reader hands back the chunk of a page it has passed with
  // LeaveChunkOf(), which drops a scratch-file chunk from resident memory.
  void BeginParallelReads() { parallel_reads_ = true; }
  // Also drops every scratch-file chunk from resident memory: what the readers left resident.
  void EndParallelReads();
  void LeaveChunkOf(std::uint32_t page) const;
  // Pages of one chunk share a number here (for readers that leave chunks behind them).
  static std::uint32_t ChunkOf(std::uint32_t page) { return page / kPagesPerChunk; }

  // Changes whenever the undo log or a savepoint begins or ends (MarkClean, Rollback, the
  // savepoint calls): a page made mutable under one generation may be changed again, without
  // another MutablePage(), while the generation stays the same.
  std::uint64_t generation() const { return generation_; }

  // True when pages changed since the last MarkClean().
  bool dirty() const { return !undo_.empty() || page_count_ != clean_page_count_; }
  // Forgets the undo log: the current pages are the new clean state (after a commit).
  void MarkClean();
  // Restores every page changed since the last MarkClean() and drops appended pages.
  void Rollback();

  // A point inside the changes to return to, for a step that must either finish or leave the
  // pages as they were when it began (a commit's index rebuild). RollbackToSavepoint() restores
  // every page changed since BeginSavepoint() and drops the pages appended since; both it and
  // EndSavepoint() end the savepoint. The undo log of the changes goes on as before.
  void BeginSavepoint();
  void RollbackToSavepoint();
  void EndSavepoint();

  // Hands the whole file to `sink` in consecutive pieces: page 0 as stored, every other page
  // encrypted again when the database encrypts its pages.
  Status ForEachImagePiece(const std::function<Status(Bytes)>& sink) const;
  // Hands the pages from `from` up to `to` to `sink` as ForEachImagePiece() does, each piece
  // with the number of its first page.
  Status ForEachStoredRun(std::uint32_t from, std::uint32_t to,
                          const std::function<Status(std::uint32_t, Bytes)>& sink) const;
  // Only what differs from the file as it was at the last MarkClean(), in ascending order: page 0
  // (always, as stored), every page changed since, and every page appended since (for writing
  // the changes into the file itself).
  Status ForEachChangedRun(const std::function<Status(std::uint32_t, Bytes)>& sink) const;
  // The same bytes into a buffer (tests, fuzzing).
  std::vector<std::uint8_t> Image() const;

 private:
  PageStore() = default;
  std::uint8_t* PagePtr(std::uint32_t number) const;
  // Forgets the pages from `count` on.
  void DropPagesFrom(std::uint32_t count);

  // With 4 KB pages a chunk is one 2 MB huge page, where the kernel gives those.
  static constexpr std::uint32_t kPagesPerChunk = 512;
  // Appended chunks kept in memory before the oldest of them moves to the scratch file, and
  // scratch-file chunks resident at most (used since the last trim): with 4 KB pages, 8 MB and
  // 16 MB.
  static constexpr std::size_t kNewChunks = 4;
  static constexpr std::size_t kUsedChunks = 8;

  enum class ChunkKind {
    kHeap,    // read from the file, or appended without a scratch file
    kNew,     // appended, anonymous memory of the scratch file's, not yet moved there
    kSpilled  // in the scratch file, mapped
  };
  struct Chunk {
    LargeBlock memory;  // kHeap only
    std::uint8_t* data = nullptr;
    ChunkKind kind = ChunkKind::kHeap;
    mutable bool in_use = false;  // kSpilled: used since the last trim
  };
  // Adds an empty chunk; with a scratch file, moves the oldest new chunk there when too many are.
  void AddChunk();
  // Notes that a scratch-file chunk is used; trims the others first when too many are.
  void Use(std::size_t chunk) const;
  void TrimChunks() const;

  Header header_;
  std::vector<Chunk> chunks_;
  std::unique_ptr<PageSpill> spill_;
  std::size_t first_spilled_chunk_ = 0;           // chunks from here on may go to the scratch file
  std::deque<std::size_t> new_chunks_;            // kNew chunks, oldest first
  mutable std::vector<std::size_t> used_chunks_;  // kSpilled chunks with in_use set
  bool parallel_reads_ = false;
  std::uint64_t generation_ = 0;
  std::uint32_t page_count_ = 0;
  std::uint32_t clean_page_count_ = 0;
  std::map<std::uint32_t, std::vector<std::uint8_t>> undo_;  // page -> bytes before the change
  bool in_savepoint_ = false;
  std::uint32_t savepoint_page_count_ = 0;
  std::map<std::uint32_t, std::vector<std::uint8_t>> savepoint_undo_;  // page -> bytes at it
  std::string name_;
};

// Decrypts (or encrypts: the same operation) one page of a database whose header has a non-zero
// database key. The page's RC4 key is the database key XOR the page number, as four bytes
// little-endian. Page 0 is never encrypted this way.
void CryptPage(std::uint32_t database_key, std::uint32_t page_number, std::span<std::uint8_t> page);

}  // namespace jet
