#include "qbx/store/entry_tree.h"

#include <gtest/gtest.h>

#include <vector>

#include "qbx/store/consistency_check.h"
#include "qbx/store/cursor.h"
#include "qbx/store/page_tree.h"
#include "qbx/store/slot_allocator.h"
#include "store_test_util.h"

namespace qbx::store {
namespace {

using namespace test;

std::vector<QbxEntry*> rootEntries(QbxStore& store) {
  std::vector<QbxEntry*> out;
  QbxPage* root = getRootPage(store);
  for (QbxEntry* e = leftmost(root->tree); e != nullptr; e = inTreeSuccessor(e)) out.push_back(e);
  return out;
}

std::uint32_t keyNumber(const QbxEntry& e) {
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < 4 && i < e.keyLength; ++i) n |= std::uint32_t{e.bytes()[i]} << (24 - 8 * i);
  return n;
}

// All keys of the tree in order, by next() from the empty-key entry.
std::vector<std::uint32_t> allKeys(QbxStore& store) {
  std::vector<std::uint32_t> keys;
  QbxEntry* e = find(store, *makeEntry({}));
  EXPECT_NE(e, nullptr) << "the empty-key entry is missing";
  while (e != nullptr && (e = next(store, *e)) != nullptr) keys.push_back(keyNumber(*e));
  return keys;
}

void expectConsistent(QbxStore& store) {
  for (const std::string& p : checkConsistency(store)) ADD_FAILURE() << p;
}

TEST(EntryTree, NewTreeHoldsOnlyTheEmptyKeyEntry) {
  QbxStore store;
  QbxPage* root = getRootPage(store);
  EXPECT_EQ(root->number, -1);
  EXPECT_EQ(store.header().changeCount(), 1);
  ASSERT_EQ(root->entryCount(), 1);
  EXPECT_EQ(root->tree->keyLength, 0);
  EXPECT_EQ(find(store, *searchKey(5)), nullptr);
  EXPECT_EQ(previous(store, *searchKey(5)), nullptr);
  QbxCursor cursor(store);
  cursor.set(makeEntry({}), false);
  EXPECT_EQ(cursor.fetch(), nullptr);
  EXPECT_TRUE(cursor.attached());
}

TEST(EntryTree, PrefixKeysOrderAndDuplicates) {
  QbxStore store;
  const std::uint8_t shortKey[] = {1, 2};
  const std::uint8_t longKey[] = {1, 2, 3};
  insert(store, makeEntry(longKey));
  insert(store, makeEntry(shortKey));
  QbxEntry* first = next(store, *makeEntry({}));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->keyLength, 2);
  EXPECT_EQ(next(store, *first)->keyLength, 3);
  EXPECT_EQ(internalErrorOf([&] { insert(store, makeEntry(shortKey)); }), 706);
}

// Entries of 200 bytes cost 205 of the estimate: the empty-key entry and 19
// of them make 20 entries and 3913; the 20th makes 21 entries and 4118.
TEST(EntryTree, LeafSplitsAtTwentyOneEntriesAboveFourKilobytes) {
  QbxStore store;
  for (std::uint32_t n = 1; n <= 19; ++n) insert(store, numberedEntry(n, 4, 196));
  QbxPage* root = getRootPage(store);
  EXPECT_EQ(root->level, 0);
  EXPECT_EQ(root->entryCount(), 20);
  EXPECT_EQ(root->sizeEstimate, 13u + 5u + 19u * 205u);
  insert(store, numberedEntry(20, 4, 196));
  root = getRootPage(store);
  EXPECT_EQ(root->number, -1) << "the root keeps its number";
  ASSERT_EQ(root->level, 1);
  const auto separators = rootEntries(store);
  ASSERT_EQ(separators.size(), 2u);
  EXPECT_EQ(separators[0]->keyLength, 0) << "the leftmost separator has the empty key";
  QbxPage* right = store.getPage(separators[1]->childPage());
  EXPECT_EQ(compareEntries(*leftmost(right->tree), *separators[1]), 0);
  QbxPage* left = store.getPage(separators[0]->childPage());
  EXPECT_EQ(left->entryCount() + right->entryCount(), 21);
  // Cut at the in-page tree's root: about half each, as balanced as the tree.
  EXPECT_GE(left->entryCount(), 6);
  EXPECT_GE(right->entryCount(), 6);
  EXPECT_EQ(allKeys(store).size(), 20u);
  expectConsistent(store);
}

TEST(EntryTree, FewLargeEntriesSplitOnlyAboveTheHardLimit) {
  QbxStore store;
  // 3000-byte entries cost 3005: five fit (15043), the sixth exceeds 15094.
  for (std::uint32_t n = 1; n <= 5; ++n) insert(store, numberedEntry(n, 4, 2996));
  EXPECT_EQ(getRootPage(store)->level, 0);
  EXPECT_EQ(getRootPage(store)->sizeEstimate, 15043u);
  insert(store, numberedEntry(6, 4, 2996));
  EXPECT_EQ(getRootPage(store)->level, 1);
  expectConsistent(store);
}

