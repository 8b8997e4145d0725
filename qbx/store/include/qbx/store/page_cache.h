// The page cache of a store: 100 hash buckets by page number, the clean ring
// (least recently used first) and the dirty ring (in the order the pages were
// first changed), the use clock, and the log map that redirects reads of a
// pending log. It owns the QbxPage objects; what a page holds (entries,
// cursors) is the store's business.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "qbx/store/page.h"

namespace qbx::store {

// Home offset -> position in a pending log; a later pair for the same home
// replaces the earlier one, so a lookup gives the newest.
class LogMap {
 public:
  void add(std::uint32_t home, std::uint32_t position) { positions_[home] = position; }
  // The position to read a block from: its log position, else its home.
  std::uint64_t positionOf(std::uint64_t home) const;
  bool empty() const { return positions_.empty(); }
  void clear() { positions_.clear(); }

 private:
  std::unordered_map<std::uint32_t, std::uint32_t> positions_;
};

class PageCache {
 public:
  static constexpr int kBuckets = 100;

  PageCache() = default;
  ~PageCache();  // frees the page objects that are left (their contents are freed by the store)
  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // The first page filed under number, or none.
  QbxPage* find(std::int32_t number) const;
  // A new page filed at the head of its bucket, in no ring.
  QbxPage* create(QbxStore* store, std::int32_t number);
  // Files a page under another number.
  void renumber(QbxPage* page, std::int32_t number);
  // Takes a page out of its bucket and its ring and frees the object.
  void destroy(QbxPage* page);

  // Raises the use clock, stamps the page and puts it at the most recent end
  // of the clean ring.
  void touch(QbxPage* page);
  void takeOutOfCleanRing(QbxPage* page);
  void appendToDirtyRing(QbxPage* page);

  std::uint32_t useClock() const { return useClock_; }
  std::uint32_t cleanCount() const { return cleanCount_; }
  std::uint32_t dirtyCount() const { return dirtyCount_; }
  QbxPage* leastRecentlyUsed() const { return cleanHead_; }
  QbxPage* firstDirty() const { return dirtyHead_; }
  // The ring successor, or none at the ring's end.
  QbxPage* nextClean(const QbxPage* page) const {
    return page->ringNext == cleanHead_ ? nullptr : page->ringNext;
  }
  QbxPage* nextDirty(const QbxPage* page) const {
    return page->ringNext == dirtyHead_ ? nullptr : page->ringNext;
  }

  LogMap& logMap() { return logMap_; }
  const LogMap& logMap() const { return logMap_; }

 private:
  static std::size_t bucketOf(std::int32_t number) {
    return static_cast<std::uint32_t>(number) % kBuckets;
  }
  void unhash(QbxPage* page);
  static void ringInsertLast(QbxPage*& head, QbxPage* page);
  static void ringRemove(QbxPage*& head, QbxPage* page);

  QbxPage* buckets_[kBuckets] = {};
  std::uint32_t useClock_ = 0;
  QbxPage* cleanHead_ = nullptr;
  std::uint32_t cleanCount_ = 0;
  QbxPage* dirtyHead_ = nullptr;
  std::uint32_t dirtyCount_ = 0;
  LogMap logMap_;
};

}  // namespace qbx::store
