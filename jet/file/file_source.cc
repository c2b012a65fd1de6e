#include "jet/file/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/file/file_commit.h"
#include "jet/file/file_system.h"

namespace jet {
namespace {

class PosixFile : public FileSource {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  Result<std::uint64_t> Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return IoError("Dateigröße nicht lesbar");
    return static_cast<std::uint64_t>(st.st_size);
  }

  Status ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t n = Files().ReadAt(fd_, out.data() + done, out.size() - done,
                                 static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return IoError("Lesefehler");
      if (n == 0) {
        return Status::Corrupt("Die Datei '" + path_ + "' endet unerwartet bei Byte " +
                               std::to_string(offset + done) + ".");
      }
      done += static_cast<std::size_t>(n);
    }
    return Status::Ok();
  }

  const std::string& name() const override { return path_; }

 private:
  Status IoError(const char* what) const {
    return Status(ErrorCode::kIoError, std::string(kDiskOrNetworkText) + ": " + what + " bei '" +
                                           path_ + "' (" + SystemErrorText(errno) + ").");
  }

  int fd_;
  std::string path_;
};

}  // namespace

Result<std::unique_ptr<FileSource>> OpenFileForReading(const std::string& path) {
  // Without blocking: opening a FIFO would otherwise wait for a writer, a device for its
  // carrier. Nothing is read before the path is known to name a regular file.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      return Status(ErrorCode::kFileNotFound, "Die Datei '" + path + "' wurde nicht gefunden.");
    }
    return Status(ErrorCode::kIoError, "Die Datei '" + path + "' kann nicht geöffnet werden (" +
                                           SystemErrorText(err) + ").");
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return Status(ErrorCode::kIoError, "Die Datei '" + path + "' kann nicht geöffnet werden (" +
                                           SystemErrorText(err) + ").");
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return NotRegularFile(path, st.st_mode);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return std::unique_ptr<FileSource>(new PosixFile(fd, path));
}

Status MemoryFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
    return Status::Corrupt("Die Datei '" + name_ + "' endet unerwartet bei Byte " +
                           std::to_string(bytes_.size()) + ".");
  }
  std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return Status::Ok();
}

}  // namespace jet
