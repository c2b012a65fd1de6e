#include "jet/file/page_store.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "jet/base/byte_writer.h"
#include "jet/file/file_system.h"
#include "jet/file/rc4.h"

namespace jet {
namespace {

// The header needs at most this many bytes to be parsed (masked area of Jet 4 ends at 0x98).
constexpr std::size_t kHeaderProbeSize = 0x100;
// Page numbers have 24 bits in row pointers.
constexpr std::uint64_t kMaxPages = 0xFFFFFF;

}  // namespace

void CryptPage(std::uint32_t database_key, std::uint32_t page_number,
               std::span<std::uint8_t> page) {
  const std::uint32_t k = database_key ^ page_number;
  std::array<std::uint8_t, 4> key{};
  ByteWriter(key).Put32(0, k);
  Rc4 rc4(key);
  rc4.Apply(page);
}

Result<std::unique_ptr<PageStore>> PageStore::Load(FileSource& source) {
  JET_ASSIGN_OR_RETURN(std::uint64_t size, source.Size());
  const std::string& name = source.name();
  if (size == 0) {
    return Status(ErrorCode::kUnrecognizedFormat,
                  "Nicht erkanntes Datenbankformat: Die Datei '" + name + "' ist leer.");
  }
  std::vector<std::uint8_t> probe(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderProbeSize)));
  JET_RETURN_IF_ERROR(source.ReadAt(0, probe));
  JET_ASSIGN_OR_RETURN(Header header, ParseHeader(probe));
  const std::size_t page_size = header.format().page_size;
  if (size < page_size) {
    return Status::Corrupt("Die Datei '" + name + "' ist kürzer als eine Seite (" +
                           std::to_string(size) + " Bytes).");
  }
  const std::uint64_t pages = size / page_size;
  if (pages > kMaxPages) {
    return Status::Corrupt("Die Datei '" + name + "' ist größer als jede Jet-Datenbank.");
  }

  auto store = std::unique_ptr<PageStore>(new PageStore());
  store->header_ = header;
  store->page_count_ = static_cast<std::uint32_t>(pages);
  store->clean_page_count_ = store->page_count_;
  store->name_ = name;
  for (std::uint64_t first = 0; first < pages; first += kPagesPerChunk) {
    const std::uint64_t count = std::min<std::uint64_t>(kPagesPerChunk, pages - first);
    store->AddChunk();
    JET_RETURN_IF_ERROR(
        source.ReadAt(first * page_size, std::span(store->chunks_.back().data, count * page_size)));
  }
  if (header.database_key != 0) {
    for (std::uint32_t p = 1; p < store->page_count_; ++p) {
      CryptPage(header.database_key, p, std::span(store->PagePtr(p), page_size));
    }
  }
  return store;
}

std::uint8_t* PageStore::PagePtr(std::uint32_t number) const {
  const std::size_t index = number / kPagesPerChunk;
  const Chunk& chunk = chunks_[index];
  if (chunk.kind == ChunkKind::kSpilled && !chunk.in_use && !parallel_reads_) Use(index);
  return chunk.data + std::size_t{number % kPagesPerChunk} * page_size();
}

PageStore::~PageStore() {
  for (const Chunk& chunk : chunks_) {
    if (chunk.kind != ChunkKind::kHeap) spill_->Unmap(chunk.data);
  }
}

void PageStore::SpillAppendedPages(const std::string& folder) {
  if (spill_) return;
  spill_ = PageSpill::Create(folder, std::size_t{kPagesPerChunk} * page_size());
  first_spilled_chunk_ = chunks_.size();
}

void PageStore::AddChunk() {
  Chunk chunk;
  if (spill_ && chunks_.size() >= first_spilled_chunk_) {
    chunk.data = spill_->NewChunk();
    if (chunk.data != nullptr) {
      chunk.kind = ChunkKind::kNew;
      new_chunks_.push_back(chunks_.size());
    }
  }
  if (chunk.data == nullptr) {
    chunk.memory = LargeBlock(std::size_t{kPagesPerChunk} * page_size(), Touch::kNow);
    if (chunk.memory.data() == nullptr) throw std::bad_alloc();
    chunk.data = chunk.memory.data();
  }
  chunks_.push_back(std::move(chunk));
  while (new_chunks_.size() > kNewChunks) {
    const std::size_t oldest = new_chunks_.front();
    new_chunks_.pop_front();
    // An entry may be stale: its chunk dropped by a rollback, or moved already.
    if (oldest >= chunks_.size() || chunks_[oldest].kind != ChunkKind::kNew) continue;
    if (spill_->Spill(chunks_[oldest].data, oldest - first_spilled_chunk_)) {
      chunks_[oldest].kind = ChunkKind::kSpilled;
    }
  }
}

