#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "platform/endian.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"
#include "store_test_util.h"

namespace qbx::store {
namespace {

using namespace test;

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A header that passes every check: magic, stored length, all regions empty
// at page 0, change count 0 (no tree yet).
FileHeader soundHeader() {
  FileHeader h;
  h.setMagic();
  return h;
}

std::vector<std::uint8_t> bytesOf(const FileHeader& h) {
  return std::vector<std::uint8_t>(h.bytes().begin(), h.bytes().end());
}

int openResult(const std::string& path, unsigned flags = 0x12) {
  QbxStore store;
  return store.open(path, flags, "");
}

TEST(StoreOpen, MissingFileAndEmptyFile) {
  support::TempDir dir;
  EXPECT_EQ(openResult(dir.file("none.QBX")), 2);
  EXPECT_EQ(openResult(dir.file("nodir/none.QBX")), 3);
  writeFile(dir.file("empty.QBX"), {});
  QbxStore store;
  ASSERT_EQ(store.open(dir.file("empty.QBX"), 0x12, ""), 0);
  EXPECT_TRUE(store.opened());
  EXPECT_TRUE(store.readerMode());
  EXPECT_TRUE(store.accessOpen());
  EXPECT_EQ(store.header().logicalEnd(), 512u);
}

// Every header a refresh must refuse, so that open reports 36.
struct BadHeader {
  const char* name;
  std::function<std::vector<std::uint8_t>()> bytes;
};

class StoreOpenBadHeader : public ::testing::TestWithParam<BadHeader> {};

TEST_P(StoreOpenBadHeader, IsInvalidDataFile) {
  support::TempDir dir;
  const std::string path = dir.file("bad.QBX");
  writeFile(path, GetParam().bytes());
  QbxStore store;
  EXPECT_EQ(store.open(path, 0x12, ""), 36);
  EXPECT_FALSE(store.opened());
  EXPECT_FALSE(store.diskFile().hasHandle());
}

std::vector<std::uint8_t> withHeader(const std::function<void(FileHeader&)>& change) {
  FileHeader h = soundHeader();
  change(h);
  return bytesOf(h);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, StoreOpenBadHeader,
    ::testing::Values(
        BadHeader{"OneByte", [] { return std::vector<std::uint8_t>(1, 0); }},
        BadHeader{"ShortHeader",
                  [] {
                    auto b = bytesOf(soundHeader());
                    b.resize(511);
                    return b;
                  }},
        BadHeader{"ForeignMagic", [] { return withHeader([](FileHeader& h) { h.bytes()[14] = 'Q'; }); }},
        BadHeader{"RegionOneNotAtZero",
                  [] {
                    return withHeader([](FileHeader& h) {
                      for (int c = 1; c <= 59; ++c) {
                        h.setRegionStart(c, 1);
                        h.setRegionEnd(c, 1);
                      }
                    });
                  }},
        BadHeader{"RegionRunsBackward",
                  [] {
                    return withHeader([](FileHeader& h) {
                      h.setRegionStart(5, 10);
                      for (int c = 6; c <= 59; ++c) {
                        h.setRegionStart(c, 10);
                        h.setRegionEnd(c, 10);
                      }
                    });
                  }},
        BadHeader{"RegionNotWholeSlots",
                  [] {
                    return withHeader([](FileHeader& h) {
                      h.setRegionEnd(3, 4);
                      for (int c = 4; c <= 59; ++c) {
                        h.setRegionStart(c, 4);
                        h.setRegionEnd(c, 4);
                      }
                    });
                  }},
        BadHeader{"RegionsOverlap",
                  [] {
                    return withHeader([](FileHeader& h) {
                      h.setRegionEnd(1, 3);
                      for (int c = 2; c <= 59; ++c) {
                        h.setRegionStart(c, 2);
                        h.setRegionEnd(c, 2);
                      }
                    });
                  }},
        BadHeader{"RegionZeroNotEmpty", [] { return withHeader([](FileHeader& h) { h.setRegionEnd(0, 1); }); }},
        BadHeader{"LogicalEndInLockBytes",
                  [] {
                    return withHeader([](FileHeader& h) { h.setRegionEnd(59, 59u * 0x80000u); });
                  }},
        BadHeader{"LogStartInLockBytes",
                  [] { return withHeader([](FileHeader& h) { h.setLogStart(0x80000000u); }); }},
        BadHeader{"LogEndInLockBytes",
                  [] { return withHeader([](FileHeader& h) { h.setLogEnd(0xFFFFFFF0u); }); }},
        BadHeader{"RootOutsideRegions",
                  [] {
                    return withHeader([](FileHeader& h) {
                      h.setChangeCount(3);
                      h.setRegionEnd(1, 2);
                      for (int c = 2; c <= 59; ++c) {
                        h.setRegionStart(c, 2);
                        h.setRegionEnd(c, 2);
                      }
                      h.setRootPage(7);
                    });
                  }},
        BadHeader{"RootInsideASlot",
                  [] {
                    return withHeader([](FileHeader& h) {
                      h.setChangeCount(3);
                      for (int c = 1; c <= 59; ++c) {
                        h.setRegionStart(c, c == 1 ? 0 : 6);
                        h.setRegionEnd(c, 6);
                      }
                      h.setRegionStart(3, 0);
                      h.setRegionEnd(1, 0);
                      h.setRegionStart(2, 0);
                      h.setRegionEnd(2, 0);
                      h.setRootPage(4);
                    });
                  }},
        BadHeader{"TemporaryRoot", [] {
                    return withHeader([](FileHeader& h) {
                      h.setChangeCount(3);
                      h.setRootPage(-1);
                    });
                  }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(StoreOpen, SoundHeaderWithRootInRegionOpens) {
  support::TempDir dir;
  FileHeader h = soundHeader();
  h.setChangeCount(3);
  for (int c = 1; c <= 59; ++c) {
    h.setRegionStart(c, c <= 3 ? 0 : 6);
    h.setRegionEnd(c, 6);
  }
  h.setRegionEnd(1, 0);
  h.setRegionEnd(2, 0);
  h.setRootPage(3);
  auto bytes = bytesOf(h);
  bytes.resize(512 + 6 * 256, 0xB0);
  writeFile(dir.file("ok.QBX"), bytes);
  EXPECT_EQ(openResult(dir.file("ok.QBX")), 0);
}

TEST(RecordCounter, FirstNumberIsOneAndCarriesAcrossBytes) {
  support::TempDir dir;
  auto store = openWriter(dir.file("a.QBX"));
  EXPECT_EQ(store->nextRecordNumber(), (std::array<std::uint8_t, 4>{0, 0, 0, 1}));
  EXPECT_EQ(store->nextRecordNumber(), (std::array<std::uint8_t, 4>{0, 0, 0, 2}));
  const std::array<std::uint8_t, 4> before{0x00, 0xFF, 0xFF, 0xFF};
  store->setRecordNumberCounter(before);
  EXPECT_EQ(store->nextRecordNumber(), (std::array<std::uint8_t, 4>{0x01, 0, 0, 0}));
  EXPECT_TRUE(store->changed());
}

TEST(RecordCounter, StopsBelowTheReservedFirstBytes) {
  QbxStore store;  // memory-only: writer mode from the start
  const std::array<std::uint8_t, 4> last{0xFD, 0xFF, 0xFF, 0xFE};
  store.setRecordNumberCounter(last);
  EXPECT_EQ(store.nextRecordNumber(), (std::array<std::uint8_t, 4>{0xFD, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(internalErrorOf([&] { (void)store.nextRecordNumber(); }), 1173);
  EXPECT_EQ(internalErrorOf([&] { (void)store.nextRecordNumber(); }), 1173);
}

TEST(RecordCounter, WrapNeverCarriesIntoTheReservedBytes) {
  QbxStore store;
  const std::array<std::uint8_t, 4> full{0xFF, 0xFF, 0xFF, 0xFF};
  store.setRecordNumberCounter(full);
  EXPECT_EQ(internalErrorOf([&] { (void)store.nextRecordNumber(); }), 1173);
  const auto h = store.header().bytes();
  EXPECT_EQ(h[18], 0);
  EXPECT_EQ(h[19], 0);
  EXPECT_EQ(platform::loadBe32(h, 20), 0xFFFFFFFFu) << "the counter must not restart at 0";
}

TEST(RecordCounter, NeedsWriterMode) {
  support::TempDir dir;
  QbxStore store;
  ASSERT_EQ(store.open(dir.file("a.QBX"), 0x112, ""), 0);
  EXPECT_EQ(internalErrorOf([&] { (void)store.nextRecordNumber(); }), 1163);
}

TEST(StoreOpen, MemoryOnlyStoreKeepsItsTreeUntilClosed) {
  QbxStore store;
  EXPECT_FALSE(store.readerMode());
  for (std::uint32_t n = 1; n <= 500; ++n) insert(store, numberedEntry(n, 4, 40));
  for (std::uint32_t n = 1; n <= 500; ++n) ASSERT_NE(find(store, *searchKey(n)), nullptr) << n;
  EXPECT_GT(store.dirtyPageCount(), 1u);
  EXPECT_EQ(store.diskFile().read(0, std::span<std::uint8_t>(store.header().bytes())), 0u);
}

TEST(StoreOpen, CommitWritesHeaderAndTruncateCutsTheLog) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  {
    auto store = openWriter(path);
    insert(*store, numberedEntry(1));
    ASSERT_EQ(store->commit(), 0);
    store->truncate();
  }
  const auto bytes = readFile(path);
  ASSERT_EQ(bytes.size(), 768u) << "header and one page of class 1";
  FileHeader h;
  std::copy_n(bytes.begin(), 512, h.bytes().begin());
  EXPECT_TRUE(h.hasMagic());
  EXPECT_EQ(h.changeCount(), 3) << "1 when the tree was started, 2 for the commit";
  EXPECT_EQ(h.logStart(), 768u);
  EXPECT_EQ(h.logEnd(), 768u);
}

TEST(StoreOpen, ReopenedFileHasItsEntries) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  {
    auto store = openWriter(path);
    for (std::uint32_t n = 1; n <= 50; ++n) insert(*store, numberedEntry(n, 4, 10));
  }  // close commits
  QbxStore store;
  ASSERT_EQ(store.open(path, 0x12, ""), 0);
  for (std::uint32_t n = 1; n <= 50; ++n) {
    QbxEntry* e = find(store, *searchKey(n));
    ASSERT_NE(e, nullptr) << n;
    EXPECT_EQ(e->totalLength, 14);
  }
  EXPECT_EQ(find(store, *searchKey(51)), nullptr);
}

TEST(StoreOpen, ReaderModeCannotStartATree) {
  support::TempDir dir;
  QbxStore store;
  ASSERT_EQ(store.open(dir.file("new.QBX"), 0x112, ""), 0);
  EXPECT_EQ(internalErrorOf([&] { (void)find(store, *searchKey(1)); }), 1194);
}

TEST(StoreOpen, PasswordEnciphersEveryBlock) {
  support::TempDir dir;
  const std::string plain = dir.file("plain.QBX");
  const std::string secret = dir.file("secret.QBX");
  for (const auto& [path, password] : {std::pair{plain, ""}, std::pair{secret, "owner"}}) {
    QbxStore store;
    ASSERT_EQ(store.open(path, 0x112, password), 0);
    store.enterWriterMode();
    for (std::uint32_t n = 1; n <= 20; ++n) insert(store, numberedEntry(n, 4, 30));
  }
  const auto a = readFile(plain);
  const auto b = readFile(secret);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_NE(a, b);
  EXPECT_NE(std::string(b.begin() + 14, b.begin() + 18), "qUiL");
  QbxStore store;
  EXPECT_EQ(store.open(secret, 0x12, ""), 36) << "without the key the header is foreign";
  QbxStore keyed;
  ASSERT_EQ(keyed.open(secret, 0x12, "owner"), 0);
  EXPECT_NE(find(keyed, *searchKey(20)), nullptr);
}

}  // namespace
}  // namespace qbx::store
