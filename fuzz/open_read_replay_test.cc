// Replays the fuzzer's seeds and every input it once failed on through the fuzzer's body. Runs in
// every build (the sanitizer build too) without libFuzzer: a regression must stay an error
// Status, never a crash or a read outside a buffer again.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/open_read_body.h"
#include "fuzz/replay_files.h"

namespace {

namespace fs = std::filesystem;

using fuzz::FilesIn;
using fuzz::ReadAll;

void ExpectOnlyProperErrors(const fuzz::ReadSummary& summary) {
  for (const jet::Status& s : summary.errors) {
    EXPECT_FALSE(s.ok());
    EXPECT_FALSE(s.message().empty()) << s.number();
  }
}

// The seeds are intact databases: every table in them reads, but for system tables with column
// types the engine does not decode.
TEST(FuzzReplay, SeedsOpenAndReadCompletely) {
  const auto files = FilesIn(fs::path{PI_SOURCE_DIR} / "fuzz" / "seeds");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const fuzz::ReadSummary summary = fuzz::OpenAndReadAll(ReadAll(file));
    EXPECT_TRUE(summary.opened);
    EXPECT_GT(summary.tables_read, 0u);
    for (const jet::Status& s : summary.errors) {
      EXPECT_EQ(s.code(), jet::ErrorCode::kNotSupported) << s.ToString();
    }
  }
}

// Inputs the fuzzer found faults with: they must end in an error Status (or read), nothing else.
TEST(FuzzReplay, RegressionsGiveStatusErrors) {
  const fs::path dir = fs::path{PI_SOURCE_DIR} / "fuzz" / "regressions";
  ASSERT_TRUE(fs::is_directory(dir));
  for (const fs::path& file : FilesIn(dir)) {
    SCOPED_TRACE(file.filename().string());
    ExpectOnlyProperErrors(fuzz::OpenAndReadAll(ReadAll(file)));
  }
}

}  // namespace
