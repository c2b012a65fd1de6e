// Replays the write fuzzer's seeds and every input it once failed on through its body, in every
// build (the sanitizer build too) without libFuzzer: the body aborts on a finding, so a
// regression that comes back fails here. The intact target must commit; the seeds without the
// product tables end in a clean error.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fuzz/open_write_body.h"
#include "fuzz/replay_files.h"

namespace {

namespace fs = std::filesystem;

using fuzz::FilesIn;
using fuzz::ReadAll;

const fs::path kSeeds = fs::path{PI_SOURCE_DIR} / "fuzz" / "seeds";

TEST(WriteFuzzReplay, TheIntactTargetCommitsAndTheSourcesEndInErrors) {
  for (const fs::path& file : FilesIn(kSeeds)) {
    SCOPED_TRACE(file.filename().string());
    const fuzz::WriteOutcome outcome = fuzz::OpenWriteAndCheck(ReadAll(file));
    if (file.filename().string().rfind("target", 0) == 0) {
      EXPECT_TRUE(outcome.committed) << outcome.error.ToString();
    } else {
      EXPECT_FALSE(outcome.committed);
      EXPECT_EQ(outcome.error.code(), jet::ErrorCode::kTableNotFound) << outcome.error.ToString();
    }
  }
}

// A hundred damaged copies of the target (bytes flipped at random places): each ends in an
// error or in a committed file that passes the check, which the body asserts.
TEST(WriteFuzzReplay, DamagedTargetsEndInAnErrorOrASoundFile) {
  const auto target = ReadAll(kSeeds / "target-no-password.mdb");
  ASSERT_FALSE(target.empty());
  std::mt19937 rng(11);
  int committed = 0;
  for (int i = 0; i < 100; ++i) {
    auto bytes = target;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f)
      bytes[rng() % bytes.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    committed += fuzz::OpenWriteAndCheck(bytes).committed ? 1 : 0;
  }
  EXPECT_GT(committed, 0);
}

TEST(WriteFuzzReplay, RegressionsEndInAnErrorOrASoundFile) {
  const fs::path dir = fs::path{PI_SOURCE_DIR} / "fuzz" / "write_regressions";
  ASSERT_TRUE(fs::is_directory(dir));
  for (const fs::path& file : FilesIn(dir)) {
    SCOPED_TRACE(file.filename().string());
    (void)fuzz::OpenWriteAndCheck(ReadAll(file));
  }
}

}  // namespace
