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

std::string UnexpectedErrorMessage(db::ErrorCode code, const std::string& description) {
  return "Es ist ein unerwarteter Fehler aufgetreten (Fehler " + std::to_string(db::Number(code)) +
         ": " + description +
         "). Die Zieldatenbank wurde nicht verändert. Das Programm wird jetzt beendet.";
}

std::string TargetLocationMessage(db::ErrorCode code, const std::string& description) {
  return "Die Datenbank von Zentavo wurde nicht gefunden (Fehler " +
         std::to_string(db::Number(code)) + ": " + description +
         "). Es wurde nichts verändert. Das Programm wird jetzt beendet.";
}

std::string InternalErrorDescription(const std::exception& e) {
  return std::string(db::StandardText(db::ErrorCode::kInternalError)) + ": " + e.what();
}

}  // namespace run
