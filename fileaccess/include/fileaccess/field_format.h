// On-disk constants of the FieldDesc stream, the byte form of a record layout.
// The driver stores declarations in every file it creates, so changing any of
// these values breaks existing files.
//
// One field entry:
//
//   | Bytes          | Content                                                     |
//   |----------------|-------------------------------------------------------------|
//   | 1              | type code (kType*)                                           |
//   | 1              | flags (kFieldHas*)                                           |
//   | type part      | DECIMAL, PDECIMAL: size in bytes (1), decimal places (1)     |
//   |                | STRING, CSTRING, PSTRING, MEMO: length (compact number),     |
//   |                |   then with kFieldHasPicture the picture, zero-terminated    |
//   |                | GROUP: size (u32 LE), entries inside at all depths (u32 LE), |
//   |                |   length of the whole group entry in bytes (u32 LE)          |
//   |                | code 31: size (1)                                            |
//   |                | other types: nothing (size from fixedTypeSize)               |
//   | kFieldHasLabel | label, zero-terminated                                       |
//   | kFieldHasName  | NAME attribute, zero-terminated                              |
//   | kFieldHasOffset| offset adjustment, signed compact number                     |
//   | kFieldHasDims  | dimension count (1), then each dimension as a compact number |
//
// The record is one GROUP entry without a label; its members follow it, and a
// member that is a GROUP is followed by its own members.
//
// Compact number, 1 to 4 bytes:
//
//   | Byte | Bits | Content                                         |
//   |------|------|-------------------------------------------------|
//   | 0    | 0-4  | top 5 bits of the magnitude                      |
//   | 0    | 5-6  | number of bytes that follow (0-3)                |
//   | 0    | 7    | sign (set: negative)                             |
//   | 1-3  | 0-7  | the magnitude continues, most significant first  |
#pragma once

#include <cstdint>
#include <string_view>

namespace fileaccess {

// Field type codes.
inline constexpr std::uint8_t kTypeEnd = 0;
inline constexpr std::uint8_t kTypeByte = 1;
inline constexpr std::uint8_t kTypeShort = 2;
inline constexpr std::uint8_t kTypeUshort = 3;
inline constexpr std::uint8_t kTypeDate = 4;
inline constexpr std::uint8_t kTypeTime = 5;
inline constexpr std::uint8_t kTypeLong = 6;
inline constexpr std::uint8_t kTypeUlong = 7;
inline constexpr std::uint8_t kTypeSreal = 8;
inline constexpr std::uint8_t kTypeReal = 9;
inline constexpr std::uint8_t kTypeDecimal = 10;
inline constexpr std::uint8_t kTypePdecimal = 11;
inline constexpr std::uint8_t kTypeDum1 = 12;
inline constexpr std::uint8_t kTypeBfloat4 = 13;
inline constexpr std::uint8_t kTypeBfloat8 = 14;
inline constexpr std::uint8_t kTypeAny = 15;
inline constexpr std::uint8_t kTypeTempufo = 16;
inline constexpr std::uint8_t kType17 = 17;
inline constexpr std::uint8_t kTypeString = 18;
inline constexpr std::uint8_t kTypeCstring = 19;
inline constexpr std::uint8_t kTypePstring = 20;
inline constexpr std::uint8_t kTypeMemo = 21;
inline constexpr std::uint8_t kTypeGroup = 22;
inline constexpr std::uint8_t kTypeClass = 23;
inline constexpr std::uint8_t kTypeArray = 24;
inline constexpr std::uint8_t kTypeField = 25;
inline constexpr std::uint8_t kTypeQueue = 26;
inline constexpr std::uint8_t kTypeBlob = 27;
inline constexpr std::uint8_t kTypeStackstr = 28;
inline constexpr std::uint8_t kTypePicture = 29;
inline constexpr std::uint8_t kTypeStdnum = 30;
inline constexpr std::uint8_t kTypeSized31 = 31;  // carries its own size byte
// Codes 32 to 36 are carried with a fixed size of 4; higher codes have no
// known form and make an entry undecodable.
inline constexpr std::uint8_t kTypeHighestKnown = 36;

// Entry flags.
inline constexpr std::uint8_t kFieldHasName = 0x01;
inline constexpr std::uint8_t kFieldHasLabel = 0x02;
inline constexpr std::uint8_t kFieldHasPicture = 0x04;
inline constexpr std::uint8_t kFieldHasOffset = 0x08;
inline constexpr std::uint8_t kFieldHasDims = 0x10;
inline constexpr std::uint8_t kFieldKnownFlags = 0x1F;

// GROUP header after type and flags: size, entries, length (u32 LE each).
inline constexpr std::uint32_t kGroupPartBytes = 12;
inline constexpr std::uint32_t kGroupHeaderBytes = 2 + kGroupPartBytes;

// Compact numbers: 5 + 3 * 8 bits of magnitude.
inline constexpr std::uint32_t kCompactMaxMagnitude = (1u << 29) - 1;
inline constexpr std::uint8_t kCompactSignBit = 0x80;
inline constexpr std::uint8_t kCompactCountMask = 0x60;
inline constexpr std::uint8_t kCompactCountShift = 5;
inline constexpr std::uint8_t kCompactTopMask = 0x1F;

// True for the types whose own part is a compact length (and may carry a picture).
constexpr bool isStringType(std::uint8_t type) {
  return type == kTypeString || type == kTypeCstring || type == kTypePstring || type == kTypeMemo;
}

constexpr bool isDecimalType(std::uint8_t type) {
  return type == kTypeDecimal || type == kTypePdecimal;
}

// Size in bytes of a type whose entry has no own size part; 0 for the types
// that carry their size in the entry and for those without a defined size.
constexpr std::uint32_t fixedTypeSize(std::uint8_t type) {
  switch (type) {
    case kTypeByte:
      return 1;
    case kTypeShort:
    case kTypeUshort:
      return 2;
    case kTypeDate:
    case kTypeTime:
    case kTypeLong:
    case kTypeUlong:
    case kTypeSreal:
    case kTypeBfloat4:
    case kTypeAny:
    case 32:
    case 33:
    case 34:
    case 35:
    case 36:
      return 4;
    case kTypeReal:
    case kTypeBfloat8:
      return 8;
    default:
      return 0;
  }
}

// The name the declaration dump prints for a type code: "(17)" for 17 and
// "UNKNOWN" above 30.
std::string_view fieldTypeName(std::uint8_t type);

}  // namespace fileaccess
