// Key upkeep on ADD, APPEND, PUT and DELETE, with the exact undo of a change
// that would give a unique key a value it already holds.
#include <algorithm>

#include "qbx/records/entry_keys.h"
#include "qbx/records/key_value.h"
#include "qbx/records/result_codes.h"
#include "qbx/records/table_keys.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"

namespace qbx::records {
namespace {

bool sameKey(const EntryBuffer& a, const EntryBuffer& b) {
  return store::compareKeys(a.key(), b.key()) == 0;
}

}  // namespace

int TableKeys::maintain(std::span<const std::uint8_t> newImage,
                        std::span<const std::uint8_t> oldImage, std::uint32_t n, bool defer) {
  std::fill(changes_.begin(), changes_.end(), Change{});
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    const QbxKeyDef& key = *k.def;
    if (key.isDynamic()) continue;
    const bool lazy = key.isIndex() || defer;
    std::uint32_t mark = 0;
    if (lazy) {
      mark = k.status->counter2();
      // Already out of date from an earlier record.
      if (mark != 0 && n >= mark) continue;
    }
    const bool hasOld = !oldImage.empty() && !blankForOpt(table_, key, oldImage);
    const bool hasNew = !newImage.empty() && !blankForOpt(table_, key, newImage);
    if (hasOld && hasNew) {
      formEntry(key, oldImage, n, oldEntry_);
      formEntry(key, newImage, n, newEntry_);
      if (sameKey(oldEntry_, newEntry_)) continue;
    }
    Change& change = changes_[i];
    if (lazy) {
      // A deferred key only learns where its entries start to be stale; a
      // lone image need not be formed for that.
      change.marked = true;
      change.oldMark = mark;
      static_cast<void>(k.status->markOutOfDate(n, true));
      continue;
    }
    std::int64_t delta = 0;
    if (hasNew) {
      if (!hasOld) formEntry(key, newImage, n, newEntry_);
      if (!key.isDup() && store::find(*k.store, newEntry_.entry()) != nullptr) {
        undo(i, newImage, oldImage, n);
        return kErrCreatesDuplicateKey;
      }
      store::insert(*k.store, newEntry_.copy());
      change.inserted = true;
      delta = 1;
    }
    if (hasOld) {
      if (!hasNew) formEntry(key, oldImage, n, oldEntry_);
      store::QbxEntry* old = store::find(*k.store, oldEntry_.entry());
      // Only the record's own entry goes; an entry of the value that another
      // record holds stays (and then nothing was deleted to count).
      if (old != nullptr && trailingRecordNumber(old->all()) == n) {
        store::deleteEntry(*k.store, old);
        change.deleted = true;
        delta -= 1;
      }
    }
    if (delta != 0) {
      change.counted = true;
      change.oldCount = k.status->counter1();
      static_cast<void>(k.status->addToCounter(delta, true));
    }
  }
  return kOk;
}

void TableKeys::undo(std::size_t upTo, std::span<const std::uint8_t> newImage,
                     std::span<const std::uint8_t> oldImage, std::uint32_t n) {
  // Keys are put back in declaration order, each exactly as it was: the
  // entry inserted goes, the entry deleted comes back, the counter and the
  // mark return to their values.
  for (std::size_t i = 0; i < upTo; ++i) {
    const Change& change = changes_[i];
    Key& k = keys_[i];
    const QbxKeyDef& key = *k.def;
    if (change.marked) k.status->setCounter2(change.oldMark);
    if (change.counted) static_cast<void>(k.status->addToCounter(change.oldCount, false));
    if (change.inserted) {
      formEntry(key, newImage, n, newEntry_);
      if (store::QbxEntry* e = store::find(*k.store, newEntry_.entry()); e != nullptr) {
        store::deleteEntry(*k.store, e);
      }
    }
    if (change.deleted) {
      formEntry(key, oldImage, n, oldEntry_);
      store::insert(*k.store, oldEntry_.copy());
    }
  }
}

}  // namespace qbx::records
