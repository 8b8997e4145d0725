// Share modes between processes: a forked child holds an open, the parent
// tries its own.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using platform::Access;
using platform::File;
using platform::OpenOptions;
using platform::Share;

OpenOptions opening(Access access, Share share) { return OpenOptions{access, share, false, false}; }

struct ShareCase {
  const char* what;
  Access heldAccess;
  Share heldShare;
  Access access;
  Share share;
  int expected;
};

const ShareCase kShareCases[] = {
    {"deny write held: write refused", Access::kReadWrite, Share::kDenyWrite, Access::kReadWrite,
     Share::kDenyNone, 5},
    {"deny write held: write-only refused", Access::kReadWrite, Share::kDenyWrite, Access::kWrite,
     Share::kDenyNone, 5},
    {"deny write held: read admitted", Access::kReadWrite, Share::kDenyWrite, Access::kRead,
     Share::kDenyNone, 0},
    {"deny write held: reader denying write refused (held open writes)", Access::kReadWrite,
     Share::kDenyWrite, Access::kRead, Share::kDenyWrite, 5},
    {"read-only deny write held: reader denying write admitted", Access::kRead, Share::kDenyWrite,
     Access::kRead, Share::kDenyWrite, 0},
    {"deny all held: read refused", Access::kRead, Share::kDenyAll, Access::kRead, Share::kDenyNone,
     5},
    {"deny all held: write refused", Access::kRead, Share::kDenyAll, Access::kWrite,
     Share::kDenyNone, 5},
    {"deny all held: deny all refused", Access::kRead, Share::kDenyAll, Access::kRead,
     Share::kDenyAll, 5},
    {"deny none held: read-write admitted", Access::kReadWrite, Share::kDenyNone,
     Access::kReadWrite, Share::kDenyNone, 0},
    {"deny none held: read admitted", Access::kRead, Share::kDenyNone, Access::kRead,
     Share::kDenyNone, 0},
    {"reader held: deny all refused", Access::kRead, Share::kDenyNone, Access::kReadWrite,
     Share::kDenyAll, 5},
    {"reader held: deny read refused", Access::kRead, Share::kDenyNone, Access::kReadWrite,
     Share::kDenyRead, 5},
    {"reader held: deny write admitted", Access::kRead, Share::kDenyNone, Access::kReadWrite,
     Share::kDenyWrite, 0},
    {"writer held: deny write refused", Access::kWrite, Share::kDenyNone, Access::kRead,
     Share::kDenyWrite, 5},
    {"write-only held: deny read admitted", Access::kWrite, Share::kDenyNone, Access::kRead,
     Share::kDenyRead, 0},
    {"deny read held: read refused", Access::kReadWrite, Share::kDenyRead, Access::kRead,
     Share::kDenyNone, 5},
    {"deny read held: write-only admitted", Access::kReadWrite, Share::kDenyRead, Access::kWrite,
     Share::kDenyNone, 0},
};

class ShareModes : public ::testing::TestWithParam<ShareCase> {
 protected:
  void SetUp() override {
    path_ = dir_.file("shared");
    File f;
    ASSERT_EQ(f.open(path_, OpenOptions{Access::kReadWrite, Share::kDenyNone, true, false}), 0);
  }
  support::TempDir dir_;
  std::string path_;
};

TEST_P(ShareModes, ForkedHolderDecides) {
  const ShareCase& c = GetParam();
  support::ChildProcess child([&](support::ChildChannel& ch) {
    File held;
    if (held.open(path_, opening(c.heldAccess, c.heldShare)) != 0) return 1;
    ch.send('O');
    return ch.expect('X', std::chrono::seconds(20)) ? 0 : 2;
  });
  ASSERT_TRUE(child.channel().expect('O', std::chrono::seconds(20)));
  File mine;
  EXPECT_EQ(mine.open(path_, opening(c.access, c.share)), c.expected);
  EXPECT_EQ(mine.isOpen(), c.expected == 0);
  mine.close();
  ASSERT_TRUE(child.channel().send('X'));
  const support::ChildStatus status = child.wait();
  EXPECT_TRUE(status.exitedWith(0)) << status.describe();
  // Once the holder has gone, the same open is admitted.
  EXPECT_EQ(mine.open(path_, opening(c.access, c.share)), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, ShareModes, ::testing::ValuesIn(kShareCases),
                         [](const ::testing::TestParamInfo<ShareCase>& param) {
                           return "case" + std::to_string(param.index);
                         });

TEST(ShareModesInProcess, SecondOpenOfSameProcessIsCheckedToo) {
  support::TempDir dir;
  const std::string path = dir.file("f");
  File first;
  ASSERT_EQ(first.open(path, OpenOptions{Access::kReadWrite, Share::kDenyAll, true, false}), 0);
  File second;
  EXPECT_EQ(second.open(path, opening(Access::kRead, Share::kDenyNone)), 5);
  first.close();
  EXPECT_EQ(second.open(path, opening(Access::kRead, Share::kDenyNone)), 0);
  // The refused open leaves no marker behind: a deny-all open still works
  // once the reader is gone.
  File refused;
  EXPECT_EQ(refused.open(path, opening(Access::kRead, Share::kDenyAll)), 5);
  second.close();
  EXPECT_EQ(refused.open(path, opening(Access::kRead, Share::kDenyAll)), 0);
}

TEST(ShareModesInProcess, ProgramLocksDoNotDisturbSharing) {
  support::TempDir dir;
  const std::string path = dir.file("f");
  File a;
  ASSERT_EQ(a.open(path, OpenOptions{Access::kReadWrite, Share::kDenyWrite, true, false}), 0);
  ASSERT_EQ(a.lock(0x80000000, 1023, platform::LockKind::kExclusive, false), 0);
  ASSERT_EQ(a.unlock(0x80000000, 1023), 0);
  File b;
  EXPECT_EQ(b.open(path, opening(Access::kReadWrite, Share::kDenyNone)), 5);
}

}  // namespace
