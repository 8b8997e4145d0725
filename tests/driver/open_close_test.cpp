// OPEN, SHARE, CREATE, CLOSE, REMOVE and NAME through the file access layer,
// on real files in a temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "driver_fixture.h"
#include "fileaccess/files_in_use.h"
#include "support/fault_file.h"
#include "support/temp_dir.h"

namespace qbx::driver {
namespace {

using enum fileaccess::DriverOp;
using testing::CurrentDirectory;
using testing::kReadOnlyDenyNone;
using testing::kReadWriteDenyNone;
using testing::kReadWriteDenyWrite;
using testing::TestFile;

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string realDirectory(const std::string& path) {
  char buffer[4096];
  return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

class OpenCloseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileaccess::clearError();
    fileaccess::stringStack().clear();
  }

  // CREATE under the name, then OPEN with the mode; the result of OPEN.
  int createAndOpen(TestFile& file, const std::string& name, std::int32_t mode) {
    file.setName(name);
    file.call(kCreate);
    EXPECT_EQ(fileaccess::ERRORCODE(), 0) << "CREATE " << name;
    file.call(kOpen, mode);
    return fileaccess::ERRORCODE();
  }

  int addRecord(TestFile& file, const std::string& name, std::int32_t number) {
    file.setFields(name, number, "C");
    file.call(kAdd);
    return fileaccess::ERRORCODE();
  }

  std::int32_t records(TestFile& file) { return file.call(kRecordsFile); }

