// Checks that the build hands the tests usable paths to their databases.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fixtures.h"

namespace {

namespace fs = std::filesystem;

std::string ReadPrefix(const fs::path& path, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

TEST(Smoke, FixtureDirHoldsTheTestDatabases) {
  const fs::path dir{testing_support::kFixtures};
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  for (const char* name : {"source.mdb", "target.mdb", "truncated.mdb", "not-a-database.mdb"}) {
    EXPECT_TRUE(fs::is_regular_file(dir / name)) << name;
  }
  EXPECT_TRUE(fs::is_regular_file(dir / "expected" / "source.ArtikelStamm.csv"));
}

TEST(Smoke, SourceStartsWithJet4Header) {
  const std::string head = ReadPrefix(fs::path{testing_support::kFixtures} / "source.mdb", 0x15);
  ASSERT_EQ(head.size(), 0x15u);
  EXPECT_EQ(head[0], '\0');  // page type 0: the database definition page
  EXPECT_EQ(head.substr(4, 15), std::string("Standard Jet DB"));
  EXPECT_EQ(head[0x14], '\x01');  // Jet 4
  EXPECT_EQ(fs::file_size(fs::path{testing_support::kFixtures} / "truncated.mdb"), 6000u);
}

TEST(Smoke, SharedAccessMadeFilesWhenPresent) {
  const fs::path dir = fs::path{PI_SHARED_FIXTURE_DIR} / "access-made";
  if (!fs::is_directory(dir)) {
    GTEST_SKIP() << "no shared fixtures at " << dir;
  }
  const std::string head = ReadPrefix(dir / "testV1997.mdb", 0x15);
  ASSERT_EQ(head.size(), 0x15u);
  EXPECT_EQ(head[0x14], '\0');  // Jet 3
}

}  // namespace
