// Forming the key entries a stored record gives, as the record engine forms
// them when it adds the record: from the image in the program's code page.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "qbx/records/key_value.h"
#include "qbx/records/record_oem.h"
#include "qbx/records/table_def.h"

namespace qbx::inspector {

// The record image in the program's code page: the stored bytes themselves,
// or for a table with the OEM attribute a converted copy in scratch.
inline std::span<const std::uint8_t> programImage(const records::QbxTableDef& def,
                                                  std::span<const std::uint8_t> stored,
                                                  std::vector<std::uint8_t>& scratch) {
  if (!def.isOem()) return stored;
  scratch.assign(stored.begin(), stored.end());
  records::recordFromOem(def, scratch);
  return scratch;
}

// The key's entry of record n (key part, then data part) in out; false when
// the record has none (blank in every component of an OPT key).
inline bool formRecordEntry(const records::QbxTableDef& def, const records::QbxKeyDef& key,
                            std::span<const std::uint8_t> image, std::uint32_t n,
                            std::vector<std::uint8_t>& out) {
  if (key.isOpt() && records::blankForOpt(def, key, image)) return false;
  out.resize(key.valueLength + records::kKeyEntryOverhead);
  records::formKeyEntry(def, key, image, n, out);
  return true;
}

}  // namespace qbx::inspector
