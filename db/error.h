// Errors of the record layer.
//
// Record operations either succeed or throw a DbError that carries the engine's error number and
// description, unchanged on its way up; callers test no status. This mirrors how the import code
// is written: a plain sequence of record operations that leaves at the first failure.
#pragma once

#include <stdexcept>
#include <string>

#include "jet/errors.h"

namespace db {

// The error numbers and their standard texts: the one catalogue (jet/errors.h), which the layers
// above reach through this header.
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

// The target folder recorded by Zentavo under Wine names no file of this system (a network path
// or a drive the prefix does not know, a folder or the database missing in the prefix). Its
// description names the recorded Windows path; nothing has been opened or changed.
class TargetLocationError : public DbError {
 public:
  using DbError::DbError;
};

}  // namespace db
