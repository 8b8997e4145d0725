// The store's pages: fetching through the cache (reading and decoding when
// needed), marking dirty, discarding, trimming the clean ring, and the
// temporary numbers of pages that have no slot yet.
#include <vector>

#include "qbx/store/cursor.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"
#include "qbx/store/page_codec.h"
#include "qbx/store/page_tree.h"
#include "qbx/store/slot_allocator.h"
#include "qbx/store/store.h"

namespace qbx::store {
namespace {

// The cache keeps at least this many clean pages, and never more than
// kCleanLimit - 1 after a trim.
constexpr std::uint32_t kCleanKeep = 20;
constexpr std::uint32_t kCleanLimit = 100;
// A clean page is cold when it has gone unused for this many times its
// share of the cache's life.
constexpr std::uint32_t kColdFactor = 4;

}  // namespace

QbxPage* QbxStore::getPage(std::int32_t number) {
  trimCache();
  QbxPage* page = cache_.find(number);
  if (page == nullptr) {
    // A temporary number that is not cached can only be the root of a tree
    // that is being started; anything else is a damaged reference.
    if (number < 0 && number != header_.rootPage()) raiseInternalError(kErrPageOutsideRegions);
    page = cache_.create(this, number);
    cache_.touch(page);
  }
  if (!page->decoded) {
    if (number < 0) {
      // The root page of a new file: an empty tree holding the empty-key entry.
      page->decoded = true;
      page->tree = nullptr;
      PagePin pin(page);
      insert(*this, newEntry(0, 0));
    } else {
      readPage(page);
    }
  }
  if (!page->dirty) {
    cache_.takeOutOfCleanRing(page);
    cache_.touch(page);
  }
  return page;
}

void QbxStore::readPage(QbxPage* page) {
  const int sizeClass = classOf(*this, page->number);
  const std::uint32_t slot = static_cast<std::uint32_t>(sizeClass) * format::kPageUnit;
  if (page->image.size() != slot) {
    page->image.assign(slot, 0);
    const std::uint64_t home = format::pageOffset(page->number);
    disk_.readExact(cache_.logMap().positionOf(home), page->image);
  }
  decodePage(*page, page->image, slot);
  std::vector<std::uint8_t>().swap(page->image);
}

QbxPage* QbxStore::createPage(std::int32_t number, std::uint8_t level) {
  QbxPage* page = cache_.create(this, number);
  page->decoded = true;
  page->level = level;
  markDirty(page);
  return page;
}

void QbxStore::markDirty(QbxPage* page) {
  if (page->dirty) return;
  changed_ = true;
  cache_.takeOutOfCleanRing(page);
  cache_.appendToDirtyRing(page);
  page->dirty = true;
}

void QbxStore::discardPage(QbxPage* page) {
  detachCursors(page);
  freeTree(page->tree);
  page->tree = nullptr;
  cache_.destroy(page);
}

void QbxStore::dropCache() {
  while (QbxPage* page = cache_.leastRecentlyUsed()) discardPage(page);
  while (QbxPage* page = cache_.firstDirty()) discardPage(page);
  cache_.logMap().clear();
}

void QbxStore::trimCache() {
  QbxPage* candidate = cache_.leastRecentlyUsed();
  while (candidate != nullptr && cache_.cleanCount() >= kCleanKeep) {
    if (candidate->pins > 0) {
      candidate = cache_.nextClean(candidate);
      continue;
    }
    const std::uint32_t count = cache_.cleanCount();
    const std::uint32_t clock = cache_.useClock();
    const auto idle = static_cast<std::int32_t>(clock - candidate->lastUse);
    const auto share = static_cast<std::int32_t>(kColdFactor * ((clock - candidate->created) / count));
    if (count < kCleanLimit && idle < share) return;
    QbxPage* next = cache_.nextClean(candidate);
    discardPage(candidate);
    candidate = next;
  }
}

std::int32_t QbxStore::nextTemporaryPageNumber() {
  // Counted down in unsigned arithmetic so that the counter never overflows.
  temporaryCounter_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(temporaryCounter_) - 1u);
  return temporaryCounter_;
}

}  // namespace qbx::store