  support::TempDir temp_;
  std::string dir_ = realDirectory(temp_.path());
  CurrentDirectory cwd_{temp_.path()};
};

TEST_F(OpenCloseTest, CreateThenOpenUsesTheFullNameAndCloseDiscardsTheState) {
  TestFile file;
  ASSERT_EQ(createAndOpen(file, "DATA", kReadWriteDenyWrite), 0);
  EXPECT_TRUE(exists(dir_ + "/DATA.QBX"));
  EXPECT_TRUE(fileaccess::isFileInUse(file.block()));
  file.call(kName);
  EXPECT_EQ(TestFile::popText(), dir_ + "/DATA.QBX");
  EXPECT_EQ(records(file), 0);
  file.call(kClose);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_FALSE(file.attached());
  EXPECT_FALSE(fileaccess::isFileInUse(file.block()));
}

TEST_F(OpenCloseTest, ATrailingDotOpensTheNameWithoutExtension) {
  TestFile file;
  ASSERT_EQ(createAndOpen(file, "DATA.", kReadWriteDenyNone), 0);
  EXPECT_TRUE(exists(dir_ + "/DATA"));
  EXPECT_FALSE(exists(dir_ + "/DATA.QBX"));
}

TEST_F(OpenCloseTest, EmptyNameCreatesTheExtensionAloneButDoesNotOpen) {
  TestFile file;
  file.setName("");
  file.call(kCreate);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_TRUE(exists(dir_ + "/.QBX"));
  file.call(kOpen, kReadWriteDenyNone);
  EXPECT_EQ(fileaccess::ERRORCODE(), 45);
  EXPECT_FALSE(file.attached());
}

TEST_F(OpenCloseTest, CreateWithoutTheCreateAttributeCreatesNothing) {
  TestFile file(0);
  file.setName("DATA");
  file.call(kCreate);
  EXPECT_EQ(fileaccess::ERRORCODE(), 54);
  EXPECT_FALSE(exists(dir_ + "/DATA.QBX"));
  EXPECT_FALSE(file.attached());
}

struct OpenErrorCase {
  const char* what;
  const char* name;
  int expected;
};

TEST_F(OpenCloseTest, OpenErrorsLeaveTheFileClosed) {
  {
    std::ofstream junk(dir_ + "/junk.QBX");
    junk << std::string(600, 'x');
  }
  const OpenErrorCase cases[] = {
      {"missing file", "missing", 2},
      {"missing directory", "nodir/DATA", 3},
      {"not a data file", "junk", 36},
      {"no such table", "junk2\\!T", 2},
  };
  {
    TestFile other;
    other.setName("junk2");
    other.call(kCreate);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  }
  for (const OpenErrorCase& c : cases) {
    TestFile file;
    file.setName(c.name);
    file.call(kOpen, kReadWriteDenyNone);
    EXPECT_EQ(fileaccess::ERRORCODE(), c.expected) << c.what;
    EXPECT_EQ(fileaccess::fileInError(), &file.block()) << c.what;
    EXPECT_FALSE(file.attached()) << c.what;
    EXPECT_FALSE(fileaccess::isFileInUse(file.block())) << c.what;
  }
}

TEST_F(OpenCloseTest, OperationsForAClosedFileOnAnOpenOneGive52AndKeepItOpen) {
  TestFile file;
  ASSERT_EQ(createAndOpen(file, "DATA", kReadWriteDenyNone), 0);
  ASSERT_EQ(addRecord(file, "one", 1), 0);
  for (const auto op : {kOpen, kShare, kCreate, kRemove}) {
    file.call(op, kReadWriteDenyNone);
    EXPECT_EQ(fileaccess::ERRORCODE(), 52) << fileaccess::driverOpName(op);
    EXPECT_EQ(records(file), 1) << fileaccess::driverOpName(op);
  }
  for (const auto op : {kRename, kCopy}) {
    file.callWithText(op, "OTHER");
    EXPECT_EQ(fileaccess::ERRORCODE(), 52) << fileaccess::driverOpName(op);
    EXPECT_EQ(records(file), 1) << fileaccess::driverOpName(op);
  }
  EXPECT_FALSE(exists(dir_ + "/OTHER.QBX"));
}

TEST_F(OpenCloseTest, CreateOverAnExistingTableReplacesOnlyThatTable) {
  TestFile movies;
  TestFile people;
  ASSERT_EQ(createAndOpen(movies, "CAT\\!movies", kReadWriteDenyNone), 0);
  ASSERT_EQ(createAndOpen(people, "CAT\\!people", kReadWriteDenyNone), 0);
  ASSERT_EQ(addRecord(movies, "m1", 1), 0);
  ASSERT_EQ(addRecord(people, "p1", 1), 0);
  ASSERT_EQ(addRecord(people, "p2", 2), 0);
  movies.call(kClose);
  people.call(kClose);

  movies.call(kCreate);
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  movies.call(kOpen, kReadWriteDenyNone);
  people.call(kOpen, kReadWriteDenyNone);
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(records(movies), 0);
  EXPECT_EQ(records(people), 2);
  movies.call(kName);
  EXPECT_EQ(TestFile::popText(), dir_ + "/CAT.QBX\\!MOVIES");
}

TEST_F(OpenCloseTest, RemoveOfTheOnlyTableDeletesTheFileAndOfOneOfTwoKeepsTheOther) {
  {
    TestFile a;
    TestFile b;
    a.setName("TWO\\!A");
    a.call(kCreate);
    b.setName("TWO\\!B");
    b.call(kCreate);
    a.call(kRemove);
    EXPECT_EQ(fileaccess::ERRORCODE(), 0);
    EXPECT_TRUE(exists(dir_ + "/TWO.QBX"));
    b.call(kOpen, kReadWriteDenyNone);
    EXPECT_EQ(fileaccess::ERRORCODE(), 0) << "the other table stays readable";
    b.call(kClose);
    a.call(kOpen, kReadWriteDenyNone);
    EXPECT_EQ(fileaccess::ERRORCODE(), 2) << "the removed table is gone";
    b.call(kRemove);
    EXPECT_EQ(fileaccess::ERRORCODE(), 0);
    EXPECT_FALSE(exists(dir_ + "/TWO.QBX"));
  }
}

TEST_F(OpenCloseTest, StoredLayoutThatDiffersGives47AndRemoveStillSucceeds) {
  {
    TestFile file;
    file.setName("DATA");
    file.call(kCreate);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  }
  // The same name, declared with another record layout.
  fileaccess::FieldDescWriter w;
  w.group("").string("T:NAME", 10).longField("T:NUMBER").endGroup();
  const std::vector<std::uint8_t> stream = w.finish().value();
  TestFile other;
  other.block().recordDesc = stream.data();
  other.block().recordLength = 14;
  other.block().keyTable = nullptr;
  other.block().keyCount = 0;
  other.setName("DATA");
  other.call(kOpen, kReadWriteDenyNone);
  EXPECT_EQ(fileaccess::ERRORCODE(), 47);
  EXPECT_FALSE(other.attached());
  other.call(kRemove);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_FALSE(exists(dir_ + "/DATA.QBX"));
}

TEST_F(OpenCloseTest, CreateFailsWhenItsClosingCommitFails) {
  TestFile file;
  file.setName("FULL");
  {
    support::FaultFile faults;
    faults.failWrite(1, ENOSPC, true);
    file.call(kCreate);
  }
  EXPECT_EQ(fileaccess::ERRORCODE(), 39);
  EXPECT_FALSE(file.attached());
  struct stat st {};
  ASSERT_EQ(::stat((dir_ + "/FULL.QBX").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0) << "nothing of the table reached the file";
}

TEST_F(OpenCloseTest, NameFollowsTheNameVariableBetweenCloseAndOpen) {
  TestFile file;
  ASSERT_EQ(createAndOpen(file, "FIRST", kReadWriteDenyNone), 0);
  file.call(kClose);
  ASSERT_EQ(createAndOpen(file, "SECOND", kReadWriteDenyNone), 0);
  file.call(kName);
  EXPECT_EQ(TestFile::popText(), dir_ + "/SECOND.QBX");
}

TEST_F(OpenCloseTest, TwoDeclarationsOfOneFileShareItsStore) {
  TestFile first;
  ASSERT_EQ(createAndOpen(first, "SHARED", kReadWriteDenyWrite), 0);
  // Deny write would refuse a second open of the file; the second
  // declaration reuses the first one's store instead, whatever its owner.
  TestFile second;
  second.block().owner = "secret";
  second.block().ownerLength = fileaccess::kTextZeroTerminated;
  second.setName("SHARED");
  second.call(kOpen, kReadWriteDenyWrite);
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  ASSERT_EQ(addRecord(first, "one", 1), 0);
  EXPECT_EQ(records(second), 1);
}

}  // namespace
}  // namespace qbx::driver
