// A table definition written back in the declaration language: the FILE line
// with its driver, owner, name and attributes, the keys, the memos, and the
// RECORD with its fields (group members indented under their group). The
// trace log writes it once per declared file; the inspector shows the
// definition stored in a file the same way.
//
//   REELCATALOG2      FILE,DRIVER('QUILLBOX'),NAME('cat.rcx'),CREATE
//   MOV:CREATEDKEY      KEY(+MOV:CREATEDDATE,+MOV:CREATEDTIME,+MOV:DELETED),DUP
//                       RECORD
//   MOV:TITLE             STRING(100)
//                       END
//                     END
//
// Every line ends in CR LF; the dump ends with an empty line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "qbx/records/table_def.h"

namespace qbx::driver {

// The driver name the FILE line names.
inline constexpr std::string_view kDeclaredDriverName = "QUILLBOX";

// No text written padded to a column is longer than this; longer texts are
// cut.
inline constexpr std::size_t kMaxPaddedText = 1023;

// Appends text padded with blanks to `column` characters; a text of `column`
// characters or more is followed by one blank instead. Texts are cut at
// kMaxPaddedText characters first.
void appendColumn(std::string& out, std::string_view text, std::size_t column);

// The definition of `table` as declaration text. `label` is the file's label
// in the program (a FileBlock carries none; the trace passes what it has).
//
// A definition read from a file keeps no group member counts: there a GROUP
// holds the fields that follow it while they lie inside the group's bytes.
// Only the element count of a dimensioned field is kept, so DIM shows that
// one number. OVER names the first earlier field at the same offset, for
// fields that overlay by themselves (not as members of an overlaying group).
std::string declarationDump(const records::QbxTableDef& table, std::string_view label);

}  // namespace qbx::driver
