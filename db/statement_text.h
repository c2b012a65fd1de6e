// Joining values into statement texts.
//
// A value contributes its text form; Null contributes nothing, so a Null between "...= '" and
// "'" leaves an empty quoted text; a 32-bit integer contributes its decimal digits. Every
// apostrophe of a joined value is doubled (Jet's own escape), so a name such as "Chef's Salat"
// stays one quoted text; values without an apostrophe join exactly as read.
#pragma once

#include <string>

#include "db/value.h"

namespace db {

std::string JoinValue(const Value& value);

}  // namespace db
