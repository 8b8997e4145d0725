// The reading position of an open table: the SET family and the step of
// NEXT, PREVIOUS, SKIP, EOF and BOF through the nine position states.
#include <algorithm>
#include <array>

#include "platform/endian.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/qbx_table.h"
#include "qbx/records/result_codes.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"

namespace qbx::records {
namespace {

// The record number at the head of a position text, read as if a text
// shorter than 4 bytes were padded with zero bytes.
std::uint32_t positionNumber(std::span<const std::uint8_t> position) {
  std::array<std::uint8_t, kRecordNumberSize> number{};
  std::copy_n(position.begin(), std::min(position.size(), number.size()), number.begin());
  return platform::loadBe32(number, 0);
}

bool forward(Direction d) { return d == Direction::kForward; }

}  // namespace

// --- SET family ------------------------------------------------------------------

void QbxTable::setFile() {
  state_ = PositionState::kFileEnds;
  positionKey_ = nullptr;
}

void QbxTable::setFileRecord(std::uint32_t recordNumber) {
  if (recordNumber == 0) {
    setFile();
    return;
  }
  state_ = PositionState::kFileRecord;
  positionKey_ = nullptr;
  positionRecord_ = recordNumber;
  position_.setKey(dataRecordKey(def_.tableNumber, recordNumber));
}

void QbxTable::resetFile(std::span<const std::uint8_t> position) {
  state_ = PositionState::kFileRecord;
  positionKey_ = nullptr;
  positionRecord_ = positionNumber(position);
  position_.setKey(dataRecordKey(def_.tableNumber, positionRecord_));
}

void QbxTable::setFileByKey(const QbxKeyDef& key) {
  state_ = PositionState::kFileByKey;
  positionKey_ = &key;
  keys_->formEntry(key, recordBuffer(), 0, position_);
}

void QbxTable::setKey(const QbxKeyDef& key) {
  state_ = PositionState::kKeyEnds;
  positionKey_ = &key;
}

void QbxTable::setKeyValue(const QbxKeyDef& key) {
  state_ = PositionState::kKeyValue;
  positionKey_ = &key;
  keys_->formEntry(key, recordBuffer(), 0, position_);
}

void QbxTable::setKeyRecord(const QbxKeyDef& key, std::uint32_t recordNumber) {
  if (recordNumber == 0) {
    setKey(key);
    return;
  }
  state_ = PositionState::kKeyRecord;
  positionKey_ = &key;
  positionRecord_ = recordNumber;
  keys_->formEntry(key, recordBuffer(), recordNumber, position_);
}

void QbxTable::setKeyValueRecord(const QbxKeyDef& key, std::uint32_t recordNumber) {
  state_ = PositionState::kKeyValueRecord;
  positionKey_ = &key;
  keys_->formEntry(key, recordBuffer(), recordNumber, position_);
}

void QbxTable::resetKey(const QbxKeyDef& key, std::span<const std::uint8_t> position) {
  state_ = PositionState::kKeyValueRecord;
  positionKey_ = &key;
  const std::span<std::uint8_t> out = position_.shape(key.entryKeyLength(), key.entryDataLength());
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  putTablePrefix(out, def_.tableNumber, key.keyNumber);
  // The value follows the record number for the key's value length; what a
  // short text lacks reads as zero bytes.
  if (position.size() > kRecordNumberSize) {
    const std::span<const std::uint8_t> value = position.subspan(kRecordNumberSize);
    std::copy_n(value.begin(), std::min<std::size_t>(value.size(), key.valueLength),
                out.begin() + kTablePrefixSize);
  }
  platform::storeBe32(out, out.size() - kRecordNumberSize, positionNumber(position));
}

// --- Candidates ----------------------------------------------------------------------

const store::QbxEntry* QbxTable::nextRecord(std::span<const std::uint8_t> key,
                                            Direction direction) {
  search_.setKey(key);
  const store::QbxEntry* e = forward(direction) ? store::next(*use_, search_.entry())
                                                : store::previous(*use_, search_.entry());
  return isDataRecord(e) ? e : nullptr;
}

const store::QbxEntry* QbxTable::endRecord(Direction direction) {
  if (forward(direction)) {
    return nextRecord(tablePrefix(def_.tableNumber, kKindDataRecord), direction);
  }
  return nextRecord(tablePrefix(def_.tableNumber, kKindDataRecord + 1), direction);
}

QbxTable::Candidate QbxTable::findCandidate(Direction direction) {
  const bool fwd = forward(direction);
  const QbxKeyDef* key = positionKey_;
  switch (state_) {
    case PositionState::kFileAt:
      return {nextRecord(position_.key(), direction), false};
    case PositionState::kFileEnds:
      return {endRecord(direction), false};
    case PositionState::kFileRecord: {
      if (const store::QbxEntry* e = findRecord(positionRecord_); e != nullptr) return {e, false};
      if (const store::QbxEntry* e = nextRecord(position_.key(), direction); e != nullptr) {
        return {e, false};
      }
      return {endRecord(Direction::kBackward), false};
    }
    case PositionState::kKeyAt:
      return {fwd ? keys_->after(*key, position_.key()) : keys_->before(*key, position_.key()),
              true};
    case PositionState::kFileByKey:
    case PositionState::kKeyValue: {
      // From the value in the record buffer: the lowest record number of a
      // DUP value forward, the highest backward.
      const std::span<std::uint8_t> bytes = position_.bytes();
      std::fill(bytes.end() - kRecordNumberSize, bytes.end(),
                fwd ? std::uint8_t{0} : std::uint8_t{0xFF});
      if (!key->isDup()) {
        if (const store::QbxEntry* e = keys_->equal(*key, position_.key()); e != nullptr) {
          return {e, true};
        }
      }
      return {fwd ? keys_->after(*key, position_.key()) : keys_->before(*key, position_.key()),
              true};
    }
    case PositionState::kKeyEnds:
      return {fwd ? keys_->first(*key) : keys_->last(*key), true};
    case PositionState::kKeyValueRecord: {
      if (const store::QbxEntry* e = keys_->equal(*key, position_.key()); e != nullptr) {
        return {e, true};
      }
      return {fwd ? keys_->after(*key, position_.key()) : keys_->before(*key, position_.key()),
              true};
    }
    case PositionState::kKeyRecord: {
      if (const store::QbxEntry* e = findRecord(positionRecord_); e != nullptr) return {e, false};
      return {keys_->last(*key), true};
    }
    case PositionState::kNone:
      break;
  }
  return {};
}

// --- Moving --------------------------------------------------------------------------

void QbxTable::keepCandidate(const Candidate& p) {
  // The candidate is copied before anything else walks the tree: a fetch
  // may trim its page from the cache.
  const store::QbxEntry& e = *p.entry;
  if (p.keyEntry) {
    const std::span<std::uint8_t> out = candidate_.shape(e.keyLength, e.totalLength - e.keyLength);
    std::copy(e.all().begin(), e.all().end(), out.begin());
    candidateNumber_ = trailingRecordNumber(e.all());
  } else {
    candidate_.setKey(e.key());
    candidateNumber_ = platform::loadBe32(e.key(), kTablePrefixSize);
    // From state 8 the position becomes the key entry of the record found,
    // formed from its image.
    if (state_ == PositionState::kKeyRecord) loadImage(e, scratch_);
  }
  candidateIsKey_ = p.keyEntry;
}

void QbxTable::moveToCandidate(PositionState from) {
  if (from == PositionState::kFileByKey) {
    // File order from the record the key entry names.
    position_.setKey(dataRecordKey(def_.tableNumber, candidateNumber_));
    state_ = PositionState::kFileAt;
    return;
  }
  if (from == PositionState::kKeyRecord && !candidateIsKey_) {
    keys_->formEntry(*positionKey_, scratch_, candidateNumber_, position_);
    state_ = PositionState::kKeyAt;
    return;
  }
  // Otherwise the place is the candidate's own key (also for a key entry
  // whose record has gone: never a key formed from a buffer that the failed
  // fetch did not fill).
  const std::span<std::uint8_t> out = position_.shape(
      candidate_.entry().keyLength, candidate_.bytes().size() - candidate_.entry().keyLength);
  std::copy(candidate_.bytes().begin(), candidate_.bytes().end(), out.begin());
  state_ = candidateIsKey_ ? PositionState::kKeyAt : PositionState::kFileAt;
}

int QbxTable::step(StepMode mode, Direction direction) {
  for (;;) {
    if (state_ == PositionState::kNone ||
        (positionKey_ == nullptr && state_ != PositionState::kFileAt &&
         state_ != PositionState::kFileEnds && state_ != PositionState::kFileRecord) ||
        (positionKey_ != nullptr && !keys_->owns(*positionKey_))) {
      // No position to step from (the operation layer refuses such steps).
      if (mode == StepMode::kTest) return 1;
      clearRequests();
      return kErrRecordNotAvailable;
    }
    const Candidate p = findCandidate(direction);
    if (mode == StepMode::kTest) return p.entry == nullptr ? 1 : 0;
    if (p.entry == nullptr) {
      clearRequests();
      return kErrRecordNotAvailable;
    }
    const PositionState from = state_;
    keepCandidate(p);
    if (mode == StepMode::kFetch) {
      const int result = fetch(p.entry);
      if (result == kErrRecordNotFound) {
        // A key entry whose record has gone is passed over.
        moveToCandidate(from);
        continue;
      }
      if (result == kErrRecordHeld) return result;
      if (result != kOk) {
        clearRequests();
        return result;
      }
    }
    moveToCandidate(from);
    if (mode == StepMode::kFetch) return afterProgramFetch(kOk);
    clearRequests();
    return kOk;
  }
}

void QbxTable::skip(std::int32_t n) {
  const Direction direction = n >= 0 ? Direction::kForward : Direction::kBackward;
  const std::int64_t count = n >= 0 ? std::int64_t{n} : -std::int64_t{n};
  for (std::int64_t i = 0; i < count; ++i) {
    if (step(StepMode::kMove, direction) != kOk) return;
  }
}

}  // namespace qbx::records
