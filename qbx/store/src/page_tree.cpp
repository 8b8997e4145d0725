#include "qbx/store/page_tree.h"

#include <vector>

#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"

namespace qbx::store {
namespace {

// The two sides of an entry, so that the removal replacement is written once.
QbxEntry*& side(QbxEntry* x, bool leftSide) { return leftSide ? x->left : x->right; }

// Takes the extreme entry on the given side out of the subtree below z (that
// is, out of z's child on that side, which is not empty) and fixes every
// entry on the way.
QbxEntry* takeOutExtreme(QbxEntry* z, bool leftSide) {
  QbxEntry* w = side(z, leftSide);
  QbxEntry* result;
  if (side(w, leftSide) == nullptr) {
    side(z, leftSide) = side(w, !leftSide);
    result = w;
  } else {
    result = takeOutExtreme(w, leftSide);
  }
  fixEntry(z);
  return result;
}

}  // namespace

void fixEntry(QbxEntry* x) {
  x->count = subtreeCount(x->left) + subtreeCount(x->right) + 1;
  x->parent = nullptr;
  if (x->left != nullptr) x->left->parent = x;
  if (x->right != nullptr) x->right->parent = x;
}

void inPageInsert(QbxEntry*& slot, QbxEntry* e) {
  if (slot == nullptr) {
    e->left = nullptr;
    e->right = nullptr;
    slot = e;
    fixEntry(e);
    return;
  }
  QbxEntry* q = slot;
  const int c = compareEntries(*e, *q);
  if (c == 0) raiseInternalError(kErrPageInsertDuplicate);
  if (c < 0) {
    inPageInsert(q->left, e);
  } else {
    inPageInsert(q->right, e);
  }
  QbxEntry* l = q->left;
  QbxEntry* r = q->right;
  const std::int32_t d = subtreeCount(r) - subtreeCount(l);
  if (d > 0 && subtreeCount(r->right) >= subtreeCount(l)) {
    q->right = r->left;
    r->left = q;
    slot = r;
    fixEntry(q);
    fixEntry(r);
  } else if (d < 0 && subtreeCount(r) <= subtreeCount(l->left)) {
    q->left = l->right;
    l->right = q;
    slot = l;
    fixEntry(q);
    fixEntry(l);
  } else {
    fixEntry(q);
  }
}

void inPageRemove(QbxEntry*& slot, QbxEntry* e) {
  if (slot == nullptr) raiseInternalError(kErrPageRemoveMissing);
  QbxEntry* s = slot;
  if (s == e) {
    slot = removalReplacement(e);
    return;
  }
  if (compareEntries(*e, *s) < 0) {
    inPageRemove(s->left, e);
  } else {
    inPageRemove(s->right, e);
  }
  fixEntry(s);
}

QbxEntry* removalReplacement(QbxEntry* x) {
  // The larger side gives the replacement; the other side is the near side.
  const bool leftLarger = subtreeCount(x->left) > subtreeCount(x->right);
  const bool nearLeft = !leftLarger;
  QbxEntry* y = side(x, leftLarger);
  if (side(x, nearLeft) == nullptr) return y;
  QbxEntry* replacement;
  if (side(y, nearLeft) != nullptr) {
    replacement = takeOutExtreme(y, nearLeft);
    side(replacement, leftLarger) = side(x, leftLarger);
  } else {
    replacement = y;
  }
  side(replacement, nearLeft) = side(x, nearLeft);
  fixEntry(replacement);
  return replacement;
}

QbxEntry* greatestNotAbove(QbxEntry* x, const QbxEntry& key) {
  QbxEntry* found = nullptr;
  while (x != nullptr) {
    if (compareEntries(*x, key) <= 0) {
      found = x;
      x = x->right;
    } else {
      x = x->left;
    }
  }
  return found;
}

QbxEntry* smallestAbove(QbxEntry* x, const QbxEntry& key) {
  QbxEntry* found = nullptr;
  while (x != nullptr) {
    if (compareEntries(*x, key) > 0) {
      found = x;
      x = x->left;
    } else {
      x = x->right;
    }
  }
  return found;
}

QbxEntry* greatestBelow(QbxEntry* x, const QbxEntry& key) {
  QbxEntry* found = nullptr;
  while (x != nullptr) {
    if (compareEntries(*x, key) < 0) {
      found = x;
      x = x->right;
    } else {
      x = x->left;
    }
  }
  return found;
}

QbxEntry* leftmost(QbxEntry* x) {
  if (x == nullptr) return nullptr;
  while (x->left != nullptr) x = x->left;
  return x;
}

QbxEntry* rightmost(QbxEntry* x) {
  if (x == nullptr) return nullptr;
  while (x->right != nullptr) x = x->right;
  return x;
}

QbxEntry* inTreeSuccessor(QbxEntry* e) {
  if (e->right != nullptr) return leftmost(e->right);
  while (e->parent != nullptr && e->parent->right == e) e = e->parent;
  return e->parent;
}

QbxEntry* inTreePredecessor(QbxEntry* e) {
  if (e->left != nullptr) return rightmost(e->left);
  while (e->parent != nullptr && e->parent->left == e) e = e->parent;
  return e->parent;
}

QbxEntry* treeRootOf(QbxEntry* e) {
  while (e->parent != nullptr) e = e->parent;
  return e;
}

void freeTree(QbxEntry* root) {
  // Iterative, so that a degenerate tree cannot exhaust the stack.
  std::vector<QbxEntry*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    QbxEntry* x = pending.back();
    pending.pop_back();
    if (x->left != nullptr) pending.push_back(x->left);
    if (x->right != nullptr) pending.push_back(x->right);
    freeEntry(x);
  }
}

}  // namespace qbx::store
