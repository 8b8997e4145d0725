#include "qbx/store/page_cache.h"

namespace qbx::store {

std::uint64_t LogMap::positionOf(std::uint64_t home) const {
  if (positions_.empty() || home > UINT32_MAX) return home;
  const auto it = positions_.find(static_cast<std::uint32_t>(home));
  return it == positions_.end() ? home : it->second;
}

PageCache::~PageCache() {
  for (QbxPage*& head : buckets_) {
    while (head != nullptr) {
      QbxPage* page = head;
      head = page->hashNext;
      delete page;
    }
  }
}

QbxPage* PageCache::find(std::int32_t number) const {
  for (QbxPage* page = buckets_[bucketOf(number)]; page != nullptr; page = page->hashNext) {
    if (page->number == number) return page;
  }
  return nullptr;
}

QbxPage* PageCache::create(QbxStore* store, std::int32_t number) {
  auto* page = new QbxPage;
  page->store = store;
  page->number = number;
  page->created = useClock_;
  QbxPage*& head = buckets_[bucketOf(number)];
  page->hashNext = head;
  head = page;
  return page;
}

void PageCache::unhash(QbxPage* page) {
  for (QbxPage** link = &buckets_[bucketOf(page->number)]; *link != nullptr;
       link = &(*link)->hashNext) {
    if (*link == page) {
      *link = page->hashNext;
      page->hashNext = nullptr;
      return;
    }
  }
}

void PageCache::renumber(QbxPage* page, std::int32_t number) {
  unhash(page);
  page->number = number;
  QbxPage*& head = buckets_[bucketOf(number)];
  page->hashNext = head;
  head = page;
}

void PageCache::destroy(QbxPage* page) {
  unhash(page);
  if (page->ringNext != nullptr) {
    if (page->dirty) {
      ringRemove(dirtyHead_, page);
      --dirtyCount_;
    } else {
      ringRemove(cleanHead_, page);
      --cleanCount_;
    }
  }
  delete page;
}

void PageCache::touch(QbxPage* page) {
  ++useClock_;
  page->lastUse = useClock_;
  ++cleanCount_;
  ringInsertLast(cleanHead_, page);
}

void PageCache::takeOutOfCleanRing(QbxPage* page) {
  if (page->ringNext == nullptr) return;
  ringRemove(cleanHead_, page);
  --cleanCount_;
}

void PageCache::appendToDirtyRing(QbxPage* page) {
  ringInsertLast(dirtyHead_, page);
  ++dirtyCount_;
}

void PageCache::ringInsertLast(QbxPage*& head, QbxPage* page) {
  if (head == nullptr) {
    page->ringNext = page;
    page->ringPrev = page;
    head = page;
    return;
  }
  QbxPage* last = head->ringPrev;
  page->ringNext = head;
  page->ringPrev = last;
  last->ringNext = page;
  head->ringPrev = page;
}

void PageCache::ringRemove(QbxPage*& head, QbxPage* page) {
  if (page->ringNext == page) {
    head = nullptr;
  } else {
    page->ringPrev->ringNext = page->ringNext;
    page->ringNext->ringPrev = page->ringPrev;
    if (head == page) head = page->ringNext;
  }
  page->ringNext = nullptr;
  page->ringPrev = nullptr;
}

}  // namespace qbx::store
