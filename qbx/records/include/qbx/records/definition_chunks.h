// The definition chunks of one table as entries of its file's store: key
// table number, 0xFA, chunk number (LSB first); data up to 512 bytes of the
// definition stream.
#pragma once

#include <cstdint>

#include "qbx/records/definition_stream.h"

namespace qbx::store {
class QbxStore;
}

namespace qbx::records {

class StoreDefinitionChunks final : public DefinitionChunkSink, public DefinitionChunkSource {
 public:
  StoreDefinitionChunks(store::QbxStore& store, std::uint32_t tableNumber)
      : store_(store), tableNumber_(tableNumber) {}

  // Inserts the chunk, replacing one of the same number (writer mode).
  [[nodiscard]] int storeChunk(std::uint16_t chunk, std::span<const std::uint8_t> piece) override;
  // Copies at most 512 bytes of the chunk's data; 0 when it does not exist.
  std::size_t loadChunk(std::uint16_t chunk,
                        std::span<std::uint8_t, kDefinitionChunkSize> out) override;

 private:
  store::QbxStore& store_;
  std::uint32_t tableNumber_;
};

}  // namespace qbx::records
