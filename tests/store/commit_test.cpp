// Commit through the log area as seen in the file: where the blocks go, what
// a reader and a writer find after a program died between prepare and
// finish, and what a log cut short leaves.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>

#include "platform/endian.h"
#include "qbx/store/consistency_check.h"
#include "qbx/store/entry_tree.h"
#include "store_test_util.h"
#include "support/child_process.h"
#include "support/fault_file.h"
#include "write_trace.h"

namespace qbx::store {
namespace {

using namespace test;
using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

FileHeader headerOnDisk(const std::string& path) {
  const Bytes bytes = readFile(path);
  FileHeader h;
  std::copy_n(bytes.begin(), std::min<std::size_t>(512, bytes.size()), h.bytes().begin());
  return h;
}

void expectConsistent(QbxStore& store) {
  for (const std::string& p : checkConsistency(store)) ADD_FAILURE() << p;
}

TEST(Commit, FirstCommitWritesPagesHomeAndOnlyTheHeaderIntoTheLog) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  auto store = openWriter(path);
  insert(*store, numberedEntry(1));
  ASSERT_EQ(store->commit(), 0);
  const FileHeader h = headerOnDisk(path);
  EXPECT_EQ(h.changeCount(), 3);
  EXPECT_EQ(h.logStart(), h.logicalEnd());
  EXPECT_EQ(h.logEnd(), h.logicalEnd());
  EXPECT_EQ(readFile(path).size(), h.logicalEnd() + 512) << "the log copy of the header stays";
  store->truncate();
  EXPECT_EQ(readFile(path).size(), h.logicalEnd());
}

TEST(Commit, NothingChangedWritesNothing) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  auto store = openWriter(path);
  insert(*store, numberedEntry(1));
  ASSERT_EQ(store->commit(), 0);
  support::FaultFile faults;
  ASSERT_EQ(store->commit(), 0);
  (void)find(*store, *searchKey(1));
  ASSERT_EQ(store->commit(), 0);
  EXPECT_EQ(faults.writes(), 0);
}

TEST(Commit, HeaderCommittedBeforeAnyPageStartsItsTreeLater) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  {
    auto store = openWriter(path);
    (void)store->nextRecordNumber();  // changes the header only
    ASSERT_EQ(store->commit(), 0);
    ASSERT_NE(headerOnDisk(path).changeCount(), 0);
  }
  auto store = openWriter(path, 0x112);
  EXPECT_EQ(find(*store, *searchKey(1)), nullptr);
  insert(*store, numberedEntry(1));
  ASSERT_EQ(store->commit(), 0);
  EXPECT_EQ(store->nextRecordNumber(), (std::array<std::uint8_t, 4>{0, 0, 0, 2}));
  expectConsistent(*store);
}

TEST(Commit, ChangeCountWrapsWithoutOverflow) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  auto store = openWriter(path);
  insert(*store, numberedEntry(1));
  store->header().setChangeCount(INT32_MAX);
  ASSERT_EQ(store->commit(), 0);
  EXPECT_EQ(headerOnDisk(path).changeCount(), INT32_MIN + 1);
  store.reset();
  QbxStore reader;
  ASSERT_EQ(reader.open(path, 0x12, ""), 0);
  EXPECT_NE(find(reader, *searchKey(1)), nullptr);
}

TEST(Commit, RootSplitKeepsTheRootsSlot) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  auto store = openWriter(path);
  insert(*store, numberedEntry(1, 4, 196));
  ASSERT_EQ(store->commit(), 0);
  ASSERT_EQ(store->header().rootPage(), 0);
  for (std::uint32_t n = 2; n <= 40; ++n) insert(*store, numberedEntry(n, 4, 196));
  EXPECT_EQ(store->header().rootPage(), 0);
  EXPECT_EQ(getRootPage(*store)->number, 0);
  EXPECT_GE(getRootPage(*store)->level, 1);
  ASSERT_EQ(store->commit(), 0);
  expectConsistent(*store);
}

TEST(Commit, FailedWriteInFinishLeavesTheLogForTheNextWriter) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  auto store = openWriter(path);
  for (std::uint32_t n = 1; n <= 100; ++n) insert(*store, numberedEntry(n, 4, 100));
  ASSERT_EQ(store->commit(), 0);
  deleteEntry(*store, find(*store, *searchKey(50)));
  {
    support::FaultFile faults;
    ASSERT_EQ(store->prepare(), 0);
    faults.failWrite(faults.writes() + 1, EIO);
    EXPECT_EQ(store->finish(), 29);
  }
  const FileHeader pending = headerOnDisk(path);
  EXPECT_NE(pending.logStart(), pending.logEnd()) << "the log must stay";
  EXPECT_FALSE(store->changed());
  store.reset();
  auto writer = openWriter(path, 0x112);
  EXPECT_EQ(find(*writer, *searchKey(50)), nullptr);
  EXPECT_NE(find(*writer, *searchKey(51)), nullptr);
  expectConsistent(*writer);
  const FileHeader after = headerOnDisk(path);
  EXPECT_EQ(after.logStart(), after.logEnd());
}

