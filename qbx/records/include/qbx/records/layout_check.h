// The checks that every table definition passes, whether it was built from a
// declaration or read from a file: limits, field types and bounds, sizes,
// key components and the key entry length.
#pragma once

#include <cstdint>

#include "qbx/records/table_def.h"

namespace qbx::records {

// True for the types that records and keys store: 1 to 10, 18 to 20, 22.
bool isSupportedType(std::uint8_t type);

// Sum of the key's components' total sizes (64-bit: the caller checks it).
std::uint64_t componentsLength(const QbxTableDef& table, const QbxKeyDef& key);

// The checks of one field (its number must be its index): 0, 47, 75 or 79
// as below.
[[nodiscard]] int checkFieldLayout(const QbxTableDef& table, std::size_t index);

// 0, or the error of the first failed check:
// 47 record length above 15000, more than 240 keys, more than 255 memos, a
//    memo above 64000 bytes, a field list or value too large for the stored
//    definition, a key flag outside the known bits;
// 75 a field whose number, overlay flag, element count or sizes are
//    inconsistent, a field beyond the record, a key component that names no
//    field or a field with more than one element, a dynamic index with
//    components;
// 79 an unsupported type without the overlay flag;
// 88 a key whose entry (value length + 9) cannot fit a page.
[[nodiscard]] int checkTableLayout(const QbxTableDef& table);

}  // namespace qbx::records
