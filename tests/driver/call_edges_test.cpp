// The edges of one driver call on an open file: silent refusals, what the
// rules refuse before a handler runs, which successes clear an earlier
// error, and a file marked by an internal error of the store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "driver_fixture.h"
#include "support/child_process.h"
#include "support/fault_file.h"
#include "support/temp_dir.h"

namespace qbx::driver {
namespace {

using enum fileaccess::DriverOp;
using testing::kReadOnlyDenyNone;
using testing::kReadWriteDenyNone;
using testing::kReadWriteDenyWrite;
using testing::TestFile;

class CallEdgesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileaccess::clearError();
    fileaccess::stringStack().clear();
    file_.setName(temp_.file("DATA"));
    file_.call(kCreate);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  }

  void open(std::int32_t mode) {
    file_.call(kOpen, mode);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  }

  void add(const std::string& name, std::int32_t number) {
    file_.setFields(name, number, "C");
    file_.call(kAdd);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  }

  support::TempDir temp_;
  TestFile file_;
};

TEST_F(CallEdgesTest, SilentRefusalsKeepTheErrorOfTheCallBefore) {
  open(kReadWriteDenyNone);
  file_.call(kNext);  // before any SET
  ASSERT_EQ(fileaccess::ERRORCODE(), 33);
  for (const auto op : {kCommit, kRollback, kUnlock}) {
    file_.call(op);
    EXPECT_EQ(fileaccess::ERRORCODE(), 33) << fileaccess::driverOpName(op);
    EXPECT_EQ(fileaccess::fileInError(), &file_.block());
  }
}

TEST_F(CallEdgesTest, NextGives33UntilTheNextSet) {
  open(kReadWriteDenyNone);
  add("one", 1);
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
  file_.call(kSetFile);
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.name(), "one");
  for (int i = 0; i < 2; ++i) {
    file_.call(kNext);
    EXPECT_EQ(fileaccess::ERRORCODE(), 33);
  }
  file_.call(kSetFile);
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
}

TEST_F(CallEdgesTest, ACurrentRecordIsTestedBeforeWriteAccess) {
  open(kReadWriteDenyNone);
  add("one", 1);
  file_.call(kClose);
  open(kReadOnlyDenyNone);
  file_.call(kPut);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
  file_.call(kSetFile);
  file_.call(kNext);
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  file_.call(kPut);
  EXPECT_EQ(fileaccess::ERRORCODE(), 5);
  file_.call(kAdd);
  EXPECT_EQ(fileaccess::ERRORCODE(), 5);
}

TEST_F(CallEdgesTest, BuildOnASharedFileNeedsExclusiveAccess) {
  open(kReadWriteDenyNone);
  file_.call(kBuildFile);
  EXPECT_EQ(fileaccess::ERRORCODE(), 63);
}

TEST_F(CallEdgesTest, RefusedEndTestsReturnOneAndBlankPositionsGive35) {
  open(kReadWriteDenyNone);
  EXPECT_EQ(file_.call(kEof), 1);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
  EXPECT_EQ(file_.call(kBof), 1);
  file_.callWithText(kResetFile, "    ");
  EXPECT_EQ(fileaccess::ERRORCODE(), 35);
  file_.callWithText(kRegetFile, "");
  EXPECT_EQ(fileaccess::ERRORCODE(), 35);
  EXPECT_TRUE(fileaccess::stringStack().empty());
}

TEST_F(CallEdgesTest, QueriesKeepAnEarlierErrorAndReadsClearIt) {
  open(kReadWriteDenyNone);
  add("one", 1);
  file_.call(kSetFile);
  file_.call(kNext);
  file_.call(kNext);
  ASSERT_EQ(fileaccess::ERRORCODE(), 33);
  EXPECT_EQ(file_.call(kRecordsFile), 1);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
  file_.call(kSetFile);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);  // SET clears
  file_.call(kNext);
  file_.call(kNext);
  ASSERT_EQ(fileaccess::ERRORCODE(), 33);
  file_.call(kSetFile);
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  fileaccess::postError(40);
  EXPECT_NE(file_.call(kPointerFile), 0);
  EXPECT_EQ(fileaccess::ERRORCODE(), 40);
}

// An internal error of the store in the middle of NEXT: a failed read of the
// file header, which a shared open reads at the start of every access.
class DamagedFileTest : public CallEdgesTest {
 protected:
  void damage() {
    support::FaultFile faults;
    faults.failRead(1);
    file_.call(kNext);
  }
};

TEST_F(DamagedFileTest, AfterAnInternalErrorOnlyCloseAndNameRun) {
  open(kReadWriteDenyNone);
  add("one", 1);
  file_.call(kSetFile);
  damage();
  EXPECT_EQ(fileaccess::ERRORCODE(), 90);
  EXPECT_EQ(fileaccess::fileInError(), &file_.block());
  const auto code = std::string(fileaccess::driverErrorCode());
  EXPECT_EQ(code.substr(0, code.find(' ')), "2277");
  EXPECT_EQ(std::string(fileaccess::driverErrorText()).substr(0, 32),
            "Possible data corruption in file");

  fileaccess::clearError();
  for (const auto op : {kNext, kRecordsFile, kAdd}) {
    file_.call(op);
    EXPECT_EQ(fileaccess::ERRORCODE(), 90) << fileaccess::driverOpName(op);
    EXPECT_EQ(std::string(fileaccess::driverErrorCode()).substr(0, 4), "2277");
  }
  file_.call(kName);
  EXPECT_EQ(TestFile::popText(), temp_.file("DATA.QBX"));
  file_.call(kClose);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_FALSE(file_.attached());

  // The next OPEN starts clean and finds the committed record.
  open(kReadWriteDenyNone);
  file_.call(kSetFile);
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.name(), "one");
}

TEST_F(DamagedFileTest, TheTrapLetsGoOfTheStoresLocks) {
  // The child is made before anything is open, so that it shares no open
  // file with this process; it writes once told to.
  const std::string name = temp_.file("DATA");
  support::ChildProcess child([&](support::ChildChannel& channel) {
    if (!channel.expect('w', std::chrono::seconds(20))) return 1;
    TestFile writer;
    writer.setName(name);
    writer.call(kOpen, kReadWriteDenyNone);
    if (fileaccess::ERRORCODE() != 0) return 2;
    writer.setFields("from child", 2, "C");
    writer.call(kAdd);
    if (fileaccess::ERRORCODE() != 0) return 3;
    writer.call(kClose);
    return fileaccess::ERRORCODE() == 0 ? 0 : 4;
  });
  open(kReadWriteDenyNone);
  add("one", 1);
  file_.call(kSetFile);
  damage();
  ASSERT_EQ(fileaccess::ERRORCODE(), 90);
  // The file is still open here, marked; the other program can commit.
  child.channel().send('w');
  const support::ChildStatus status = child.wait(std::chrono::seconds(20));
  EXPECT_TRUE(status.exitedWith(0)) << status.describe();
  file_.call(kClose);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
}

}  // namespace
}  // namespace qbx::driver