// The header that prepare points at the log is the file's own old header:
// a program that dies after the first prepare of a new file, before any of
// its tree was on disk, leaves a file that opens.
TEST(Commit, KilledAfterTheFirstPrepareOfANewFile) {
  support::TempDir dir;
  const std::string path = dir.file("new.QBX");
  support::ChildProcess child([&](support::ChildChannel&) {
    QbxStore& store = *new QbxStore;  // never closed: closing would finish
    if (store.open(path, 0x142, "") != 0) return 1;
    store.enterWriterMode();
    insert(store, numberedEntry(1));
    (void)store.nextRecordNumber();
    return store.prepare() == 0 ? 0 : 2;
  });
  ASSERT_TRUE(child.wait().exitedWith(0));
  const FileHeader pending = headerOnDisk(path);
  ASSERT_NE(pending.logStart(), pending.logEnd());
  EXPECT_EQ(pending.recordCounter()[3], 0) << "offset 0 keeps the old state but for the log";
  EXPECT_TRUE(pending.isSound());
  for (const unsigned flags : {0x40u, 0x42u}) {
    SCOPED_TRACE(flags);
    QbxStore store;
    ASSERT_EQ(store.open(path, flags, ""), 0);
    if (flags == 0x42u) store.enterWriterMode();
    EXPECT_NE(find(store, *searchKey(1)), nullptr);
    EXPECT_EQ(store.header().recordCounter()[3], 1);
    expectConsistent(store);
  }
  const FileHeader after = headerOnDisk(path);
  EXPECT_EQ(after.logStart(), after.logEnd());
}

// The log of an enciphered file holds enciphered blocks: readers read
// through it and a writer copies it home with the key.
TEST(Commit, KilledAfterPrepareOfAnEncipheredFile) {
  support::TempDir dir;
  const std::string path = dir.file("secret.QBX");
  {
    QbxStore store;
    ASSERT_EQ(store.open(path, 0x112, "owner"), 0);
    store.enterWriterMode();
    for (std::uint32_t n = 1; n <= 100; ++n) insert(store, numberedEntry(n, 4, 100));
  }
  support::ChildProcess child([&](support::ChildChannel&) {
    QbxStore& store = *new QbxStore;  // never closed: closing would finish
    if (store.open(path, 0x42, "owner") != 0) return 1;
    store.enterWriterMode();
    for (std::uint32_t n = 1; n <= 100; n += 3) deleteEntry(store, find(store, *searchKey(n)));
    insert(store, numberedEntry(500, 4, 100));
    return store.prepare() == 0 ? 0 : 2;
  });
  ASSERT_TRUE(child.wait().exitedWith(0));
  for (const bool writer : {false, true}) {
    SCOPED_TRACE(writer ? "writer" : "reader");
    QbxStore store;
    ASSERT_EQ(store.open(path, 0x42, "owner"), 0);
    EXPECT_FALSE(store.cache().logMap().empty()) << "the open reads through the log";
    if (writer) store.enterWriterMode();
    for (std::uint32_t n = 1; n <= 100; ++n) {
      EXPECT_EQ(find(store, *searchKey(n)) != nullptr, n % 3 != 1) << n;
    }
    EXPECT_NE(find(store, *searchKey(500)), nullptr);
    expectConsistent(store);
  }
  QbxStore keyed;
  ASSERT_EQ(keyed.open(path, 0x12, "owner"), 0);
  EXPECT_EQ(keyed.header().logStart(), keyed.header().logEnd());
  EXPECT_EQ(keyed.header().logStart(), keyed.header().logicalEnd());
}

