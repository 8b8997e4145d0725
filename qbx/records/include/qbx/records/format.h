// On-disk constants of the record layer. CHANGING ANY VALUE HERE BREAKS
// EXISTING FILES.
//
// Every entry of a table in the file's entry tree has a key that starts with
// the table's 4-byte number (most significant byte first), followed by one
// kind byte. The table name record alone has no table number.
//
//   kind        name                key after table number + kind          data part
//   ----------  ------------------  -------------------------------------  -------------------------
//   0x00-0xEF   key entry of key n  key value; DUP keys: + record number   unique: record number (4)
//                                                                          DUP: empty
//   0xF3        data record         record number (4, MSB first)           record image
//   0xF6        status record       0xF3 (table) or the key number (1)     counter 1, counter 2
//                                                                          (u32 each, LSB first)
//   0xFA        definition chunk    chunk number (u16, LSB first)          up to 512 stream bytes
//   0xFB        sort table record   0x01 (1)                               collation block (1152)
//                                                                          + OEM flag (1)
//   0xFC        memo chunk          record number (4, MSB first),          up to 256 memo bytes
//                                   memo number (1), chunk (u16, MSB first) (a blob's chunk 0 starts
//                                                                          with its u32 length)
//   0xFE        table name record   (no table number) upper-case name      table number (4)
//
// Collation block (1152 bytes, each table indexed by a byte value):
//
//   offset  size  content
//   ------  ----  ------------------------------------------------------------
//      0    256   sort weight of each byte (tables without the OEM attribute)
//    256    256   sort weight of each OEM byte (tables with the OEM attribute)
//    512    256   case map: the partner letter of each byte
//    768    256   character class: bit 0 NOCASE maps the byte to its partner,
//                 bit 1 the runtime's upper-casing maps it
//   1024     64   expansion table: 16 entries of (character, first
//                 replacement, second replacement, unused); ends at the first
//                 entry whose character is 0
//   1088     64   further runtime collation settings, carried, never used here
//
// Definition stream items (the stored table definition, cut into 512-byte
// definition chunks; every chunk but the last is full, the last holds the
// rest and may be empty):
//
//   u8    one byte
//   u16   two bytes LSB first (32-bit values are stored as their low half)
//   text  characters then 00; empty text 00 00; absent text 00 01
//
//   u16 version (1, or 2 when a memo is a blob), u16 record length,
//   u16 field count, u16 memo count, u16 key count;
//   per field: u8 type, u16 offset, text name, u16 element count,
//     u16 total size, u16 overlay flag, u16 field number, then
//     DECIMAL/PDECIMAL: u8 places, u8 element size;
//     STRING/CSTRING/PSTRING: u16 element length, text picture;
//   per memo: text NAME attribute, text label, u16 size, u16 flags;
//   per key: text NAME attribute, text label, u8 flags, u16 component count,
//     per component: u16 field number, u16 descending (0 or 1).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qbx::records {

// --- Entry keys -------------------------------------------------------------
inline constexpr std::size_t kTableNumberSize = 4;
inline constexpr std::size_t kKindOffset = 4;           // the kind byte follows the table number
inline constexpr std::size_t kTablePrefixSize = 5;      // table number + kind
inline constexpr std::size_t kRecordNumberSize = 4;

inline constexpr std::uint8_t kKindLastKey = 0xEF;      // key entries use kinds 0x00..0xEF
inline constexpr std::uint8_t kKindDataRecord = 0xF3;
inline constexpr std::uint8_t kKindStatus = 0xF6;
inline constexpr std::uint8_t kKindDefinitionChunk = 0xFA;
inline constexpr std::uint8_t kKindSortTable = 0xFB;
inline constexpr std::uint8_t kKindMemoChunk = 0xFC;
inline constexpr std::uint8_t kKindTableName = 0xFE;    // first byte of the key; no table number

// Data record: table number, 0xF3, record number.
inline constexpr std::size_t kDataRecordKeySize = kTablePrefixSize + kRecordNumberSize;  // 9

// Status record: table number, 0xF6, selector; data two u32 counters.
inline constexpr std::uint8_t kStatusTableSelector = 0xF3;  // the table's own status record
inline constexpr std::size_t kStatusKeySize = 6;
inline constexpr std::size_t kStatusDataSize = 8;

// Definition chunk: table number, 0xFA, chunk number (u16 LSB first).
inline constexpr std::size_t kDefinitionChunkKeySize = 7;
inline constexpr std::size_t kDefinitionChunkSize = 512;