void PageStore::Use(std::size_t index) const {
  if (used_chunks_.size() >= kUsedChunks) TrimChunks();
  chunks_[index].in_use = true;
  used_chunks_.push_back(index);
}

void PageStore::LeaveChunkOf(std::uint32_t page) const {
  const std::size_t index = page / kPagesPerChunk;
  if (parallel_reads_ && index < chunks_.size() && chunks_[index].kind == ChunkKind::kSpilled) {
    spill_->Trim(chunks_[index].data);
  }
}

void PageStore::EndParallelReads() {
  parallel_reads_ = false;
  for (Chunk& chunk : chunks_) {
    if (chunk.kind != ChunkKind::kSpilled) continue;
    spill_->Trim(chunk.data);
    chunk.in_use = false;
  }
  used_chunks_.clear();
}

void PageStore::TrimChunks() const {
  for (std::size_t index : used_chunks_) {
    if (index >= chunks_.size() || chunks_[index].kind != ChunkKind::kSpilled) continue;
    spill_->Trim(chunks_[index].data);
    chunks_[index].in_use = false;
  }
  used_chunks_.clear();
}

Result<Bytes> PageStore::Page(std::uint32_t number) const {
  if (number >= page_count_) {
    return Status::Corrupt("Beschädigte Datenbank '" + name_ + "': Seite " +
                           std::to_string(number) + " liegt außerhalb der Datei (" +
                           std::to_string(page_count_) + " Seiten).");
  }
  return Bytes(PagePtr(number), page_size());
}

Result<Bytes> PageStore::TypedPage(std::uint32_t number, PageType type) const {
  JET_ASSIGN_OR_RETURN(Bytes page, Page(number));
  if (number == 0 || page[0] != static_cast<std::uint8_t>(type)) {
    return Status::Corrupt("Beschädigte Datenbank '" + name_ + "': Seite " +
                           std::to_string(number) + " hat den Typ " + std::to_string(page[0]) +
                           " statt " + std::to_string(static_cast<int>(type)) + ".");
  }
  return page;
}

Result<std::span<std::uint8_t>> PageStore::MutablePage(std::uint32_t number) {
  if (number == 0 || number >= page_count_) {
    return Status::Corrupt("Seite " + std::to_string(number) + " von '" + name_ +
                           "' kann nicht geschrieben werden.");
  }
  std::uint8_t* p = PagePtr(number);
  if (number < clean_page_count_ && !undo_.contains(number)) {
    undo_.emplace(number, std::vector<std::uint8_t>(p, p + page_size()));
  }
  if (in_savepoint_ && number < savepoint_page_count_ && !savepoint_undo_.contains(number)) {
    savepoint_undo_.emplace(number, std::vector<std::uint8_t>(p, p + page_size()));
  }
  return std::span<std::uint8_t>(p, page_size());
}

Result<std::uint32_t> PageStore::AppendPage() {
  if (page_count_ >= kMaxPages) {
    return Status(ErrorCode::kIoError,
                  "Die Datenbank '" + name_ + "' hat ihre Höchstgröße erreicht.");
  }
  const std::uint32_t number = page_count_;
  if (number / kPagesPerChunk >= chunks_.size()) AddChunk();
  std::memset(PagePtr(number), 0, page_size());
  ++page_count_;
  return number;
}

void PageStore::MarkClean() {
  ++generation_;
  undo_.clear();
  EndSavepoint();
  clean_page_count_ = page_count_;
}

void PageStore::DropPagesFrom(std::uint32_t count) {
  page_count_ = count;
  while (chunks_.size() > (std::size_t{page_count_} + kPagesPerChunk - 1) / kPagesPerChunk) {
    if (chunks_.back().kind != ChunkKind::kHeap) spill_->Unmap(chunks_.back().data);
    chunks_.pop_back();
  }
}

void PageStore::Rollback() {
  ++generation_;
  for (const auto& [number, bytes] : undo_)
    std::memcpy(PagePtr(number), bytes.data(), bytes.size());
  undo_.clear();
  EndSavepoint();
  DropPagesFrom(clean_page_count_);
}

