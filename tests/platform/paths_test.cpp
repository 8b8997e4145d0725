#include "platform/paths.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

// The real name of the temporary directory ($TMPDIR may hold a link).
std::string realName(const std::string& path) {
  char* r = ::realpath(path.c_str(), nullptr);
  std::string s = r;
  ::free(r);
  return s;
}

class Paths : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = realName(dir_.path());
    ::mkdir((root_ + "/sub").c_str(), 0777);
    std::ofstream(root_ + "/plain") << "x";
    ::symlink("sub", (root_ + "/link").c_str());
  }
  support::TempDir dir_;
  std::string root_;
};

TEST_F(Paths, AbsoluteNames) {
  struct Case {
    std::string name;
    int expected;
    std::string full;
  };
  const Case cases[] = {
      {root_ + "/sub/../sub/./F.QBX", 0, root_ + "/sub/F.QBX"},
      {root_ + "/link/f", 0, root_ + "/sub/f"},  // links in the directory part resolve
      {root_ + "/sub/Name.With.Dots", 0, root_ + "/sub/Name.With.Dots"},
      {root_ + "/nodir/f", 3, ""},
      {root_ + "/plain/f", 3, ""},  // a file is no directory
      {"", 45, ""},
      {"/f", 0, "/f"},
  };
  for (const Case& c : cases) {
    std::string full;
    EXPECT_EQ(platform::absolutePath(c.name, &full), c.expected) << c.name;
    if (c.expected == 0) {
      EXPECT_EQ(full, c.full) << c.name;
    }
  }
}

TEST_F(Paths, RelativeNamesUseTheCurrentDirectory) {
  std::string saved;
  ASSERT_EQ(platform::currentDirectory(&saved), 0);
  ASSERT_EQ(::chdir((root_ + "/sub").c_str()), 0);
  std::string cwd, a, b, c;
  const int rc = platform::currentDirectory(&cwd);
  const int ra = platform::absolutePath("data.QBX", &a);
  const int rb = platform::absolutePath("../plain", &b);
  const int rc2 = platform::absolutePath("missing/x", &c);
  ASSERT_EQ(::chdir(saved.c_str()), 0);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(cwd, root_ + "/sub");
  EXPECT_EQ(ra, 0);
  EXPECT_EQ(a, root_ + "/sub/data.QBX");
  EXPECT_EQ(rb, 0);
  EXPECT_EQ(b, root_ + "/plain");
  EXPECT_EQ(rc2, 3);
}

TEST_F(Paths, Predicates) {
  EXPECT_TRUE(platform::isDirectory(root_ + "/sub"));
  EXPECT_TRUE(platform::isDirectory(root_ + "/link"));
  EXPECT_FALSE(platform::isDirectory(root_ + "/plain"));
  EXPECT_TRUE(platform::exists(root_ + "/plain"));
  EXPECT_FALSE(platform::exists(root_ + "/PLAIN"));  // case-sensitive
  ::symlink("nowhere", (root_ + "/dangling").c_str());
  EXPECT_FALSE(platform::exists(root_ + "/dangling"));
  EXPECT_EQ(platform::directoryPart("a/b/c"), "a/b");
  EXPECT_EQ(platform::directoryPart("/c"), "/");
  EXPECT_EQ(platform::directoryPart("c"), ".");
  EXPECT_EQ(platform::lastComponent("a/b/c.QBX"), "c.QBX");
}

TEST(TemporaryDirectory, FromEnvironment) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(platform::temporaryDirectory(), "/var/tmp");
  ::setenv("TMPDIR", "", 1);
  EXPECT_EQ(platform::temporaryDirectory(), "/tmp");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(platform::temporaryDirectory(), "/tmp");
  if (old != nullptr) ::setenv("TMPDIR", saved.c_str(), 1);
}

}  // namespace
