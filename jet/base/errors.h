// The error numbers of the whole system, in one place: the engine's, the record layer's and the
// import's.
//
// Every failure the user can see carries one of these numbers. Where Jet, ADO or the platform's
// runtime has a number for the failure, that number is used, so a user who looks it up finds the
// familiar meaning; each number appears here once, with one meaning. Higher layers reach the
// catalogue through db/error.h.
#pragma once

#include <string_view>

namespace jet {

enum class ErrorCode : int {
  kOk = 0,

  // Runtime errors of the platform: the expression service, the value conversions and the run.
  kInvalidArgument = 5,    // an argument outside what the function takes
  kOverflow = 6,           // a number too large for its type, or a counter at its end
  kOutOfMemory = 7,        // an allocation failed
  kDivisionByZero = 11,    // division by zero
  kTypeMismatch = 13,      // a value of the wrong kind
  kInternalError = 51,     // a failure of the program itself
  kInvalidUseOfNull = 94,  // Null where a value is needed

  // Jet's and ADO's numbers (ADO uses Jet's where both have one).
  kBadArguments = 3001,              // ADO: arguments of the wrong kind or in conflict
  kNoCurrentRecord = 3021,           // at EOF, or no row
  kDuplicateKey = 3022,              // unique index violated
  kFileNotFound = 3024,              // the file does not exist
  kDiskFull = 3026,                  // not enough space on the disk (or past the file size limit)
  kReadOnly = 3027,                  // database or object is read-only: it may not be written
  kInvalidPassword = 3031,           // wrong database password
  kNestedTransaction = 3033,         // BeginTrans inside a transaction
  kCommitWithoutTransaction = 3034,  // CommitTrans or Rollback without BeginTrans
  kResourcesExceeded = 3035,         // system resources exceeded: out of memory in the engine
  kDatabaseFull = 3036,              // the database has reached its maximum size
  kIoError = 3043,                   // disk or network error
  kPathNotValid = 3044,              // the path names no reachable folder
  kLocked = 3045,                    // file in use by another process
  kRecordTooLarge = 3047,            // the row does not fit on a page
  kCorrupt = 3049,                   // damaged file or not a database
  kCannotLock = 3050,                // the lock file cannot be made or locked
  kNullInKey = 3058,                 // Null in a primary key or a Required index
  kTooFewParameters = 3061,          // a statement names a column the table lacks
  kExpressionSyntax = 3075,          // an expression or statement that does not parse
  kTableNotFound = 3078,             // no such table
  kUndefinedFunction = 3085,         // an expression calls a function the service does not have
  kNotInAggregate = 3122,            // a column neither grouped nor aggregated
  kInvalidStatement = 3129,          // not a statement the system runs (SELECT, DELETE, ...)
  kFieldTooSmall = 3163,             // text longer than the column
  kReadOnlyField = 3164,             // a field that may not be written (AutoNumber)
  kRelatedRowsExist = 3200,          // delete refused: related rows refer to the row
  kRelatedRowRequired = 3201,        // insert refused: no primary row
  // Jet: the operation is not supported for this object; ADO: the object or provider cannot do
  // it. Both mean one thing: a write to something opened for reading, a recordset that cannot
  // update, a structure the engine does not handle.
  kNotSupported = 3251,
  kItemNotFound = 3265,          // no column, field or object of that name
  kRequired = 3314,              // Null in a required column
  kZeroLength = 3315,            // "" where the column does not allow it
  kRuleText = 3316,              // a validation rule broken: its ValidationText
  kRuleBroken = 3317,            // a validation rule broken, without ValidationText
  kUnrecognizedFormat = 3343,    // not a Jet 3 or Jet 4 database
  kNumericOverflow = 3349,       // a number too large for the column
  kBadDefault = 3388,            // a default or rule the engine cannot evaluate
  kInvalidValue = 3421,          // a value that cannot become the column's type
  kCriteriaTypeMismatch = 3464,  // text compared with a number
  kNotAllowedWhenClosed = 3704,  // ADO: the object is closed
  kNotAllowedWhenOpen = 3705,    // ADO: the object is already open
  kProviderNotFound = 3706,      // ADO: no such provider
  kNoConnection = 3709,          // ADO: the connection is closed or missing
};

// The number the user sees.
constexpr int Number(ErrorCode code) { return static_cast<int>(code); }

// The standard German text of a number, for the numbers Jet or the runtime always words the same
// (a description may add which object failed); empty for the others, whose descriptions name
// what failed.
constexpr std::string_view StandardText(ErrorCode code) {
  switch (code) {
    case ErrorCode::kInvalidArgument:
      return "Ungültiges Argument";
    case ErrorCode::kOverflow:
      return "Überlauf";
    case ErrorCode::kOutOfMemory:
      return "Nicht genügend Speicher";
    case ErrorCode::kDivisionByZero:
      return "Division durch Null";
    case ErrorCode::kTypeMismatch:
      return "Typen unverträglich";
    case ErrorCode::kInternalError:
      return "Interner Fehler";
    case ErrorCode::kResourcesExceeded:
      return "Systemressourcen überschritten";
    case ErrorCode::kInvalidUseOfNull:
      return "Unzulässige Verwendung von Null";
    case ErrorCode::kNullInKey:
      return "Index oder Primärschlüssel kann keinen Nullwert enthalten";
    default:
      return {};
  }
}

}  // namespace jet
