// What the write fuzzer does with one input, shared with its replay test.
//
// The bytes are a damaged copy of the target database (without a password). They are stored as
// a file, opened for writing, and the import's writes run on it: every row of the six product
// tables deleted, rows added to each of them, one commit. That must end in an error Status, or
// in a file that passes the integrity check and reads back with exactly the rows added. Anything
// else (a crash, a hang, a read outside a buffer, a committed file that fails the check or reads
// back wrong) is a bug in the engine: OpenWriteAndCheck() then aborts.
//
// The engine refuses to write a file that fails the integrity check, so most damaged inputs end
// there. Those are written once more with that check left out: the writer must then still end in
// an error Status or a commit, and the committed file is read completely, with errors allowed (the
// damage was there before) but never a crash or a read outside a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "jet/base/status.h"

namespace fuzz {

struct WriteOutcome {
  bool committed = false;
  jet::Status error;  // why it ended before or in the commit (when not committed)
};

WriteOutcome OpenWriteAndCheck(std::span<const std::uint8_t> bytes);

}  // namespace fuzz
