// Memo chunks of a table's records: writing a record's memos and blobs with
// the chunks already stored left alone, loading them into their buffers and
// blocks, deleting them, and the WATCH comparison of memos.
#include "qbx/records/memo_table.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/endian.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/oem.h"
#include "qbx/records/qbx_table.h"
#include "qbx/records/result_codes.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::records {
namespace {

constexpr int kErrInvalidHandle = 6;
// Table number, kind and record number: the part every chunk of one record shares.
constexpr std::size_t kRecordPrefixSize = kTablePrefixSize + kRecordNumberSize;
// ... and the memo number: every chunk of one memo.
constexpr std::size_t kMemoPrefixSize = kRecordPrefixSize + 1;

bool hasPrefix(const store::QbxEntry& e, std::span<const std::uint8_t> prefix) {
  const std::span<const std::uint8_t> k = e.key();
  return k.size() == kMemoChunkKeySize && std::equal(prefix.begin(), prefix.end(), k.begin());
}

// The first chunk at or after (memo, chunk) of the record, when it still
// belongs to the record's memo; else none.
store::QbxEntry* chunkFrom(store::QbxStore& s, std::uint32_t table, std::uint32_t n,
                           std::uint8_t memo, std::uint16_t chunk) {
  const auto key = memoChunkKey(table, n, memo, chunk);
  const store::EntryPtr search = store::makeEntry(key);
  store::QbxEntry* e = store::find(s, *search);
  if (e == nullptr) e = store::next(s, *search);
  if (e == nullptr || !hasPrefix(*e, std::span(key).first(kMemoPrefixSize))) return nullptr;
  return e;
}

}  // namespace

TableMemos::TableMemos(QbxTable& table)
    : table_(table), states_(table.def().memos.size()), insertCursor_(table.store()) {
  table_.setMemoHooks(this);
}

TableMemos::~TableMemos() {
  table_.setMemoHooks(nullptr);
  for (std::size_t i = 0; i < states_.size(); ++i) freeBlob(i);
}

bool TableMemos::converts(const QbxMemoDef& memo) const {
  return table_.def().isOem() && (memo.flags & kMemoBinary) == 0;
}

void TableMemos::freeBlob(std::size_t i) {
  if (states_[i].blob != 0) static_cast<void>(platform::globalFree(states_[i].blob));
  states_[i].blob = 0;
}

void TableMemos::clearChanged() {
  for (MemoState& st : states_) st.changed = false;
}

std::size_t TableMemos::blobSize(std::size_t i) const {
  return states_[i].blob != 0 ? platform::globalSize(states_[i].blob) : 0;
}

int TableMemos::takeBlob(std::size_t i, platform::GlobalHandle h) {
  if (h == states_[i].blob) return kOk;
  if (h != 0) {
    // globalLock is the one test that tells a known handle from an unknown one.
    if (platform::globalLock(h) == nullptr) return kErrInvalidHandle;
    static_cast<void>(platform::globalUnlock(h));
    if (platform::globalSize(h) > kMaxBlobSize) return kErrBlobTooLarge;
  }
  freeBlob(i);
  states_[i].blob = h;
  return kOk;
}

platform::GlobalHandle TableMemos::yieldBlob(std::size_t i) {
  const platform::GlobalHandle h = states_[i].blob;
  states_[i].blob = 0;
  return h;
}

int TableMemos::check() {
  const auto& memos = table_.def().memos;
  for (std::size_t i = 0; i < memos.size(); ++i) {
    if (memos[i].isBlob() && blobSize(i) > kMaxBlobSize) return kErrBlobTooLarge;
  }
  return kOk;
}

// --- Writing ---------------------------------------------------------------------

int TableMemos::write(std::uint32_t n) {
  // Refused before anything is written, also when the table did not ask.
  if (const int error = check(); error != 0) return error;
  const auto& memos = table_.def().memos;
  for (std::size_t i = 0; i < memos.size(); ++i) {
    const QbxMemoDef& memo = memos[i];
    if (memo.isBlob()) {
      const std::size_t size = blobSize(i);
      const std::uint8_t* p = size != 0 ? platform::globalLock(states_[i].blob) : nullptr;
      scratch_.assign(p, p == nullptr ? p : p + size);
      if (p != nullptr) static_cast<void>(platform::globalUnlock(states_[i].blob));
    } else {
      const auto* p = reinterpret_cast<const std::uint8_t*>(memo.buffer.get());
      std::size_t length = p != nullptr ? memo.size : 0;
      while (length > 0 && p[length - 1] == ' ') --length;
      scratch_.assign(p, p == nullptr ? p : p + length);
    }
    if (converts(memo)) charToOem(scratch_);
    writeValue(n, i, scratch_, memo.isBlob());
  }
  clearChanged();
  return kOk;
}

void TableMemos::writeValue(std::uint32_t n, std::size_t i, std::span<const std::uint8_t> value,
                            bool blob) {
  store::QbxStore& s = table_.store();
  const std::uint32_t table = table_.tableNumber();
  const auto memo = static_cast<std::uint8_t>(i);
  const std::size_t pieces = (value.size() + kMemoChunkSize - 1) / kMemoChunkSize;
  std::array<std::uint8_t, kBlobLengthSize + kMemoChunkSize> data{};
  for (std::size_t j = 0; j < pieces; ++j) {
    const std::size_t at = j * kMemoChunkSize;
    const std::size_t length = std::min(kMemoChunkSize, value.size() - at);
    std::size_t used = 0;
    if (blob && j == 0) {
      platform::storeLe32(data, 0, static_cast<std::uint32_t>(value.size()));
      used = kBlobLengthSize;
    }
    std::memcpy(data.data() + used, value.data() + at, length);
    used += length;
    const std::span<const std::uint8_t> chunk(data.data(), used);
    const auto key = memoChunkKey(table, n, memo, static_cast<std::uint16_t>(j));
    store::QbxEntry* old = store::find(s, *store::makeEntry(key));
    if (old != nullptr) {
      const std::span<const std::uint8_t> stored = old->data();
      if (std::equal(stored.begin(), stored.end(), chunk.begin(), chunk.end())) continue;
      store::deleteEntry(s, old);
    }
    // Chunks written one after another go straight into the leaf of the
    // previous one.
    insertCursor_.insert(store::makeEntry(key, chunk));
  }
  // What the old value had beyond the new one goes.
  while (pieces <= 0xFFFF) {
    store::QbxEntry* rest = chunkFrom(s, table, n, memo, static_cast<std::uint16_t>(pieces));
    if (rest == nullptr) break;
    store::deleteEntry(s, rest);
  }
}

