#include "qbx/detail/table_catalogue.h"

#include <array>

#include "platform/endian.h"
#include "qbx/records/definition_chunks.h"
#include "qbx/records/definition_stream.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/format.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::detail {
namespace {

bool isTableNameRecord(const store::QbxEntry* e) {
  return e != nullptr && e->keyLength >= 1 && e->key()[0] == records::kKindTableName;
}

TableNameRecord nameRecordOf(const store::QbxEntry& e) {
  TableNameRecord r;
  const auto key = e.key();
  r.name.assign(reinterpret_cast<const char*>(key.data()) + 1, key.size() - 1);
  if (e.data().size() == records::kTableNameDataSize) r.number = platform::loadBe32(e.data(), 0);
  return r;
}

}  // namespace

std::vector<TableNameRecord> listTableNames(store::QbxStore& store) {
  std::vector<TableNameRecord> out;
  const std::array<std::uint8_t, 1> first = {records::kKindTableName};
  const store::EntryPtr start = store::makeEntry(first);
  // A record with an empty name would have the key 0xFE alone.
  store::QbxEntry* e = store::find(store, *start);
  if (e == nullptr) e = store::next(store, *start);
  while (isTableNameRecord(e)) {
    out.push_back(nameRecordOf(*e));
    e = store::next(store, *e);
  }
  return out;
}

std::string storedTableName(std::string_view name) {
  const records::CollationTables& collation = records::runtimeCollation();
  std::string out(name);
  for (char& c : out) c = static_cast<char>(collation.upper(static_cast<std::uint8_t>(c)));
  return out;
}

std::optional<std::uint32_t> findTable(store::QbxStore& store, std::string_view name) {
  const std::string stored = storedTableName(name);
  std::vector<std::uint8_t> key(stored.size() + 1);
  key[0] = records::kKindTableName;
  std::copy(stored.begin(), stored.end(), key.begin() + 1);
  const store::EntryPtr search = store::makeEntry(key);
  const store::QbxEntry* e = store::find(store, *search);
  if (e == nullptr) return std::nullopt;
  const TableNameRecord r = nameRecordOf(*e);
  return r.number;
}

std::optional<records::StatusCounters> readStatus(store::QbxStore& store, std::uint32_t tableNumber,
                                                  std::uint8_t selector) {
  const auto key = records::statusKey(tableNumber, selector);
  const store::EntryPtr search = store::makeEntry(key);
  const store::QbxEntry* e = store::find(store, *search);
  if (e == nullptr || e->data().size() != records::kStatusDataSize) return std::nullopt;
  return records::StatusCounters{platform::loadLe32(e->data(), 0),
                                 platform::loadLe32(e->data(), 4)};
}

std::optional<records::SortTableRecord> readSortTable(store::QbxStore& store,
                                                      std::uint32_t tableNumber) {
  const auto key = records::sortTableKey(tableNumber);
  const store::EntryPtr search = store::makeEntry(key);
  const store::QbxEntry* e = store::find(store, *search);
  if (e == nullptr) return std::nullopt;
  return records::decodeSortTableData(e->data());
}

int loadDefinition(store::QbxStore& store, std::uint32_t tableNumber, records::QbxTableDef& def) {
  records::StoreDefinitionChunks chunks(store, tableNumber);
  if (const int result = records::readDefinition(def, chunks); result != 0) return result;
  def.tableNumber = tableNumber;
  if (const auto sort = readSortTable(store, tableNumber)) {
    def.collation.emplace(sort->block);
    if (sort->oem) {
      def.attributes = static_cast<std::uint8_t>(def.attributes | records::kTableOem);
    } else {
      def.attributes = static_cast<std::uint8_t>(def.attributes & ~records::kTableOem);
    }
  }
  return 0;
}

}  // namespace qbx::detail
