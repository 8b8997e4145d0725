#include "qbx/store/disk_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "qbx/store/entry_tree.h"
#include "store_test_util.h"
#include "support/fault_file.h"

namespace qbx::store {
namespace {

using namespace test;
using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DiskFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("blocks.QBX");
    platform::OpenOptions options;
    options.access = platform::Access::kReadWrite;
    options.create = true;
    ASSERT_EQ(file_.open(path_, options), 0);
  }
  support::TempDir dir_;
  std::string path_;
  QbxDiskFile file_;
};

TEST_F(DiskFileTest, LengthsMustBeWholeUnits) {
  Bytes odd(100);
  EXPECT_EQ(internalErrorOf([&] { (void)file_.read(0, odd); }), 2272);
  EXPECT_EQ(internalErrorOf([&] { file_.write(0, odd); }), 2286);
  EXPECT_EQ(readFile(path_).size(), 0u);
}

TEST_F(DiskFileTest, ShortReadsAndExactReads) {
  Bytes block(256, 7);
  file_.write(0, block);
  Bytes buffer(512);
  EXPECT_EQ(file_.read(0, buffer), 256u);
  EXPECT_EQ(file_.read(4096, buffer), 0u);
  EXPECT_EQ(internalErrorOf([&] { file_.readExact(0, buffer); }), 2172);
  Bytes exact(256);
  file_.readExact(0, exact);
  EXPECT_EQ(exact, block);
}

TEST_F(DiskFileTest, CipherKeepsTheCallersBytesAndTheFileEnciphered) {
  file_.setPassword("x");
  Bytes block(512);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 13);
  const Bytes original = block;
  file_.write(512, block);
  EXPECT_EQ(block, original);
  const Bytes onDisk = readFile(path_);
  ASSERT_EQ(onDisk.size(), 1024u);
  EXPECT_NE(Bytes(onDisk.begin() + 512, onDisk.end()), original);
  Bytes back(512);
  file_.readExact(512, back);
  EXPECT_EQ(back, original);
}

TEST_F(DiskFileTest, FailedWriteIsPendingAndLaterWritesAreSkipped) {
  support::FaultFile faults;
  faults.failWrite(1, ENOSPC);
  Bytes block(256, 1);
  file_.write(0, block);
  EXPECT_EQ(file_.pendingWriteError(), 39);
  file_.write(256, block);
  EXPECT_EQ(faults.writes(), 1) << "a pending error skips the write";
  file_.clearPendingWriteError();
  file_.write(256, block);
  EXPECT_EQ(file_.pendingWriteError(), 0);
  EXPECT_EQ(readFile(path_).size(), 512u);
}

TEST_F(DiskFileTest, FailedFlushIsPendingLikeAFailedWrite) {
  support::FaultFile faults;
  faults.failFlush(1, EIO);
  file_.write(0, Bytes(64, 1));
  file_.flush();
  EXPECT_EQ(file_.pendingWriteError(), 29);
}

TEST(DiskFileWithoutHandle, ReadsNothingAndWritesNothing) {
  QbxDiskFile file;
  Bytes buffer(512, 3);
  EXPECT_EQ(file.read(0, buffer), 0u);
  file.write(0, buffer);
  file.flush();
  EXPECT_EQ(file.pendingWriteError(), 0);
  EXPECT_GE(file.readerSlot(), 0);
  EXPECT_LT(file.readerSlot(), 1023);
}

TEST(StoreWrites, FailedCommitKeepsTheOldStateOnDisk) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  auto store = openWriter(path);
  for (std::uint32_t n = 1; n <= 30; ++n) insert(*store, numberedEntry(n, 4, 100));
  ASSERT_EQ(store->commit(), 0);
  for (std::uint32_t n = 31; n <= 60; ++n) insert(*store, numberedEntry(n, 4, 100));
  {
    support::FaultFile faults;
    faults.failWrite(1, ENOSPC, true);
    EXPECT_EQ(store->commit(), 39);
  }
  EXPECT_FALSE(store->changed());
  store.reset();
  QbxStore reader;
  ASSERT_EQ(reader.open(path, 0x12, ""), 0);
  EXPECT_NE(find(reader, *searchKey(30)), nullptr);
  EXPECT_EQ(find(reader, *searchKey(31)), nullptr);
}

}  // namespace
}  // namespace qbx::store
