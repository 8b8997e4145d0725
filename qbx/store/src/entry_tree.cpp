#include "qbx/store/entry_tree.h"

#include "qbx/store/cursor.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"
#include "qbx/store/page_codec.h"
#include "qbx/store/page_tree.h"
#include "qbx/store/slot_allocator.h"
#include "qbx/store/store.h"

namespace qbx::store {

using namespace format;

namespace {

constexpr std::uint8_t kMaxLevel = 255;

std::uint32_t entryCost(const QbxEntry& e, std::uint8_t level) {
  return e.totalLength + kEntryOverhead + (level > 0 ? kChildNumberSize : 0);
}

// The child page a separator leads to. A missing separator, or a child that
// is not exactly one level below its parent, is a damaged tree: no walk can
// then loop or run off the tree.
QbxPage* childOf(QbxStore& store, QbxPage* parent, const QbxEntry* separator) {
  if (separator == nullptr) raiseInternalError(kErrPageDecode);
  PagePin pin(parent);
  QbxPage* child = store.getPage(separator->childPage());
  if (child->level + 1 != parent->level) raiseInternalError(kErrPageDecode);
  return child;
}

// Takes e out of a page's tree and keeps the page's bookkeeping: dirty, its
// size estimate lowered, its cursors detached.
void removeFromPage(QbxStore& store, QbxPage* page, QbxEntry* e) {
  inPageRemove(page->tree, e);
  if (page->tree != nullptr) page->tree->parent = nullptr;
  store.markDirty(page);
  const std::uint32_t cost = entryCost(*e, page->level);
  page->sizeEstimate =
      page->sizeEstimate >= cost + kEmptyPageEstimate ? page->sizeEstimate - cost : kEmptyPageEstimate;
  e->count = 1;
  e->left = nullptr;
  e->right = nullptr;
  e->parent = nullptr;
  detachCursors(page);
}

struct SeparatorPlace {
  QbxPage* page;
  QbxEntry* separator;
};

// Finds the separator that leads to page x by its key (x's first key when
// the separator was made), wherever splits may have put it since.
SeparatorPlace findSeparator(QbxStore& store, const QbxPage& x, const QbxEntry& key) {
  QbxPage* p = getRootPage(store);
  while (p->level > x.level + 1) p = childOf(store, p, greatestNotAbove(p->tree, key));
  QbxEntry* s = greatestNotAbove(p->tree, key);
  if (p->level != x.level + 1 || s == nullptr || compareEntries(*s, key) != 0 ||
      s->childPage() != x.number) {
    raiseInternalError(kErrPageDecode);
  }
  return {p, s};
}

// After page x lost its first entry (or its last one), brings the separators
// above it back to its new first key: an emptied page gives up its slot and
// its separator; otherwise the separator is replaced by a new one. Either may
// change the first key of the parent, and so on up. The first step may be
// given the separator found on the way down.
void repairSeparators(QbxStore& store, QbxPage* x, SeparatorPlace place) {
  EntryPtr removed;  // the separator taken out last: its key finds the next one up
  for (;;) {
    QbxPage* p = place.page;
    QbxEntry* s = place.separator;
    PagePin pin(p);
    const bool parentFirstChanges = leftmost(p->tree) == s;
    if (x->tree == nullptr) {
      const std::int32_t number = x->number;
      store.discardPage(x);
      freeSlot(store, number);
      removeFromPage(store, p, s);
    } else {
      removeFromPage(store, p, s);
      insertAtLevel(store, separatorOf(*x), x->level + 1);
    }
    removed.reset(s);
    if (!parentFirstChanges || p->number == store.header().rootPage()) return;
    x = p;
    place = findSeparator(store, *x, *removed);
  }
}

void split(QbxStore& store, QbxPage* p) {
  if (p->entryCount() <= 1) raiseInternalError(kErrSplitTooFewEntries);
  detachCursors(p);
  QbxPage* n = store.createPage(store.nextTemporaryPageNumber(), p->level);
  store.markDirty(p);
  if (p->number == store.header().rootPage()) {
    // The root keeps its number and rises one level above its old contents.
    if (p->level == kMaxLevel) raiseInternalError(kErrPageDecode);
    n->tree = p->tree;
    n->sizeEstimate = p->sizeEstimate;
    p->level = static_cast<std::uint8_t>(p->level + 1);
    p->tree = nullptr;
    p->sizeEstimate = kEmptyPageEstimate;
    insertAtLevel(store, separatorOf(*n), n->level + 1);
    p = n;
    n = store.createPage(store.nextTemporaryPageNumber(), p->level);
  }
  // Cut at the tree's root entry; it joins the half with fewer entries.
  QbxEntry* m = p->tree;
  QbxEntry* low = m->left;
  QbxEntry* high = m->right;
  if (low != nullptr) low->parent = nullptr;
  if (high != nullptr) high->parent = nullptr;
  m->left = nullptr;
  m->right = nullptr;
  p->tree = low;
  n->tree = high;
  if (subtreeCount(low) < subtreeCount(high)) {
    inPageInsert(p->tree, m);
  } else {
    inPageInsert(n->tree, m);
  }
  p->sizeEstimate = computeSizeEstimate(*p);
  n->sizeEstimate = computeSizeEstimate(*n);
  insertAtLevel(store, separatorOf(*n), n->level + 1);
  splitIfNeeded(store, p);
  splitIfNeeded(store, n);
}

QbxEntry* nextBelow(QbxStore& store, QbxPage* p, const QbxEntry& key) {
  if (p->isLeaf()) return smallestAbove(p->tree, key);
  PagePin pin(p);
  if (QbxEntry* s = greatestNotAbove(p->tree, key)) {
    if (QbxEntry* found = nextBelow(store, childOf(store, p, s), key)) return found;
  }
  QbxEntry* t = smallestAbove(p->tree, key);
  return t == nullptr ? nullptr : nextBelow(store, childOf(store, p, t), key);
}

}  // namespace

QbxPage* getRootPage(QbxStore& store) {
  if (store.refreshHeader(true) != 0) raiseInternalError(kErrGetRootRefresh);
  FileHeader& h = store.header();
  // A new file, or one whose header was committed before any page was.
  if (h.changeCount() == 0 || (h.rootPage() >= 0 && h.regionsEmpty())) {
    if (h.changeCount() == 0) h.setChangeCount(1);
    h.setRootPage(-1);
    (void)store.nextTemporaryPageNumber();
  }
  return store.getPage(h.rootPage());
}

QbxEntry* find(QbxStore& store, const QbxEntry& key) { return locate(store, key).entry; }

Located locate(QbxStore& store, const QbxEntry& key, EntryPtr* upperBound) {
  if (upperBound != nullptr) upperBound->reset();
  QbxPage* p = getRootPage(store);
  for (;;) {
    QbxEntry* r = greatestNotAbove(p->tree, key);
    if (p->isLeaf()) {
      if (r != nullptr && compareEntries(*r, key) == 0) return {r, p};
      return {nullptr, p};
    }
    if (upperBound != nullptr && r != nullptr) {
      if (QbxEntry* above = inTreeSuccessor(r)) *upperBound = copyKey(*above);
    }
    p = childOf(store, p, r);
  }
}

QbxEntry* next(QbxStore& store, QbxEntry& entry) {
  if (QbxEntry* successor = inTreeSuccessor(&entry)) return successor;
  // The walk may trim the entry's page from the cache: search by a copy.
  const EntryPtr key = copyKey(entry);
  return nextBelow(store, getRootPage(store), *key);
}

QbxEntry* previous(QbxStore& store, const QbxEntry& key) {
  if (key.keyLength == 0) return nullptr;
  QbxPage* p = getRootPage(store);
  for (;;) {
    QbxEntry* r = greatestBelow(p->tree, key);
    if (p->isLeaf()) return r != nullptr && r->keyLength > 0 ? r : nullptr;
    p = childOf(store, p, r);
  }
}

void insert(QbxStore& store, EntryPtr entry) {
  if (store.readerMode()) raiseInternalError(kErrInsertReaderMode);
  store.setChanged();
  insertAtLevel(store, std::move(entry), 0);
}

void insertAtLevel(QbxStore& store, EntryPtr e, std::uint8_t level) {
  QbxPage* p = getRootPage(store);
  if (p->level < level) raiseInternalError(kErrPageDecode);
  while (p->level > level) p = childOf(store, p, greatestNotAbove(p->tree, *e));
  QbxEntry* raw = e.get();
  inPageInsert(p->tree, raw);
  (void)e.release();
  store.markDirty(p);
  p->sizeEstimate += entryCost(*raw, level);
  splitIfNeeded(store, p);
}

void deleteEntry(QbxStore& store, QbxEntry* entry) {
  if (store.readerMode()) raiseInternalError(kErrDeleteReaderMode);
  store.setChanged();
  QbxPage* p = getRootPage(store);
  QbxPage* parent = nullptr;
  QbxEntry* separator = nullptr;
  // The parent stays pinned: its separator is needed after the descent.
  struct ParentPin {
    QbxPage* page = nullptr;
    void set(QbxPage* next) {
      if (page != nullptr) --page->pins;
      page = next;
      if (page != nullptr) ++page->pins;
    }
    ~ParentPin() { set(nullptr); }
  } parentPin;
  while (!p->isLeaf()) {
    QbxEntry* s = greatestNotAbove(p->tree, *entry);
    QbxPage* child = childOf(store, p, s);
    parentPin.set(p);
    parent = p;
    separator = s;
    p = child;
  }
  const bool firstChanges = leftmost(p->tree) == entry;
  removeFromPage(store, p, entry);
  // The repair pins what it walks; it may discard the parent once emptied.
  parentPin.set(nullptr);
  if (firstChanges && parent != nullptr) repairSeparators(store, p, {parent, separator});
  freeEntry(entry);
}

bool needsSplit(const QbxPage& page) {
  return page.sizeEstimate > kSplitHardLimit ||
         (page.sizeEstimate > kSplitSoftLimit && page.entryCount() > kSplitSoftEntries);
}

void splitIfNeeded(QbxStore& store, QbxPage* page) {
  if (needsSplit(*page)) split(store, page);
}

EntryPtr separatorOf(const QbxPage& page) {
  EntryPtr s = copyKey(*leftmost(page.tree));
  s->child = static_cast<std::uint32_t>(page.number);
  return s;
}

void redirectSeparator(QbxStore& store, const QbxPage& page, std::int32_t from, std::int32_t to) {
  if (page.tree == nullptr) raiseInternalError(kErrMovePageEmpty);
  const QbxEntry& first = *leftmost(page.tree);
  QbxPage* q = store.getPage(store.header().rootPage());
  for (;;) {
    if (q->isLeaf()) raiseInternalError(kErrMovePageNoSeparator);
    QbxEntry* s = greatestNotAbove(q->tree, first);
    if (s == nullptr) raiseInternalError(kErrMovePageNoSeparator);
    if (s->child == static_cast<std::uint32_t>(from)) {
      s->child = static_cast<std::uint32_t>(to);
      store.markDirty(q);
      return;
    }
    q = childOf(store, q, s);
  }
}

}  // namespace qbx::store