void TableMemos::remove(std::uint32_t n) {
  store::QbxStore& s = table_.store();
  std::array<std::uint8_t, kRecordPrefixSize> prefix{};
  putTablePrefix(prefix, table_.tableNumber(), kKindMemoChunk);
  platform::storeBe32(prefix, kTablePrefixSize, n);
  // The prefix sorts before every chunk of the record, and the record's
  // chunks are adjacent: deleting from it meets them all and no other.
  const store::EntryPtr search = store::makeEntry(prefix);
  for (;;) {
    store::QbxEntry* e = store::next(s, *search);
    if (e == nullptr || !hasPrefix(*e, prefix)) break;
    store::deleteEntry(s, e);
  }
  clearChanged();
}

// --- Loading ---------------------------------------------------------------------

void TableMemos::readStored(std::uint32_t n, std::size_t i, std::size_t limit,
                            std::vector<std::uint8_t>& out) {
  store::QbxStore& s = table_.store();
  const auto memo = static_cast<std::uint8_t>(i);
  const auto key = memoChunkKey(table_.tableNumber(), n, memo, 0);
  const std::span<const std::uint8_t> own = std::span(key).first(kMemoPrefixSize);
  store::QbxEntry* e = chunkFrom(s, table_.tableNumber(), n, memo, 0);
  while (e != nullptr && hasPrefix(*e, own) && out.size() < limit) {
    const std::span<const std::uint8_t> d = e->data();
    const std::size_t take = std::min(d.size(), limit - out.size());
    out.insert(out.end(), d.begin(), d.begin() + static_cast<std::ptrdiff_t>(take));
    e = store::next(s, *e);
  }
}

int TableMemos::load(std::uint32_t n) {
  int result = kOk;
  const auto& memos = table_.def().memos;
  for (std::size_t i = 0; i < memos.size(); ++i) {
    const int error = memos[i].isBlob() ? loadBlob(n, i) : loadMemo(n, i);
    if (result == kOk) result = error;
  }
  clearChanged();
  return result;
}

int TableMemos::loadMemo(std::uint32_t n, std::size_t i) {
  QbxMemoDef& memo = table_.def().memos[i];
  if (!memo.buffer) return kOk;
  // Never more than the buffer holds, whatever the chunks say.
  scratch_.clear();
  readStored(n, i, memo.size, scratch_);
  if (converts(memo)) oemToChar(scratch_);
  char* buffer = memo.buffer.get();
  std::copy(scratch_.begin(), scratch_.end(), buffer);
  std::fill(buffer + scratch_.size(), buffer + memo.size, ' ');
  return kOk;
}

int TableMemos::loadBlob(std::uint32_t n, std::size_t i) {
  freeBlob(i);
  store::QbxStore& s = table_.store();
  const store::QbxEntry* first =
      chunkFrom(s, table_.tableNumber(), n, static_cast<std::uint8_t>(i), 0);
  // No chunks, or a first chunk too short to hold the length: an empty blob.
  if (first == nullptr || first->data().size() < kBlobLengthSize) return kOk;
  const std::uint32_t length = platform::loadLe32(first->data(), 0);
  // A length beyond what the chunks can hold cannot have been written: the
  // blob is damaged and read as empty rather than sizing a block from it.
  if (length == 0 || length > kMaxBlobSize) return kOk;
  platform::GlobalHandle h = 0;
  if (platform::globalAlloc(length, &h) != 0) return kErrInsufficientMemory;
  scratch_.clear();
  readStored(n, i, kBlobLengthSize + std::size_t{length}, scratch_);
  const std::span<std::uint8_t> value = std::span(scratch_).subspan(kBlobLengthSize);
  if (converts(table_.def().memos[i])) oemToChar(value);
  std::uint8_t* p = platform::globalLock(h);
  std::copy(value.begin(), value.end(), p);
  // Chunks that end early leave the rest of the recorded length as spaces.
  std::fill(p + value.size(), p + length, std::uint8_t{' '});
  static_cast<void>(platform::globalUnlock(h));
  states_[i].blob = h;
  return kOk;
}

// --- WATCH -----------------------------------------------------------------------

void TableMemos::watch(std::uint32_t n) {
  const auto& memos = table_.def().memos;
  for (std::size_t i = 0; i < memos.size(); ++i) {
    if (memos[i].isBlob()) continue;
    states_[i].watched.clear();
    readStored(n, i, memos[i].size, states_[i].watched);
  }
}

bool TableMemos::changedSinceWatch(std::uint32_t n) {
  const auto& memos = table_.def().memos;
  for (std::size_t i = 0; i < memos.size(); ++i) {
    if (memos[i].isBlob()) continue;
    scratch_.clear();
    readStored(n, i, memos[i].size, scratch_);
    // A memo cut shorter since the fetch is a change too.
    if (scratch_ != states_[i].watched) return true;
  }
  return false;
}

}  // namespace qbx::records
