// Bringing a QbxFile's table into use in its physical file and taking it out
// again: the steps that OPEN, SHARE, CREATE and CLOSE share.
#pragma once

#include "qbx/driver/qbx_file.h"
#include "qbx/records/qbx_table.h"

namespace qbx::driver {

// Modes the driver opens with besides the program's own.
inline constexpr unsigned kCreateMode = 0x142;  // read and write, deny none, create

// Opens the table that the definition's name names: splits off the table
// part, forms the physical file's full name, and opens the table in the
// file's shared store. On success the definition's name becomes the full
// name (with the table part unless it is "UNNAMED"). 0 or the error: 45
// (naming), 2, 3, 5, 36, 47, ...
[[nodiscard]] int openTable(QbxFile& file, unsigned modeFlags,
                            const records::TableOpenOptions& options);

// CLOSE's algorithm: nothing for a table that is not open; for a file marked
// by an internal error its locks are let go without writing anything and the
// mark cleared; otherwise the store's pending changes are committed and the
// file cut to its logical end. The table is released in every case. 0 or the
// commit's error.
[[nodiscard]] int closeTable(QbxFile& file);

// Releases an open table without committing anything through it (its store
// stays with its other users; the last use closes it).
void releaseTableWithoutCommit(QbxFile& file);

}  // namespace qbx::driver