// A program that holds the old state in its cache sees, at its next access,
// the commit another program prepared before it died, as a new reader does;
// as a writer it rolls that commit forward before its own.
TEST(Commit, APreparedCommitOfAnotherProgramIsSeenAtTheNextAccess) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  {
    auto writer = openWriter(path);
    for (std::uint32_t n = 1; n <= 50; ++n) insert(*writer, numberedEntry(n, 4, 100));
  }
  QbxStore longLived;
  ASSERT_EQ(longLived.open(path, 0x42, ""), 0);
  for (std::uint32_t n = 1; n <= 50; ++n) ASSERT_NE(find(longLived, *searchKey(n)), nullptr);
  ASSERT_EQ(longLived.endAccess(), 0);

  support::ChildProcess child([&](support::ChildChannel&) {
    QbxStore& store = *new QbxStore;  // never closed: closing would finish
    if (store.open(path, 0x42, "") != 0) return 1;
    store.enterWriterMode();
    deleteEntry(store, find(store, *searchKey(1)));
    for (std::uint32_t n = 51; n <= 60; ++n) insert(store, numberedEntry(n, 4, 100));
    return store.prepare() == 0 ? 0 : 2;
  });
  ASSERT_TRUE(child.wait().exitedWith(0));

  EXPECT_EQ(find(longLived, *searchKey(1)), nullptr);
  EXPECT_NE(find(longLived, *searchKey(55)), nullptr);
  ASSERT_EQ(longLived.endAccess(), 0);
  longLived.enterWriterMode();
  insert(longLived, numberedEntry(61));
  ASSERT_EQ(longLived.commit(), 0);
  longLived.close();
  QbxStore reader;
  ASSERT_EQ(reader.open(path, 0x40, ""), 0);
  for (std::uint32_t n = 1; n <= 61; ++n)
    EXPECT_EQ(find(reader, *searchKey(n)) != nullptr, n != 1) << n;
  expectConsistent(reader);
}

// A file of 200 entries, then a child process that changes it and dies
// right after prepare.
class InterruptedCommit : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("crash.QBX");
    {
      auto store = openWriter(path_);
      for (std::uint32_t n = 1; n <= 200; ++n) insert(*store, numberedEntry(n, 4, 100));
      ASSERT_EQ(store->commit(), 0);
      store->truncate();
    }
    before_ = readFile(path_);
    support::ChildProcess child([this](support::ChildChannel&) {
      // Never destroyed: closing would finish the commit.
      QbxStore& store = *new QbxStore;
      if (store.open(path_, 0x12, "") != 0) return 1;
      store.enterWriterMode();
      for (std::uint32_t n = 1; n <= 200; n += 2) deleteEntry(store, find(store, *searchKey(n)));
      for (std::uint32_t n = 201; n <= 260; ++n) insert(store, numberedEntry(n, 4, 100));
      if (store.prepare() != 0) return 2;
      return 0;  // the child ends with _exit, before finish
    });
    ASSERT_TRUE(child.wait().exitedWith(0));
    const FileHeader h = headerOnDisk(path_);
    ASSERT_NE(h.logStart(), h.logEnd()) << "prepare leaves a pending log";
  }

  void expectNewState(QbxStore& store) {
    for (std::uint32_t n = 1; n <= 260; ++n) {
      const bool present = n > 200 || n % 2 == 0;
      ASSERT_EQ(find(store, *searchKey(n)) != nullptr, present) << n;
    }
    expectConsistent(store);
  }

  support::TempDir dir_;
  std::string path_;
  Bytes before_;
};

TEST_F(InterruptedCommit, ReaderReadsThroughTheLogAndLeavesTheFile) {
  const Bytes pending = readFile(path_);
  {
    QbxStore reader;
    ASSERT_EQ(reader.open(path_, 0x12, ""), 0);
    expectNewState(reader);
  }
  EXPECT_EQ(readFile(path_), pending);
}

TEST_F(InterruptedCommit, WriterRollsTheLogForward) {
  {
    QbxStore writer;
    ASSERT_EQ(writer.open(path_, 0x12, ""), 0);
    writer.enterWriterMode();
    expectNewState(writer);
  }
  const FileHeader h = headerOnDisk(path_);
  EXPECT_EQ(h.logStart(), h.logEnd());
  EXPECT_EQ(h.logStart(), h.logicalEnd());
  QbxStore reader;
  ASSERT_EQ(reader.open(path_, 0x12, ""), 0);
  expectNewState(reader);
}

TEST_F(InterruptedCommit, ReaderThatBecomesWriterRollsForwardFirst) {
  QbxStore store;
  ASSERT_EQ(store.open(path_, 0x12, ""), 0);
  expectNewState(store);
  store.truncate();  // must not cut the log readers depend on
  store.enterWriterMode();
  insert(store, numberedEntry(999));
  ASSERT_EQ(store.commit(), 0);
  expectNewState(store);
  EXPECT_NE(find(store, *searchKey(999)), nullptr);
}

