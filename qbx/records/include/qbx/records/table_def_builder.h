// Building a table definition from a program's declaration of a file: the
// first use of a FileBlock turns its record layout, keys and memos into a
// QbxTableDef and links the key and memo descriptors to it.
#pragma once

#include <memory>

#include "qbx/records/table_def.h"

namespace fileaccess {
struct FileBlock;
}

namespace qbx::records {

// 0 with the definition in out, or the error (nothing of the definition
// remains and no descriptor stays linked):
//   8  the definition, a list or a memo buffer cannot be allocated;
//   47 record length 15001 or more, 241 keys or more, a memo above 64000
//      bytes, a layout the stored definition cannot hold;
//   75 the record declaration does not start with a GROUP or cannot be
//      read, groups nested more than 100 deep, a key component that names
//      no field or a field with more than one element;
//   79 a field of an unsupported type that is not overlaid;
//   88 a key whose entry (value length + 9) cannot fit a page.
// A declaration without a record layout (no FieldDesc stream or record
// length 0) gets an empty field list: its definition is read from the file
// at open.
[[nodiscard]] int buildTableDef(fileaccess::FileBlock& file, std::unique_ptr<QbxTableDef>& out);

}  // namespace qbx::records
