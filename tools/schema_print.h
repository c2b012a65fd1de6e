// Human-readable description of a table definition.
#pragma once

#include <ostream>
#include <string>

#include "jet/base/status.h"
#include "jet/database/database.h"

namespace inspect {

// A property value as text ("True", "0", "\"abc\"", ...).
std::string PropertyText(const jet::Property& property);

jet::Status PrintSchema(const jet::Database& db, const std::string& table, std::ostream& out);

}  // namespace inspect
