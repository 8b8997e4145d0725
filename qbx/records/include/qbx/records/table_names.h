// Tables within one file: the table name records that map each table's name
// to its number (key 0xFE and the upper-case name; data the table number),
// and the run of entries that carry one table number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qbx::store {
class QbxStore;
}

namespace qbx::records {

// The name of the table a file name without a table part names.
inline constexpr std::string_view kDefaultTable = "UNNAMED";
// The longest table name accepted (a name is at most as long as a full
// file name may be).
inline constexpr std::size_t kMaxTableNameLength = 259;

// The table number of the named table (upper case, as stored), or none when
// the file has no such table (or its record does not hold 4 bytes).
std::optional<std::uint32_t> findTableNumber(store::QbxStore& store, std::string_view name);
// Writes the table name record, replacing one of the same name. Writer mode.
void writeTableName(store::QbxStore& store, std::string_view name, std::uint32_t number);
// Deletes the table name record; false when there was none. Writer mode.
bool deleteTableName(store::QbxStore& store, std::string_view name);
// Whether any table name record is left in the file.
bool anyTableName(store::QbxStore& store);

// Deletes every entry whose key begins with the table number: data records,
// key entries, status records, definition chunks, the sort table record and
// memo chunks. Table name records stay. Writer mode.
void dropTableEntries(store::QbxStore& store, std::uint32_t tableNumber);

// Draws the next number from the file's number counter (writer mode).
std::uint32_t drawNumber(store::QbxStore& store);
// The file's number counter as a number.
std::uint32_t numberCounter(store::QbxStore& store);
void setNumberCounter(store::QbxStore& store, std::uint32_t value);

}  // namespace qbx::records
