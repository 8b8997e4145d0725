#include "convert23/same_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace convert23 {
namespace {

void touch(const std::string& path) { std::ofstream(path) << "x"; }

TEST(SameTable, ComparesFilesByIdentityAndTablesByName) {
  support::TempDir dir;
  touch(dir.file("cat.rcx"));
  touch(dir.file("CAT.rcx"));
  touch(dir.file("other.rcx"));
  touch(dir.file("plain.QBX"));
  ASSERT_EQ(::link(dir.file("cat.rcx").c_str(), dir.file("hard.rcx").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("cat.rcx").c_str(), dir.file("soft.rcx").c_str()), 0);
  std::filesystem::create_directory(dir.file("sub"));

  struct Case {
    std::string first;
    std::string second;
    bool same;
  };
  const std::vector<Case> cases = {
      {dir.file("cat.rcx"), dir.file("cat.rcx"), true},
      {dir.file("cat.rcx"), dir.file("sub/../cat.rcx"), true},
      {dir.file("cat.rcx"), dir.file("hard.rcx"), true},
      {dir.file("cat.rcx"), dir.file("soft.rcx"), true},
      {dir.file("cat.rcx"), dir.file("cat.rcx  "), true},
      {dir.file("plain"), dir.file("plain.QBX"), true},
      {dir.file("plain.QBX."), dir.file("plain.QBX"), true},
      {dir.file("cat.rcx\\!unnamed"), dir.file("cat.rcx"), true},
      // Names differing in case are two files on Linux.
      {dir.file("cat.rcx"), dir.file("CAT.rcx"), false},
      {dir.file("cat.rcx"), dir.file("other.rcx"), false},
      // Two tables of one physical file are two tables.
      {dir.file("cat.rcx\\!a"), dir.file("cat.rcx\\!b"), false},
      {dir.file("cat.rcx"), dir.file("missing.rcx"), false},
      {dir.file("missing.rcx"), dir.file("missing.rcx"), false},
      {"", dir.file("cat.rcx"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first + " | " + c.second);
    EXPECT_EQ(sameTable(c.first, c.second), c.same);
    EXPECT_EQ(sameTable(c.second, c.first), c.same);
  }
}

}  // namespace
}  // namespace convert23
