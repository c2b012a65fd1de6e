// libFuzzer entry point: the input is a damaged copy of the target database; the import's writes
// run on it (six tables emptied, rows added to each, one commit) and a committed file is checked.
//
//   cmake --build build-fuzz --target open_write_fuzzer
//   build-fuzz/fuzz/open_write_fuzzer CORPUS_DIR fuzz/seeds -jobs=1 -timeout=20 \
//     -rss_limit_mb=2048
//
// Inputs it fails on belong in fuzz/write_regressions/, which the replay test reads in every build.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/open_write_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)fuzz::OpenWriteAndCheck(std::span<const std::uint8_t>(data, size));
  return 0;
}
