// The OEM form of a stored record image: in a table with the OEM attribute
// the text of every STRING, CSTRING and PSTRING field that is not overlaid is
// kept in the OEM code page. STRING converts all its bytes, CSTRING the bytes
// before its first zero, PSTRING the bytes its length byte counts (clamped to
// the field); every other byte stays as it is.
#pragma once

#include <cstdint>
#include <span>

#include "qbx/records/table_def.h"

namespace qbx::records {

// Program code page -> OEM, in place. The image is record length bytes.
void recordToOem(const QbxTableDef& table, std::span<std::uint8_t> image);
// OEM -> program code page, in place.
void recordFromOem(const QbxTableDef& table, std::span<std::uint8_t> image);

}  // namespace qbx::records