// Sort table record: table number, 0xFB, 0x01; data collation block + OEM flag.
inline constexpr std::uint8_t kSortTableSelector = 0x01;
inline constexpr std::size_t kSortTableKeySize = 6;
inline constexpr std::size_t kCollationBlockSize = 1152;
inline constexpr std::size_t kSortTableDataSize = kCollationBlockSize + 1;  // 1153

// Memo chunk: table number, 0xFC, record number, memo number, chunk (u16 MSB first).
inline constexpr std::size_t kMemoChunkKeySize = kTablePrefixSize + kRecordNumberSize + 1 + 2;
inline constexpr std::size_t kMemoChunkSize = 256;

// Table name record data: the table number.
inline constexpr std::size_t kTableNameDataSize = kTableNumberSize;

// Record and table numbers come from one counter that never lets the first
// byte of a number reach 0xFE (the first byte of the table name records).
inline constexpr std::uint32_t kLargestNumber = 0xFDFFFFFF;

// --- Key entries -------------------------------------------------------------
// Unique key: key = table number, key number, value; data = record number.
// DUP key: key = table number, key number, value, record number; data empty.
// Either way the entry is value length + 9 bytes and ends in the record number.
inline constexpr std::size_t kKeyEntryOverhead = kTablePrefixSize + kRecordNumberSize;  // 9
// The largest entry (key plus data) that one page holds.
inline constexpr std::size_t kMaxEntrySize = 15076;

// --- Collation block layout ----------------------------------------------------
inline constexpr std::size_t kCollationSortWeights = 0;
inline constexpr std::size_t kCollationOemSortWeights = 256;
inline constexpr std::size_t kCollationCaseMap = 512;
inline constexpr std::size_t kCollationClasses = 768;
inline constexpr std::size_t kCollationExpansions = 1024;
inline constexpr std::size_t kCollationExpansionCount = 16;
inline constexpr std::size_t kCollationExpansionEntrySize = 4;
inline constexpr std::size_t kCollationSettings = 1088;
inline constexpr std::size_t kCollationSettingsSize = 64;
inline constexpr std::uint8_t kClassNoCase = 0x01;  // NOCASE replaces the byte by its partner
inline constexpr std::uint8_t kClassUpper = 0x02;   // upper-casing replaces the byte by its partner

// --- Definition stream -----------------------------------------------------------
inline constexpr std::uint16_t kDefinitionVersion = 1;
inline constexpr std::uint16_t kDefinitionVersionWithBlobs = 2;
inline constexpr std::uint8_t kTextAbsentMarker = 0x01;  // second byte of an absent text (00 01)

// --- Declaration limits ------------------------------------------------------------
inline constexpr std::uint32_t kMaxRecordLength = 15000;
inline constexpr std::uint32_t kMaxKeyCount = 240;
inline constexpr std::uint32_t kMaxMemoSize = 64000;
inline constexpr std::uint32_t kMaxGroupDepth = 100;
// Values the definition stream stores in 16 bits.
inline constexpr std::uint32_t kMaxStreamValue = 0xFFFF;

// --- Key definition flags (the stored flags byte) -----------------------------------
inline constexpr std::uint8_t kKeyDup = 0x01;
inline constexpr std::uint8_t kKeyOpt = 0x02;
inline constexpr std::uint8_t kKeyNoCase = 0x04;
inline constexpr std::uint8_t kKeyBit3 = 0x08;  // carried and compared, no other use
inline constexpr std::uint8_t kKeyPrimary = 0x10;
inline constexpr std::uint8_t kKeyIndex = 0x20;
inline constexpr std::uint8_t kKeyDynamic = 0x40;
inline constexpr std::uint8_t kKeyFlagMask = 0x7F;

// --- Memo definition flags ------------------------------------------------------------
inline constexpr std::uint8_t kMemoBinary = 0x02;
inline constexpr std::uint8_t kMemoBlob = 0x04;

// --- Table attribute bits (the declaration's attribute byte shifted right by one) -------
inline constexpr std::uint8_t kTableEncrypt = 0x01;
inline constexpr std::uint8_t kTableCreate = 0x02;
inline constexpr std::uint8_t kTableReclaim = 0x04;
inline constexpr std::uint8_t kTableThread = 0x08;
inline constexpr std::uint8_t kTableOem = 0x10;
inline constexpr std::uint8_t kTableSixth = 0x20;

}  // namespace qbx::records
