// What a file says about its tables, read through the store: the table name
// records, each table's status records, its stored definition and its sort
// table record. Every function here runs inside a read access
// (store_reading.h) and may raise the store's internal errors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qbx/records/collation.h"
#include "qbx/records/status_record.h"
#include "qbx/records/table_def.h"

namespace qbx::store {
class QbxStore;
}

namespace qbx::detail {

struct TableNameRecord {
  std::string name;                     // as stored (upper case)
  std::optional<std::uint32_t> number;  // none: the record's data is not 4 bytes
};

// Every table name record of the file, in key order (which is name order).
std::vector<TableNameRecord> listTableNames(store::QbxStore& store);

// The table's number, or none when the file has no such table. The name is
// upper-cased first, as the driver does with a name a program gives.
std::optional<std::uint32_t> findTable(store::QbxStore& store, std::string_view name);

// The table name in the form the file stores it: the runtime's upper case.
std::string storedTableName(std::string_view name);

// The counters of a status record (selector kStatusTableSelector for the
// table, else the key number); none when the record is missing or its data
// is not 8 bytes.
std::optional<records::StatusCounters> readStatus(store::QbxStore& store, std::uint32_t tableNumber,
                                                  std::uint8_t selector);

// The table's sort table record; none when it is missing or damaged.
std::optional<records::SortTableRecord> readSortTable(store::QbxStore& store,
                                                      std::uint32_t tableNumber);

// Reads the stored definition of the table into def (its lists, record
// length and table number) and applies its sort table record (collation
// and OEM attribute): 0, or 47 when the stored definition cannot be used.
[[nodiscard]] int loadDefinition(store::QbxStore& store, std::uint32_t tableNumber,
                                 records::QbxTableDef& def);

}  // namespace qbx::detail
