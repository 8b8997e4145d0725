#include "qbx/store/slot_allocator.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "platform/endian.h"
#include "qbx/store/consistency_check.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/page_codec.h"
#include "qbx/store/page_tree.h"
#include "store_test_util.h"

namespace qbx::store {
namespace {

using namespace test;

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

FileHeader headerOnDisk(const std::string& path) {
  const auto bytes = readFile(path);
  FileHeader h;
  EXPECT_GE(bytes.size(), 512u);
  std::copy_n(bytes.begin(), std::min<std::size_t>(512, bytes.size()), h.bytes().begin());
  return h;
}

void expectConsistent(QbxStore& store) {
  for (const std::string& p : checkConsistency(store)) ADD_FAILURE() << p;
}

std::uint32_t regionLength(const FileHeader& h, int c) { return h.regionEnd(c) - h.regionStart(c); }

// Every slot of every region holds a page image whose home offset is its
// own, whose stored length fits the slot, and whose fill bytes are 0xB0.
void expectSlotsWellFormed(const std::string& path) {
  const auto bytes = readFile(path);
  const FileHeader h = headerOnDisk(path);
  ASSERT_GE(bytes.size(), h.logicalEnd());
  for (int c = 1; c <= 59; ++c) {
    for (std::uint32_t p = h.regionStart(c); p < h.regionEnd(c); p += static_cast<std::uint32_t>(c)) {
      const std::size_t at = 512 + 256 * std::size_t{p};
      const std::span<const std::uint8_t> slot(bytes.data() + at, 256 * static_cast<std::size_t>(c));
      EXPECT_EQ(platform::loadLe32(slot, 0), at) << "page " << p;
      const std::uint16_t stored = platform::loadLe16(slot, 4);
      EXPECT_EQ(format::roundToUnit(stored), slot.size()) << "page " << p;
      for (std::size_t i = stored; i < slot.size(); ++i) {
        ASSERT_EQ(slot[i], 0xB0) << "page " << p << " byte " << i;
      }
    }
  }
}

TEST(Regions, NewFileGetsItsRootLeafAtPageZero) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  {
    auto store = openWriter(path);
    insert(*store, numberedEntry(1, 4, 20));
    ASSERT_EQ(store->commit(), 0);
    store->truncate();
  }
  const FileHeader h = headerOnDisk(path);
  EXPECT_EQ(h.rootPage(), 0);
  EXPECT_EQ(h.regionStart(1), 0u);
  EXPECT_EQ(h.regionEnd(1), 1u);
  for (int c = 2; c <= 59; ++c) {
    EXPECT_EQ(h.regionStart(c), 1u) << c;
    EXPECT_EQ(h.regionEnd(c), 1u) << c;
  }
  EXPECT_EQ(h.logicalEnd(), 768u);
  EXPECT_EQ(readFile(path).size(), 768u);
  expectSlotsWellFormed(path);
}

// A file whose root index page (class 1) leads to leaves of class 3; each
// leaf holds a few large compressible entries n x 100 (so that leaves split
// at the hard limit and hold few entries) and, after them, incompressible
// ones that bring it to its size without splitting it.
class ClassThreeLeaves : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("leaves.QBX");
    store_ = openWriter(path_);
    const std::vector<std::uint8_t> zeros(2000, 0);
    for (std::uint32_t n = 1; n <= 40; ++n) insert(*store_, makeEntry(bigEndianKey(n * 100), zeros));
    for (QbxPage* leaf : leaves()) growTo(leaf, 768);
    ASSERT_EQ(store_->commit(), 0);
    const FileHeader& h = store_->header();
    ASSERT_EQ(regionLength(h, 1), 1u);
    leafCount_ = regionLength(h, 3) / 3;
    ASSERT_GE(leafCount_, 4u);
    for (int c = 1; c <= 59; ++c) {
      if (c != 1 && c != 3) {
        ASSERT_EQ(regionLength(h, c), 0u) << c;
      }
    }
    expectSlotsWellFormed(path_);
  }

  std::vector<QbxPage*> leaves() {
    std::vector<QbxPage*> out;
    QbxPage* root = getRootPage(*store_);
    EXPECT_EQ(root->level, 1);
    std::vector<std::int32_t> children;
    for (QbxEntry* s = leftmost(root->tree); s != nullptr; s = inTreeSuccessor(s)) {
      children.push_back(s->childPage());
    }
    for (std::int32_t child : children) out.push_back(store_->getPage(child));
    return out;
  }

  // Adds incompressible entries just after the leaf's first key until the
  // leaf encodes to the given slot size.
  void growTo(QbxPage* leaf, std::size_t slot) {
    const std::uint32_t base = firstKeyAt(static_cast<std::uint32_t>(leaf->number)) + 1;
    for (std::uint32_t j = 0; encodePage(*leaf).size() < slot; ++j) {
      if (find(*store_, *searchKey(base + j)) != nullptr) continue;
      std::vector<std::uint8_t> data(150);
      for (auto& b : data) b = static_cast<std::uint8_t>(rng_());
      insert(*store_, makeEntry(bigEndianKey(base + j), data));
      added_.push_back(base + j);
      ASSERT_EQ(locate(*store_, *searchKey(base + j)).leaf, leaf) << "the leaf split";
    }
    ASSERT_EQ(encodePage(*leaf).size(), slot);
  }

  static std::uint32_t keyOf(const QbxEntry& e) { return platform::loadBe32(e.key(), 0); }

  // The first non-empty key of the page in a slot.
  std::uint32_t firstKeyAt(std::uint32_t slot) {
    QbxEntry* first = leftmost(store_->getPage(static_cast<std::int32_t>(slot))->tree);
    if (first->keyLength == 0) first = inTreeSuccessor(first);
    return keyOf(*first);
  }

  void expectAllEntriesAfterReopen(const std::vector<std::uint32_t>& gone) {
    store_.reset();
    QbxStore reader;
    ASSERT_EQ(reader.open(path_, 0x12, ""), 0);
    for (std::uint32_t n = 1; n <= 40; ++n) {
      const bool removed = std::find(gone.begin(), gone.end(), n * 100) != gone.end();
      EXPECT_EQ(find(reader, *searchKey(n * 100)) == nullptr, removed) << n * 100;
    }
    for (std::uint32_t k : added_) {
      const bool removed = std::find(gone.begin(), gone.end(), k) != gone.end();
      EXPECT_EQ(find(reader, *searchKey(k)) == nullptr, removed) << k;
    }
    expectConsistent(reader);
    expectSlotsWellFormed(path_);
  }

  support::TempDir dir_;
  std::string path_;
  std::unique_ptr<QbxStore> store_;
  std::uint32_t leafCount_ = 0;
  std::vector<std::uint32_t> added_;
  std::mt19937 rng_{3};
};

