// Data records of an open table: add, fetch, replace and remove, with the
// record locks of HOLD, PUT and DELETE and the change test of WATCH.
#include <algorithm>
#include <cstring>

#include "platform/endian.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/key_value.h"
#include "qbx/records/qbx_table.h"
#include "qbx/records/record_oem.h"
#include "qbx/records/result_codes.h"
#include "qbx/records/table_names.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::records {

bool QbxTable::isDataRecord(const store::QbxEntry* entry) const {
  if (entry == nullptr || entry->keyLength != kDataRecordKeySize) return false;
  const std::span<const std::uint8_t> k = entry->key();
  return platform::loadBe32(k, 0) == def_.tableNumber && k[kKindOffset] == kKindDataRecord;
}

store::QbxEntry* QbxTable::findRecord(std::uint32_t n) {
  search_.setKey(dataRecordKey(def_.tableNumber, n));
  return store::find(*use_, search_.entry());
}

void QbxTable::loadImage(const store::QbxEntry& record, std::span<std::uint8_t> out) const {
  // A stored image of another length than the record's is read as far as
  // both go; the rest of the record is zero.
  const std::span<const std::uint8_t> data = record.data();
  const std::size_t n = std::min(data.size(), out.size());
  std::copy_n(data.begin(), n, out.begin());
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), std::uint8_t{0});
  if (def_.isOem()) recordFromOem(def_, out);
}

store::EntryPtr QbxTable::recordEntry(std::uint32_t n) const {
  store::EntryPtr e = store::newEntry(kDataRecordKeySize, def_.recordLength);
  const auto key = dataRecordKey(def_.tableNumber, n);
  std::copy(key.begin(), key.end(), e->bytes());
  const std::span<std::uint8_t> data = e->data();
  if (!data.empty()) std::memcpy(data.data(), def_.recordBuffer, data.size());
  if (def_.isOem()) recordToOem(def_, data);
  return e;
}

int QbxTable::add(bool deferKeys) {
  store::QbxStore& s = *use_;
  s.enterWriterMode();
  if (memos_ != nullptr) {
    if (const int error = memos_->check(); error != 0) return error;
  }
  // A failed add still uses up its number: numbers are never given twice.
  const std::uint32_t n = drawNumber(s);
  const std::span<const std::uint8_t> image = recordBuffer();
  if (const int error = keys_->maintain(image, {}, n, deferKeys); error != 0) return error;
  forgetCurrent();
  std::copy(image.begin(), image.end(), lastRead_.begin());
  // Sequential adds go straight into the leaf of the previous one.
  insertCursor_->insert(recordEntry(n));
  current_ = n;
  if (!status_->addToCounter(1, true)) {
    // The table was removed meanwhile (by another program): what this add
    // left of it goes too.
    dropTableEntries(s, def_.tableNumber);
    keys_->resetAllDynamic();
    current_ = 0;
    return kErrAccessDenied;
  }
  if (memos_ != nullptr) return memos_->write(n);
  return kOk;
}

int QbxTable::fetch(const store::QbxEntry* entry) {
  forgetCurrent();
  if (entry == nullptr) return kErrRecordNotFound;
  const store::QbxEntry* record = entry;
  std::uint32_t n = 0;
  if (isDataRecord(entry)) {
    n = platform::loadBe32(entry->key(), kTablePrefixSize);
  } else {
    // A key entry names its record by the number that ends it.
    n = trailingRecordNumber(entry->all());
    record = findRecord(n);
    if (record == nullptr) return kErrRecordNotFound;
  }
  if ((flags_ & kHoldRequested) != 0) {
    if (use_->diskFile().lockRecord(n) != 0) return kErrRecordHeld;
    flags_ |= kHeld;
  }
  const std::span<std::uint8_t> buffer = recordBuffer();
  loadImage(*record, buffer);
  std::copy(buffer.begin(), buffer.end(), lastRead_.begin());
  current_ = n;
  if ((flags_ & kWatchRequested) != 0) {
    flags_ |= kWatching;
    if (memos_ != nullptr) memos_->watch(n);
  }
  return kOk;
}

int QbxTable::afterProgramFetch(int result) {
  if (result == kOk) {
    if ((flags_ & kNoMemoRequested) != 0) {
      flags_ |= kMemosNotLoaded;
    } else if (memos_ != nullptr) {
      result = memos_->load(current_);
    }
  }
  // A record held elsewhere keeps the requests for the retry.
  if (result != kErrRecordHeld) clearRequests();
  return result;
}

int QbxTable::fetchForProgram(const store::QbxEntry* entry) {
  return afterProgramFetch(fetch(entry));
}

int QbxTable::getByNumber(std::uint32_t recordNumber) {
  return fetchForProgram(findRecord(recordNumber));
}

int QbxTable::getByKey(const QbxKeyDef& key) {
  return fetchForProgram(keys_->findByValue(key, recordBuffer()));
}

