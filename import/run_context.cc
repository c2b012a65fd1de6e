#include "import/run_context.h"

#include <limits>

#include "db/error.h"

namespace import {

void RunContext::AdvanceProgress() {
  progress().SetValue(static_cast<float>(counter));
  if (counter == std::numeric_limits<std::int32_t>::max()) {
    throw db::DbError(db::kErrOverflow, "Überlauf");
  }
  ++counter;
}

std::string UnexpectedErrorMessage(int number, const std::string& description) {
  return "Es ist ein unerwarteter Fehler aufgetreten (Fehler " + std::to_string(number) + ": " +
         description +
         "). Die Zieldatenbank wurde nicht verändert. Das Programm wird jetzt beendet.";
}

}  // namespace import
