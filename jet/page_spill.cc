#include "jet/page_spill.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <random>

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

std::uint8_t* PageSpill::Map(std::size_t index) {
  const std::uint64_t end = std::uint64_t{index + 1} * chunk_bytes_;
  if (end > allocated_) {
    if (fallocate(fd_, 0, static_cast<off_t>(allocated_), static_cast<off_t>(end - allocated_)) !=
        0) {
      return nullptr;
    }
    allocated_ = end;
  }
  void* chunk = mmap(nullptr, chunk_bytes_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                     static_cast<off_t>(std::uint64_t{index} * chunk_bytes_));
  return chunk == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(chunk);
}

void PageSpill::Unmap(std::uint8_t* chunk) { munmap(chunk, chunk_bytes_); }

void PageSpill::Trim(std::uint8_t* chunk) {
  // For a shared file mapping this only unmaps the pages from the process: the file cache keeps
  // their bytes (changed ones included), and the next access maps them in again.
  madvise(chunk, chunk_bytes_, MADV_DONTNEED);
}

}  // namespace jet
