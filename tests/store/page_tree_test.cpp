#include "qbx/store/page_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "qbx/store/internal_error.h"

namespace qbx::store {
namespace {

EntryPtr keyEntry(std::uint32_t k) {
  const std::uint8_t bytes[] = {static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)};
  return makeEntry(bytes);
}

std::uint32_t keyOf(const QbxEntry* e) { return (e->bytes()[0] << 8) | e->bytes()[1]; }

// Checks counts and parent links of a subtree and returns its height.
int checkSubtree(const QbxEntry* x, const QbxEntry* parent) {
  if (x == nullptr) return 0;
  EXPECT_EQ(x->parent, parent);
  EXPECT_EQ(x->count, subtreeCount(x->left) + subtreeCount(x->right) + 1);
  return 1 + std::max(checkSubtree(x->left, x), checkSubtree(x->right, x));
}

std::vector<std::uint32_t> inOrder(QbxEntry* root) {
  std::vector<std::uint32_t> keys;
  for (QbxEntry* e = leftmost(root); e != nullptr; e = inTreeSuccessor(e)) keys.push_back(keyOf(e));
  return keys;
}

struct Tree {
  QbxEntry* root = nullptr;
  ~Tree() { freeTree(root); }
  void insert(std::uint32_t k) {
    EntryPtr e = keyEntry(k);
    inPageInsert(root, e.get());
    (void)e.release();
  }
  QbxEntry* find(std::uint32_t k) {
    EntryPtr key = keyEntry(k);
    QbxEntry* e = greatestNotAbove(root, *key);
    return e != nullptr && keyOf(e) == k ? e : nullptr;
  }
  void remove(QbxEntry* e) {
    inPageRemove(root, e);
    if (root != nullptr) root->parent = nullptr;
    freeEntry(e);
  }
};

TEST(PageTree, AscendingInsertsStayShallow) {
  Tree t;
  for (std::uint32_t k = 0; k < 4000; ++k) t.insert(k);
  const int height = checkSubtree(t.root, nullptr);
  EXPECT_EQ(t.root->count, 4000);
  EXPECT_LE(height, 2 * 12 + 2);  // log2(4000) is about 12
  EXPECT_EQ(inOrder(t.root).size(), 4000u);
}

TEST(PageTree, RandomInsertsAndRemovalsMatchASet) {
  std::mt19937 rng(11);
  Tree t;
  std::set<std::uint32_t> model;
  for (int step = 0; step < 20000; ++step) {
    const std::uint32_t k = rng() % 3000;
    if (model.count(k) != 0) {
      QbxEntry* e = t.find(k);
      ASSERT_NE(e, nullptr);
      t.remove(e);
      model.erase(k);
    } else {
      t.insert(k);
      model.insert(k);
    }
    if (step % 997 == 0) {
      checkSubtree(t.root, nullptr);
      ASSERT_EQ(inOrder(t.root), std::vector<std::uint32_t>(model.begin(), model.end()));
    }
  }
  checkSubtree(t.root, nullptr);
  EXPECT_EQ(inOrder(t.root), std::vector<std::uint32_t>(model.begin(), model.end()));
}

TEST(PageTree, SearchesAtTheEdges) {
  Tree t;
  for (std::uint32_t k : {10u, 20u, 30u}) t.insert(k);
  struct Case {
    std::uint32_t key;
    int notAbove, above, below;  // -1: none
  };
  const Case cases[] = {
      {5, -1, 10, -1}, {10, 10, 20, -1}, {15, 10, 20, 10}, {30, 30, -1, 20}, {35, 30, -1, 30}};
  auto keyOrNone = [](const QbxEntry* e) { return e == nullptr ? -1 : static_cast<int>(keyOf(e)); };
  for (const Case& c : cases) {
    EntryPtr key = keyEntry(c.key);
    EXPECT_EQ(keyOrNone(greatestNotAbove(t.root, *key)), c.notAbove) << c.key;
    EXPECT_EQ(keyOrNone(smallestAbove(t.root, *key)), c.above) << c.key;
    EXPECT_EQ(keyOrNone(greatestBelow(t.root, *key)), c.below) << c.key;
  }
  EXPECT_EQ(inTreePredecessor(leftmost(t.root)), nullptr);
  EXPECT_EQ(inTreeSuccessor(rightmost(t.root)), nullptr);
}

TEST(PageTree, RemovedRootIsReplacedByItsNeighbourOnTheLargerSide) {
  std::mt19937 rng(5);
  Tree t;
  for (int i = 0; i < 500; ++i) {
    const std::uint32_t k = rng() % 5000;
    if (t.find(k) == nullptr) t.insert(k);
  }
  int seenLeftLarger = 0;
  int seenRightLarger = 0;
  while (t.root != nullptr && t.root->left != nullptr && t.root->right != nullptr) {
    QbxEntry* x = t.root;
    const bool leftLarger = subtreeCount(x->left) > subtreeCount(x->right);
    (leftLarger ? seenLeftLarger : seenRightLarger)++;
    const std::uint32_t expected = keyOf(leftLarger ? inTreePredecessor(x) : inTreeSuccessor(x));
    t.remove(x);
    ASSERT_EQ(keyOf(t.root), expected);
    checkSubtree(t.root, nullptr);
  }
  EXPECT_GT(seenLeftLarger + seenRightLarger, 100);
}

TEST(PageTree, DuplicateAndMissingEntriesRaise) {
  Tree t;
  for (std::uint32_t k : {1u, 2u, 3u}) t.insert(k);
  EntryPtr again = keyEntry(2);
  try {
    inPageInsert(t.root, again.get());
    FAIL();
  } catch (const InternalError& e) {
    EXPECT_EQ(e.number, 706);
  }
  // An equal key that is not the tree's own entry is not in the tree.
  try {
    inPageRemove(t.root, again.get());
    FAIL();
  } catch (const InternalError& e) {
    EXPECT_EQ(e.number, 780);
  }
  EXPECT_EQ(inOrder(t.root), (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST(EntryComparison, PrefixSortsFirstAndDataIsIgnored) {
  const std::uint8_t a[] = {1, 2};
  const std::uint8_t b[] = {1, 2, 3};
  const std::uint8_t c[] = {1, 3};
  const std::uint8_t x[] = {0xFF};
  EXPECT_LT(compareEntries(*makeEntry(a), *makeEntry(b)), 0);
  EXPECT_LT(compareEntries(*makeEntry(b), *makeEntry(c)), 0);
  EXPECT_EQ(compareEntries(*makeEntry(a, x), *makeEntry(a)), 0);
  EXPECT_LT(compareEntries(*makeEntry({}), *makeEntry(a)), 0);
  EXPECT_LT(compareEntries(*makeEntry(c), *makeEntry(x)), 0) << "bytes compare unsigned";
}

TEST(EntryComparison, NewEntryLengthLimit) {
  EXPECT_EQ(newEntry(100, 15093 - 100)->totalLength, 15093);
  try {
    (void)newEntry(100, 15094 - 100);
    FAIL();
  } catch (const InternalError& e) {
    EXPECT_EQ(e.number, 824);
  }
}

}  // namespace
}  // namespace qbx::store
