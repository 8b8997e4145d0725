#include "qbx/records/table_names.h"

#include <array>
#include <vector>

#include "platform/endian.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/format.h"
#include "qbx/store/cursor.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::records {
namespace {

store::EntryPtr nameKey(std::string_view name) {
  store::EntryPtr e = store::newEntry(1 + name.size(), 0);
  e->bytes()[0] = kKindTableName;
  std::copy(name.begin(), name.end(), e->bytes() + 1);
  return e;
}

bool hasTableNumber(const store::QbxEntry& e, std::uint32_t tableNumber) {
  return e.keyLength >= kTableNumberSize && platform::loadBe32(e.key(), 0) == tableNumber;
}

}  // namespace

std::optional<std::uint32_t> findTableNumber(store::QbxStore& store, std::string_view name) {
  const store::QbxEntry* e = store::find(store, *nameKey(name));
  if (e == nullptr || e->data().size() != kTableNameDataSize) return std::nullopt;
  return platform::loadBe32(e->data(), 0);
}

void writeTableName(store::QbxStore& store, std::string_view name, std::uint32_t number) {
  static_cast<void>(deleteTableName(store, name));
  store::EntryPtr e = store::newEntry(1 + name.size(), kTableNameDataSize);
  e->bytes()[0] = kKindTableName;
  std::copy(name.begin(), name.end(), e->bytes() + 1);
  platform::storeBe32(e->data(), 0, number);
  store::insert(store, std::move(e));
}

bool deleteTableName(store::QbxStore& store, std::string_view name) {
  store::QbxEntry* e = store::find(store, *nameKey(name));
  if (e == nullptr) return false;
  store::deleteEntry(store, e);
  return true;
}

bool anyTableName(store::QbxStore& store) {
  // Table name records sit together after every table's entries: the first
  // entry above the one-byte key 0xFE is one, if any is left.
  store::EntryPtr key = nameKey({});
  const store::QbxEntry* e = store::next(store, *key);
  return e != nullptr && e->keyLength > 0 && e->bytes()[0] == kKindTableName;
}

void dropTableEntries(store::QbxStore& store, std::uint32_t tableNumber) {
  // Every key of the table is below the table number followed by 0xFF (no
  // kind byte reaches 0xFF), so deleting backwards from the greatest entry
  // below that bound meets all of them and nothing of another table. The
  // bound needs no carry into the next table number.
  std::array<std::uint8_t, kTablePrefixSize> bound{};
  putTablePrefix(bound, tableNumber, 0xFF);
  store::QbxCursor cursor(store);
  const store::QbxEntry* last = store::previous(store, *store::makeEntry(bound));
  if (last == nullptr || !hasTableNumber(*last, tableNumber)) return;
  cursor.set(store::copyKey(*last), false);
  for (;;) {
    const store::QbxEntry* e = cursor.fetch();
    if (e == nullptr || !hasTableNumber(*e, tableNumber)) return;
    cursor.remove();
  }
}

std::uint32_t drawNumber(store::QbxStore& store) {
  const std::array<std::uint8_t, 4> n = store.nextRecordNumber();
  return platform::loadBe32(n, 0);
}

std::uint32_t numberCounter(store::QbxStore& store) {
  return platform::loadBe32(store.header().recordCounter(), 0);
}

void setNumberCounter(store::QbxStore& store, std::uint32_t value) {
  std::array<std::uint8_t, 4> counter{};
  platform::storeBe32(counter, 0, value);
  store.setRecordNumberCounter(counter);
  store.setChanged();
}

}  // namespace qbx::records
