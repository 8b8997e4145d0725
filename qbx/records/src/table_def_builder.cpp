#include "qbx/records/table_def_builder.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <unordered_map>

#include "fileaccess/declarations.h"
#include "fileaccess/field_desc.h"
#include "qbx/records/key_value.h"
#include "qbx/records/layout_check.h"
#include "qbx/records/result_codes.h"

namespace qbx::records {
namespace {

OptText declaredText(const char* text, std::int32_t length) {
  if (text == nullptr) return std::nullopt;
  return fileaccess::takeName(text, length);
}

OptText streamText(bool present, std::string_view text) {
  if (!present) return std::nullopt;
  return std::string(text);
}

// Walks the record declaration into the field list, deciding each field's
// overlay flag from the group overlay states and the previous field's offset
// and level.
class FieldListBuilder {
 public:
  explicit FieldListBuilder(QbxTableDef& table) : table_(table) {}

  int build(std::span<const std::uint8_t> stream) {
    fileaccess::FieldDescReader reader(stream, table_.recordLength);
    fileaccess::FieldEntry entry;
    if (reader.next(entry) != 0 || entry.type != fileaccess::kTypeGroup) {
      return kErrInvalidFieldType;
    }
    table_.fields.reserve(reader.fieldCount());
    while (!reader.done()) {
      if (reader.next(entry) != 0) return kErrInvalidFieldType;
      if (int rc = add(entry); rc != kOk) return rc;
    }
    return kOk;
  }

 private:
  int add(const fileaccess::FieldEntry& e) {
    const bool first = table_.fields.empty();
    QbxFieldDef& f = table_.fields.emplace_back();
    const bool hasName = (e.flags & fileaccess::kFieldHasName) != 0;
    const bool hasLabel = (e.flags & fileaccess::kFieldHasLabel) != 0;
    f.type = e.type;
    f.offset = e.offset;
    f.label = streamText(hasLabel, e.label);
    f.externalName = streamText(hasName, e.nameAttribute);
    f.name = hasName ? f.externalName : f.label;
    f.elementCount = e.elementCount;
    f.totalSize = static_cast<std::uint32_t>(e.totalSize());
    f.fieldNumber = static_cast<std::uint32_t>(table_.fields.size() - 1);

    // Leaving groups: one state per level left; the last one popped is the
    // state of the enclosing group.
    for (std::uint32_t l = e.level; l < prevLevel_ && !states_.empty(); ++l) {
      state_ = states_.back();
      states_.pop_back();
    }
    const bool below = !first && e.offset <= prevOffset_ && e.level <= prevLevel_;
    f.overlay = state_ != 0 || below ? 1 : 0;
    firstAtOffset_.emplace(e.offset, f.fieldNumber + 1);
    if (f.overlay != 0 && state_ == 0) f.overlaidField = firstAtOffset_[e.offset];

    if (e.type == fileaccess::kTypeGroup) {
      if (states_.size() >= kMaxGroupDepth) return kErrInvalidFieldType;
      states_.push_back(state_);
      state_ = f.overlay;
      f.memberCount = e.memberCount;
    }
    prevOffset_ = e.offset;
    prevLevel_ = e.level;

    if (fileaccess::isDecimalType(e.type)) {
      f.elementSize = static_cast<std::uint8_t>(e.size);
      f.places = e.places;
    } else if (e.type == fileaccess::kTypeString || e.type == fileaccess::kTypeCstring ||
               e.type == fileaccess::kTypePstring) {
      f.elementLength = e.size;
      f.picture = streamText((e.flags & fileaccess::kFieldHasPicture) != 0, e.picture);
    }
    // Anything else that is overlaid is carried and ignored by records and keys.
    if (!isSupportedType(e.type) && f.overlay == 0) return kErrUnsupportedDataType;
    return kOk;
  }

