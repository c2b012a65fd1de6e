#include "tests/fixtures.h"
// Checks that the build hands the tests usable paths to their databases.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fixtures.h"
namespace {
#include "tests/fixtures.h"
namespace fs = std::filesystem;
#include "tests/fixtures.h"
std::string ReadPrefix(const fs::path& path, std::size_t count) {
#include "tests/fixtures.h"
  std::ifstream in(path, std::ios::binary);
#include "tests/fixtures.h"
  std::string bytes(count, '\0');
#include "tests/fixtures.h"
  in.read(bytes.data(), static_cast<std::streamsize>(count));
#include "tests/fixtures.h"
  bytes.resize(static_cast<std::size_t>(in.gcount()));
#include "tests/fixtures.h"
  return bytes;
#include "tests/fixtures.h"
}
#include "tests/fixtures.h"
TEST(Smoke, FixtureDirHoldsTheTestDatabases) {
#include "tests/fixtures.h"
  const fs::path dir{testing_support::kFixtures};
#include "tests/fixtures.h"
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
#include "tests/fixtures.h"
  for (const char* name : {"source.mdb", "target.mdb", "truncated.mdb", "not-a-database.mdb"}) {
#include "tests/fixtures.h"
    EXPECT_TRUE(fs::is_regular_file(dir / name)) << name;
#include "tests/fixtures.h"
  }
#include "tests/fixtures.h"
  EXPECT_TRUE(fs::is_regular_file(dir / "expected" / "source.ArtikelStamm.csv"));
#include "tests/fixtures.h"
}
#include "tests/fixtures.h"
TEST(Smoke, SourceStartsWithJet4Header) {
#include "tests/fixtures.h"
  const std::string head = ReadPrefix(fs::path{testing_support::kFixtures} / "source.mdb", 0x15);
#include "tests/fixtures.h"
  ASSERT_EQ(head.size(), 0x15u);
#include "tests/fixtures.h"
  EXPECT_EQ(head[0], '\0');  // page type 0: the database definition page
#include "tests/fixtures.h"
  EXPECT_EQ(head.substr(4, 15), std::string("Standard Jet DB"));
#include "tests/fixtures.h"
  EXPECT_EQ(head[0x14], '\x01');  // Jet 4
#include "tests/fixtures.h"
  EXPECT_EQ(fs::file_size(fs::path{testing_support::kFixtures} / "truncated.mdb"), 6000u);
#include "tests/fixtures.h"
}
#include "tests/fixtures.h"
TEST(Smoke, SharedAccessMadeFilesWhenPresent) {
#include "tests/fixtures.h"
  const fs::path dir = fs::path{PI_SHARED_FIXTURE_DIR} / "access-made";
#include "tests/fixtures.h"
  if (!fs::is_directory(dir)) {
#include "tests/fixtures.h"
    GTEST_SKIP() << "no shared fixtures at " << dir;
#include "tests/fixtures.h"
  }
#include "tests/fixtures.h"
  const std::string head = ReadPrefix(dir / "testV1997.mdb", 0x15);
#include "tests/fixtures.h"
  ASSERT_EQ(head.size(), 0x15u);
#include "tests/fixtures.h"
  EXPECT_EQ(head[0x14], '\0');  // Jet 3
#include "tests/fixtures.h"
}
#include "tests/fixtures.h"
}  // namespace
