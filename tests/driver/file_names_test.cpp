// Full names of physical files and the table part of a declared name.
#include "qbx/driver/file_names.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "driver_fixture.h"
#include "support/temp_dir.h"

namespace qbx::driver {
namespace {

using testing::CurrentDirectory;

struct FullNameCase {
  const char* given;     // "@" stands for the temporary directory
  const char* expected;  // likewise; empty when an error is expected
  int error;
};

std::string expand(const std::string& text, const std::string& dir) {
  std::string out;
  for (char c : text) {
    if (c == '@') {
      out += dir;
    } else {
      out += c;
    }
  }
  return out;
}

constexpr FullNameCase kFullNames[] = {
    {"DATA", "@/DATA.QBX", 0},
    {"DATA.", "@/DATA", 0},         // a trailing dot: no extension
    {"data.rcx", "@/data.rcx", 0},  // its own extension, letter case kept
    {"a.b.", "@/a.b", 0},
    {"", "@/.QBX", 0},  // the file named by the extension alone
    {"sub/../sub/x", "@/sub/x.QBX", 0},
    {"./sub//y.dat", "@/sub/y.dat", 0},
    {"@/sub/z", "@/sub/z.QBX", 0},
    {"sub.d/plain", "@/sub.d/plain.QBX", 0},  // a dot in the directory is not an extension
    {"missing/DATA", "", 3},
    {"sub/x.QBX/y", "", 3},  // a file where a directory should be
};

TEST(FullName, IsFormedAgainstTheCurrentDirectory) {
  support::TempDir temp;
  ASSERT_EQ(::mkdir(temp.file("sub").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(temp.file("sub.d").c_str(), 0700), 0);
  ASSERT_EQ(::close(::creat(temp.file("sub/x.QBX").c_str(), 0600)), 0);
  std::string dir;
  {
    char buffer[4096];
    ASSERT_NE(::realpath(temp.path().c_str(), buffer), nullptr);
    dir = buffer;
  }
  CurrentDirectory cwd(temp.path());
  for (const FullNameCase& c : kFullNames) {
    std::string full = "untouched";
    const int result = formFullName(expand(c.given, dir), kDefaultExtension, &full);
    EXPECT_EQ(result, c.error) << c.given;
    EXPECT_EQ(full, c.error == 0 ? expand(c.expected, dir) : "untouched") << c.given;
  }
}

TEST(FullName, OfTwoHundredAndSixtyCharactersIsRefused) {
  support::TempDir temp;
  char buffer[4096];
  ASSERT_NE(::realpath(temp.path().c_str(), buffer), nullptr);
  const std::string dir = buffer;
  // dir + "/" + base + ".QBX": make the whole 259 and then 260 characters.
  const std::size_t base = kMaxFullNameLength - 1 - dir.size() - 1 - kDefaultExtension.size();
  std::string full;
  EXPECT_EQ(formFullName(dir + "/" + std::string(base, 'n'), kDefaultExtension, &full), 0);
  EXPECT_EQ(full.size(), kMaxFullNameLength - 1);
  EXPECT_EQ(formFullName(dir + "/" + std::string(base + 1, 'n'), kDefaultExtension, &full), 45);
  EXPECT_EQ(formFullName(std::string("a\0b", 3), kDefaultExtension, &full), 45);
}

struct SplitCase {
  const char* given;  // "@" stands for the temporary directory
  const char* file;
  const char* table;
  int error;
};

constexpr SplitCase kSplits[] = {
    {"@/CAT.QBX\\!movies", "@/CAT.QBX", "MOVIES", 0},
    {"@/CAT", "@/CAT", "UNNAMED", 0},
    {"@/CAT\\!a\\!b", "@/CAT", "A\\!B", 0},  // the first separator splits
    // After an existing directory's name the separator is part of the path.
    {"@\\!x", "@\\!x", "UNNAMED", 0},
    {"@\\!x\\!t", "@\\!x", "T", 0},
    // So is one that ends the name of an existing directory.
    {"@/cats\\!/CAT.QBX", "@/cats\\!/CAT.QBX", "UNNAMED", 0},
    {"@/cats\\!/CAT.QBX\\!t", "@/cats\\!/CAT.QBX", "T", 0},
    {"\\!t", "", "T", 0},
    {"@/CAT\\!", "", "", 45},  // a separator with no table name after it
};

TEST(TableName, IsSplitAtTheFirstSeparatorOutsideAnyDirectory) {
  support::TempDir temp;
  ASSERT_EQ(::mkdir(temp.file("cats\\!").c_str(), 0700), 0);
  for (const SplitCase& c : kSplits) {
    TableName split;
    const int result = splitTableName(expand(c.given, temp.path()), &split);
    EXPECT_EQ(result, c.error) << c.given;
    if (result != 0) continue;
    EXPECT_EQ(split.file, expand(c.file, temp.path())) << c.given;
    EXPECT_EQ(split.table, c.table) << c.given;
  }
}

TEST(TableName, FullNameCarriesTheTableUnlessItIsUnnamed) {
  EXPECT_EQ(tableFullName("/d/CAT.QBX", "UNNAMED"), "/d/CAT.QBX");
  EXPECT_EQ(tableFullName("/d/CAT.QBX", "MOVIES"), "/d/CAT.QBX\\!MOVIES");
}

}  // namespace
}  // namespace qbx::driver
