// Replays the SQL fuzz target's seeds (and any statement that once broke it) through its body,
// and a sweep of truncations and byte changes of every seed: nothing may crash or hang.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/sql_body.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void RunSql(const std::string& s) {
  fuzz::RunSqlStatement(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

TEST(SqlReplay, SeedsAndTheirMutationsRunWithoutCrashing) {
  const fs::path dir = fs::path(PI_SOURCE_DIR) / "fuzz" / "sql_seeds";
  std::size_t seeds = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string seed = Read(entry.path());
    ++seeds;
    RunSql(seed);
    for (std::size_t cut = 0; cut < seed.size(); ++cut) RunSql(seed.substr(0, cut));
    for (std::size_t at = 0; at < seed.size(); ++at) {
      for (char c : {'\'', '(', ')', '*', '[', ']', ' ', '\0', '\xff', '9', '-'}) {
        std::string s = seed;
        s[at] = c;
        RunSql(s);
      }
    }
  }
  EXPECT_GT(seeds, 5u);
}

}  // namespace
