#include "run/run_context.h"

#include <limits>

#include "db/error.h"

namespace run {

void RunContext::AdvanceProgress() {
  progress().SetValue(static_cast<float>(counter));
  if (counter == std::numeric_limits<std::int32_t>::max()) {
    throw db::DbError(db::ErrorCode::kOverflow);
  }
  ++counter;
}

namespace {

// A description goes inside the message's parentheses: a final full stop of its own would stand
// before the closing one (").).").
std::string InParentheses(const std::string& description) {
  std::string text = description;
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  return "(" + text + ")";
}

}  // namespace

std::string UnexpectedErrorMessage(db::ErrorCode code, const std::string& description,
                                   TargetAfterError target) {
  const char* what_happened =
      target == TargetAfterError::kCompleted
          ? "Der Import wurde dennoch vollständig in die Zieldatenbank übernommen."
          : "Die Zieldatenbank wurde nicht verändert.";
  return "Es ist ein unerwarteter Fehler aufgetreten " +
         InParentheses("Fehler " + std::to_string(db::Number(code)) + ": " + description) + ". " +
         what_happened + " Das Programm wird jetzt beendet.";
}

std::string TargetLocationMessage(db::ErrorCode code, const std::string& description) {
  return "Die Datenbank von Zentavo wurde nicht gefunden " +
         InParentheses("Fehler " + std::to_string(db::Number(code)) + ": " + description) +
         ". Es wurde nichts verändert. Das Programm wird jetzt beendet.";
}

std::string InternalErrorDescription(const std::exception& e) {
  return std::string(db::StandardText(db::ErrorCode::kInternalError)) + ": " + e.what();
}

}  // namespace run
