// Attaching a QbxFile to a FileBlock and discarding it again, and the parts
// of its state that come from the declaration.
#pragma once

#include <cstdint>

#include "fileaccess/declarations.h"
#include "qbx/driver/qbx_file.h"
#include "qbx/driver/rule_check.h"

namespace qbx::driver {

// The FileBlock's QbxFile, or null.
inline QbxFile* attachedFile(const fileaccess::FileBlock& block) {
  return static_cast<QbxFile*>(block.driverState);
}

// Builds a QbxFile from the declaration, links it from the FileBlock and
// enters the FileBlock in the files in use. 0 with *out set; 8 when the
// QbxFile cannot be allocated (*out null); or the definition's error, with
// *out the linked QbxFile without a table, for the caller to discard.
[[nodiscard]] int attachFile(fileaccess::FileBlock& block, QbxFile** out);

// Frees the FileBlock's QbxFile (if any), clears the link and takes the
// FileBlock out of the files in use. A table still physically open is
// released first without committing.
void discardFile(fileaccess::FileBlock& block);

// Copies the name, the owner text and the driver option text into the table
// definition again from the FileBlock, each unless a property set it.
void refreshDeclaration(QbxFile& file);

// The rules' view of a key argument word: null for no key; otherwise out,
// telling whether the key is one of this file's (then *key is its
// definition).
const KeyArgument* keyArgument(QbxFile& file, std::intptr_t word, KeyArgument& out,
                               records::QbxKeyDef** key);

}  // namespace qbx::driver
