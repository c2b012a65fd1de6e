// Where the bytes of a database file come from.
//
// The engine reads files through this interface so that tests and the fuzzer can hand it bytes in
// memory. Files on disk are read through Files() (file_system.h), where tests can make any read
// fail as a failing disk would.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace jet {

class FileSource {
 public:
  virtual ~FileSource() = default;
  virtual Result<std::uint64_t> Size() = 0;
  // Reads exactly out.size() bytes at `offset`; a short read is an error.
  virtual Status ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  // Name for error messages.
  virtual const std::string& name() const = 0;
};

// A file on disk, opened read-only.
Result<std::unique_ptr<FileSource>> OpenFileForReading(const std::string& path);

// Bytes held in memory.
class MemoryFile : public FileSource {
 public:
  explicit MemoryFile(std::vector<std::uint8_t> bytes, std::string name = "(Speicher)")
      : bytes_(std::move(bytes)), name_(std::move(name)) {}
  Result<std::uint64_t> Size() override { return std::uint64_t{bytes_.size()}; }
  Status ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
  const std::string& name() const override { return name_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::string name_;
};

}  // namespace jet
