#include "qbx/store/entry.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "qbx/store/format.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"

namespace qbx::store {
namespace {

// Allocates without the length check: decoding and copies only ever see
// lengths that passed it.
QbxEntry* allocateEntry(std::size_t keyLength, std::size_t totalLength) {
  void* memory = ::operator new(sizeof(QbxEntry) + totalLength);
  auto* entry = new (memory) QbxEntry;
  entry->totalLength = static_cast<std::uint16_t>(totalLength);
  entry->keyLength = static_cast<std::uint16_t>(keyLength);
  return entry;
}

}  // namespace

void freeEntry(QbxEntry* entry) {
  if (entry == nullptr) return;
  entry->~QbxEntry();
  ::operator delete(entry);
}

EntryPtr newEntry(std::size_t keyLength, std::size_t dataLength) {
  if (keyLength > format::kMaxEntryLength || dataLength > format::kMaxEntryLength ||
      keyLength + dataLength > format::kMaxEntryLength) {
    raiseInternalError(kErrNewEntryTooLong);
  }
  EntryPtr entry(allocateEntry(keyLength, keyLength + dataLength));
  std::memset(entry->bytes(), 0, keyLength + dataLength);
  return entry;
}

EntryPtr makeEntry(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
  EntryPtr entry = newEntry(key.size(), data.size());
  std::copy(key.begin(), key.end(), entry->bytes());
  std::copy(data.begin(), data.end(), entry->bytes() + key.size());
  return entry;
}

EntryPtr copyEntry(const QbxEntry& source) {
  EntryPtr entry(allocateEntry(source.keyLength, source.totalLength));
  std::memcpy(entry->bytes(), source.bytes(), source.totalLength);
  return entry;
}

EntryPtr copyKey(const QbxEntry& source) {
  EntryPtr entry(allocateEntry(source.keyLength, source.keyLength));
  std::memcpy(entry->bytes(), source.bytes(), source.keyLength);
  return entry;
}

int compareKeys(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  const std::size_t shorter = std::min(a.size(), b.size());
  if (shorter > 0) {
    const int c = std::memcmp(a.data(), b.data(), shorter);
    if (c != 0) return c;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int compareEntries(const QbxEntry& a, const QbxEntry& b) { return compareKeys(a.key(), b.key()); }

}  // namespace qbx::store
