// Work on a closed table as a whole: REMOVE, and the table-level COPY and
// RENAME (into the same or another physical file). Each opens what it needs
// through the shared stores, commits, and releases it again.
#pragma once

#include <string>
#include <string_view>

#include "qbx/records/table_def.h"

namespace qbx::records {

// The mode in which these operations open the physical files: read and
// write, deny none; the target of COPY and RENAME is created when missing.
inline constexpr unsigned kTransferMode = 0x42;
inline constexpr unsigned kTransferTargetMode = 0x142;

// REMOVE: deletes the table's name record and every entry of its number; the
// physical file goes with its last table (when no other use of it is open in
// the process). A stored definition of another layout does not matter. 0, 2
// no such table, or an open or commit error.
[[nodiscard]] int removeTable(QbxTableDef& def, const std::string& fullFileName,
                              std::string_view tableName);

// COPY (rename false) and RENAME (true) of the table `sourceTable` of
// `sourceFile` to the table `targetTable` of `targetFile` (names upper case,
// files full names). Within one physical file a RENAME only changes the
// name. Otherwise the target gets a new table number t and a record number
// offset c (the next two numbers of its counter), and every entry of the
// source is copied with table number t and c added to its record numbers
// (data records, memo chunks, key entries, and non-zero out-of-date marks);
// RENAME deletes the source's entries as it goes. The target's counter ends
// at the highest number written, or c when that is higher.
//   5  RENAME onto an existing table; or the numbers would pass 0xFDFFFFFF
//      (refused before anything changes)
//   2  no source table; 47 the declaration's layout differs from the source's
// COPY replaces an existing target table (a COPY onto the source itself
// changes nothing). A failed commit of the target abandons the source's
// changes too.
[[nodiscard]] int copyTable(QbxTableDef& def, const std::string& sourceFile,
                            std::string_view sourceTable, const std::string& targetFile,
                            std::string_view targetTable, bool rename);

}  // namespace qbx::records
