// QbxCursor: a position in a store's entry tree that lasts between
// operations. Attached, it stands on an entry of a cached leaf page;
// detached (after splits, removals in its page, or the page leaving the
// cache), it keeps a key-only copy of that entry and finds its place again by
// key at the next fetch.
#pragma once

#include "qbx/store/entry.h"
#include "qbx/store/page.h"

namespace qbx::store {

class QbxStore;

class QbxCursor {
 public:
  explicit QbxCursor(QbxStore& store) : store_(&store) {}
  ~QbxCursor();
  QbxCursor(const QbxCursor&) = delete;
  QbxCursor& operator=(const QbxCursor&) = delete;

  // Places the cursor, detached, on a key (none: nowhere). With insert, the
  // entry is first inserted into the tree and the cursor keeps a copy of its key.
  void set(EntryPtr entry, bool insert);
  void release() { set(nullptr, false); }

  // The entry the cursor stands on, found again by key when detached; none
  // for the empty-key entry or a key that has gone. A failed header refresh
  // is internal error 256.
  QbxEntry* fetch();

  // Inserts an entry and stands on it. An attached cursor inserts straight
  // into its leaf when the key lies between its entry and the next one (the
  // cheap path of sequential appends); otherwise the entry is inserted from
  // the root. Reader mode is internal error 231, a failed refresh 232.
  void insert(EntryPtr entry);

  // Removes the entry the cursor stands on; the cursor then stands on the
  // entry before it.
  void remove();

  // Marks the cursor's page dirty (reader mode: internal error 337).
  void markPage();

  bool attached() const { return page_ != nullptr; }
  QbxPage* page() const { return page_; }

 private:
  friend void detachCursors(QbxPage* page);
  void attach(QbxPage* page, QbxEntry* current);
  // Detached state with a copy of the current key; the page's list is the
  // caller's business.
  void keepKeyAndLeavePage();
  void unlinkFromPage();
  // Whether an attached insert of e may go straight into the cursor's leaf.
  bool fitsAfterCurrent(const QbxEntry& e) const;

  QbxStore* store_;
  QbxPage* page_ = nullptr;
  QbxCursor* next_ = nullptr;    // next cursor on the same page
  QbxEntry* current_ = nullptr;  // attached: an entry of page_'s tree, or none
  EntryPtr keyCopy_;             // detached: the key the cursor stands on, or none
  EntryPtr upperBound_;          // attached: the first key beyond page_'s range, or none
};

// Detaches every cursor standing on the page; each keeps a copy of its key.
void detachCursors(QbxPage* page);

}  // namespace qbx::store
