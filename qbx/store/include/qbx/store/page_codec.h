// Page images: encoding a page's entries into the bytes a slot holds, and
// decoding an image read from the file back into a balanced in-page tree.
// Decoding trusts nothing it reads.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "qbx/store/page.h"

namespace qbx::store {

// Encodes the page's entries (prefix-encoded, compressed when that saves a
// whole 256-byte unit) into an image of its slot size, filled with 0xB0 past
// the stored length. The home offset and the child numbers are left for
// writeBlockFields. An encoding beyond the page's size estimate is internal
// error 1659, a page beyond 15104 bytes 1678.
std::vector<std::uint8_t> encodePage(const QbxPage& page);

// Puts the home offset of the page's number and, for an index page, the
// child numbers of its entries in key order into its image.
void writeBlockFields(const QbxPage& page, std::span<std::uint8_t> image);

// Decodes an image read from a slot of slotSize bytes into the page's tree,
// level and size estimate. A stored length that does not fit the slot or the
// header is internal error 1477; implausible lengths, counts or entries 1602;
// a child number that cannot be a page 1735; a damaged compressed area 522 or
// 530. On an error the page is left without a tree.
void decodePage(QbxPage& page, std::span<const std::uint8_t> image, std::uint32_t slotSize);

// 13 + the entries' lengths + 5 each, + 4 each in an index page.
std::uint32_t computeSizeEstimate(const QbxPage& page);

}  // namespace qbx::store
