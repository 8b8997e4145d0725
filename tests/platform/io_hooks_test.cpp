#include "platform/io_hooks.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "support/child_process.h"
#include "support/fault_file.h"
#include "support/temp_dir.h"

namespace {

using platform::Access;
using platform::File;
using platform::OpenOptions;
using platform::Share;

const OpenOptions kCreateRw{Access::kReadWrite, Share::kDenyNone, true, false};

// A kernel that moves at most 3 bytes per call and is interrupted by a
// signal every other call.
std::atomic<int> calls{0};
ssize_t stingyPread(int fd, void* b, std::size_t n, off_t o) {
  if (++calls % 2 == 0) {
    errno = EINTR;
    return -1;
  }
  return ::pread(fd, b, n < 3 ? n : 3, o);
}
ssize_t stingyPwrite(int fd, const void* b, std::size_t n, off_t o) {
  if (++calls % 2 == 0) {
    errno = EINTR;
    return -1;
  }
  return ::pwrite(fd, b, n < 3 ? n : 3, o);
}
int interruptedOnce(int fd) {
  static std::atomic<bool> once{false};
  if (!once.exchange(true)) {
    errno = EINTR;
    return -1;
  }
  return ::fdatasync(fd);
}
const platform::IoHooks kStingy = {stingyPread, stingyPwrite, interruptedOnce, ::ftruncate};

TEST(IoHooks, PartialAndInterruptedTransfersAreFinished) {
  support::TempDir dir;
  File f;
  ASSERT_EQ(f.open(dir.file("f"), kCreateRw), 0);
  std::vector<std::uint8_t> out(100);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i);
  platform::setIoHooks(&kStingy);
  const int written = f.write(1000, out);
  std::vector<std::uint8_t> in(100);
  std::size_t got = 0;
  const int read = f.read(1000, in, &got);
  const int flushed = f.flush();
  platform::setIoHooks(nullptr);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(read, 0);
  EXPECT_EQ(got, in.size());
  EXPECT_EQ(in, out);
  EXPECT_EQ(flushed, 0);
  EXPECT_GT(calls.load(), 60);
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(f_.open(dir_.file("f"), kCreateRw), 0); }
  support::TempDir dir_;
  File f_;
  std::array<std::uint8_t, 64> block_{};
};

TEST_F(Faults, NthWriteFailsWithTheChosenError) {
  support::FaultFile faults;
  faults.failWrite(2, EIO);
  EXPECT_EQ(f_.write(0, block_), 0);
  EXPECT_EQ(f_.write(64, block_), 29);
  EXPECT_EQ(f_.write(128, block_), 0);
  faults.reset();
  faults.failWrite(1, ENOSPC, true);  // the disk stays full
  EXPECT_EQ(f_.write(0, block_), 39);
  EXPECT_EQ(f_.write(0, block_), 39);
  EXPECT_EQ(faults.writes(), 2);
  std::uint64_t length = 0;
  ASSERT_EQ(f_.size(&length), 0);
  EXPECT_EQ(length, 192u);
}

TEST_F(Faults, ShortWriteStoresHalfAndReportsFive) {
  support::FaultFile faults;
  block_.fill(0xAB);
  faults.shortWrite(1);
  EXPECT_EQ(f_.write(0, block_), 5);
  std::uint64_t length = 0;
  ASSERT_EQ(f_.size(&length), 0);
  EXPECT_EQ(length, 32u);
  EXPECT_EQ(f_.write(0, block_), 0);  // only that one transfer was short
  EXPECT_EQ(faults.writes(), 2);
}

TEST_F(Faults, ReadAndFlushFailures) {
  ASSERT_EQ(f_.write(0, block_), 0);
  support::FaultFile faults;
  faults.failRead(1);
  faults.failFlush(2);
  std::size_t got = 0;
  EXPECT_EQ(f_.read(0, block_, &got), 30);
  EXPECT_EQ(f_.read(0, block_, &got), 0);
  EXPECT_EQ(got, block_.size());
  EXPECT_EQ(f_.flush(), 0);
  EXPECT_EQ(f_.flush(), 29);
  EXPECT_EQ(faults.reads(), 2);
  EXPECT_EQ(faults.flushes(), 2);
  EXPECT_EQ(f_.setEnd(0), 0);
  EXPECT_EQ(faults.truncates(), 1);
}

TEST_F(Faults, KillAtWriteOrFlushInAChild) {
  struct Case {
    const char* what;
    bool atFlush;
    bool torn;
    std::uint64_t expectedLength;  // what reached the file
  };
  const Case cases[] = {
      {"kill before the 2nd write", false, false, 64},
      {"kill in the middle of the 2nd write", false, true, 96},
      {"kill at the 1st flush", true, false, 128},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(f_.setEnd(0), 0);
    support::ChildProcess child([&](support::ChildChannel&) {
      support::FaultFile faults;
      if (c.atFlush) {
        faults.killAtFlush(1);
      } else {
        faults.killAtWrite(2, c.torn);
      }
      if (f_.write(0, block_) != 0) return 1;
      if (f_.write(64, block_) != 0) return 2;
      (void)f_.flush();
      return 3;
    });
    const support::ChildStatus status = child.wait();
    EXPECT_TRUE(status.killedBy(SIGKILL)) << c.what << ": " << status.describe();
    std::uint64_t length = 0;
    ASSERT_EQ(f_.size(&length), 0);
    EXPECT_EQ(length, c.expectedLength) << c.what;
  }
}

}  // namespace
