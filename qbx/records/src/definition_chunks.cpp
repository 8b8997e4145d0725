#include "qbx/records/definition_chunks.h"

#include <algorithm>

#include "qbx/records/entry_keys.h"
#include "qbx/records/result_codes.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"

namespace qbx::records {

int StoreDefinitionChunks::storeChunk(std::uint16_t chunk, std::span<const std::uint8_t> piece) {
  const auto key = definitionChunkKey(tableNumber_, chunk);
  if (store::QbxEntry* old = store::find(store_, *store::makeEntry(key)); old != nullptr) {
    store::deleteEntry(store_, old);
  }
  store::insert(store_, store::makeEntry(key, piece));
  return kOk;
}

std::size_t StoreDefinitionChunks::loadChunk(std::uint16_t chunk,
                                             std::span<std::uint8_t, kDefinitionChunkSize> out) {
  const store::QbxEntry* e =
      store::find(store_, *store::makeEntry(definitionChunkKey(tableNumber_, chunk)));
  if (e == nullptr) return 0;
  const std::span<const std::uint8_t> data = e->data();
  const std::size_t n = std::min(data.size(), out.size());
  std::copy_n(data.begin(), n, out.begin());
  return n;
}

}  // namespace qbx::records
