// Lock bytes between real processes: reader slots, the writer byte, the
// reader area of a commit, record lock bytes, and what each open mode takes.
// Every wait of another process is bounded by a timeout.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/file.h"
#include "qbx/store/entry_tree.h"
#include "store_state.h"
#include "store_test_util.h"
#include "support/child_process.h"

namespace qbx::store {
namespace {

using namespace test;

constexpr unsigned kOpenSharedReadWrite = 0x42;
constexpr unsigned kOpenSharedRead = 0x40;
constexpr std::uint64_t kLockBase = 0x80000000u;
constexpr std::uint64_t kWriterByte = kLockBase + 1023;
constexpr std::uint64_t kReaderSlots = 1023;
// How long a process that must be waiting is given to (wrongly) get through.
constexpr auto kStillWaiting = std::chrono::milliseconds(300);
constexpr auto kPromptly = std::chrono::seconds(20);

// A file of ten entries, closed.
std::string makeFile(support::TempDir& dir) {
  const std::string path = dir.file("locks.QBX");
  auto writer = openWriter(path);
  applyStep(*writer, {insertKeys(1, 10, 20)});
  return path;
}

// Another open of the file that holds lock bytes the way another program
// would: it opens for reading, denying nothing.
platform::File lockHolder(const std::string& path) {
  platform::File file;
  platform::OpenOptions options;
  options.writeLocks = true;
  EXPECT_EQ(file.open(path, options), 0);
  return file;
}

bool rangeLocked(const std::string& path, std::uint64_t offset, std::uint64_t length);

bool sendSlot(support::ChildChannel& channel, int slot) {
  return channel.send(static_cast<char>(slot & 0xFF)) && channel.send(static_cast<char>(slot >> 8));
}
int receiveSlot(support::ChildChannel& channel) {
  char low = 0;
  char high = 0;
  if (!channel.receive(&low, kPromptly) || !channel.receive(&high, kPromptly)) return -1;
  return static_cast<unsigned char>(low) | static_cast<unsigned char>(high) << 8;
}

TEST(ReaderSlots, TwoReadersHoldDifferentSlotsAndACommitWaitsForBoth) {
  support::TempDir dir;
  const std::string path = makeFile(dir);
  // A reader whose open leaves its access open, so it holds its slot until
  // told to end the access.
  const auto reader = [&](support::ChildChannel& channel) {
    QbxStore store;
    if (store.open(path, kOpenSharedRead, "") != 0) return 1;
    const int slot = store.diskFile().readerSlot();
    if (!store.diskFile().file().holds(kLockBase + static_cast<std::uint64_t>(slot), 1)) return 2;
    sendSlot(channel, slot);
    if (!channel.expect('e', kPromptly)) return 3;
    if (store.endAccess() != 0) return 4;
    channel.send('d');
    return channel.expect('q', kPromptly) ? 0 : 5;
  };
  support::ChildProcess first(reader);
  const int firstSlot = receiveSlot(first.channel());
  support::ChildProcess second(reader);
  const int secondSlot = receiveSlot(second.channel());
  ASSERT_GE(firstSlot, 0);
  ASSERT_GE(secondSlot, 0);
  EXPECT_NE(firstSlot, secondSlot);

  support::ChildProcess committer([&](support::ChildChannel& channel) {
    QbxStore store;
    if (store.open(path, kOpenSharedReadWrite, "") != 0) return 1;
    store.enterWriterMode();
    insert(store, numberedEntry(77));
    channel.send('p');
    const int result = store.commit();
    channel.send('c');
    return result == 0 ? 0 : 2;
  });
  ASSERT_TRUE(committer.channel().expect('p', kPromptly));
  char c = 0;
  EXPECT_FALSE(committer.channel().receive(&c, kStillWaiting))
      << "the commit waits for both readers";
  first.channel().send('e');
  ASSERT_TRUE(first.channel().expect('d', kPromptly));
  EXPECT_FALSE(committer.channel().receive(&c, kStillWaiting))
      << "the commit waits for the second reader";
  second.channel().send('e');
  ASSERT_TRUE(second.channel().expect('d', kPromptly));
  EXPECT_TRUE(committer.channel().expect('c', kPromptly));
  EXPECT_TRUE(committer.wait().exitedWith(0));
  first.channel().send('q');
  second.channel().send('q');
  EXPECT_TRUE(first.wait().exitedWith(0));
  EXPECT_TRUE(second.wait().exitedWith(0));

  QbxStore check;
  ASSERT_EQ(check.open(path, kOpenSharedRead, ""), 0);
  EXPECT_NE(find(check, *searchKey(77)), nullptr);
}

TEST(ReaderSlots, AReaderWhoseSlotIsTakenMovesToTheNext) {
  support::TempDir dir;
  const std::string path = makeFile(dir);
  support::ChildProcess child([&](support::ChildChannel& channel) {
    QbxStore store;  // its disk file has chosen the first slot to try
    const int slot = store.diskFile().readerSlot();
    sendSlot(channel, slot);
    if (!channel.expect('g', kPromptly)) return 3;
    if (store.open(path, kOpenSharedRead, "") != 0) return 1;
    const int next = (slot + 1) % 1023;
    if (store.diskFile().readerSlot() != next) return 2;
    return store.diskFile().file().holds(kLockBase + static_cast<std::uint64_t>(next), 1) ? 0 : 4;
  });
  const int slot = receiveSlot(child.channel());
  ASSERT_GE(slot, 0);
  platform::File holder = lockHolder(path);
  ASSERT_EQ(holder.lock(kLockBase + static_cast<std::uint64_t>(slot), 1,
                        platform::LockKind::kExclusive, false),
            0);
  child.channel().send('g');
  EXPECT_TRUE(child.wait().exitedWith(0));
}

TEST(ReaderSlots, AReaderWaitsWhileACommitHoldsTheReaderArea) {
  support::TempDir dir;
  const std::string path = makeFile(dir);
  platform::File holder = lockHolder(path);
  ASSERT_EQ(holder.lock(kLockBase, kReaderSlots, platform::LockKind::kExclusive, false), 0);
  support::ChildProcess child([&](support::ChildChannel& channel) {
    channel.send('o');
    QbxStore store;
    if (store.open(path, kOpenSharedRead, "") != 0) return 1;
    channel.send('r');
    return find(store, *searchKey(10)) != nullptr ? 0 : 2;
  });
  ASSERT_TRUE(child.channel().expect('o', kPromptly));
  char c = 0;
  EXPECT_FALSE(child.channel().receive(&c, kStillWaiting)) << "every slot is held by the commit";
  ASSERT_EQ(holder.unlock(kLockBase, kReaderSlots), 0);
  EXPECT_TRUE(child.channel().expect('r', kPromptly));
  EXPECT_TRUE(child.wait().exitedWith(0));
}

TEST(WriterByte, ASecondWriterWaitsForIt) {
  support::TempDir dir;
  const std::string path = makeFile(dir);
  support::ChildProcess first([&](support::ChildChannel& channel) {
    QbxStore store;
    if (store.open(path, kOpenSharedReadWrite, "") != 0) return 1;
    store.enterWriterMode();
    insert(store, numberedEntry(501));  // the access holds the writer byte
    if (!store.diskFile().file().holds(kWriterByte, 1)) return 2;
    channel.send('w');
    if (!channel.expect('c', kPromptly)) return 3;
    if (store.endAccess() != 0) return 4;  // commits and lets go of the writer byte
    channel.send('d');
    return 0;
  });
  ASSERT_TRUE(first.channel().expect('w', kPromptly));
  support::ChildProcess second([&](support::ChildChannel& channel) {
    QbxStore store;
    if (store.open(path, kOpenSharedReadWrite, "") != 0) return 1;
    store.enterWriterMode();
    channel.send('b');
    insert(store, numberedEntry(502));  // the access waits for the writer byte
    channel.send('i');
    // The first writer's commit is seen once the byte is had.
    if (find(store, *searchKey(501)) == nullptr) return 2;
    return store.endAccess() == 0 ? 0 : 3;
  });
  ASSERT_TRUE(second.channel().expect('b', kPromptly));
  char c = 0;
  EXPECT_FALSE(second.channel().receive(&c, kStillWaiting)) << "the second writer waits";
  first.channel().send('c');
  EXPECT_TRUE(first.channel().expect('d', kPromptly));
  EXPECT_TRUE(second.channel().expect('i', kPromptly));
  EXPECT_TRUE(first.wait().exitedWith(0));
  EXPECT_TRUE(second.wait().exitedWith(0));

  QbxStore check;
  ASSERT_EQ(check.open(path, kOpenSharedRead, ""), 0);
  EXPECT_NE(find(check, *searchKey(501)), nullptr);
  EXPECT_NE(find(check, *searchKey(502)), nullptr);
}

// Whether another open of the file would be refused a write lock on the
// range: asked through a descriptor of its own, which the share modes of our
// opens do not see.
bool rangeLocked(const std::string& path, std::uint64_t offset, std::uint64_t length) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  query.l_start = static_cast<off_t>(offset);
  query.l_len = static_cast<off_t>(length);
  EXPECT_EQ(::fcntl(fd, F_OFD_GETLK, &query), 0);
  ::close(fd);
  return query.l_type != F_UNLCK;
}

// Which lock bytes each open mode takes during a writer's access and between
// prepare and finish; record locks are taken in every mode.
struct ModeLocks {
  const char* name;
  unsigned flags;
  bool accessLocks;  // the writer byte during the access
  bool commitLocks;  // the reader area between prepare and finish
};

class OpenModeLocks : public ::testing::TestWithParam<ModeLocks> {};

TEST_P(OpenModeLocks, TakesTheLocksOfItsMode) {
  const ModeLocks& mode = GetParam();
  support::TempDir dir;
  const std::string path = makeFile(dir);
  QbxStore store;
  ASSERT_EQ(store.open(path, mode.flags, ""), 0);
  EXPECT_EQ(rangeLocked(path, kLockBase, kReaderSlots), mode.accessLocks)
      << "the open's reader slot";
  store.enterWriterMode();
  insert(store, numberedEntry(77));
  EXPECT_EQ(rangeLocked(path, kWriterByte, 1), mode.accessLocks);
  EXPECT_FALSE(rangeLocked(path, kLockBase, kReaderSlots));
  ASSERT_EQ(store.prepare(), 0);
  EXPECT_EQ(rangeLocked(path, kLockBase, kReaderSlots), mode.commitLocks);
  ASSERT_EQ(store.finish(), 0);
  EXPECT_FALSE(rangeLocked(path, kLockBase, kReaderSlots));
  ASSERT_EQ(store.lockRecord(7), 0);
  EXPECT_TRUE(rangeLocked(path, 0x80000408u, 1));
  store.unlockRecord(7);
  EXPECT_FALSE(rangeLocked(path, 0x80000408u, 1));
  (void)store.endAccess();
  EXPECT_FALSE(rangeLocked(path, kLockBase, 1024)) << "nothing is left held after the access";
}

INSTANTIATE_TEST_SUITE_P(Modes, OpenModeLocks,
                         ::testing::Values(ModeLocks{"Shared", 0x42, true, true},
                                           ModeLocks{"Compatibility", 0x02, true, true},
                                           ModeLocks{"DenyWrite", 0x22, false, true},
                                           ModeLocks{"DenyAll", 0x12, false, false},
                                           ModeLocks{"DenyRead", 0x32, false, false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WriterByte, DenyWriteRecoveryWaitsForIt) {
  support::TempDir dir;
  const std::string path = makeFile(dir);
  {
    // A program that dies right after prepare leaves a pending log.
    support::ChildProcess crashed([&](support::ChildChannel&) {
      QbxStore& store = *new QbxStore;  // never closed: closing would finish
      if (store.open(path, kOpenSharedReadWrite, "") != 0) return 1;
      store.enterWriterMode();
      applyStep(store, {deleteKeys(1, 5), insertKeys(100, 140, 20)});
      return store.prepare() == 0 ? 0 : 2;
    });
    ASSERT_TRUE(crashed.wait().exitedWith(0));
  }
  ASSERT_NE(diskHeader(path).logStart(), diskHeader(path).logEnd());

  platform::File holder = lockHolder(path);
  ASSERT_EQ(holder.lock(kWriterByte, 1, platform::LockKind::kExclusive, false), 0);
  support::ChildProcess recovering([&](support::ChildChannel& channel) {
    QbxStore store;
    if (store.open(path, 0x22, "") != 0) return 1;  // reads through the log
    if (find(store, *searchKey(120)) == nullptr) return 2;
    store.enterWriterMode();
    channel.send('o');
    const bool found = find(store, *searchKey(140)) != nullptr;  // recovery takes the byte first
    channel.send('f');
    return found && find(store, *searchKey(3)) == nullptr ? 0 : 3;
  });
  ASSERT_TRUE(recovering.channel().expect('o', kPromptly));
  char c = 0;
  EXPECT_FALSE(recovering.channel().receive(&c, kStillWaiting))
      << "recovery waits for the writer byte";
  EXPECT_NE(diskHeader(path).logStart(), diskHeader(path).logEnd())
      << "nothing is rolled forward yet";
  ASSERT_EQ(holder.unlock(kWriterByte, 1), 0);
  EXPECT_TRUE(recovering.channel().expect('f', kPromptly));
  EXPECT_TRUE(recovering.wait().exitedWith(0));
  const FileHeader h = diskHeader(path);
  EXPECT_EQ(h.logStart(), h.logEnd());
  EXPECT_EQ(h.logStart(), h.logicalEnd());
}

TEST(RecordLocks, LockedByteRefusesAnotherProcessAtOnce) {
  support::TempDir dir;
  const std::string path = dir.file("locks.QBX");
  {
    auto writer = openWriter(path);
    insert(*writer, numberedEntry(1));
  }
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

TEST(RecordLocks, TheLastRecordNumberLocksFarAboveFourGigabytes) {
  support::TempDir dir;
  const std::string path = makeFile(dir);
  QbxStore store;
  ASSERT_EQ(store.open(path, kOpenSharedReadWrite, ""), 0);
  ASSERT_EQ(store.lockRecord(0xFDFFFFFFu), 0);
  EXPECT_TRUE(store.diskFile().file().holds(0x17E000400u, 1));
  EXPECT_TRUE(rangeLocked(path, 0x17E000400u, 1));
  EXPECT_FALSE(rangeLocked(path, 0xFE000400u, 1)) << "no 32-bit wrap";
  store.unlockRecord(0xFDFFFFFFu);
  EXPECT_FALSE(rangeLocked(path, 0x17E000400u, 1));
}

TEST(RecordLocks, ReleaseAllLocksLetsGoOfEverything) {
  support::TempDir dir;
  const std::string path = dir.file("locks.QBX");
  {
    auto writer = openWriter(path);
    insert(*writer, numberedEntry(1));
  }
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
