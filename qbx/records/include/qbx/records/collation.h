// The collation block: the character tables with which string key components
// are formed (sort weights, OEM sort weights, case map, classes, expansions),
// the runtime's current settings, and the sort table record that keeps a
// table's block in its file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "qbx/records/format.h"

namespace qbx::records {

// The 1152 raw bytes, laid out as the table in format.h.
struct CollationBlock {
  std::array<std::uint8_t, kCollationBlockSize> bytes{};

  // The settings without configuration: identity sort weights (both tables),
  // no expansions, 'A'-'Z' (class bit 0) paired with 'a'-'z' (class bit 1).
  static CollationBlock defaults();

  bool operator==(const CollationBlock&) const = default;
};

// A block with the lookup tables derived from it, so that forming a string
// component costs one table lookup per byte when the block has no
// expansions.
class CollationTables {
 public:
  CollationTables() : CollationTables(CollationBlock::defaults()) {}
  explicit CollationTables(const CollationBlock& block);

  const CollationBlock& block() const { return block_; }

  // Byte -> final byte of the string steps when no expansion applies:
  // NOCASE (when asked), then the OEM conversion (when asked), then the
  // matching sort weight.
  const std::array<std::uint8_t, 256>& stringMap(bool noCase, bool oem) const {
    return stringMaps_[(noCase ? 1 : 0) + (oem ? 2 : 0)];
  }
  // Byte -> byte after NOCASE.
  const std::array<std::uint8_t, 256>& noCaseMap() const { return noCase_; }
  // Byte (already through NOCASE and expansion) -> sort weight, with the OEM
  // conversion folded in when oem is set.
  const std::array<std::uint8_t, 256>& weightMap(bool oem) const {
    return stringMaps_[oem ? 2 : 0];
  }
  // Byte -> the runtime's upper-casing (class bit 1 bytes to their partner).
  std::uint8_t upper(std::uint8_t b) const { return upper_[b]; }

  bool hasExpansions() const { return hasExpansions_; }
  // 0: the byte is not expanded; else 1 + the index of its expansion entry.
  std::uint8_t expansionSlot(std::uint8_t b) const { return expansionSlot_[b]; }
  std::uint8_t expansionFirst(std::uint8_t slot) const;
  std::uint8_t expansionSecond(std::uint8_t slot) const;

 private:
  CollationBlock block_;
  std::array<std::array<std::uint8_t, 256>, 4> stringMaps_{};
  std::array<std::uint8_t, 256> noCase_{};
  std::array<std::uint8_t, 256> upper_{};
  std::array<std::uint8_t, 256> expansionSlot_{};
  bool hasExpansions_ = false;
};

// The runtime's current collation settings (the defaults until set). Copied
// into a table's block when the table is created.
const CollationTables& runtimeCollation();
void setRuntimeCollation(const CollationBlock& block);

// The sort table record's data: the block and the table's OEM flag.
struct SortTableRecord {
  CollationBlock block;
  bool oem = false;
};

void encodeSortTableData(const SortTableRecord& record,
                         std::span<std::uint8_t, kSortTableDataSize> out);
// Data of any length other than 1153 bytes counts as no record at all.
std::optional<SortTableRecord> decodeSortTableData(std::span<const std::uint8_t> data);

}  // namespace qbx::records