// What a converter does with the source and target of a crashed program:
// opens for reading in reader mode (read-through), closes after the commit
// with which it closes a file and a truncate; later a writer changes one
// entry. The log must outlive every reader, and the writer's change must
// come on top of the new state.
TEST_F(InterruptedCommit, ReadThroughOpensKeepTheLogForTheNextWriter) {
  for (const unsigned flags : {0x22u, 0x20u, 0x40u, 0x42u, 0x02u}) {
    SCOPED_TRACE(flags);
    QbxStore store;
    ASSERT_EQ(store.open(path_, flags, ""), 0);
    expectNewState(store);
    ASSERT_EQ(store.endAccess(), 0);
    store.truncate();
    store.close();
    const FileHeader h = headerOnDisk(path_);
    ASSERT_NE(h.logStart(), h.logEnd()) << "the log is still pending";
    ASSERT_GE(readFile(path_).size(), h.logEnd());
  }
  {
    QbxStore store;
    ASSERT_EQ(store.open(path_, 0x42, ""), 0);
    expectNewState(store);
    store.enterWriterMode();
    deleteEntry(store, find(store, *searchKey(2)));
    insert(store, numberedEntry(2, 4, 33));
    ASSERT_EQ(store.commit(), 0);
    store.truncate();
    store.close();
  }
  QbxStore reader;
  ASSERT_EQ(reader.open(path_, 0x40, ""), 0);
  expectNewState(reader);
  for (std::uint32_t n = 2; n <= 260; n += 2) {
    const QbxEntry* e = find(reader, *searchKey(n));
    ASSERT_NE(e, nullptr) << n;
    const EntryPtr expected = numberedEntry(n, 4, n == 2 ? 33 : 100);
    EXPECT_TRUE(std::equal(e->all().begin(), e->all().end(), expected->all().begin(),
                           expected->all().end()))
        << n;
  }
  const FileHeader h = headerOnDisk(path_);
  EXPECT_EQ(h.logStart(), h.logEnd());
  EXPECT_EQ(readFile(path_).size(), h.logicalEnd());
}

