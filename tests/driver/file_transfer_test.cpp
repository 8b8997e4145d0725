// RENAME and COPY of whole physical files: where the file goes, what is
// never replaced, and files that are held by another open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
  EXPECT_EQ(readFile(temp_.file("cat.rcx")), "catalogue bytes");
}

// Tables moved and copied between and within physical files.
class TableTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileaccess::clearError();
    fileaccess::stringStack().clear();
  }

  void create(const std::string& name, const std::vector<std::string>& records) {
    TestFile file;
    file.setName(name);
    file.call(kCreate);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0) << name;
    file.call(kOpen, testing::kReadWriteDenyNone);
    for (const std::string& r : records) {
      file.setFields(r, 1, "C");
      file.call(kAdd);
      ASSERT_EQ(fileaccess::ERRORCODE(), 0) << name;
    }
    file.call(kClose);
  }

  // The names of the records of a table in file order; empty with the OPEN
  // error in *error when it does not open.
  std::vector<std::string> contents(const std::string& name, int* error = nullptr) {
    TestFile file;
    file.setName(name);
    file.call(kOpen, testing::kReadWriteDenyNone);
    if (error != nullptr) *error = fileaccess::ERRORCODE();
    std::vector<std::string> names;
    if (fileaccess::ERRORCODE() != 0) return names;
    file.call(kSetFile);
    for (;;) {
      file.call(kNext);
      if (fileaccess::ERRORCODE() != 0) break;
      names.push_back(file.name());
    }
    return names;
  }

  support::TempDir temp_;
  CurrentDirectory cwd_{temp_.path()};
};

using Names = std::vector<std::string>;

TEST_F(TableTransferTest, RenameOntoAnExistingTableGives5AndCopyReplacesIt) {
  create("CAT\\!A", {"a1", "a2"});
  create("CAT\\!B", {"b1"});
  TestFile file;
  file.setName("CAT\\!A");
  file.callWithText(kRename, "CAT\\!b");
  EXPECT_EQ(fileaccess::ERRORCODE(), 5);
  EXPECT_EQ(contents("CAT\\!B"), (Names{"b1"}));
  file.callWithText(kCopy, "CAT\\!b");
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(contents("CAT\\!B"), (Names{"a1", "a2"}));
  EXPECT_EQ(contents("CAT\\!A"), (Names{"a1", "a2"}));
}

TEST_F(TableTransferTest, RenameMovesATableIntoAnotherFile) {
  create("SRC\\!MOVIES", {"m1", "m2"});
  create("SRC\\!OTHER", {"o1"});
  TestFile file;
  file.setName("SRC\\!MOVIES");
  file.callWithText(kRename, "DST\\!films");
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(contents("DST\\!FILMS"), (Names{"m1", "m2"}));
  int error = 0;
  EXPECT_TRUE(contents("SRC\\!MOVIES", &error).empty());
  EXPECT_EQ(error, 2);
  EXPECT_EQ(contents("SRC\\!OTHER"), (Names{"o1"}));
}

TEST_F(TableTransferTest, ARenameRefusedAsAWholeFileMovesTheTable) {
  // Both plain names: the whole-file move fails because the target exists,
  // so the table goes into the target file next to its table.
  create("ONE", {"x"});
  create("TWO\\!KEEP", {"k"});
  TestFile file;
  file.setName("ONE");
  file.callWithText(kRename, "TWO");
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(contents("TWO"), (Names{"x"}));
  EXPECT_EQ(contents("TWO\\!KEEP"), (Names{"k"}));
}

}  // namespace
}  // namespace qbx::driver
