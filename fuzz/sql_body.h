// The body of the SQL fuzz target: parses a statement and, when it parses, runs it against a
// small sample database; errors are fine, crashes and hangs are not.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

void RunSqlStatement(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz
