#include "qbx/records/layout_check.h"

#include "fileaccess/field_format.h"
#include "qbx/records/key_value.h"
#include "qbx/records/result_codes.h"

namespace qbx::records {
namespace {

using fileaccess::fixedTypeSize;

}  // namespace

int checkFieldLayout(const QbxTableDef& table, std::size_t index) {
  const QbxFieldDef& f = table.fields[index];
  if (f.elementCount > kMaxStreamValue || f.totalSize > kMaxStreamValue ||
      f.offset > kMaxStreamValue || f.elementLength > kMaxStreamValue) {
    return kErrInvalidRecordDeclaration;
  }
  if (f.fieldNumber != index || f.overlay > 1) return kErrInvalidFieldType;
  if (std::uint64_t{f.offset} + f.totalSize > table.recordLength) return kErrInvalidFieldType;
  if (!isSupportedType(f.type)) {
    return f.overlay != 0 ? kOk : kErrUnsupportedDataType;
  }
  const std::uint64_t count = f.elementCount;
  if (f.type == fileaccess::kTypeGroup) return kOk;
  if (fileaccess::isDecimalType(f.type)) {
    return f.elementSize != 0 && count * f.elementSize == f.totalSize ? kOk
                                                                     : kErrInvalidFieldType;
  }
  if (fileaccess::isStringType(f.type)) {
    return count * f.elementLength == f.totalSize ? kOk : kErrInvalidFieldType;
  }
  return count * fixedTypeSize(f.type) == f.totalSize ? kOk : kErrInvalidFieldType;
}

namespace {

int checkKey(const QbxTableDef& table, const QbxKeyDef& key, std::size_t index) {
  if (key.keyNumber != index || (key.flags & ~kKeyFlagMask) != 0) {
    return kErrInvalidRecordDeclaration;
  }
  if (key.isDynamic() && !key.components.empty()) return kErrInvalidFieldType;
  for (const QbxKeyComponent& c : key.components) {
    if (c.field >= table.fields.size()) return kErrInvalidFieldType;
    if (table.fields[c.field].elementCount > 1) return kErrInvalidFieldType;
  }
  return keyEntryFits(componentsLength(table, key)) ? kOk : kErrInvalidKeyLength;
}

}  // namespace

bool isSupportedType(std::uint8_t type) {
  return (type >= fileaccess::kTypeByte && type <= fileaccess::kTypeDecimal) ||
         (type >= fileaccess::kTypeString && type <= fileaccess::kTypePstring) ||
         type == fileaccess::kTypeGroup;
}

std::uint64_t componentsLength(const QbxTableDef& table, const QbxKeyDef& key) {
  std::uint64_t length = 0;
  for (const QbxKeyComponent& c : key.components) {
    if (c.field < table.fields.size()) length += table.fields[c.field].totalSize;
  }
  return length;
}

int checkTableLayout(const QbxTableDef& table) {
  if (table.recordLength > kMaxRecordLength || table.keys.size() > kMaxKeyCount ||
      table.memos.size() > 0xFF || table.fields.size() > kMaxStreamValue) {
    return kErrInvalidRecordDeclaration;
  }
  for (std::size_t i = 0; i < table.fields.size(); ++i) {
    if (int rc = checkFieldLayout(table, i); rc != kOk) return rc;
  }
  for (const QbxMemoDef& m : table.memos) {
    if (m.size > kMaxMemoSize) return kErrInvalidRecordDeclaration;
  }
  for (std::size_t i = 0; i < table.keys.size(); ++i) {
    if (int rc = checkKey(table, table.keys[i], i); rc != kOk) return rc;
  }
  return kOk;
}

}  // namespace qbx::records
