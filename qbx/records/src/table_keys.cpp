// The stores and status records of a table's keys, and the searches in them.
#include "qbx/records/table_keys.h"

#include <algorithm>
#include <array>

#include "platform/endian.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/key_value.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::records {

TableKeys::TableKeys(QbxTableDef& table, store::QbxStore& fileStore)
    : table_(table), fileStore_(fileStore) {
  keys_.resize(table.keys.size());
  changes_.resize(table.keys.size());
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    k.def = &table.keys[i];
    if (k.def->isDynamic()) {
      openPrivateStore(k);
    } else {
      k.store = &fileStore_;
      k.status = std::make_unique<StatusRecord>(fileStore_, table.tableNumber, k.def->keyNumber);
    }
  }
}

TableKeys::~TableKeys() {
  // Cursors go before the private stores whose pages they stand on.
  for (Key& k : keys_) k.status.reset();
}

void TableKeys::openPrivateStore(Key& k) {
  k.status.reset();
  k.privateStore = std::make_unique<store::QbxStore>();
  // A memory-only store stays in writer mode for its whole life: it is never
  // committed (a commit would throw its pages away).
  k.privateStore->enterWriterMode();
  k.store = k.privateStore.get();
  k.status = std::make_unique<StatusRecord>(*k.store, table_.tableNumber, k.def->keyNumber);
  k.status->reset();
}

bool TableKeys::owns(const QbxKeyDef& key) const {
  return key.keyNumber < keys_.size() && keys_[key.keyNumber].def == &key;
}

TableKeys::Key* TableKeys::keyOf(const QbxKeyDef& key) {
  // A key of another table is the caller's fault (key arguments are checked
  // before they get here); it finds nothing rather than indexing out of bounds.
  return owns(key) ? &keys_[key.keyNumber] : nullptr;
}

void TableKeys::resetAll() {
  for (Key& k : keys_) k.status->reset();
}

void TableKeys::attachAll() {
  // A dynamic index's private store is fresh from the constructor.
  for (Key& k : keys_) {
    if (!k.def->isDynamic()) k.status->attach();
  }
}

void TableKeys::resetDynamic(const QbxKeyDef& key) {
  Key* k = keyOf(key);
  if (k != nullptr && k->def->isDynamic()) openPrivateStore(*k);
}

void TableKeys::resetAllDynamic() {
  for (Key& k : keys_) {
    if (k.def->isDynamic()) openPrivateStore(k);
  }
}

store::QbxStore* TableKeys::storeOf(const QbxKeyDef& key) {
  Key* k = keyOf(key);
  return k == nullptr ? nullptr : k->store;
}

StatusRecord* TableKeys::statusOf(const QbxKeyDef& key) {
  Key* k = keyOf(key);
  return k == nullptr ? nullptr : k->status.get();
}

std::uint32_t TableKeys::entryCount(const QbxKeyDef& key) {
  Key* k = keyOf(key);
  return k == nullptr ? 0 : k->status->counter1();
}

void TableKeys::formEntry(const QbxKeyDef& key, std::span<const std::uint8_t> image,
                          std::uint32_t n, EntryBuffer& buf) const {
  const std::span<std::uint8_t> out = buf.shape(key.entryKeyLength(), key.entryDataLength());
  formKeyEntry(table_, key, image, n, out);
}

bool TableKeys::belongs(const QbxKeyDef& key, const store::QbxEntry* entry) const {
  if (entry == nullptr || entry->keyLength < kTablePrefixSize) return false;
  if (entry->totalLength < kKeyEntryOverhead) return false;
  const std::span<const std::uint8_t> k = entry->key();
  return platform::loadBe32(k, 0) == table_.tableNumber && k[kKindOffset] == key.keyNumber;
}

const store::QbxEntry* TableKeys::findByValue(const QbxKeyDef& key,
                                              std::span<const std::uint8_t> image) {
  Key* k = keyOf(key);
  if (k == nullptr) return {};
  formEntry(key, image, 0, search_);
  if (!key.isDup()) return store::find(*k->store, search_.entry());
  // The smallest entry above the value with record number 0 is the one with
  // the lowest number among equal values, if any has this value.
  const store::QbxEntry* e = store::next(*k->store, search_.entry());
  if (e == nullptr || e->keyLength != search_.entry().keyLength) return nullptr;
  const std::size_t valueEnd = search_.entry().keyLength - kRecordNumberSize;
  if (!std::equal(search_.key().begin(),
                  search_.key().begin() + static_cast<std::ptrdiff_t>(valueEnd),
                  e->key().begin())) {
    return nullptr;
  }
  return e;
}

