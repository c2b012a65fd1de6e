// libFuzzer entry point: opens the input as a database and reads everything in it.
//
//   cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DPI_FUZZ=ON \
//     -DCMAKE_BUILD_TYPE=RelWithDebInfo
//   cmake --build build-fuzz --target open_read_fuzzer
//   build-fuzz/fuzz/open_read_fuzzer CORPUS_DIR fuzz/seeds -timeout=10 -rss_limit_mb=2048
//
// Inputs it fails on belong in fuzz/regressions/, which the replay test reads in every build.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/open_read_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)fuzz::OpenAndReadAll(std::span<const std::uint8_t>(data, size));
  return 0;
}
