#include <array>
#include <csignal>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using platform::Access;
using platform::File;
using platform::LockKind;
using platform::OpenOptions;
using platform::Share;

constexpr std::uint64_t kBase = 0x80000000;
const OpenOptions kCreateRw{Access::kReadWrite, Share::kDenyNone, true, false};
const OpenOptions kReadOnly{Access::kRead, Share::kDenyNone, false, false};
const OpenOptions kReadWithWriteLocks{Access::kRead, Share::kDenyNone, false, true};

class Locks : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("locks");
    ASSERT_EQ(a_.open(path_, kCreateRw), 0);
    ASSERT_EQ(b_.open(path_, kCreateRw), 0);
  }
  support::TempDir dir_;
  std::string path_;
  File a_;
  File b_;
};

TEST_F(Locks, OverlapWithOwnRangeIsRefused) {
  ASSERT_EQ(a_.lock(kBase + 10, 5, LockKind::kShared, false), 0);  // bytes 10..14
  struct Case {
    std::uint64_t offset;
    std::uint64_t length;
    int expected;
  };
  const Case cases[] = {
      {10, 5, 33},  // the same range
      {8, 3, 33},   // over the start
      {14, 4, 33},  // over the end
      {9, 10, 33},  // around it
      {11, 2, 33},  // inside it
      {5, 5, 0},    // just before
      {15, 1, 0},   // just after
  };
  for (const Case& c : cases) {
    EXPECT_EQ(a_.lock(kBase + c.offset, c.length, LockKind::kShared, false), c.expected)
        << c.offset << "+" << c.length;
  }
  // Waiting does not help against one's own range.
  EXPECT_EQ(a_.lock(kBase + 12, 1, LockKind::kExclusive, true), 33);
}

TEST_F(Locks, TwoOpensInOneProcessConflict) {
  ASSERT_EQ(a_.lock(kBase + 1, 1, LockKind::kExclusive, false), 0);
  EXPECT_EQ(b_.lock(kBase + 1, 1, LockKind::kExclusive, false), 33);
  EXPECT_EQ(b_.lock(kBase + 1, 1, LockKind::kShared, false), 33);
  EXPECT_FALSE(b_.holds(kBase + 1, 1));

  ASSERT_EQ(a_.lock(kBase + 2, 1, LockKind::kShared, false), 0);
  EXPECT_EQ(b_.lock(kBase + 2, 1, LockKind::kShared, false), 0);
  EXPECT_EQ(b_.lock(kBase + 3, 1, LockKind::kShared, false), 0);
  EXPECT_EQ(a_.lock(kBase + 3, 1, LockKind::kExclusive, false), 33);
}

TEST_F(Locks, UnlockMustMatchExactly) {
  ASSERT_EQ(a_.lock(kBase + 100, 4, LockKind::kExclusive, false), 0);
  EXPECT_EQ(a_.unlock(kBase + 100, 2), 158);
  EXPECT_EQ(a_.unlock(kBase + 101, 3), 158);
  EXPECT_EQ(a_.unlock(kBase + 100, 5), 158);
  EXPECT_EQ(a_.unlock(kBase + 200, 1), 158);
  // Nothing changed: the range is still held, in the table and the kernel.
  EXPECT_TRUE(a_.holds(kBase + 100, 4));
  EXPECT_EQ(b_.lock(kBase + 101, 1, LockKind::kExclusive, false), 33);

  EXPECT_EQ(a_.unlock(kBase + 100, 4), 0);
  EXPECT_FALSE(a_.holds(kBase + 100, 4));
  EXPECT_EQ(a_.unlock(kBase + 100, 4), 158);
  EXPECT_EQ(b_.lock(kBase + 101, 1, LockKind::kExclusive, false), 0);
}

TEST_F(Locks, AdjacentRangesStaySeparate) {
  // The kernel merges adjacent ranges of one open; unlocking one must not
  // release its neighbour.
  ASSERT_EQ(a_.lock(kBase + 20, 1, LockKind::kExclusive, false), 0);
  ASSERT_EQ(a_.lock(kBase + 21, 1, LockKind::kExclusive, false), 0);
  ASSERT_EQ(a_.unlock(kBase + 20, 1), 0);
  EXPECT_EQ(b_.lock(kBase + 20, 1, LockKind::kExclusive, false), 0);
  EXPECT_EQ(b_.lock(kBase + 21, 1, LockKind::kExclusive, false), 33);
}