TEST_F(ClassThreeLeaves, GrowingPagesLeaveRegionThreeForRegionFour) {
  const FileHeader before = store_->header();
  const std::uint32_t s3 = before.regionStart(3);
  const std::uint32_t e3 = before.regionEnd(3);
  // The first leaf of region 3 grows: the region's last leaf fills its slot.
  const std::uint32_t lastKey = firstKeyAt(e3 - 3);
  const std::uint32_t grownKey = firstKeyAt(s3);
  growTo(store_->getPage(static_cast<std::int32_t>(s3)), 1024);
  ASSERT_EQ(store_->commit(), 0);
  const FileHeader& h = store_->header();
  EXPECT_EQ(regionLength(h, 3), 3 * (leafCount_ - 1));
  EXPECT_EQ(regionLength(h, 4), 4u);
  EXPECT_EQ(h.regionStart(4), h.regionEnd(3)) << "compaction closes the gap";
  EXPECT_EQ(locate(*store_, *searchKey(lastKey)).leaf->number, static_cast<std::int32_t>(s3));
  EXPECT_EQ(locate(*store_, *searchKey(grownKey)).leaf->number,
            static_cast<std::int32_t>(h.regionStart(4)));
  EXPECT_EQ(h.logicalEnd(), 512u + 256u * h.regionEnd(4));
  expectConsistent(*store_);

  // Two more grow in one commit: the second finds room below region 4 (the
  // hole region 3 leaves) and region 4 grows downward.
  growTo(store_->getPage(static_cast<std::int32_t>(h.regionStart(3))), 1024);
  growTo(store_->getPage(static_cast<std::int32_t>(h.regionStart(3) + 3)), 1024);
  ASSERT_EQ(store_->commit(), 0);
  EXPECT_EQ(regionLength(store_->header(), 3), 3 * (leafCount_ - 3));
  EXPECT_EQ(regionLength(store_->header(), 4), 12u);
  expectConsistent(*store_);
  expectAllEntriesAfterReopen({});
}

TEST_F(ClassThreeLeaves, FreeingAPageInTheMiddleMovesTheLastPageIntoIt) {
  const std::uint32_t s3 = store_->header().regionStart(3);
  const std::uint32_t e3 = store_->header().regionEnd(3);
  // A middle page that is not the leftmost leaf (which keeps the empty key).
  std::uint32_t middle = s3 + 3;
  if (leftmost(store_->getPage(static_cast<std::int32_t>(middle))->tree)->keyLength == 0) middle += 3;
  const std::uint32_t lastKey = firstKeyAt(e3 - 3);
  std::vector<std::uint32_t> gone;
  QbxPage* page = store_->getPage(static_cast<std::int32_t>(middle));
  for (;;) {
    const std::uint32_t k = keyOf(*leftmost(page->tree));
    gone.push_back(k);
    const bool last = page->entryCount() == 1;
    deleteEntry(*store_, find(*store_, *searchKey(k)));
    if (last) break;
  }
  EXPECT_EQ(regionLength(store_->header(), 3), 3 * (leafCount_ - 1)) << "freed at once";
  EXPECT_EQ(locate(*store_, *searchKey(lastKey)).leaf->number, static_cast<std::int32_t>(middle));
  ASSERT_EQ(store_->commit(), 0);
  EXPECT_EQ(store_->header().regionEnd(3), e3 - 3);
  expectConsistent(*store_);
  expectAllEntriesAfterReopen(gone);
}

}  // namespace
}  // namespace qbx::store
