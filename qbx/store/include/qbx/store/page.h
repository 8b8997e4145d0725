// QbxPage: one cached page of a store: its in-memory tree of entries, its
// place in the cache, and the cursors standing on it.
#pragma once

#include <cstdint>
#include <vector>

#include "qbx/store/entry.h"
#include "qbx/store/format.h"

namespace qbx::store {

class QbxCursor;
class QbxStore;

struct QbxPage {
  QbxEntry* tree = nullptr;  // root of the page's entries (none: empty)
  bool decoded = false;      // the tree is valid (false until read and decoded)
  QbxStore* store = nullptr;
  std::int32_t number = 0;          // negative: a temporary number, no slot yet
  std::vector<std::uint8_t> image;  // encoded bytes while being read or written
  QbxPage* hashNext = nullptr;
  QbxPage* ringNext = nullptr;  // clean ring or dirty ring
  QbxPage* ringPrev = nullptr;
  std::uint32_t lastUse = 0;
  std::uint32_t created = 0;
  std::uint32_t sizeEstimate = format::kEmptyPageEstimate;
  bool dirty = false;
  std::uint8_t level = 0;
  QbxCursor* cursors = nullptr;
  // Pages on a path being walked: trimming the cache passes over them.
  int pins = 0;

  std::int32_t entryCount() const { return tree == nullptr ? 0 : tree->count; }
  bool isLeaf() const { return level == 0; }
};

// Keeps a page in the cache while a walk still needs it.
class PagePin {
 public:
  explicit PagePin(QbxPage* page) : page_(page) { ++page_->pins; }
  ~PagePin() { --page_->pins; }
  PagePin(const PagePin&) = delete;
  PagePin& operator=(const PagePin&) = delete;

 private:
  QbxPage* page_;
};

}  // namespace qbx::store
