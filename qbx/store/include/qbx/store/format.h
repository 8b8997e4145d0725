// On-disk format of a QBX file: the file header, blocks, page images, the
// compressed entry area and the entry encoding. ON-DISK CONSTANTS: changing
// any value here breaks every existing file.
//
// File layout
//   offset 0                 file header, 512 bytes
//   offset 512 + 256 * p     page slot of page number p (size class c: c * 256 bytes)
//   logical end              512 + 256 * (region end of the highest non-empty class)
//   above the logical end    a pending log area or stale bytes
//   0x80000000 and above     never read or written: lock bytes only
//
// Every block (the header or a page image) starts with
//   +0  4  home offset   (LE) the file offset the block belongs at; 0 for the header
//   +4  2  stored length (LE) 512 for the header; meaningful bytes of a page
// and occupies its stored length rounded up to a multiple of 256.
//
// File header (512 bytes, little-endian unless noted)
//   +0    4  home offset            always 0
//   +4    2  stored length          always 512
//   +6    4  log start              first block of a pending log; = log end when none
//   +10   4  log end                just past the last block of the pending log
//   +14   4  magic                  "qUiL"
//   +18   2  reserved               0
//   +20   4  record number counter  BIG-endian, the last number issued
//   +24   4  change count           signed, raised by every commit
//   +28   4  root page number       root of the entry tree
//   +32   240 region starts         60 x u32, entry c = first page of class c's region
//   +272  240 region ends           60 x u32, entry c = page just past class c's region
//   +512                            (end)
//
// Page image (little-endian)
//   +0   4  home offset        512 + 256 * page number
//   +4   2  stored length      header + child numbers + entry area as stored
//   +6   2  expanded length    header + child numbers + entry area expanded
//   +8   2  size estimate      the page's size estimate when written
//   +10  2  entry count
//   +12  1  level              0 leaf; n > 0 index page n levels above the leaves
//   +13  4n child page numbers index pages only, one u32 per entry in key order
//   +h      entry area         run-length compressed exactly when stored < expanded
//   +stored .. slot size       fill bytes 0xB0
//
// Compressed entry area: repeated  [count n][n literal bytes][count r]  where
// r more copies of the last literal byte follow. Counts are little-endian
// base-128 numbers (bit 7 set on every byte but the last). A trailing zero
// count after a final run ends the stream.
//
// Entry encoding in the expanded entry area (entries in key order; the first
// entry of a page has no previous entry)
//   +0  1  flags: bit 7 total length follows, bit 6 key length follows,
//               bits 0-5 bytes shared with the previous entry's bytes
//   +1  2  total length (LE, when bit 7)   key length + data length
//   +   2  key length   (LE, when bit 6)
//   +      total length - shared count bytes (key, then data)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qbx::store::format {

// Units and limits.
inline constexpr std::uint32_t kHeaderSize = 512;
inline constexpr std::uint32_t kPageUnit = 256;
inline constexpr std::uint32_t kIoUnit = 64;  // reads and writes are multiples of this
inline constexpr int kClassCount = 60;        // region arrays: entry 0 unused, classes 1..59
inline constexpr int kMaxClass = 59;
inline constexpr std::uint32_t kMaxPageSize = kMaxClass * kPageUnit;  // 15104
inline constexpr std::uint64_t kLockBase = 0x80000000u;  // first byte never holding data
inline constexpr std::uint8_t kFillByte = 0xB0;

// Block start.
inline constexpr std::size_t kBlockHomeOffset = 0;
inline constexpr std::size_t kBlockStoredLength = 4;

// File header fields.
inline constexpr std::size_t kHeaderLogStart = 6;
inline constexpr std::size_t kHeaderLogEnd = 10;
inline constexpr std::size_t kHeaderMagic = 14;
inline constexpr std::size_t kHeaderReserved = 18;
inline constexpr std::size_t kHeaderRecordCounter = 20;  // 4 bytes, big-endian
inline constexpr std::size_t kHeaderChangeCount = 24;
inline constexpr std::size_t kHeaderRootPage = 28;
inline constexpr std::size_t kHeaderRegionStarts = 32;
inline constexpr std::size_t kHeaderRegionEnds = 272;
inline constexpr std::array<std::uint8_t, 4> kMagic = {'q', 'U', 'i', 'L'};
// The counter's most significant byte may not reach this value: 0xFE and 0xFF
// begin the table name records and the transaction marker.
inline constexpr std::uint8_t kRecordCounterLimit = 0xFE;

// Page image fields.
inline constexpr std::size_t kPageExpandedLength = 6;
inline constexpr std::size_t kPageSizeEstimate = 8;
inline constexpr std::size_t kPageEntryCount = 10;
inline constexpr std::size_t kPageLevel = 12;
inline constexpr std::size_t kPageHeaderSize = 13;
inline constexpr std::size_t kChildNumberSize = 4;

// Entries.
inline constexpr std::uint8_t kFlagTotalLength = 0x80;
inline constexpr std::uint8_t kFlagKeyLength = 0x40;
inline constexpr std::uint8_t kSharedMask = 0x3F;
inline constexpr std::uint32_t kMaxShared = 63;
inline constexpr std::uint32_t kMaxEntryLength = 15093;  // key length + data length
// Size estimate: a page costs 13 bytes plus, per entry, its length + 5 (+ 4
// for the child number of a separator).
inline constexpr std::uint32_t kEntryOverhead = 5;
inline constexpr std::uint32_t kEmptyPageEstimate = kPageHeaderSize;

// Split thresholds of a page's size estimate.
inline constexpr std::uint32_t kSplitHardLimit = 15094;
inline constexpr std::uint32_t kSplitSoftLimit = 4096;
inline constexpr int kSplitSoftEntries = 20;  // the soft limit applies above this many entries

// File offset of a page number's slot (64-bit: damaged numbers never wrap).
constexpr std::uint64_t pageOffset(std::int64_t pageNumber) {
  return kHeaderSize + static_cast<std::uint64_t>(pageNumber) * kPageUnit;
}

// A length rounded up to whole 256-byte units.
constexpr std::uint32_t roundToUnit(std::uint32_t length) {
  return (length + kPageUnit - 1) / kPageUnit * kPageUnit;
}

}  // namespace qbx::store::format
