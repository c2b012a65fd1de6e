#include "jet/file/page_spill.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "jet/base/large_allocator.h"

namespace jet {
namespace {

// A file without a name in `folder`: made unnamed where the file system can (O_TMPFILE),
// otherwise made under a random name and removed at once.
int OpenNamelessFile(const std::string& folder) {
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::random_device random;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string path =
        folder + "/.seiten-" + std::to_string(random()) + std::to_string(random()) + ".tmp";
    fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      unlink(path.c_str());
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

std::unique_ptr<PageSpill> PageSpill::Create(const std::string& folder, std::size_t chunk_bytes) {
  const int fd = OpenNamelessFile(folder.empty() ? std::string(".") : folder);
  if (fd < 0) return nullptr;
  return std::unique_ptr<PageSpill>(new PageSpill(fd, chunk_bytes));
}

PageSpill::~PageSpill() { close(fd_); }

std::uint8_t* PageSpill::NewChunk() {
  return static_cast<std::uint8_t*>(AllocateLargeBlock(chunk_bytes_, Touch::kNow));
}

bool PageSpill::Spill(std::uint8_t* chunk, std::size_t slot) {
  const auto offset = static_cast<off_t>(std::uint64_t{slot} * chunk_bytes_);
  for (std::size_t done = 0; done < chunk_bytes_;) {
    const ssize_t n =
        pwrite(fd_, chunk + done, chunk_bytes_ - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  // Replaces the anonymous pages at the same addresses; on failure they stay as they were.
  void* mapped =
      mmap(chunk, chunk_bytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd_, offset);
  return mapped != MAP_FAILED;
}

void PageSpill::Unmap(std::uint8_t* chunk) { munmap(chunk, chunk_bytes_); }

void PageSpill::Trim(std::uint8_t* chunk) {
  // For a shared file mapping this only unmaps the pages from the process: the file cache keeps
  // their bytes (changed ones included), and the next access maps them in again.
  madvise(chunk, chunk_bytes_, MADV_DONTNEED);
}

int PageSpill::Read(std::size_t slot, std::uint8_t* out, std::size_t bytes) const {
  const auto offset = static_cast<off_t>(std::uint64_t{slot} * chunk_bytes_);
  for (std::size_t done = 0; done < bytes;) {
    const ssize_t n = pread(fd_, out + done, bytes - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace jet