void PageStore::BeginSavepoint() {
  ++generation_;
  savepoint_undo_.clear();
  savepoint_page_count_ = page_count_;
  in_savepoint_ = true;
}

void PageStore::RollbackToSavepoint() {
  ++generation_;
  if (!in_savepoint_) return;
  for (const auto& [number, bytes] : savepoint_undo_)
    std::memcpy(PagePtr(number), bytes.data(), bytes.size());
  DropPagesFrom(savepoint_page_count_);
  EndSavepoint();
}

void PageStore::EndSavepoint() {
  ++generation_;
  savepoint_undo_.clear();
  in_savepoint_ = false;
}

Status PageStore::ForEachStoredRun(std::uint32_t from, std::uint32_t to,
                                   const std::function<Status(std::uint32_t, Bytes)>& sink) const {
  to = std::min(to, page_count_);
  const bool encrypted = header_.database_key != 0;
  // Pages one after another, as the file holds them: for encrypting them, and for the chunks of
  // the scratch file that are not resident. Grown to what a run needs, no more.
  std::vector<std::uint8_t> buffer;
  auto room = [&buffer](std::size_t bytes) {
    if (buffer.size() < bytes) buffer.resize(bytes);
  };
  for (std::uint32_t first = from; first < to;) {
    const std::size_t index = first / kPagesPerChunk;
    const std::uint32_t chunk_first = static_cast<std::uint32_t>(index) * kPagesPerChunk;
    const std::uint32_t end = std::min(chunk_first + kPagesPerChunk, to);
    const std::uint32_t count = end - first;
    const std::size_t skip = std::size_t{first - chunk_first} * page_size();
    const std::size_t bytes = std::size_t{count} * page_size();
    const Chunk& chunk = chunks_[index];
    const std::uint8_t* pages = chunk.data + skip;
    if (chunk.kind == ChunkKind::kSpilled && !chunk.in_use) {
      // Copied from the file rather than faulted in through the mapping, page by page.
      room(skip + bytes);
      if (const int err = spill_->Read(index - first_spilled_chunk_, buffer.data(), skip + bytes)) {
        return Status(ErrorCode::kIoError,
                      std::string(kDiskOrNetworkText) + ": Die ausgelagerten Seiten von '" + name_ +
                          "' sind nicht lesbar (" + SystemErrorText(err) + ").");
      }
      pages = buffer.data() + skip;
    }
    if (encrypted) {
      // Pages read from the scratch file are encrypted where they lie; others are copied first.
      const bool read_in = !buffer.empty() && pages == buffer.data() + skip;
      std::uint8_t* out = nullptr;
      if (read_in) {
        out = buffer.data() + skip;
      } else {
        room(bytes);
        out = buffer.data();
        std::memcpy(out, pages, bytes);
      }
      for (std::uint32_t i = 0; i < count; ++i) {
        if (first + i == 0) continue;  // the header page is kept as stored
        CryptPage(header_.database_key, first + i,
                  std::span(out + std::size_t{i} * page_size(), page_size()));
      }
      pages = out;
    }
    JET_RETURN_IF_ERROR(sink(first, Bytes(pages, bytes)));
    first = end;
  }
  return Status::Ok();
}

Status PageStore::ForEachImagePiece(const std::function<Status(Bytes)>& sink) const {
  return ForEachStoredRun(0, page_count_, [&](std::uint32_t, Bytes piece) { return sink(piece); });
}

Status PageStore::ForEachChangedRun(const std::function<Status(std::uint32_t, Bytes)>& sink) const {
  JET_RETURN_IF_ERROR(ForEachStoredRun(0, 1, sink));
  for (auto at = undo_.begin(); at != undo_.end();) {
    // Neighbouring changed pages go as one run.
    const std::uint32_t first = at->first;
    std::uint32_t end = first + 1;
    for (++at; at != undo_.end() && at->first == end; ++at) ++end;
    JET_RETURN_IF_ERROR(ForEachStoredRun(first, end, sink));
  }
  return ForEachStoredRun(clean_page_count_, page_count_, sink);
}

std::vector<std::uint8_t> PageStore::Image() const {
  std::vector<std::uint8_t> out;
  out.reserve(std::size_t{page_count_} * page_size());
  (void)ForEachImagePiece([&](Bytes piece) {
    out.insert(out.end(), piece.begin(), piece.end());
    return Status::Ok();
  });
  return out;
}

}  // namespace jet
