#include "qbx/records/key_value.h"

#include <algorithm>
#include <cstring>

#include "fileaccess/field_format.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/string_fields.h"

namespace qbx::records {
namespace {

using fileaccess::kTypeCstring;
using fileaccess::kTypeDate;
using fileaccess::kTypeDecimal;
using fileaccess::kTypeGroup;
using fileaccess::kTypeLong;
using fileaccess::kTypePstring;
using fileaccess::kTypeReal;
using fileaccess::kTypeShort;
using fileaccess::kTypeSreal;
using fileaccess::kTypeString;
using fileaccess::kTypeTime;
using fileaccess::kTypeUlong;
using fileaccess::kTypeUshort;

void copyReversed(std::span<const std::uint8_t> src, std::span<std::uint8_t> dst) {
  std::reverse_copy(src.begin(), src.end(), dst.begin());
}

// The expansion step over dst, whose bytes have been through NOCASE: each
// byte listed in the expansion table becomes its two replacements, and the
// first dst.size() bytes of the result are kept. Only the input from the
// first expanded byte on is copied aside, once.
void expand(const CollationTables& tables, std::span<std::uint8_t> dst) {
  const std::size_t w = dst.size();
  std::size_t first = 0;
  while (first < w && tables.expansionSlot(dst[first]) == 0) ++first;
  if (first == w) return;
  thread_local std::vector<std::uint8_t> rest;
  rest.assign(dst.begin() + static_cast<std::ptrdiff_t>(first), dst.end());
  std::size_t o = first;
  for (std::size_t i = 0; i < rest.size() && o < w; ++i) {
    const std::uint8_t b = rest[i];
    const std::uint8_t slot = tables.expansionSlot(b);
    if (slot == 0) {
      dst[o++] = b;
      continue;
    }
    dst[o++] = tables.expansionFirst(slot);
    if (o < w) dst[o++] = tables.expansionSecond(slot);
  }
}

void mapBytes(const std::array<std::uint8_t, 256>& map, std::span<std::uint8_t> dst) {
  for (auto& b : dst) b = map[b];
}

// NOCASE, expansion and weighting (with the OEM conversion folded into the
// weights) over one string component.
void stringSteps(const CollationTables& tables, bool noCase, bool oem,
                 std::span<std::uint8_t> dst) {
  if (!tables.hasExpansions()) {
    mapBytes(tables.stringMap(noCase, oem), dst);
    return;
  }
  if (noCase) mapBytes(tables.noCaseMap(), dst);
  expand(tables, dst);
  mapBytes(tables.weightMap(oem), dst);
}

bool allBytes(std::span<const std::uint8_t> bytes, std::uint8_t value) {
  return std::all_of(bytes.begin(), bytes.end(), [value](std::uint8_t b) { return b == value; });
}

bool fieldInRecord(const QbxFieldDef& f, std::size_t recordSize) {
  return static_cast<std::uint64_t>(f.offset) + f.totalSize <= recordSize;
}

}  // namespace

void formKeyValue(const QbxTableDef& table, const QbxKeyDef& key,
                  std::span<const std::uint8_t> record, std::span<std::uint8_t> out) {
  const CollationTables& tables = table.activeCollation();
  const bool oem = table.isOem();
  const bool noCase = key.isNoCase();
  std::size_t pos = 0;
  for (const QbxKeyComponent& c : key.components) {
    const QbxFieldDef& f = table.fields[c.field];
    const std::size_t w = f.totalSize;
    std::span<std::uint8_t> dst = out.subspan(pos, w);
    pos += w;
    if (w == 0) continue;
    if (!fieldInRecord(f, record.size())) {
      // A definition keeps every field inside the record; an image of the
      // wrong size forms zeros rather than reading past its end.
      std::fill(dst.begin(), dst.end(), std::uint8_t{0});
      continue;
    }
    const std::span<const std::uint8_t> src = record.subspan(f.offset, w);
    bool descending = c.descending;
    switch (f.type) {
      case kTypeShort:
      case kTypeLong:
        copyReversed(src, dst);
        dst[0] ^= 0x80;
        break;
      case kTypeUshort:
      case kTypeDate:
      case kTypeTime:
      case kTypeUlong:
        copyReversed(src, dst);
        break;
      case kTypeSreal:
      case kTypeReal:
        copyReversed(src, dst);
        if ((dst[0] & 0x80) != 0) {
          descending = !descending;  // negative: complemented to sort below the positives
        } else {
          dst[0] |= 0x80;
        }
        break;
      case kTypeDecimal:
        std::copy(src.begin(), src.end(), dst.begin());
        if ((dst[0] & 0xF0) != 0) {
          dst[0] &= 0x0F;  // any non-zero sign nibble is negative
          descending = !descending;
        }
        dst[0] ^= 0x80;
        break;
      case kTypeString:
      case kTypeGroup:
        std::copy(src.begin(), src.end(), dst.begin());
        stringSteps(tables, noCase, oem, dst);
        break;
      case kTypeCstring: {
        const std::size_t n = cstringLength(src);
        std::copy_n(src.begin(), n, dst.begin());
        std::fill(dst.begin() + static_cast<std::ptrdiff_t>(n), dst.end(), std::uint8_t{0});
        stringSteps(tables, noCase, oem, dst);
        break;
      }
      case kTypePstring: {
        const std::size_t n = pstringLength(src);
        std::copy_n(src.begin() + 1, n, dst.begin());
        std::fill(dst.begin() + static_cast<std::ptrdiff_t>(n), dst.end(), std::uint8_t{0});
        stringSteps(tables, noCase, oem, dst);
        break;
      }
      default:
        std::copy(src.begin(), src.end(), dst.begin());
        break;
    }
    if (descending) {
      for (auto& b : dst) b = static_cast<std::uint8_t>(~b);
    }
  }
}

bool blankForOpt(const QbxTableDef& table, const QbxKeyDef& key,
                 std::span<const std::uint8_t> record) {
  if (!key.isOpt()) return false;
  for (const QbxKeyComponent& c : key.components) {
    const QbxFieldDef& f = table.fields[c.field];
    if (f.totalSize == 0) continue;
    if (!fieldInRecord(f, record.size())) return false;
    const std::span<const std::uint8_t> src = record.subspan(f.offset, f.totalSize);
    bool blank = false;
    switch (f.type) {
      case kTypeString:
      case kTypeGroup:
        blank = allBytes(src, ' ');
        break;
      case kTypeCstring:
      case kTypePstring:
        blank = src[0] == 0;
        break;
      default:
        blank = allBytes(src, 0);
        break;
    }
    if (!blank) return false;
  }
  return true;
}

void formKeyEntry(const QbxTableDef& table, const QbxKeyDef& key,
                  std::span<const std::uint8_t> record, std::uint32_t recordNumber,
                  std::span<std::uint8_t> out) {
  putTablePrefix(out, table.tableNumber, key.keyNumber);
  formKeyValue(table, key, record, out.subspan(kTablePrefixSize, key.valueLength));
  platform::storeBe32(out, kTablePrefixSize + key.valueLength, recordNumber);
}

void KeyEntry::make(const QbxTableDef& table, const QbxKeyDef& key,
                    std::span<const std::uint8_t> record) {
  bytes_.resize(kKeyEntryOverhead + key.valueLength);
  keyLength_ = key.entryKeyLength();
  if (!record.empty()) {
    formKeyEntry(table, key, record, 0, bytes_);
    return;
  }
  putTablePrefix(bytes_, table.tableNumber, key.keyNumber);
  std::fill(bytes_.begin() + kTablePrefixSize, bytes_.end(), std::uint8_t{0});
}

void KeyEntry::setRecordNumber(std::uint32_t recordNumber) {
  platform::storeBe32(bytes_, bytes_.size() - kRecordNumberSize, recordNumber);
}

std::uint32_t KeyEntry::recordNumber() const { return trailingRecordNumber(bytes_); }

}  // namespace qbx::records