TEST(EntryTree, LargestEntryFitsAPageAloneAndOneMoreByteCannotSplit) {
  QbxStore fits;
  insert(fits, numberedEntry(1, 4, 15076 - 4));
  const auto separators = rootEntries(fits);
  ASSERT_EQ(separators.size(), 2u);
  EXPECT_EQ(fits.getPage(separators[1]->childPage())->sizeEstimate, 15094u);

  QbxStore tooBig;
  EXPECT_EQ(internalErrorOf([&] { insert(tooBig, numberedEntry(1, 4, 15077 - 4)); }), 1364);
}

TEST(EntryTree, NextAndPreviousCrossPages) {
  QbxStore store;
  for (std::uint32_t n = 1; n <= 300; ++n) insert(store, numberedEntry(n * 10, 4, 150));
  ASSERT_GE(getRootPage(store)->level, 1);
  std::vector<std::uint32_t> expected;
  for (std::uint32_t n = 1; n <= 300; ++n) expected.push_back(n * 10);
  EXPECT_EQ(allKeys(store), expected);
  for (std::uint32_t k : {10u, 11u, 1555u, 1560u, 3000u, 3001u}) {
    QbxEntry* p = previous(store, *searchKey(k));
    const std::uint32_t want = (k - 1) / 10 * 10;
    if (want == 0) {
      EXPECT_EQ(p, nullptr) << k;
    } else {
      ASSERT_NE(p, nullptr) << k;
      EXPECT_EQ(keyNumber(*p), want) << k;
    }
    QbxEntry* n = next(store, *searchKey(k));
    if (k >= 3000) {
      EXPECT_EQ(n, nullptr) << k;
    } else {
      ASSERT_NE(n, nullptr) << k;
      EXPECT_EQ(keyNumber(*n), k / 10 * 10 + 10) << k;
    }
  }
}

// A two-level tree of many leaves.
class TwoLevelTree : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::uint32_t n = 1; n <= 200; ++n) insert(store_, numberedEntry(n * 10, 4, 196));
    ASSERT_EQ(getRootPage(store_)->level, 1);
    ASSERT_GE(rootEntries(store_).size(), 5u);
  }
  QbxStore store_;
};

TEST_F(TwoLevelTree, DeletingTheFirstEntryOfALeafReplacesItsSeparator) {
  QbxEntry* separator = rootEntries(store_)[2];
  const std::uint32_t first = keyNumber(*separator);
  const std::int32_t child = separator->childPage();
  deleteEntry(store_, find(store_, *searchKey(first)));
  QbxEntry* replaced = rootEntries(store_)[2];
  EXPECT_EQ(keyNumber(*replaced), first + 10);
  EXPECT_EQ(replaced->childPage(), child);
  EXPECT_EQ(find(store_, *searchKey(first)), nullptr);
  expectConsistent(store_);
}

TEST_F(TwoLevelTree, DeletingTheLastEntryOfALeafRemovesThePage) {
  const auto separators = rootEntries(store_);
  const std::size_t before = separators.size();
  const std::uint32_t from = keyNumber(*separators[3]);
  const std::uint32_t to = keyNumber(*separators[4]);
  for (std::uint32_t k = from; k < to; k += 10) deleteEntry(store_, find(store_, *searchKey(k)));
  const auto after = rootEntries(store_);
  ASSERT_EQ(after.size(), before - 1);
  EXPECT_EQ(keyNumber(*after[3]), to);
  expectConsistent(store_);
}

TEST_F(TwoLevelTree, CursorsFindTheirEntryAgainAfterSplitsAndDeletes) {
  QbxCursor onEntry(store_);
  onEntry.set(searchKey(1000), false);
  ASSERT_NE(onEntry.fetch(), nullptr);
  QbxCursor onMissing(store_);
  onMissing.set(searchKey(1005), false);
  EXPECT_EQ(onMissing.fetch(), nullptr);
  // Splits around the cursors' leaf.
  for (std::uint32_t k = 991; k < 1010; ++k) {
    if (k % 10 != 0 && k != 1005) insert(store_, numberedEntry(k, 4, 196));
  }
  EXPECT_FALSE(onEntry.attached());
  QbxEntry* e = onEntry.fetch();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(keyNumber(*e), 1000u);
  // Deletes of neighbours leave it where it stands.
  deleteEntry(store_, find(store_, *searchKey(999)));
  deleteEntry(store_, find(store_, *searchKey(1001)));
  e = onEntry.fetch();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(keyNumber(*e), 1000u);
  // Its own entry deleted through the tree: the cursor finds nothing.
  deleteEntry(store_, e);
  EXPECT_EQ(onEntry.fetch(), nullptr);
  expectConsistent(store_);
}

