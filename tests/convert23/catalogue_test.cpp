#include "convert23/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fileaccess/field_desc.h"
#include "fileaccess/stored_values.h"
#include "platform/endian.h"

namespace convert23 {
namespace {

using Bytes = std::vector<std::uint8_t>;
using fileaccess::FieldEntry;

Bytes labelled(Bytes head, const char* label) {
  head.insert(head.end(), label, label + std::strlen(label));
  head.push_back(0);
  return head;
}

std::vector<FieldEntry> entriesOf(std::span<const std::uint8_t> stream) {
  std::vector<FieldEntry> entries;
  EXPECT_EQ(fileaccess::readFieldEntries(stream, kRecordLength, entries), 0);
  return entries;
}

Bytes at(std::span<const std::uint8_t> stream, std::size_t pos, std::size_t n) {
  return Bytes(stream.begin() + static_cast<std::ptrdiff_t>(pos),
               stream.begin() + static_cast<std::ptrdiff_t>(pos + n));
}

TEST(CatalogueStream, MatchesTheWorkedExampleBytes) {
  const auto in = sourceStream();
  const auto entries = entriesOf(in);
  ASSERT_EQ(entries.size(), kFieldCount + 1);
  // Record entry: GROUP, no flags, size 14422, 33 entries, 530 bytes.
  EXPECT_EQ(at(in, 0, 14), (Bytes{0x16, 0x00, 0x56, 0x38, 0x00, 0x00, 0x21, 0x00, 0x00, 0x00, 0x12,
                                  0x02, 0x00, 0x00}));
  EXPECT_EQ(in.size(), 530u);
  const Bytes title = labelled({0x12, 0x02, 0x20, 0x64}, "IN:TITLE");
  EXPECT_EQ(at(in, entries[1].streamPos, title.size()), title);
  const Bytes value = labelled({0x06, 0x02}, "IN:VALUE");
  EXPECT_EQ(at(in, entries[8].streamPos, value.size()), value);
  const Bytes created =
      labelled({0x16, 0x02, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x3B, 0x00, 0x00, 0x00},
               "IN:CREATED");
  Bytes group = created;
  const Bytes date = labelled({0x06, 0x02}, "IN:CREATEDDATE");
  const Bytes time = labelled({0x06, 0x02}, "IN:CREATEDTIME");
  group.insert(group.end(), date.begin(), date.end());
  group.insert(group.end(), time.begin(), time.end());
  ASSERT_EQ(group.size(), 59u);
  EXPECT_EQ(at(in, entries[21].streamPos, group.size()), group);

  const auto mov = targetStream();
  const auto movEntries = entriesOf(mov);
  ASSERT_EQ(movEntries.size(), kFieldCount + 1);
  const Bytes decimal = labelled({0x0A, 0x02, 0x04, 0x02}, "MOV:VALUE");
  EXPECT_EQ(at(mov, movEntries[8].streamPos, decimal.size()), decimal);
  EXPECT_EQ(platform::loadLe32(mov, 2), kRecordLength);
  EXPECT_EQ(platform::loadLe32(mov, 6), kFieldCount);
  EXPECT_EQ(platform::loadLe32(mov, 10), mov.size());
}

TEST(CatalogueStream, FieldsSitWhereTheLayoutPlacesThem) {
  struct Field {
    const char* name;
    std::uint8_t type;
    std::uint32_t size, offset, level;
  };
  using namespace fileaccess;
  const std::vector<Field> layout = {
      {"TITLE", kTypeString, 100, 0, 1},         {"CATEGORY", kTypeString, 80, 100, 1},
      {"STAR1", kTypeString, 80, 180, 1},        {"REVIEW", kTypeString, 15, 260, 1},
      {"STAR2", kTypeString, 80, 275, 1},        {"LENGTH", kTypeString, 25, 355, 1},
      {"STAR3", kTypeString, 80, 380, 1},        {"VALUE", kTypeLong, 4, 460, 1},
      {"LOCATION", kTypeString, 50, 464, 1},     {"COPYDATE", kTypeString, 50, 514, 1},
      {"CONDITION", kTypeString, 50, 564, 1},    {"CUSTOM1", kTypeString, 50, 614, 1},
      {"PRODUCER", kTypeString, 80, 664, 1},     {"CUSTOM2", kTypeString, 50, 744, 1},
      {"DIRECTOR", kTypeString, 80, 794, 1},     {"RATING", kTypeString, 10, 874, 1},
      {"LENTTO", kTypeString, 80, 884, 1},       {"DATELENT", kTypeString, 30, 964, 1},
      {"GRAPHICFILE", kTypeString, 120, 994, 1}, {"DELETED", kTypeByte, 1, 1114, 1},
      {"CREATED", kTypeGroup, 8, 1115, 1},       {"CREATEDDATE", kTypeLong, 4, 1115, 2},
      {"CREATEDTIME", kTypeLong, 4, 1119, 2},    {"CHANGED", kTypeGroup, 8, 1123, 1},
      {"CHANGEDDATE", kTypeLong, 4, 1123, 2},    {"CHANGEDTIME", kTypeLong, 4, 1127, 2},
      {"STARKEY", kTypeString, 80, 1131, 1},     {"STAR2KEY", kTypeString, 80, 1211, 1},
      {"STAR3KEY", kTypeString, 80, 1291, 1},    {"TITLEKEY", kTypeString, 50, 1371, 1},
      {"LISTBYSTARS", kTypeByte, 1, 1421, 1},    {"CONTENTS", kTypeString, 5000, 1422, 1},
      {"CAST", kTypeString, 8000, 6422, 1},
  };
  ASSERT_EQ(layout.size(), kFieldCount);
  for (const auto& [prefix, stream] :
       {std::pair{std::string("IN:"), sourceStream()}, {std::string("MOV:"), targetStream()}}) {
    const auto entries = entriesOf(stream);
    ASSERT_EQ(entries.size(), kFieldCount + 1);
    EXPECT_EQ(entries[0].label, "");
    EXPECT_EQ(entries[0].size, kRecordLength);
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      const FieldEntry& e = entries[i + 1];
      SCOPED_TRACE(std::string(e.label));
      EXPECT_EQ(e.label, prefix + layout[i].name);
      const bool newValue = prefix == "MOV:" && i + 1 == 8;
      EXPECT_EQ(e.type, newValue ? kTypeDecimal : layout[i].type);
      EXPECT_EQ(e.size, layout[i].size);
      EXPECT_EQ(e.offset, layout[i].offset);
      EXPECT_EQ(e.level, layout[i].level);
      EXPECT_EQ(e.elementCount, 1u);
      EXPECT_TRUE(e.nameAttribute.empty());
      EXPECT_TRUE(e.picture.empty());
      EXPECT_EQ(e.flags, kFieldHasLabel);
      if (newValue) {
        EXPECT_EQ(e.places, 2);
      }
    }
    EXPECT_EQ(entries.back().offset + entries.back().size, kRecordLength);
  }
}

TEST(CatalogueDeclarations, FileBlocks) {
  for (const auto* file : {&REELCATALOG1, &REELCATALOG2}) {
    EXPECT_EQ(file->nameLength, 260);
    EXPECT_EQ(file->recordLength, kRecordLength);
    EXPECT_EQ(file->keyCount, kKeyCount);
    EXPECT_EQ(file->memoCount, 0);
    EXPECT_EQ(file->memoTable, nullptr);
    EXPECT_EQ(file->owner, nullptr);
    EXPECT_EQ(file->driverOptions, nullptr);
    EXPECT_EQ(file->driverState, nullptr);
    ASSERT_NE(file->recordBuffer, nullptr);
  }
  EXPECT_EQ(REELCATALOG1.name, SOURCENAME);
  EXPECT_EQ(REELCATALOG2.name, TARGETNAME);
  EXPECT_EQ(REELCATALOG1.attributes, 0);
  EXPECT_EQ(REELCATALOG2.attributes, fileaccess::kAttrCreate);
  EXPECT_EQ(REELCATALOG1.recordBuffer, sourceRecord().data());
  EXPECT_EQ(REELCATALOG2.recordBuffer, targetRecord().data());
  EXPECT_EQ(REELCATALOG1.recordDesc, sourceStream().data());
  EXPECT_EQ(REELCATALOG2.recordDesc, targetStream().data());
  EXPECT_EQ(fileaccess::declaredStream(REELCATALOG1.recordDesc).size(), sourceStream().size());

  static int calls = 0;
  setDriverEntry([](int, fileaccess::FileBlock*, const std::intptr_t*) { return ++calls; });
  EXPECT_EQ(REELCATALOG1.driverEntry(0, &REELCATALOG1, nullptr), 1);
  EXPECT_EQ(REELCATALOG2.driverEntry(0, &REELCATALOG2, nullptr), 2);
  setDriverEntry(nullptr);
}

TEST(CatalogueDeclarations, KeysByLabelKindComponentsAndFlags) {
  using namespace fileaccess;
  constexpr std::uint32_t kStd = kKeyDup | kKeyOpt | kKeyNocase;
  struct Key {
    const char* name;
    std::uint32_t flags;
    std::vector<const char*> components;  // by field name
  };
  const std::vector<Key> keys = {
      {"CREATEDKEY", kKeyDup, {"CREATEDDATE", "CREATEDTIME", "DELETED"}},
      {"DELETEKEY", kStd, {"DELETED"}},
      {"STARSKEY", kStd | kKeyIndex, {}},
      {"LENTTOKEY", kStd, {"LENTTO", "DATELENT"}},
      {"DATELENTKEY", kStd, {"DATELENT", "LENTTO"}},
      {"STARSKEYKEY", kStd | kKeyIndex, {}},
      {"TITLEKEYKEY", kStd, {"TITLE", "CATEGORY", "STAR1"}},
      {"STAR1KEY", kStd, {"STAR1", "TITLE", "CATEGORY"}},
      {"STAR2K", kStd, {"STAR2", "TITLE", "CATEGORY"}},
      {"STAR3K", kStd, {"STAR3", "TITLE", "CATEGORY"}},
      {"COPYDATEKEY", kStd, {"COPYDATE", "TITLE"}},
      {"CATEGORYKEY", kStd, {"CATEGORY", "TITLE"}},
      {"REVIEWKEY", kStd, {"REVIEW", "TITLE"}},
      {"CUSTOM2KEY", kStd, {"CUSTOM2", "TITLE"}},
      {"LENTHKEY", kStd, {"LENGTH", "TITLE"}},
      {"PRODUCERKEY", kStd, {"PRODUCER", "TITLE"}},
      {"CONDITIONKEY", kStd, {"CONDITION", "TITLE"}},
      {"LOCATIONKEY", kStd, {"LOCATION", "TITLE"}},
      {"CUSTOM1KEY", kStd, {"CUSTOM1", "TITLE"}},
      {"DIRECTORKEY", kStd, {"DIRECTOR", "TITLE"}},
      {"RATINGKEY", kStd, {"RATING", "TITLE"}},
      {"VALUEKEY", kStd, {"VALUE", "TITLE"}},
  };
  ASSERT_EQ(keys.size(), kKeyCount);
  for (const auto& [prefix, file, stream] :
       {std::tuple{std::string("IN:"), &REELCATALOG1, sourceStream()},
        std::tuple{std::string("MOV:"), &REELCATALOG2, targetStream()}}) {
    // Field numbers by label, taken from the stream itself.
    std::map<std::string, std::int32_t> fieldNumber;
    for (const FieldEntry& e : entriesOf(stream)) {
      fieldNumber[std::string(e.label)] = static_cast<std::int32_t>(e.number);
    }
    for (std::size_t i = 0; i < kKeyCount; ++i) {
      const KeyDesc& key = *file->keyTable[i];
      const std::string label = prefix + keys[i].name;
      SCOPED_TRACE(label);
      EXPECT_EQ(takeText(key.label, key.labelLength), label);
      EXPECT_EQ(key.externalName, nullptr);
      EXPECT_EQ(key.keyFlags, keys[i].flags);
      EXPECT_EQ(key.declaringFile, file);
      EXPECT_EQ(key.driverKey, nullptr);
      ASSERT_EQ(key.componentCount, keys[i].components.size());
      for (std::size_t c = 0; c < key.componentCount; ++c) {
        EXPECT_EQ(key.components[c], fieldNumber.at(prefix + keys[i].components[c]));
      }
    }
  }
}

class AssignRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { clearProgramData(); }

