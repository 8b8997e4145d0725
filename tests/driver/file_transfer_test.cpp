// RENAME and COPY of whole physical files: where the file goes, what is
// never replaced, and files that are held by another open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "driver_fixture.h"
#include "platform/file.h"
#include "support/temp_dir.h"

namespace qbx::driver {
namespace {

using enum fileaccess::DriverOp;
using testing::CurrentDirectory;
using testing::TestFile;

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary);
  out << contents;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class WholeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileaccess::clearError();
    writeFile(temp_.file("cat.rcx"), "catalogue bytes");
  }

  support::TempDir temp_;
  CurrentDirectory cwd_{temp_.path()};
  TestFile file_;
};

TEST_F(WholeFileTest, RenameMovesTheFileUnderItsNewFullName) {
  file_.setName("cat.rcx");
  file_.callWithText(kRename, " new \t");  // white space is dropped
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_FALSE(exists(temp_.file("cat.rcx")));
  EXPECT_EQ(readFile(temp_.file("new.QBX")), "catalogue bytes");  // letter case kept
  EXPECT_FALSE(file_.attached());
}

TEST_F(WholeFileTest, RenameIntoADirectoryKeepsTheBaseName) {
  ASSERT_EQ(::mkdir(temp_.file("archive").c_str(), 0700), 0);
  file_.setName("cat.rcx");
  file_.callWithText(kRename, "archive");
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(readFile(temp_.file("archive/cat.rcx")), "catalogue bytes");
}

TEST_F(WholeFileTest, RenameNeverReplacesAnExistingFile) {
  writeFile(temp_.file("other.QBX"), "other bytes");
  file_.setName("cat.rcx");
  file_.callWithText(kRename, "other");
  EXPECT_NE(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(readFile(temp_.file("other.QBX")), "other bytes");
  EXPECT_EQ(readFile(temp_.file("cat.rcx")), "catalogue bytes");
}

TEST_F(WholeFileTest, CopyReplacesATargetAndKeepsTheSource) {
  writeFile(temp_.file("copy.QBX"), "old");
  file_.setName("cat.rcx");
  file_.callWithText(kCopy, "copy");
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(readFile(temp_.file("copy.QBX")), "catalogue bytes");
  EXPECT_EQ(readFile(temp_.file("cat.rcx")), "catalogue bytes");
}

TEST_F(WholeFileTest, CopyOntoTheSameFileUnderAnotherNameCopiesNothing) {
  ASSERT_EQ(::link(temp_.file("cat.rcx").c_str(), temp_.file("alias.QBX").c_str()), 0);
  file_.setName("cat.rcx");
  file_.callWithText(kCopy, "alias");
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(readFile(temp_.file("cat.rcx")), "catalogue bytes");
}

TEST_F(WholeFileTest, AFileHeldByAnotherOpenIsNeitherMovedNorCopied) {
  platform::File holder;
  ASSERT_EQ(holder.open(temp_.file("cat.rcx"),
                        {platform::Access::kRead, platform::Share::kDenyNone, false, false}),
            0);
  file_.setName("cat.rcx");
  file_.callWithText(kRename, "moved");
  EXPECT_NE(fileaccess::ERRORCODE(), 0);
  EXPECT_TRUE(exists(temp_.file("cat.rcx")));
  EXPECT_FALSE(exists(temp_.file("moved.QBX")));
}

}  // namespace
}  // namespace qbx::driver
