// What the fuzzer does with one input, shared with the replay test and the bad-input tests.
//
// The bytes are opened as a database and every table the catalog lists (system tables included)
// is read completely: its definition, every row, the CSV export and the schema description. Bad
// input must end in an error Status; anything else (a crash, a hang, a read outside a buffer) is
// a bug in the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace fuzz {

struct ReadSummary {
  bool opened = false;              // Database::Open succeeded
  std::size_t tables_read = 0;      // tables read without error
  std::size_t rows = 0;             // rows seen by the scans
  std::vector<jet::Status> errors;  // the open error, or one error per failing table
};

ReadSummary OpenAndReadAll(std::span<const std::uint8_t> bytes, const std::string& password = "");

}  // namespace fuzz