TEST_F(Locks, LockSurvivesAnotherOpenAndClose) {
  ASSERT_EQ(a_.lock(kBase + 7, 1, LockKind::kExclusive, false), 0);
  {
    File c;
    ASSERT_EQ(c.open(path_, kReadOnly), 0);
  }  // closing c must not drop a_'s lock (it would with classic POSIX locks)
  EXPECT_EQ(b_.lock(kBase + 7, 1, LockKind::kExclusive, false), 33);
  a_.close();
  EXPECT_EQ(b_.lock(kBase + 7, 1, LockKind::kExclusive, false), 0);
}

TEST_F(Locks, ShareModeBytesAreNotForPrograms) {
  EXPECT_EQ(a_.lock(0x7FFFFF00, 1, LockKind::kExclusive, false), 33);
  EXPECT_EQ(a_.lock(0x7FFFFEF0, 0x20, LockKind::kShared, false), 33);
  EXPECT_EQ(a_.lock(0x7FFFFF04, 1, LockKind::kShared, false), 33);
  EXPECT_EQ(a_.lock(0x7FFFFF05, 1, LockKind::kShared, false), 0);
  EXPECT_EQ(a_.unlock(0x7FFFFF01, 1), 158);
  EXPECT_EQ(a_.lock(kBase, 0, LockKind::kShared, false), 87);
}

TEST_F(Locks, ReadOnlyOpenTakesSharedLocks) {
  File r1;
  File r2;
  ASSERT_EQ(r1.open(path_, kReadOnly), 0);
  ASSERT_EQ(r2.open(path_, kReadOnly), 0);
  EXPECT_EQ(r1.lock(kBase + 5, 1, LockKind::kExclusive, false), 0);
  EXPECT_EQ(r2.lock(kBase + 5, 1, LockKind::kExclusive, false), 0);  // both "exclusive"
  EXPECT_EQ(a_.lock(kBase + 5, 1, LockKind::kExclusive, false), 33);

  // With writeLocks a read-only open takes real exclusive locks.
  File w;
  ASSERT_EQ(w.open(path_, kReadWithWriteLocks), 0);
  ASSERT_EQ(w.lock(kBase + 6, 1, LockKind::kExclusive, false), 0);
  EXPECT_EQ(r1.lock(kBase + 6, 1, LockKind::kShared, false), 33);
}

TEST_F(Locks, OtherProcessConflictsAndWaitingLockGetsTheRange) {
  support::ChildProcess child([path = path_](support::ChildChannel& ch) {
    File f;
    if (f.open(path, kCreateRw) != 0) return 1;
    if (f.lock(kBase + 1024 + 8, 1, LockKind::kExclusive, false) != 0) return 2;
    ch.send('L');
    if (!ch.expect('U', std::chrono::seconds(20))) return 3;
    if (f.unlock(kBase + 1024 + 8, 1) != 0) return 4;
    return 0;
  });
  ASSERT_TRUE(child.channel().expect('L', std::chrono::seconds(20)));
  EXPECT_EQ(a_.lock(kBase + 1024 + 8, 1, LockKind::kExclusive, false), 33);
  EXPECT_EQ(a_.lock(kBase + 1024 + 8, 1, LockKind::kShared, false), 33);
  EXPECT_EQ(a_.lock(kBase + 1024 + 9, 1, LockKind::kExclusive, false), 0);
  ASSERT_TRUE(child.channel().send('U'));
  // Blocks in the kernel until the child has unlocked.
  EXPECT_EQ(a_.lock(kBase + 1024 + 8, 1, LockKind::kExclusive, true), 0);
  EXPECT_TRUE(child.wait().exitedWith(0));
}

TEST_F(Locks, DeadProcessReleasesItsLocks) {
  support::ChildProcess child([path = path_](support::ChildChannel& ch) {
    File f;
    if (f.open(path, kCreateRw) != 0) return 1;
    if (f.lock(kBase + 1023, 1, LockKind::kExclusive, false) != 0) return 2;
    ch.send('L');
    ch.expect('X', std::chrono::seconds(20));
    return 0;
  });
  ASSERT_TRUE(child.channel().expect('L', std::chrono::seconds(20)));
  EXPECT_EQ(a_.lock(kBase + 1023, 1, LockKind::kExclusive, false), 33);
  child.kill(SIGKILL);
  EXPECT_TRUE(child.wait().killedBy(SIGKILL));
  EXPECT_EQ(a_.lock(kBase + 1023, 1, LockKind::kExclusive, false), 0);
}

}  // namespace