  QbxTableDef& table_;
  std::vector<std::uint32_t> states_;
  std::uint32_t state_ = 0;
  std::uint32_t prevOffset_ = 0;
  std::uint32_t prevLevel_ = 0;
  std::unordered_map<std::uint32_t, std::uint32_t> firstAtOffset_;
};

int buildKey(QbxTableDef& table, fileaccess::KeyDesc& desc, std::size_t number) {
  QbxKeyDef& key = table.keys[number];
  key.externalName = declaredText(desc.externalName, desc.externalNameLength);
  key.label = declaredText(desc.label, desc.labelLength);
  key.flags = static_cast<std::uint8_t>(desc.keyFlags & 0x1F);
  if ((desc.keyFlags & fileaccess::kKeyIndex) != 0) key.flags |= kKeyIndex;
  key.keyNumber = static_cast<std::uint8_t>(number);
  key.desc = &desc;
  desc.driverKey = &key;
  if (desc.componentCount == 0) {
    if (key.isIndex()) key.flags |= kKeyDynamic;
    return kOk;
  }
  if (desc.components == nullptr) return kErrInvalidFieldType;
  int rc = kOk;
  key.components.resize(desc.componentCount);
  for (std::size_t i = 0; i < desc.componentCount; ++i) {
    const std::int64_t c = desc.components[i];
    const std::int64_t field = c < 0 ? -c : c;
    if (field == 0 || field > static_cast<std::int64_t>(table.fields.size())) {
      rc = kErrInvalidFieldType;
      continue;
    }
    key.components[i] = {static_cast<std::uint32_t>(field - 1), c < 0};
    if (table.fields[field - 1].elementCount > 1) rc = kErrInvalidFieldType;
  }
  if (rc != kOk) return rc;
  const std::uint64_t length = componentsLength(table, key);
  if (!keyEntryFits(length)) return kErrInvalidKeyLength;
  key.valueLength = static_cast<std::uint32_t>(length);
  return kOk;
}

int buildMemo(QbxTableDef& table, fileaccess::MemoDesc& desc, std::size_t number) {
  if (desc.memoSize > kMaxMemoSize) return kErrInvalidRecordDeclaration;
  QbxMemoDef& memo = table.memos[number];
  memo.externalName = declaredText(desc.externalName, desc.externalNameLength);
  memo.label = declaredText(desc.label, desc.labelLength);
  memo.flags = desc.memoFlags;
  memo.size = desc.memoSize;
  memo.buffer.reset(new (std::nothrow) char[memo.size == 0 ? 1 : memo.size]);
  if (!memo.buffer) return kErrInsufficientMemory;
  std::fill_n(memo.buffer.get(), memo.size, ' ');
  memo.desc = &desc;
  desc.driverMemo = &memo;
  desc.memoBuffer = memo.buffer.get();
  return kOk;
}

int buildInto(QbxTableDef& table, fileaccess::FileBlock& file) {
  if (file.recordLength > kMaxRecordLength) return kErrInvalidRecordDeclaration;
  table.fileBlock = &file;
  table.name = fileaccess::takeName(file.name, file.nameLength);
  table.owner = declaredText(file.owner, file.ownerLength);
  table.driverOptions = declaredText(file.driverOptions, file.driverOptionsLength);
  table.attributes = static_cast<std::uint8_t>((file.attributes >> 1) & 0x3F);
  table.recordBuffer = file.recordBuffer;
  table.recordLength = file.recordLength;

  if (file.recordDesc != nullptr && file.recordLength != 0) {
    FieldListBuilder fields(table);
    if (int rc = fields.build(fileaccess::declaredStream(file.recordDesc)); rc != kOk) return rc;
  }

  const std::uint32_t keyCount = fileaccess::effectiveKeyCount(file);
  if (keyCount > kMaxKeyCount) return kErrInvalidRecordDeclaration;
  table.keys.resize(keyCount);
  for (std::size_t i = 0; i < keyCount; ++i) {
    fileaccess::KeyDesc* desc = file.keyTable[i];
    if (desc == nullptr) return kErrInvalidFieldType;
    if (int rc = buildKey(table, *desc, i); rc != kOk) return rc;
  }

  const std::uint32_t memoCount = fileaccess::effectiveMemoCount(file);
  table.memos.resize(memoCount);
  for (std::size_t i = 0; i < memoCount; ++i) {
    fileaccess::MemoDesc* desc = file.memoTable[i];
    if (desc == nullptr) return kErrInvalidRecordDeclaration;
    if (int rc = buildMemo(table, *desc, i); rc != kOk) return rc;
  }
  // What the stored definition must be able to hold back.
  return checkTableLayout(table);
}

}  // namespace

int buildTableDef(fileaccess::FileBlock& file, std::unique_ptr<QbxTableDef>& out) {
  std::unique_ptr<QbxTableDef> table(new (std::nothrow) QbxTableDef);
  if (!table) return kErrInsufficientMemory;
  try {
    if (int rc = buildInto(*table, file); rc != kOk) return rc;  // table unlinks itself
  } catch (const std::bad_alloc&) {
    return kErrInsufficientMemory;
  }
  out = std::move(table);
  return kOk;
}

}  // namespace qbx::records
