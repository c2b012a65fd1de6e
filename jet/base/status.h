// Error values of the engine.
//
// Every failure carries a number of the catalogue (jet/base/errors.h) and a German description, as
// the record layer hands them on to the user unchanged. Bad input is always a Status, never an
// exception or an abort; asserts guard only the engine's own invariants.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "jet/base/errors.h"

namespace jet {

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(ErrorCode code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status Ok() { return Status(); }
  static Status Corrupt(std::string message) {
    return Status(ErrorCode::kCorrupt, std::move(message));
  }

  bool ok() const { return code_ == ErrorCode::kOk; }
  ErrorCode code() const { return code_; }
  int number() const { return Number(code_); }
  const std::string& message() const { return message_; }
  // "Fehler 3049: ..." as shown to a user.
  std::string ToString() const;

 private:
  ErrorCode code_ = ErrorCode::kOk;
  std::string message_;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : data_(std::move(value)) {}         // NOLINT(google-explicit-constructor)
  Result(Status status) : data_(std::move(status)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return std::holds_alternative<T>(data_); }
  const Status& status() const {
    static const Status kOkStatus;
    return ok() ? kOkStatus : std::get<Status>(data_);
  }
  T& value() & { return std::get<T>(data_); }
  const T& value() const& { return std::get<T>(data_); }
  T&& value() && { return std::get<T>(std::move(data_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, Status> data_;
};

}  // namespace jet

// Returns the status of an expression from the enclosing function when it failed.
#define JET_RETURN_IF_ERROR(expr)              \
  do {                                         \
    ::jet::Status jet_status_ = (expr);        \
    if (!jet_status_.ok()) return jet_status_; \
  } while (false)

#define JET_CONCAT_INNER_(a, b) a##b
#define JET_CONCAT_(a, b) JET_CONCAT_INNER_(a, b)
// `tmp` and `lhs` are declarations, which parentheses would break.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define JET_ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr) \
  auto tmp = (expr);                               \
  if (!tmp.ok()) return tmp.status();              \
  lhs = std::move(tmp).value()
// NOLINTEND(bugprone-macro-parentheses)

// Declares or assigns `lhs` from a Result, or returns its status from the enclosing function.
#define JET_ASSIGN_OR_RETURN(lhs, expr) \
  JET_ASSIGN_OR_RETURN_IMPL_(JET_CONCAT_(jet_result_, __LINE__), lhs, expr)
