#include "qbx/store/cursor.h"

#include "qbx/store/entry_tree.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"
#include "qbx/store/page_tree.h"
#include "qbx/store/store.h"

namespace qbx::store {

QbxCursor::~QbxCursor() {
  if (page_ != nullptr) unlinkFromPage();
}

void detachCursors(QbxPage* page) {
  QbxCursor* c = page->cursors;
  page->cursors = nullptr;
  while (c != nullptr) {
    QbxCursor* following = c->next_;
    c->keepKeyAndLeavePage();
    c = following;
  }
}

void QbxCursor::keepKeyAndLeavePage() {
  keyCopy_ = current_ != nullptr ? copyKey(*current_) : nullptr;
  page_ = nullptr;
  current_ = nullptr;
  next_ = nullptr;
  upperBound_.reset();
}

void QbxCursor::attach(QbxPage* page, QbxEntry* current) {
  page_ = page;
  current_ = current;
  next_ = page->cursors;
  page->cursors = this;
}

void QbxCursor::unlinkFromPage() {
  for (QbxCursor** link = &page_->cursors; *link != nullptr; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
  page_ = nullptr;
  current_ = nullptr;
  next_ = nullptr;
  upperBound_.reset();
}

void QbxCursor::set(EntryPtr entry, bool insertFirst) {
  if (page_ != nullptr) {
    unlinkFromPage();
  } else {
    keyCopy_.reset();
  }
  if (insertFirst && entry != nullptr) {
    EntryPtr key = copyKey(*entry);
    qbx::store::insert(*store_, std::move(entry));
    entry = std::move(key);
  }
  keyCopy_ = std::move(entry);
}

QbxEntry* QbxCursor::fetch() {
  if (store_->refreshHeader(true) != 0) raiseInternalError(kErrCursorFetchRefresh);
  if (page_ == nullptr) {
    if (keyCopy_ == nullptr) return nullptr;
    const Located found = locate(*store_, *keyCopy_, &upperBound_);
    keyCopy_.reset();
    attach(found.leaf, found.entry);
  }
  if (current_ != nullptr && current_->keyLength == 0) current_ = nullptr;
  return current_;
}

bool QbxCursor::fitsAfterCurrent(const QbxEntry& e) const {
  if (current_ == nullptr || compareEntries(e, *current_) <= 0) return false;
  if (const QbxEntry* after = inTreeSuccessor(current_)) return compareEntries(e, *after) < 0;
  return upperBound_ == nullptr || compareEntries(e, *upperBound_) < 0;
}

void QbxCursor::insert(EntryPtr entry) {
  if (store_->readerMode()) raiseInternalError(kErrCursorInsertReaderMode);
  if (store_->refreshHeader(true) != 0) raiseInternalError(kErrCursorInsertRefresh);
  if (page_ != nullptr && fitsAfterCurrent(*entry)) {
    QbxPage* page = page_;
    QbxEntry* raw = entry.get();
    inPageInsert(page->tree, raw);
    (void)entry.release();
    store_->setChanged();
    store_->markDirty(page);
    page->sizeEstimate += raw->totalLength + format::kEntryOverhead;
    if (!needsSplit(*page)) {
      current_ = raw;
      return;
    }
    splitIfNeeded(*store_, page);
    set(copyKey(*raw), false);
    (void)fetch();
    return;
  }
  EntryPtr key = copyKey(*entry);
  qbx::store::insert(*store_, std::move(entry));
  set(std::move(key), false);
  (void)fetch();
}

void QbxCursor::remove() {
  if (page_ == nullptr) (void)fetch();
  QbxEntry* p = current_;
  // The empty-key entry is never removed.
  if (page_ == nullptr || p == nullptr || p->keyLength == 0) return;
  if (QbxEntry* q = inTreePredecessor(p)) {
    if (store_->readerMode()) raiseInternalError(kErrCursorMarkPageReaderMode);
    QbxEntry* parent = p->parent;
    if (parent != nullptr && parent->left != p && parent->right != p) {
      raiseInternalError(kErrCursorDeleteParentLink);
    }
    QbxPage* page = page_;
    current_ = q;
    const std::uint32_t cost = p->totalLength + format::kEntryOverhead;
    page->sizeEstimate = page->sizeEstimate >= cost + format::kEmptyPageEstimate
                             ? page->sizeEstimate - cost
                             : format::kEmptyPageEstimate;
    QbxEntry* replacement = removalReplacement(p);
    if (parent == nullptr) {
      page->tree = replacement;
    } else if (parent->left == p) {
      parent->left = replacement;
    } else {
      parent->right = replacement;
    }
    if (replacement != nullptr) replacement->parent = parent;
    for (QbxEntry* a = parent; a != nullptr; a = a->parent) --a->count;
    // Every other cursor on the page finds its place again by key.
    QbxCursor* others = page->cursors;
    page->cursors = nullptr;
    for (QbxCursor* c = others; c != nullptr;) {
      QbxCursor* following = c->next_;
      if (c == this) {
        next_ = nullptr;
        page->cursors = this;
      } else {
        c->keepKeyAndLeavePage();
      }
      c = following;
    }
    markPage();
    freeEntry(p);
    return;
  }
  // The first entry of its page: the tree removes it (its page is the most
  // recently used, so no walk trims it first), then the cursor moves to the
  // entry before it, found by key.
  const EntryPtr key = copyKey(*p);
  set(nullptr, false);
  deleteEntry(*store_, p);
  QbxEntry* before = previous(*store_, *key);
  set(before != nullptr ? copyKey(*before) : newEntry(0, 0), false);
}

void QbxCursor::markPage() {
  if (store_->readerMode()) raiseInternalError(kErrCursorMarkPageReaderMode);
  if (page_ != nullptr) store_->markDirty(page_);
}

}  // namespace qbx::store