// Of a header that points at a pending log only the log bounds are read
// before the log is walked (its write may have been cut short); when the
// log cannot be used, the rest of the header must pass every check.
TEST_F(InterruptedCommit, PendingHeaderIsCheckedWhenItsLogIsDropped) {
  Bytes bytes = readFile(path_);
  FileHeader h = headerOnDisk(path_);
  h.setRegionEnd(59, h.regionEnd(59) + 1);  // not a whole slot
  std::copy(h.bytes().begin(), h.bytes().end(), bytes.begin());
  {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  {
    QbxStore store;
    ASSERT_EQ(store.open(path_, 0x12, ""), 0) << "the complete log holds a sound header";
    expectNewState(store);
  }
  std::filesystem::resize_file(path_, h.logEnd() - 256);
  QbxStore store;
  EXPECT_EQ(store.open(path_, 0x12, ""), 36);
}

// A writer that meets such a header (the file damaged since its last
// access) refuses it and writes nothing.
TEST_F(InterruptedCommit, AWriterLeavesADamagedHeaderAsItIs) {
  Bytes bytes = readFile(path_);
  FileHeader h = headerOnDisk(path_);
  QbxStore writer;
  ASSERT_EQ(writer.open(path_, 0x42, ""), 0);
  writer.enterWriterMode();
  expectNewState(writer);
  ASSERT_EQ(writer.endAccess(), 0);

  h.setRegionEnd(59, h.regionEnd(59) + 1);
  h.setChangeCount(h.changeCount() + 10);
  std::copy(h.bytes().begin(), h.bytes().end(), bytes.begin());
  bytes.resize(h.logEnd() - 256);
  {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  EXPECT_EQ(internalErrorOf([&] { (void)find(writer, *searchKey(2)); }), 1013);
  EXPECT_EQ(readFile(path_), bytes);
}

TEST_F(InterruptedCommit, LogCutShortIsDropped) {
  const FileHeader h = headerOnDisk(path_);
  std::filesystem::resize_file(path_, h.logEnd() - 256);
  QbxStore writer;
  ASSERT_EQ(writer.open(path_, 0x12, ""), 0);
  writer.enterWriterMode();
  for (std::uint32_t n = 1; n <= 260; ++n) {
    ASSERT_EQ(find(writer, *searchKey(n)) != nullptr, n <= 200) << n;
  }
  expectConsistent(writer);
  // The next commit writes its own log over the dropped one.
  insert(writer, numberedEntry(999));
  ASSERT_EQ(writer.commit(), 0);
  const FileHeader after = headerOnDisk(path_);
  EXPECT_EQ(after.logStart(), after.logEnd());
  writer.close();
  QbxStore reader;
  ASSERT_EQ(reader.open(path_, 0x12, ""), 0);
  EXPECT_NE(find(reader, *searchKey(999)), nullptr);
  EXPECT_NE(find(reader, *searchKey(1)), nullptr);
  expectConsistent(reader);
}

// A log whose blocks cannot be trusted is dropped, by a reader and by a
// writer alike: the file opens in its old state, and the walk never loops
// or leaves the log.
struct LogDamage {
  const char* name;
  // Changes the file's bytes; h is the header at offset 0.
  std::function<void(Bytes&, const FileHeader& h)> apply;
};

class DamagedLog : public InterruptedCommit, public ::testing::WithParamInterface<LogDamage> {};

TEST_P(DamagedLog, IsDropped) {
  Bytes bytes = readFile(path_);
  GetParam().apply(bytes, headerOnDisk(path_));
  {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  for (const bool writer : {false, true}) {
    SCOPED_TRACE(writer ? "writer" : "reader");
    QbxStore store;
    ASSERT_EQ(store.open(path_, 0x42, ""), 0);
    if (writer) store.enterWriterMode();
    for (std::uint32_t n = 1; n <= 260; ++n) {
      ASSERT_EQ(find(store, *searchKey(n)) != nullptr, n <= 200) << n;
    }
    expectConsistent(store);
  }
  // A writer's commit never writes its log over the dropped one while the
  // header at offset 0 still points at it.
  QbxStore writer;
  ASSERT_EQ(writer.open(path_, 0x42, ""), 0);
  writer.enterWriterMode();
  insert(writer, numberedEntry(999));
  {
    WriteTrace trace(path_);
    ASSERT_EQ(writer.commit(), 0);
    for (const std::string& v : trace.violations()) ADD_FAILURE() << v;
  }
  const FileHeader after = headerOnDisk(path_);
  EXPECT_EQ(after.logStart(), after.logEnd());
  EXPECT_NE(find(writer, *searchKey(999)), nullptr);
  EXPECT_NE(find(writer, *searchKey(1)), nullptr);
  expectConsistent(writer);
}

// The first block of the log, and the header block at its end.
std::span<std::uint8_t> firstBlock(Bytes& b, const FileHeader& h) {
  return std::span<std::uint8_t>(b).subspan(h.logStart(), 512);
}
std::span<std::uint8_t> headerBlock(Bytes& b, const FileHeader& h) {
  return std::span<std::uint8_t>(b).subspan(h.logEnd() - 512, 512);
}
void setLogEnd(Bytes& b, std::uint32_t end) { platform::storeLe32(b, 10, end); }

INSTANTIATE_TEST_SUITE_P(
    Damages, DamagedLog,
    ::testing::Values(
        LogDamage{
            "ZeroLength",
            [](Bytes& b, const FileHeader& h) { platform::storeLe16(firstBlock(b, h), 4, 0); }},
        LogDamage{
            "LengthBelowAPageHeader",
            [](Bytes& b, const FileHeader& h) { platform::storeLe16(firstBlock(b, h), 4, 12); }},
        LogDamage{
            "LengthAboveTheLargestPage",
            [](Bytes& b, const FileHeader& h) { platform::storeLe16(firstBlock(b, h), 4, 15105); }},
        LogDamage{
            "HomeOffPageBoundary",
            [](Bytes& b, const FileHeader& h) { platform::storeLe32(firstBlock(b, h), 0, 513); }},
        LogDamage{
            "HomeInsideTheHeader",
            [](Bytes& b, const FileHeader& h) { platform::storeLe32(firstBlock(b, h), 0, 256); }},
        LogDamage{"HomeInTheLockBytes",
                  [](Bytes& b, const FileHeader& h) {
                    platform::storeLe32(firstBlock(b, h), 0, 0x80000000u);
                  }},
        LogDamage{
            "HeaderBlockOfWrongLength",
            [](Bytes& b, const FileHeader& h) { platform::storeLe16(headerBlock(b, h), 4, 256); }},
        LogDamage{"HeaderBlockWithoutMagic",
                  [](Bytes& b, const FileHeader& h) { headerBlock(b, h)[14] = 'x'; }},
        LogDamage{"BlockRunsPastTheLogEnd",
                  [](Bytes& b, const FileHeader& h) { setLogEnd(b, h.logEnd() - 256); }},
        LogDamage{"NoHeaderBlock",
                  [](Bytes& b, const FileHeader& h) { setLogEnd(b, h.logEnd() - 512); }},
        LogDamage{"LogEndBeforeLogStart",
                  [](Bytes& b, const FileHeader& h) { setLogEnd(b, h.logStart() - 256); }}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace qbx::store