  // A source record with every byte set, then the value.
  static void fillSource(std::int32_t value) {
    auto in = sourceRecord();
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i * 7 + 1);
    platform::storeLe32(in, kValueOffset, static_cast<std::uint32_t>(value));
  }
};

TEST_F(AssignRecordTest, TargetEqualsSourceExceptTheValueBytes) {
  struct Case {
    std::int32_t value;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {1234, {0x00, 0x12, 0x34, 0x00}},
      {-5, {0xF0, 0x00, 0x05, 0x00}},
      {0, {0x00, 0x00, 0x00, 0x00}},
      {123456, {0x02, 0x34, 0x56, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    fillSource(c.value);
    const Bytes before(sourceRecord().begin(), sourceRecord().end());
    AssignRecord();
    const Bytes in(sourceRecord().begin(), sourceRecord().end());
    const Bytes out(targetRecord().begin(), targetRecord().end());
    EXPECT_EQ(in, before);  // the source is only read
    ASSERT_EQ(out.size(), kRecordLength);
    for (std::size_t i = 0; i < kRecordLength; ++i) {
      if (i >= kValueOffset && i < kValueOffset + 4) continue;
      ASSERT_EQ(out[i], in[i]) << "byte " << i;
    }
    EXPECT_EQ(at(out, kValueOffset, 4), c.bytes);
  }
}

TEST_F(AssignRecordTest, BlankRecordConvertsToBlankRecord) {
  // Strings all spaces, numbers all zero bytes, and the target starts dirty.
  auto out = targetRecord();
  std::memset(out.data(), 0x5A, out.size());
  AssignRecord();
  Bytes expected(kRecordLength, ' ');
  for (const std::uint32_t numberAt : {460u, 1114u, 1115u, 1119u, 1123u, 1127u, 1421u}) {
    const std::uint32_t size = (numberAt == 1114 || numberAt == 1421) ? 1 : 4;
    std::memset(expected.data() + numberAt, 0, size);
  }
  EXPECT_EQ(Bytes(out.begin(), out.end()), expected);
  EXPECT_EQ(Bytes(sourceRecord().begin(), sourceRecord().end()), expected);
}

TEST_F(AssignRecordTest, ProgramDataStartsBlank) {
  EXPECT_EQ(std::string(SOURCENAME, kNameLength), std::string(kNameLength, ' '));
  EXPECT_EQ(std::string(TARGETNAME, kNameLength), std::string(kNameLength, ' '));
  EXPECT_EQ(fileaccess::takeName(REELCATALOG1.name, REELCATALOG1.nameLength), "");
}

}  // namespace
}  // namespace convert23
