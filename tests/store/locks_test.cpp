// Lock bytes between real processes.
#include <gtest/gtest.h>

#include "qbx/store/entry_tree.h"
#include "store_test_util.h"
#include "support/child_process.h"

namespace qbx::store {
namespace {

using namespace test;

constexpr unsigned kOpenSharedReadWrite = 0x42;

TEST(RecordLocks, LockedByteRefusesAnotherProcessAtOnce) {
  support::TempDir dir;
  const std::string path = dir.file("locks.QBX");
  { auto writer = openWriter(path); insert(*writer, numberedEntry(1)); }
  QbxStore store;
  ASSERT_EQ(store.open(path, kOpenSharedReadWrite, ""), 0);
  ASSERT_EQ(store.lockRecord(7), 0);
  EXPECT_TRUE(store.diskFile().file().holds(0x80000408u, 1));
  EXPECT_NE(store.lockRecord(7), 0) << "a held byte is not granted again through the same handle";

  support::ChildProcess child([&](support::ChildChannel& channel) {
    QbxStore other;
    if (other.open(path, kOpenSharedReadWrite, "") != 0) return 1;
    if (other.lockRecord(7) == 0) return 2;
    if (other.lockRecord(8) != 0) return 3;
    channel.send('8');
    return channel.expect('x', std::chrono::seconds(20)) && other.lockRecord(7) == 0 ? 0 : 4;
  });
  ASSERT_TRUE(child.channel().expect('8', std::chrono::seconds(20)));
  EXPECT_NE(store.lockRecord(8), 0) << "the child holds record 8";
  store.unlockRecord(7);
  child.channel().send('x');
  EXPECT_TRUE(child.wait().exitedWith(0));
}

TEST(RecordLocks, ReleaseAllLocksLetsGoOfEverything) {
  support::TempDir dir;
  const std::string path = dir.file("locks.QBX");
  { auto writer = openWriter(path); insert(*writer, numberedEntry(1)); }
  QbxStore store;
  ASSERT_EQ(store.open(path, kOpenSharedReadWrite, ""), 0);
  ASSERT_TRUE(store.accessOpen());
  ASSERT_EQ(store.lockRecord(3), 0);
  store.releaseAllLocks(3);
  support::ChildProcess child([&](support::ChildChannel&) {
    QbxStore other;
    if (other.open(path, kOpenSharedReadWrite, "") != 0) return 1;
    return other.lockRecord(3) == 0 ? 0 : 2;
  });
  EXPECT_TRUE(child.wait().exitedWith(0));
}

}  // namespace
}  // namespace qbx::store
