#include "qbx/records/collation.h"

#include <algorithm>

#include "qbx/records/oem.h"

namespace qbx::records {

CollationBlock CollationBlock::defaults() {
  CollationBlock c;
  auto& b = c.bytes;
  for (unsigned i = 0; i < 256; ++i) {
    b[kCollationSortWeights + i] = static_cast<std::uint8_t>(i);
    b[kCollationOemSortWeights + i] = static_cast<std::uint8_t>(i);
    b[kCollationCaseMap + i] = static_cast<std::uint8_t>(i);
  }
  for (unsigned i = 'A'; i <= 'Z'; ++i) {
    const unsigned lower = i + ('a' - 'A');
    b[kCollationCaseMap + i] = static_cast<std::uint8_t>(lower);
    b[kCollationCaseMap + lower] = static_cast<std::uint8_t>(i);
    b[kCollationClasses + i] = kClassNoCase;
    b[kCollationClasses + lower] = kClassUpper;
  }
  return c;
}

CollationTables::CollationTables(const CollationBlock& block) : block_(block) {
  const auto& b = block_.bytes;
  const auto& toOem = charToOemTable();
  for (unsigned i = 0; i < 256; ++i) {
    const std::uint8_t cls = b[kCollationClasses + i];
    const std::uint8_t partner = b[kCollationCaseMap + i];
    noCase_[i] = (cls & kClassNoCase) != 0 ? partner : static_cast<std::uint8_t>(i);
    upper_[i] = (cls & kClassUpper) != 0 ? partner : static_cast<std::uint8_t>(i);
  }
  for (unsigned i = 0; i < 256; ++i) {
    const auto plain = static_cast<std::uint8_t>(i);
    const std::uint8_t folded = noCase_[i];
    stringMaps_[0][i] = b[kCollationSortWeights + plain];
    stringMaps_[1][i] = b[kCollationSortWeights + folded];
    stringMaps_[2][i] = b[kCollationOemSortWeights + toOem[plain]];
    stringMaps_[3][i] = b[kCollationOemSortWeights + toOem[folded]];
  }
  // The expansion table ends at the first entry whose character is 0; the
  // first entry for a character wins.
  for (std::size_t e = 0; e < kCollationExpansionCount; ++e) {
    const std::uint8_t ch = b[kCollationExpansions + e * kCollationExpansionEntrySize];
    if (ch == 0) break;
    if (expansionSlot_[ch] == 0) expansionSlot_[ch] = static_cast<std::uint8_t>(e + 1);
    hasExpansions_ = true;
  }
}

std::uint8_t CollationTables::expansionFirst(std::uint8_t slot) const {
  return block_.bytes[kCollationExpansions + (slot - 1u) * kCollationExpansionEntrySize + 1];
}

std::uint8_t CollationTables::expansionSecond(std::uint8_t slot) const {
  return block_.bytes[kCollationExpansions + (slot - 1u) * kCollationExpansionEntrySize + 2];
}

namespace {

CollationTables& runtimeTables() {
  static CollationTables tables{CollationBlock::defaults()};
  return tables;
}

}  // namespace

const CollationTables& runtimeCollation() { return runtimeTables(); }

void setRuntimeCollation(const CollationBlock& block) { runtimeTables() = CollationTables(block); }

void encodeSortTableData(const SortTableRecord& record,
                         std::span<std::uint8_t, kSortTableDataSize> out) {
  std::copy(record.block.bytes.begin(), record.block.bytes.end(), out.begin());
  out[kCollationBlockSize] = record.oem ? 1 : 0;
}

std::optional<SortTableRecord> decodeSortTableData(std::span<const std::uint8_t> data) {
  if (data.size() != kSortTableDataSize) return std::nullopt;
  SortTableRecord record;
  std::copy_n(data.begin(), kCollationBlockSize, record.block.bytes.begin());
  record.oem = data[kCollationBlockSize] != 0;
  return record;
}

}  // namespace qbx::records