const store::QbxEntry* TableKeys::findByPosition(const QbxKeyDef& key,
                                                 std::span<const std::uint8_t> position) {
  Key* k = keyOf(key);
  if (k == nullptr) return {};
  const std::span<std::uint8_t> out = search_.shape(key.entryKeyLength(), key.entryDataLength());
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  putTablePrefix(out, table_.tableNumber, key.keyNumber);
  // A text shorter than the position reads as if padded with zero bytes.
  std::array<std::uint8_t, kRecordNumberSize> number{};
  std::copy_n(position.begin(), std::min(position.size(), number.size()), number.begin());
  const std::uint32_t n = platform::loadBe32(number, 0);
  if (position.size() > kRecordNumberSize) {
    const std::span<const std::uint8_t> value = position.subspan(kRecordNumberSize);
    std::copy_n(value.begin(), std::min<std::size_t>(value.size(), key.valueLength),
                out.begin() + kTablePrefixSize);
  }
  platform::storeBe32(out, out.size() - kRecordNumberSize, n);
  const store::QbxEntry* e = store::find(*k->store, search_.entry());
  if (e == nullptr || trailingRecordNumber(e->all()) != n) return nullptr;
  return e;
}

int TableKeys::duplicate(const QbxKeyDef& key, std::span<const std::uint8_t> image,
                         std::uint32_t exclude) {
  Key* k = keyOf(key);
  if (k == nullptr) return {};
  if (key.isDup() || key.isDynamic() || blankForOpt(table_, key, image)) return 0;
  formEntry(key, image, 0, search_);
  const store::QbxEntry* e = store::find(*k->store, search_.entry());
  if (e == nullptr) return 0;
  if (exclude != 0 && trailingRecordNumber(e->all()) == exclude) return 0;
  return 1;
}

const store::QbxEntry* TableKeys::first(const QbxKeyDef& key) {
  Key* k = keyOf(key);
  if (k == nullptr) return {};
  search_.setKey(tablePrefix(table_.tableNumber, key.keyNumber));
  const store::QbxEntry* e = store::next(*k->store, search_.entry());
  return belongs(key, e) ? e : nullptr;
}

const store::QbxEntry* TableKeys::last(const QbxKeyDef& key) {
  Key* k = keyOf(key);
  if (k == nullptr) return {};
  search_.setKey(tablePrefix(table_.tableNumber, static_cast<std::uint8_t>(key.keyNumber + 1)));
  const store::QbxEntry* e = store::previous(*k->store, search_.entry());
  return belongs(key, e) ? e : nullptr;
}

const store::QbxEntry* TableKeys::after(const QbxKeyDef& key,
                                        std::span<const std::uint8_t> entryKey) {
  Key* k = keyOf(key);
  if (k == nullptr) return {};
  search_.setKey(entryKey);
  const store::QbxEntry* e = store::next(*k->store, search_.entry());
  return belongs(key, e) ? e : nullptr;
}

const store::QbxEntry* TableKeys::before(const QbxKeyDef& key,
                                         std::span<const std::uint8_t> entryKey) {
  Key* k = keyOf(key);
  if (k == nullptr) return {};
  if (entryKey.empty()) return nullptr;
  search_.setKey(entryKey);
  const store::QbxEntry* e = store::previous(*k->store, search_.entry());
  return belongs(key, e) ? e : nullptr;
}

const store::QbxEntry* TableKeys::equal(const QbxKeyDef& key,
                                        std::span<const std::uint8_t> entryKey) {
  Key* k = keyOf(key);
  if (k == nullptr) return {};
  search_.setKey(entryKey);
  const store::QbxEntry* e = store::find(*k->store, search_.entry());
  return belongs(key, e) ? e : nullptr;
}

}  // namespace qbx::records
