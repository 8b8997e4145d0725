#include "convert23/catalogue.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue_layout.h"
#include "fileaccess/field_desc.h"
#include "fileaccess/stored_values.h"

namespace convert23 {

using fileaccess::FieldDescWriter;
using fileaccess::KeyDesc;

namespace {

// One top-level field or group member of the record, by its name after the
// prefix. A GROUP is followed by its members.
struct FieldSpec {
  std::string_view name;
  std::uint8_t type;    // fileaccess::kType*
  std::int32_t length;  // STRING length; 0 for other types
  int members;          // GROUP: number of members that follow
};

// The value field is a LONG in the old layout and a DECIMAL(7,2) in the new.
constexpr std::uint8_t kValueType = 0;

constexpr std::array<FieldSpec, kFieldCount> kFields = {{
    {"TITLE", fileaccess::kTypeString, 100, 0},
    {"CATEGORY", fileaccess::kTypeString, 80, 0},
    {"STAR1", fileaccess::kTypeString, 80, 0},
    {"REVIEW", fileaccess::kTypeString, 15, 0},
    {"STAR2", fileaccess::kTypeString, 80, 0},
    {"LENGTH", fileaccess::kTypeString, 25, 0},
    {"STAR3", fileaccess::kTypeString, 80, 0},
    {"VALUE", kValueType, 0, 0},
    {"LOCATION", fileaccess::kTypeString, 50, 0},
    {"COPYDATE", fileaccess::kTypeString, 50, 0},
    {"CONDITION", fileaccess::kTypeString, 50, 0},
    {"CUSTOM1", fileaccess::kTypeString, 50, 0},
    {"PRODUCER", fileaccess::kTypeString, 80, 0},
    {"CUSTOM2", fileaccess::kTypeString, 50, 0},
    {"DIRECTOR", fileaccess::kTypeString, 80, 0},
    {"RATING", fileaccess::kTypeString, 10, 0},
    {"LENTTO", fileaccess::kTypeString, 80, 0},
    {"DATELENT", fileaccess::kTypeString, 30, 0},
    {"GRAPHICFILE", fileaccess::kTypeString, 120, 0},
    {"DELETED", fileaccess::kTypeByte, 0, 0},
    {"CREATED", fileaccess::kTypeGroup, 0, 2},
    {"CREATEDDATE", fileaccess::kTypeLong, 0, 0},
    {"CREATEDTIME", fileaccess::kTypeLong, 0, 0},
    {"CHANGED", fileaccess::kTypeGroup, 0, 2},
    {"CHANGEDDATE", fileaccess::kTypeLong, 0, 0},
    {"CHANGEDTIME", fileaccess::kTypeLong, 0, 0},
    {"STARKEY", fileaccess::kTypeString, 80, 0},
    {"STAR2KEY", fileaccess::kTypeString, 80, 0},
    {"STAR3KEY", fileaccess::kTypeString, 80, 0},
    {"TITLEKEY", fileaccess::kTypeString, 50, 0},
    {"LISTBYSTARS", fileaccess::kTypeByte, 0, 0},
    {"CONTENTS", fileaccess::kTypeString, 5000, 0},
    {"CAST", fileaccess::kTypeString, 8000, 0},
}};

constexpr std::uint32_t kDupOptNocase =
    fileaccess::kKeyDup | fileaccess::kKeyOpt | fileaccess::kKeyNocase;
constexpr std::uint32_t kDynamicIndex = fileaccess::kKeyIndex | kDupOptNocase;

struct KeySpec {
  std::string_view name;
  std::uint32_t flags;
  std::array<std::int32_t, 3> components;  // field numbers, 0 past the last
};

constexpr std::array<KeySpec, kKeyCount> kKeys = {{
    {"CREATEDKEY", fileaccess::kKeyDup, {22, 23, 20}},
    {"DELETEKEY", kDupOptNocase, {20}},
    {"STARSKEY", kDynamicIndex, {}},
    {"LENTTOKEY", kDupOptNocase, {17, 18}},
    {"DATELENTKEY", kDupOptNocase, {18, 17}},
    {"STARSKEYKEY", kDynamicIndex, {}},
    {"TITLEKEYKEY", kDupOptNocase, {1, 2, 3}},
    {"STAR1KEY", kDupOptNocase, {3, 1, 2}},
    {"STAR2K", kDupOptNocase, {5, 1, 2}},
    {"STAR3K", kDupOptNocase, {7, 1, 2}},
    {"COPYDATEKEY", kDupOptNocase, {10, 1}},
    {"CATEGORYKEY", kDupOptNocase, {2, 1}},
    {"REVIEWKEY", kDupOptNocase, {4, 1}},
    {"CUSTOM2KEY", kDupOptNocase, {14, 1}},
    {"LENTHKEY", kDupOptNocase, {6, 1}},
    {"PRODUCERKEY", kDupOptNocase, {13, 1}},
    {"CONDITIONKEY", kDupOptNocase, {11, 1}},
    {"LOCATIONKEY", kDupOptNocase, {9, 1}},
    {"CUSTOM1KEY", kDupOptNocase, {12, 1}},
    {"DIRECTORKEY", kDupOptNocase, {15, 1}},
    {"RATINGKEY", kDupOptNocase, {16, 1}},
    {"VALUEKEY", kDupOptNocase, {8, 1}},
}};

std::vector<std::uint8_t> buildStream(std::string_view prefix, bool newLayout) {
  FieldDescWriter w;
  w.group("");
  int membersLeft = -1;  // members of the open group still to come
  for (const FieldSpec& f : kFields) {
    const std::string label = std::string(prefix) + ":" + std::string(f.name);
    switch (f.type) {
      case kValueType:
        if (newLayout) {
          w.decimal(label, kValueSize, kValuePlaces);
        } else {
          w.longField(label);
        }
        break;
      case fileaccess::kTypeString:
        w.string(label, f.length);
        break;
      case fileaccess::kTypeGroup:
        w.group(label);
        membersLeft = f.members;
        continue;
      default:
        w.fixed(f.type, label);
        break;
    }
    if (membersLeft > 0 && --membersLeft == 0) {
      w.endGroup();
      membersLeft = -1;
    }
  }
  w.endGroup();
  auto stream = w.finish();
  assert(stream.has_value());
  return std::move(stream).value_or(std::vector<std::uint8_t>{});
}

}  // namespace

void declareLayout(CatalogueLayout& layout, fileaccess::FileBlock& file, std::string_view prefix,
                   char* nameVariable, bool newLayout, std::uint8_t attributes) {
  layout.stream = buildStream(prefix, newLayout);
  [[maybe_unused]] const int rc =
      fileaccess::readFieldEntries(layout.stream, kRecordLength, layout.fields);
  assert(rc == 0 && layout.fields.size() == kFieldCount + 1);
  [[maybe_unused]] const int cleared =
      fileaccess::buildClearedImage(layout.stream, kRecordLength, layout.clearedImage);
  assert(cleared == 0);
  layout.record.assign(layout.clearedImage.begin(), layout.clearedImage.end());

  for (std::size_t i = 0; i < kKeyCount; ++i) {
    const KeySpec& declared = kKeys[i];
    layout.keyLabels[i] = std::string(prefix) + ":" + std::string(declared.name);
    const auto count = static_cast<std::uint8_t>(std::count_if(
        declared.components.begin(), declared.components.end(), [](std::int32_t c) { return c != 0; }));
    layout.components[i] = declared.components;
    KeyDesc& key = layout.keys[i];
    key = KeyDesc{};
    key.label = layout.keyLabels[i].data();
    key.labelLength = static_cast<std::int32_t>(layout.keyLabels[i].size());
    key.keyFlags = declared.flags;
    key.componentCount = count;
    key.components = count != 0 ? layout.components[i].data() : nullptr;
    key.declaringFile = &file;
    layout.keyTable[i] = &key;
  }

  file = fileaccess::FileBlock{};
  file.name = nameVariable;
  file.nameLength = static_cast<std::int32_t>(kNameLength);
  file.attributes = attributes;
  file.keyCount = static_cast<std::uint8_t>(kKeyCount);
  file.memoCount = 0;
  file.recordLength = kRecordLength;
  file.recordDesc = layout.stream.data();
  file.keyTable = layout.keyTable.data();
  file.memoTable = nullptr;
  file.recordBuffer = layout.record.data();
}

char SOURCENAME[kNameLength];
char TARGETNAME[kNameLength];
std::uint32_t COUNT = 0;
fileaccess::FileBlock REELCATALOG1;
fileaccess::FileBlock REELCATALOG2;

CatalogueLayout& sourceLayout() {
  static CatalogueLayout layout;
  return layout;
}

CatalogueLayout& targetLayout() {
  static CatalogueLayout layout;
  return layout;
}

namespace {

// Both declarations are built once at start-up, before the program runs.
[[maybe_unused]] const bool kDeclared = [] {
  declareLayout(sourceLayout(), REELCATALOG1, "IN", SOURCENAME, false, 0);
  declareLayout(targetLayout(), REELCATALOG2, "MOV", TARGETNAME, true, fileaccess::kAttrCreate);
  // AssignRecord pairs the entries of the two layouts by number.
  assert(std::equal(sourceLayout().fields.begin(), sourceLayout().fields.end(),
                    targetLayout().fields.begin(), targetLayout().fields.end(),
                    [](const fileaccess::FieldEntry& a, const fileaccess::FieldEntry& b) {
                      return a.offset == b.offset && a.totalSize() == b.totalSize();
                    }));
  std::memset(SOURCENAME, ' ', kNameLength);
  std::memset(TARGETNAME, ' ', kNameLength);
  return true;
}();

}  // namespace

void setDriverEntry(fileaccess::DriverEntryFn entry) {
  REELCATALOG1.driverEntry = entry;
  REELCATALOG2.driverEntry = entry;
}

void clearProgramData() {
  std::memset(SOURCENAME, ' ', kNameLength);
  std::memset(TARGETNAME, ' ', kNameLength);
  COUNT = 0;
  for (CatalogueLayout* layout : {&sourceLayout(), &targetLayout()}) {
    std::copy(layout->clearedImage.begin(), layout->clearedImage.end(), layout->record.begin());
  }
}

std::span<std::uint8_t> sourceRecord() { return sourceLayout().record; }
std::span<std::uint8_t> targetRecord() { return targetLayout().record; }
std::span<const std::uint8_t> sourceStream() { return sourceLayout().stream; }
std::span<const std::uint8_t> targetStream() { return targetLayout().stream; }

}  // namespace convert23
