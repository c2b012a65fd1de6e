#include "jet/base/status.h"

namespace jet {

std::string Status::ToString() const {
  if (ok()) return "OK";
  return "Fehler " + std::to_string(number()) + ": " + message_;
}

}  // namespace jet
