// Errors of the record layer.
//
// Record operations either succeed or throw a DbError that carries the engine's error number and
// description, unchanged on its way up; callers test no status. This mirrors how the import code
// is written: a plain sequence of record operations that leaves at the first failure.
#pragma once

#include <stdexcept>
#include <string>

#include "jet/base/errors.h"

namespace db {

// The error numbers and their standard texts: the one catalogue (jet/base/errors.h), which the
// layers above reach through this header.
using jet::ErrorCode;
using jet::Number;
using jet::StandardText;

class DbError : public std::runtime_error {
 public:
  DbError(ErrorCode code, std::string description)
      : std::runtime_error("Fehler " + std::to_string(Number(code)) + ": " + description),
        code_(code),
        description_(std::move(description)) {}
  // With the number's standard text ("Überlauf", ...).
  explicit DbError(ErrorCode code) : DbError(code, std::string(StandardText(code))) {}

  ErrorCode code() const { return code_; }
  int number() const { return Number(code_); }
  const std::string& description() const { return description_; }

 private:
  ErrorCode code_;
  std::string description_;
};

// A failure that says nothing about the data of the databases: the validation passes it on to
// the run's report instead of taking it for a source that cannot be read.
class EnvironmentError : public DbError {
 public:
  using DbError::DbError;
};

// A path that names no regular file (a FIFO, a device, a socket, a folder): refused before
// anything is read from it, the path named in the description (Jet's 3044).
class NotAFileError : public EnvironmentError {
 public:
  using EnvironmentError::EnvironmentError;
};

// Memory ran out (Jet's 3035, "Systemressourcen überschritten").
class OutOfResourcesError : public EnvironmentError {
 public:
  using EnvironmentError::EnvironmentError;
};

// A commit that failed only after the new file had taken the database's place for good (a
// folder sync that failed after a plain rename): the file holds every change, which may not yet
// be safe from a power loss.
class StoredDespiteError : public DbError {
 public:
  using DbError::DbError;
};

// The target folder recorded by Zentavo under Wine names no file of this system (a network path
// or a drive the prefix does not know, a folder or the database missing in the prefix). Its
// description names the recorded Windows path; nothing has been opened or changed.
class TargetLocationError : public DbError {
 public:
  using DbError::DbError;
};

}  // namespace db
