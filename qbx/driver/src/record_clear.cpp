// CLEAR(mode): the record buffer field by field, then the memos. Mode 0 is
// the ordinary clear (strings and groups to blanks, everything else to
// zeros); a positive mode gives every field the highest value of its type
// and a negative mode the lowest.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstring>
#include <span>

#include "fileaccess/field_format.h"
#include "fileaccess/stored_values.h"
#include "handlers.h"
#include "platform/endian.h"

namespace qbx::driver {
namespace {

enum class ClearMode { kLowest, kClear, kHighest };

ClearMode clearModeOf(std::intptr_t word) {
  const auto mode = static_cast<std::int32_t>(word);
  if (mode > 0) return ClearMode::kHighest;
  if (mode < 0) return ClearMode::kLowest;
  return ClearMode::kClear;
}

template <typename T>
void storeNative(std::span<std::uint8_t> element, T value) {
  if (element.size() < sizeof value) return;
  std::memcpy(element.data(), &value, sizeof value);
}

// One element of a field, in the field's type. Elements of types the record
// layer does not store (carried in overlays) take all-zero or all-one bytes.
void fillElement(std::uint8_t type, std::span<std::uint8_t> element, ClearMode mode) {
  using namespace fileaccess;
  if (element.empty()) return;
  if (mode == ClearMode::kClear) {
    const bool blank = type == kTypeString || type == kTypeGroup;
    std::fill(element.begin(), element.end(), blank ? kSpace : std::uint8_t{0});
    return;
  }
  const bool high = mode == ClearMode::kHighest;
  switch (type) {
    case kTypeShort:
      platform::storeLe16(element, 0, high ? 0x7FFF : 0x8000);
      return;
    case kTypeLong:
    case kTypeDate:
    case kTypeTime:
      platform::storeLe32(element, 0, high ? 0x7FFFFFFFu : 0x80000000u);
      return;
    case kTypeSreal:
      storeNative(element, high ? FLT_MAX : -FLT_MAX);
      return;
    case kTypeReal:
      storeNative(element, high ? DBL_MAX : -DBL_MAX);
      return;
    case kTypeDecimal:
    case kTypePdecimal:
      // Every digit 9; the sign nibble says which end.
      std::fill(element.begin(), element.end(), std::uint8_t{0x99});
      element[0] = high ? 0x09 : static_cast<std::uint8_t>((kDecimalNegativeNibble << 4) | 0x9);
      return;
    case kTypePstring:
      std::fill(element.begin(), element.end(), high ? std::uint8_t{0xFF} : std::uint8_t{0});
      element[0] = high ? static_cast<std::uint8_t>(std::min<std::size_t>(element.size() - 1, 255))
                        : std::uint8_t{0};
      return;
    default:
      // BYTE, USHORT, ULONG, the strings and groups: all bytes at their
      // highest or lowest.
      std::fill(element.begin(), element.end(), high ? std::uint8_t{0xFF} : std::uint8_t{0});
      return;
  }
}

std::uint32_t elementSizeOf(const records::QbxFieldDef& field) {
  if (field.type == fileaccess::kTypeGroup) return field.totalSize;
  if (fileaccess::isDecimalType(field.type)) return field.elementSize;
  if (field.elementLength != 0) return field.elementLength;
  const std::uint32_t fixed = fileaccess::fixedTypeSize(field.type);
  if (fixed != 0) return fixed;
  return field.elementCount != 0 ? field.totalSize / field.elementCount : field.totalSize;
}

void clearField(const records::QbxFieldDef& field, std::span<std::uint8_t> record, ClearMode mode) {
  const std::uint64_t end = std::uint64_t{field.offset} + field.totalSize;
  if (end > record.size()) return;
  const std::span<std::uint8_t> bytes = record.subspan(field.offset, field.totalSize);
  const std::uint32_t size = elementSizeOf(field);
  if (size == 0 || field.type == fileaccess::kTypeGroup) {
    fillElement(field.type, bytes, mode);
    return;
  }
  for (std::size_t at = 0; at + size <= bytes.size(); at += size) {
    fillElement(field.type, bytes.subspan(at, size), mode);
  }
}

}  // namespace

int handleClear(DriverCall& call) {
  records::QbxTableDef& def = *call.file.def;
  const ClearMode mode = clearModeOf(call.word(0));
  if (def.recordBuffer != nullptr) {
    const std::span<std::uint8_t> record(def.recordBuffer, def.recordLength);
    // A group is cleared before its members, so members end with their own
    // values.
    for (const records::QbxFieldDef& field : def.fields) clearField(field, record, mode);
  }
  for (records::QbxMemoDef& memo : def.memos) {
    // Blobs are held outside the memo buffers.
    if (memo.isBlob() || !memo.buffer) continue;
    std::uint8_t fill = 0;
    if (mode == ClearMode::kHighest) {
      fill = 0xFF;
    } else if (mode == ClearMode::kClear && (memo.flags & records::kMemoBinary) == 0) {
      fill = fileaccess::kSpace;
    }
    std::memset(memo.buffer.get(), fill, memo.size);
  }
  return 0;
}

}  // namespace qbx::driver
