// Two programs on one file: sharing by access mode, records held by the
// other program, and a file that the other program has open. Every child is
// made before this process opens anything, so that it shares no open file
// with it, and is told by the channel when to act.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "driver_fixture.h"
#include "platform/clock.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace qbx::driver {
namespace {

using namespace std::chrono_literals;
using enum fileaccess::DriverOp;
using testing::kReadOnlyDenyNone;
using testing::kReadWriteDenyNone;
using testing::kReadWriteDenyWrite;
using testing::TestFile;

constexpr auto kWait = 20s;

class SharingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileaccess::clearError();
    fileaccess::stringStack().clear();
    name_ = temp_.file("SHARED");
  }

  // Creates the file with two records, then opens it with the mode.
  void createAndOpen(TestFile& file, std::int32_t mode) {
    file.setName(name_);
    file.call(kCreate);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
    file.call(kOpen, mode);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
    for (const char* record : {"first", "second"}) {
      file.setFields(record, 1, "C");
      file.call(kAdd);
      ASSERT_EQ(fileaccess::ERRORCODE(), 0);
    }
  }

  support::TempDir temp_;
  std::string name_;
};

TEST_F(SharingTest, AFileOpenedDenyingWriteCanBeReadButNotWrittenByAnother) {
  support::ChildProcess child([&](support::ChildChannel& channel) {
    if (!channel.expect('o', kWait)) return 1;
    TestFile writer;
    writer.setName(name_);
    writer.call(kOpen, kReadWriteDenyNone);
    if (fileaccess::ERRORCODE() != 5) return 2;
    TestFile reader;
    reader.setName(name_);
    reader.call(kOpen, kReadOnlyDenyNone);
    if (fileaccess::ERRORCODE() != 0) return 3;
    reader.call(kSetFile);
    reader.call(kNext);
    if (fileaccess::ERRORCODE() != 0 || reader.name() != "first") return 4;
    reader.call(kAdd);
    return fileaccess::ERRORCODE() == 5 ? 0 : 5;
  });
  TestFile file;
  createAndOpen(file, kReadWriteDenyWrite);
  child.channel().send('o');
  const support::ChildStatus status = child.wait(kWait);
  EXPECT_TRUE(status.exitedWith(0)) << status.describe();
}

// The child holds the first record until it is told to let it go: at once
// ('r') or half a second after being told ('d').
class HeldRecordTest : public SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    child_ = std::make_unique<support::ChildProcess>([this](support::ChildChannel& channel) {
      if (!channel.expect('h', kWait)) return 1;
      TestFile holder;
      holder.setName(name_);
      holder.call(kOpen, kReadWriteDenyNone);
      holder.call(kSetFile);
      holder.call(kHoldFile);
      holder.call(kNext);
      if (fileaccess::ERRORCODE() != 0) return 2;
      channel.send('H');
      char order = 0;
      if (!channel.receive(&order, kWait)) return 3;
      if (order == 'd') platform::sleepMillis(500);
      holder.call(kRelease);
      return fileaccess::ERRORCODE() == 0 ? 0 : 4;
    });
    createAndOpen(file_, kReadWriteDenyNone);
    child_->channel().send('h');
    ASSERT_TRUE(child_->channel().expect('H', kWait));
    file_.call(kSetFile);
  }

  void release(char order) {
    if (released_) return;
    released_ = true;
    child_->channel().send(order);
  }

  void TearDown() override {
    release('r');
    const support::ChildStatus status = child_->wait(kWait);
    EXPECT_TRUE(status.exitedWith(0)) << status.describe();
  }

  TestFile file_;
  std::unique_ptr<support::ChildProcess> child_;
  bool released_ = false;
};

TEST_F(HeldRecordTest, HoldWithSecondsGives43WhenTheTimeIsUp) {
  file_.call(kHoldFileSec, 2);
  const std::int64_t start = platform::tickCount();
  file_.call(kNext);
  const std::int64_t waited = platform::tickCount() - start;
  EXPECT_EQ(fileaccess::ERRORCODE(), 43);
  EXPECT_GE(waited, 190);
  EXPECT_LT(waited, 1000);
  // Without a hold the record is read at once.
  file_.call(kSetFile);
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.name(), "first");
}

TEST_F(HeldRecordTest, ALongHoldWaitsUntilTheRecordIsReleased) {
  // 30000000 seconds in hundredths do not fit 32 bits: the wait must not
  // end early.
  file_.call(kHoldFileSec, 30000000);
  release('d');
  const std::int64_t start = platform::tickCount();
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.name(), "first");
  EXPECT_GE(platform::tickCount() - start, 40);
}

TEST_F(SharingTest, RemoveLeavesAFileAnotherProgramHasOpen) {
  support::ChildProcess child([&](support::ChildChannel& channel) {
    if (!channel.expect('o', kWait)) return 1;
    TestFile reader;
    reader.setName(name_);
    reader.call(kOpen, kReadOnlyDenyNone);
    if (fileaccess::ERRORCODE() != 0) return 2;
    channel.send('O');
    if (!channel.expect('c', kWait)) return 3;
    reader.call(kSetFile);
    reader.call(kNext);
    return fileaccess::ERRORCODE() == 0 && reader.name() == "first" ? 0 : 4;
  });
  {
    TestFile file;
    createAndOpen(file, kReadWriteDenyNone);
    file.call(kClose);
  }
  child.channel().send('o');
  ASSERT_TRUE(child.channel().expect('O', kWait));
  TestFile remover;
  remover.setName(name_);
  remover.call(kRemove);
  EXPECT_EQ(fileaccess::ERRORCODE(), 5);
  struct stat st {};
  EXPECT_EQ(::stat((name_ + ".QBX").c_str(), &st), 0);
  child.channel().send('c');
  const support::ChildStatus status = child.wait(kWait);
  EXPECT_TRUE(status.exitedWith(0)) << status.describe();
  // Nothing of the table went with the refused REMOVE.
  TestFile file;
  file.setName(name_);
  file.call(kOpen, kReadWriteDenyNone);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file.call(kRecordsFile), 2);
}

}  // namespace
}  // namespace qbx::driver
