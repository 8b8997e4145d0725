// The keys of the record layer's entries, formed into fixed arrays (layouts in
// format.h). Table and record numbers are held most significant byte first so
// that byte order is numeric order.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/endian.h"
#include "qbx/records/format.h"

namespace qbx::records {

inline void putTablePrefix(std::span<std::uint8_t> out, std::uint32_t tableNumber,
                           std::uint8_t kind) {
  platform::storeBe32(out, 0, tableNumber);
  out[kKindOffset] = kind;
}

inline std::array<std::uint8_t, kTablePrefixSize> tablePrefix(std::uint32_t tableNumber,
                                                               std::uint8_t kind) {
  std::array<std::uint8_t, kTablePrefixSize> k{};
  putTablePrefix(k, tableNumber, kind);
  return k;
}

inline std::array<std::uint8_t, kDataRecordKeySize> dataRecordKey(std::uint32_t tableNumber,
                                                                   std::uint32_t recordNumber) {
  std::array<std::uint8_t, kDataRecordKeySize> k{};
  putTablePrefix(k, tableNumber, kKindDataRecord);
  platform::storeBe32(k, kTablePrefixSize, recordNumber);
  return k;
}

// selector: kStatusTableSelector for the table, else the key number.
inline std::array<std::uint8_t, kStatusKeySize> statusKey(std::uint32_t tableNumber,
                                                           std::uint8_t selector) {
  std::array<std::uint8_t, kStatusKeySize> k{};
  putTablePrefix(k, tableNumber, kKindStatus);
  k[kTablePrefixSize] = selector;
  return k;
}

inline std::array<std::uint8_t, kDefinitionChunkKeySize> definitionChunkKey(
    std::uint32_t tableNumber, std::uint16_t chunk) {
  std::array<std::uint8_t, kDefinitionChunkKeySize> k{};
  putTablePrefix(k, tableNumber, kKindDefinitionChunk);
  platform::storeLe16(k, kTablePrefixSize, chunk);
  return k;
}

inline std::array<std::uint8_t, kSortTableKeySize> sortTableKey(std::uint32_t tableNumber) {
  std::array<std::uint8_t, kSortTableKeySize> k{};
  putTablePrefix(k, tableNumber, kKindSortTable);
  k[kTablePrefixSize] = kSortTableSelector;
  return k;
}

inline std::array<std::uint8_t, kMemoChunkKeySize> memoChunkKey(std::uint32_t tableNumber,
                                                                 std::uint32_t recordNumber,
                                                                 std::uint8_t memo,
                                                                 std::uint16_t chunk) {
  std::array<std::uint8_t, kMemoChunkKeySize> k{};
  putTablePrefix(k, tableNumber, kKindMemoChunk);
  platform::storeBe32(k, kTablePrefixSize, recordNumber);
  k[kTablePrefixSize + kRecordNumberSize] = memo;
  platform::storeBe16(k, kTablePrefixSize + kRecordNumberSize + 1, chunk);
  return k;
}

// The record number that ends every key entry and data record key; 0 for
// bytes too short to hold one.
inline std::uint32_t trailingRecordNumber(std::span<const std::uint8_t> entry) {
  if (entry.size() < kRecordNumberSize) return 0;
  return platform::loadBe32(entry, entry.size() - kRecordNumberSize);
}

}  // namespace qbx::records