TEST_F(TwoLevelTree, CursorDeleteMovesToThePreviousEntry) {
  // Within a page, and for the first entry of a non-leftmost leaf.
  const std::uint32_t first = keyNumber(*rootEntries(store_)[3]);
  QbxCursor other(store_);
  other.set(searchKey(first + 30), false);
  ASSERT_NE(other.fetch(), nullptr);
  QbxCursor cursor(store_);
  for (std::uint32_t k : {first + 20, first}) {
    cursor.set(searchKey(k), false);
    ASSERT_NE(cursor.fetch(), nullptr) << k;
    cursor.remove();
    QbxEntry* e = cursor.fetch();
    ASSERT_NE(e, nullptr) << k;
    EXPECT_EQ(keyNumber(*e), k - 10) << k;
    EXPECT_EQ(find(store_, *searchKey(k)), nullptr) << k;
  }
  // The other cursor on the page was detached and finds its entry again.
  EXPECT_FALSE(other.attached());
  ASSERT_NE(other.fetch(), nullptr);
  EXPECT_EQ(keyNumber(*other.fetch()), first + 30);
  expectConsistent(store_);
}

TEST(EntryTree, CursorDeleteOfTheFirstEntryLeavesTheCursorOnNothing) {
  QbxStore store;
  for (std::uint32_t n = 1; n <= 3; ++n) insert(store, numberedEntry(n));
  QbxCursor cursor(store);
  cursor.set(searchKey(1), false);
  ASSERT_NE(cursor.fetch(), nullptr);
  cursor.remove();
  EXPECT_EQ(cursor.fetch(), nullptr);
  cursor.remove();  // the empty-key entry stays
  EXPECT_NE(find(store, *makeEntry({})), nullptr);
  EXPECT_EQ(allKeys(store), (std::vector<std::uint32_t>{2, 3}));
}

TEST(EntryTree, CursorAppendsInOrderAcrossSplits) {
  QbxStore store;
  QbxCursor cursor(store);
  cursor.set(makeEntry({}), false);
  (void)cursor.fetch();
  for (std::uint32_t n = 1; n <= 3000; ++n) {
    cursor.insert(numberedEntry(n, 4, 60));
    QbxEntry* e = cursor.fetch();
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(keyNumber(*e), n);
  }
  const auto keys = allKeys(store);
  ASSERT_EQ(keys.size(), 3000u);
  for (std::uint32_t n = 1; n <= 3000; ++n) ASSERT_EQ(keys[n - 1], n);
  expectConsistent(store);
}

TEST_F(TwoLevelTree, CursorInsertOutsideItsLeafGoesWhereTheKeyBelongs) {
  // The cursor stands on the last entry of a leaf; keys before it and keys
  // of the next leaf's range must not land in its leaf.
  const auto separators = rootEntries(store_);
  const std::uint32_t nextFirst = keyNumber(*separators[3]);
  QbxCursor cursor(store_);
  cursor.set(searchKey(nextFirst - 10), false);
  ASSERT_NE(cursor.fetch(), nullptr);
  ASSERT_EQ(inTreeSuccessor(find(store_, *searchKey(nextFirst - 10))), nullptr)
      << "the cursor is not on its leaf's last entry";
  for (std::uint32_t k : {nextFirst + 5, nextFirst - 15, nextFirst - 5}) {
    cursor.insert(numberedEntry(k, 4, 8));
    ASSERT_NE(cursor.fetch(), nullptr);
    EXPECT_EQ(keyNumber(*cursor.fetch()), k);
    EXPECT_NE(find(store_, *searchKey(k)), nullptr) << k;
  }
  expectConsistent(store_);
}

TEST(EntryTree, WriterModeIsNeededForChanges) {
  support::TempDir dir;
  const std::string path = dir.file("a.QBX");
  { auto store = openWriter(path); insert(*store, numberedEntry(1)); }
  QbxStore reader;
  ASSERT_EQ(reader.open(path, 0x12, ""), 0);
  QbxEntry* e = find(reader, *searchKey(1));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(internalErrorOf([&] { insert(reader, numberedEntry(2)); }), 1194);
  EXPECT_EQ(internalErrorOf([&] { deleteEntry(reader, e); }), 1203);
  QbxCursor cursor(reader);
  cursor.set(searchKey(1), false);
  ASSERT_NE(cursor.fetch(), nullptr);
  EXPECT_EQ(internalErrorOf([&] { cursor.insert(numberedEntry(3)); }), 231);
  EXPECT_EQ(internalErrorOf([&] { cursor.markPage(); }), 337);
}

}  // namespace
}  // namespace qbx::store