int QbxTable::getByPosition(const QbxKeyDef& key, std::span<const std::uint8_t> position) {
  return fetchForProgram(keys_->findByPosition(key, position));
}

int QbxTable::replace(std::uint32_t recordNumber) {
  releaseHold();
  flags_ &= static_cast<std::uint16_t>(~kWatching);
  current_ = recordNumber;
  return replace();
}

int QbxTable::replace() {
  store::QbxStore& s = *use_;
  s.enterWriterMode();
  if (current_ == 0) {
    flags_ &= static_cast<std::uint16_t>(~kWatching);
    return kErrRecordNotAvailable;
  }
  const std::uint32_t n = current_;
  if (memos_ != nullptr && (flags_ & kMemosNotLoaded) == 0) {
    if (const int error = memos_->check(); error != 0) {
      flags_ &= static_cast<std::uint16_t>(~kWatching);
      return error;
    }
  }
  if ((flags_ & kHeld) == 0) {
    if (s.diskFile().lockRecord(n) != 0) {
      flags_ &= static_cast<std::uint16_t>(~kWatching);
      return kErrAccessDenied;
    }
    flags_ |= kHeld;
  }
  const int result = replaceLocked(n);
  flags_ &= static_cast<std::uint16_t>(~kWatching);
  releaseHold();
  return result;
}

int QbxTable::replaceLocked(std::uint32_t n) {
  store::QbxStore& s = *use_;
  const store::QbxEntry* record = findRecord(n);
  if (record == nullptr) return kErrRecordNotAvailable;
  loadImage(*record, scratch_);
  if ((flags_ & kWatching) != 0) {
    if (!std::equal(scratch_.begin(), scratch_.end(), lastRead_.begin()) ||
        (memos_ != nullptr && memos_->changedSinceWatch(n))) {
      return kErrRecordChanged;
    }
  }
  const std::span<const std::uint8_t> buffer = recordBuffer();
  if (!std::equal(buffer.begin(), buffer.end(), scratch_.begin())) {
    if (const int error = keys_->maintain(buffer, scratch_, n, false); error != 0) return error;
    std::copy(buffer.begin(), buffer.end(), lastRead_.begin());
    // The new image takes the old one's place: same key, same length, so
    // the entry is rewritten where it stands.
    search_.setKey(dataRecordKey(def_.tableNumber, n));
    const store::Located at = store::locate(s, search_.entry());
    if (at.entry != nullptr && at.entry->data().size() == buffer.size()) {
      const std::span<std::uint8_t> data = at.entry->data();
      std::copy(buffer.begin(), buffer.end(), data.begin());
      if (def_.isOem()) recordToOem(def_, data);
      s.markDirty(at.leaf);
    } else {
      if (at.entry != nullptr) store::deleteEntry(s, at.entry);
      store::insert(s, recordEntry(n));
    }
  }
  if ((flags_ & kMemosNotLoaded) == 0 && memos_ != nullptr) return memos_->write(n);
  return kOk;
}

int QbxTable::remove() {
  store::QbxStore& s = *use_;
  s.enterWriterMode();
  if (current_ == 0) return kErrRecordNotAvailable;
  const std::uint32_t n = current_;
  if ((flags_ & kHeld) == 0) {
    if (s.diskFile().lockRecord(n) != 0) return kErrRecordNotAvailable;
    flags_ |= kHeld;
  }
  store::QbxEntry* record = findRecord(n);
  if (record == nullptr) {
    releaseHold();
    return kErrRecordNotAvailable;
  }
  // The old key values are formed from the same text as when they were
  // added: the image converted back from OEM.
  loadImage(*record, lastRead_);
  store::deleteEntry(s, record);
  static_cast<void>(keys_->maintain({}, lastRead_, n, false));
  static_cast<void>(status_->addToCounter(-1, true));
  if (memos_ != nullptr) memos_->remove(n);
  forgetCurrent();
  return kOk;
}

void QbxTable::position(const QbxKeyDef* key, std::string& out) const {
  const std::size_t valueLength = key != nullptr ? key->valueLength : 0;
  out.assign(kRecordNumberSize + valueLength, '\0');
  const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(out.data()), out.size());
  platform::storeBe32(bytes, 0, current_);
  if (key != nullptr && keys_->owns(*key)) {
    formKeyValue(def_, *key, lastRead_, bytes.subspan(kRecordNumberSize));
  }
}

bool QbxTable::isDuplicate(const QbxKeyDef& key, std::uint32_t exclude) {
  return keys_->duplicate(key, recordBuffer(), exclude) == 1;
}

bool QbxTable::anyDuplicate(std::uint32_t exclude) {
  for (const QbxKeyDef& key : def_.keys) {
    if (isDuplicate(key, exclude)) return true;
  }
  return false;
}

}  // namespace qbx::records
