// libFuzzer target: any bytes as a SQL statement, parsed and run against a sample database.
#include <cstddef>
#include <cstdint>

#include "fuzz/sql_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::RunSqlStatement(data, size);
  return 0;
}
