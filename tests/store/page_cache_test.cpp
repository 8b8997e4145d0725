#include <gtest/gtest.h>

#include <deque>

#include "qbx/store/cursor.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/page_tree.h"
#include "store_test_util.h"

namespace qbx::store {
namespace {

using namespace test;

// A committed file of a few hundred small leaf pages, reopened for reading.
class ManyPages : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("pages.QBX");
    {
      auto writer = openWriter(path_);
      const std::vector<std::uint8_t> zeros(2000, 0);
      for (std::uint32_t n = 1; n <= 1200; ++n) insert(*writer, makeEntry(bigEndianKey(n), zeros));
    }
    ASSERT_EQ(store_.open(path_, 0x12, ""), 0);
    const FileHeader& h = store_.header();
    for (std::uint32_t p = h.regionStart(1); p < h.regionEnd(1); ++p) {
      QbxPage* page = store_.getPage(static_cast<std::int32_t>(p));
      if (page->isLeaf()) leaves_.push_back(page->number);
    }
    ASSERT_GE(leaves_.size(), 250u);
    store_.dropCache();
  }

  support::TempDir dir_;
  std::string path_;
  QbxStore store_;
  std::vector<std::int32_t> leaves_;
};

TEST_F(ManyPages, TrimKeepsBetweenTwentyAndOneHundredCleanPages) {
  std::deque<std::int32_t> recent;
  for (std::int32_t n : leaves_) {
    QbxPage* lru = store_.cache().leastRecentlyUsed();
    const std::int32_t lruNumber = lru != nullptr ? lru->number : -1;
    const bool full = store_.cache().cleanCount() >= 100;
    (void)store_.getPage(n);
    const std::uint32_t clean = store_.cache().cleanCount();
    ASSERT_LE(clean, 100u);
    ASSERT_GE(clean, std::min<std::uint32_t>(static_cast<std::uint32_t>(recent.size() + 1), 20u));
    if (full) {
      EXPECT_EQ(store_.cache().find(lruNumber), nullptr) << "a full cache evicts its oldest page";
    }
    recent.push_back(n);
    if (recent.size() > 19) recent.pop_front();
    for (std::int32_t r : recent) ASSERT_NE(store_.cache().find(r), nullptr) << r;
  }
}

TEST_F(ManyPages, PinnedAndDirtyPagesAreNeverTrimmed) {
  store_.enterWriterMode();
  QbxPage* pinned = store_.getPage(leaves_[0]);
  QbxPage* dirty = store_.getPage(leaves_[1]);
  store_.markDirty(dirty);
  {
    PagePin pin(pinned);
    for (std::size_t i = 2; i < leaves_.size(); ++i) (void)store_.getPage(leaves_[i]);
    EXPECT_EQ(store_.cache().find(leaves_[0]), pinned);
  }
  EXPECT_EQ(store_.cache().find(leaves_[1]), dirty);
  EXPECT_EQ(store_.dirtyPageCount(), 1u);
}

TEST_F(ManyPages, CursorsSurviveTheirPageLeavingTheCache) {
  QbxCursor cursor(store_);
  cursor.set(searchKey(600), false);
  ASSERT_NE(cursor.fetch(), nullptr);
  for (std::int32_t n : leaves_) (void)store_.getPage(n);
  for (std::int32_t n : leaves_) (void)store_.getPage(n);
  QbxEntry* e = cursor.fetch();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->key()[3], 600 % 256);
  store_.dropCache();
  EXPECT_FALSE(cursor.attached());
  ASSERT_NE(cursor.fetch(), nullptr);
}

TEST_F(ManyPages, AWalkOverTheWholeTreeMeetsEveryEntry) {
  // next() across hundreds of leaves while the cache keeps trimming.
  std::uint32_t expected = 1;
  QbxEntry* e = find(store_, *makeEntry({}));
  while ((e = next(store_, *e)) != nullptr) {
    ASSERT_EQ(e->key()[2] * 256 + e->key()[3], expected % 65536);
    ++expected;
  }
  EXPECT_EQ(expected, 1201u);
}

}  // namespace
}  // namespace qbx::store
