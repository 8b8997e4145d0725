// What the check keeps per table while it walks the entries: the stored
// definition, the status records, and for every key the multisets of the
// entries held and the entries the records form.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "entry_multiset.h"
#include "qbx/records/status_record.h"
#include "qbx/records/table_def.h"

namespace qbx::inspector {

struct KeyState {
  std::optional<records::StatusCounters> status;
  // 0: the key is complete. Else entries are compared only for the records
  // below the mark.
  std::uint32_t mark = 0;
  EntryMultiset held;         // entries in the file (below the mark)
  EntryMultiset formed;       // entries the records form (below the mark)
  std::uint64_t heldAll = 0;  // entries in the file, whatever their record
};

struct TableState {
  std::string name;
  std::uint32_t number = 0;
  // Null when the stored definition cannot be used.
  std::unique_ptr<records::QbxTableDef> def;
  std::optional<records::StatusCounters> status;
  std::vector<KeyState> keys;
  std::uint64_t records = 0;
  std::uint64_t keyEntries = 0;
  std::vector<std::uint32_t> recordNumbers;      // in the order met (ascending in a sound tree)
  std::vector<std::uint32_t> memoRecordNumbers;  // record numbers that memo chunks name
  std::vector<std::uint8_t> image;               // a record from the OEM code page
  std::vector<std::uint8_t> keyEntry;            // one formed key entry
};

}  // namespace qbx::inspector
