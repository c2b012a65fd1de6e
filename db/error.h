// Errors of the record layer.
//
// Record operations either succeed or throw a DbError that carries the engine's error number and
// description, unchanged on its way up; callers test no status. This mirrors how the import code
// is written: a plain sequence of record operations that leaves at the first failure.
#pragma once

#include <stdexcept>
#include <string>

namespace db {

// Numbers of the value conversions (those of the platform the import logic was written for).
inline constexpr int kErrOverflow = 6;           // "Überlauf"
inline constexpr int kErrTypeMismatch = 13;      // "Typen unverträglich"
inline constexpr int kErrInvalidUseOfNull = 94;  // "Unzulässige Verwendung von Null"

// Numbers of the statement layer (Jet's own).
inline constexpr int kErrTooFewParameters = 3061;      // a name the table lacks
inline constexpr int kErrSqlSyntax = 3075;             // syntax error, or outside the subset
inline constexpr int kErrNotInAggregate = 3122;        // column neither grouped nor aggregated
inline constexpr int kErrInvalidStatement = 3129;      // not SELECT or DELETE
inline constexpr int kErrItemNotFound = 3265;          // no field of that name
inline constexpr int kErrCriteriaTypeMismatch = 3464;  // text compared with a number

// Numbers of opening a database file (Jet's own).
inline constexpr int kErrFileNotFound = 3024;  // the file does not exist
inline constexpr int kErrPathNotValid = 3044;  // the path names no reachable folder

class DbError : public std::runtime_error {
 public:
  DbError(int number, std::string description)
      : std::runtime_error("Fehler " + std::to_string(number) + ": " + description),
        number_(number),
        description_(std::move(description)) {}

  int number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int number_;
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
