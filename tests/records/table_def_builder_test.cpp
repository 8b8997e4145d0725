#include "qbx/records/table_def_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "declaration_fixture.h"
#include "qbx/records/result_codes.h"

namespace qbx::records {
namespace {

using fileaccess::FieldDescWriter;
using fileaccess::FieldOptions;
using testing::Declaration;

FieldOptions over(std::int32_t adjustment) {
  FieldOptions o;
  o.offsetAdjustment = adjustment;
  return o;
}

FieldOptions dims(std::vector<std::int32_t> d) {
  FieldOptions o;
  o.dimensions = std::move(d);
  return o;
}

Declaration simple(std::uint32_t recordLength = 8) {
  FieldDescWriter w;
  w.group("").longField("T:A").longField("T:B").endGroup();
  return Declaration::of(w, recordLength);
}

// Nested groups, innermost holding one LONG.
Declaration nested(int depth) {
  FieldDescWriter w;
  w.group("");
  for (int i = 0; i < depth; ++i) w.group("T:G" + std::to_string(i));
  w.longField("T:X");
  for (int i = 0; i < depth; ++i) w.endGroup();
  w.endGroup();
  return Declaration::of(w, 4);
}

struct ErrorCase {
  const char* name;
  std::function<Declaration()> declare;
  int expected;
};

TEST(BuildTableDef, DeclarationChecks) {
  const std::vector<ErrorCase> cases = {
      {"record length 15000", [] { return simple(15000); }, kOk},
      {"record length 15001", [] { return simple(15001); }, kErrInvalidRecordDeclaration},
      {"240 keys",
       [] {
         Declaration d = simple();
         for (int i = 0; i < 240; ++i) d.key({1});
         return d;
       },
       kOk},
      {"241 keys",
       [] {
         Declaration d = simple();
         for (int i = 0; i < 241; ++i) d.key({1});
         return d;
       },
       kErrInvalidRecordDeclaration},
      {"memo of 64000", [] { return std::move(simple().memo(64000)); }, kOk},
      {"memo of 64001", [] { return std::move(simple().memo(64001)); },
       kErrInvalidRecordDeclaration},
      {"blob of 64001", [] { return std::move(simple().memo(64001, fileaccess::kMemoBlob)); },
       kErrInvalidRecordDeclaration},
      {"record not a GROUP",
       [] {
         return Declaration(std::vector<std::uint8_t>{fileaccess::kTypeLong, 0}, 4);
       },
       kErrInvalidFieldType},
      {"record stream undecodable",
       [] {
         return Declaration(std::vector<std::uint8_t>{fileaccess::kTypeGroup, 0, 4, 0, 0, 0, 9, 0,
                                                      0, 0, 14, 0, 0, 0},
                            4);
       },
       kErrInvalidFieldType},
      {"100 nested groups", [] { return nested(100); }, kOk},
      {"101 nested groups", [] { return nested(101); }, kErrInvalidFieldType},
      {"component 0", [] { return std::move(simple().key({0})); }, kErrInvalidFieldType},
      {"component beyond the fields", [] { return std::move(simple().key({3})); },
       kErrInvalidFieldType},
      {"descending component beyond the fields", [] { return std::move(simple().key({1, -3})); },
       kErrInvalidFieldType},
      {"component INT32_MIN", [] { return std::move(simple().key({INT32_MIN})); },
       kErrInvalidFieldType},
      {"component on a dimensioned field",
       [] {
         FieldDescWriter w;
         w.group("").longField("T:A", dims({3})).endGroup();
         Declaration d = Declaration::of(w, 12);
         d.key({1});
         return d;
       },
       kErrInvalidFieldType},
      {"component on a dimension of 1",
       [] {
         FieldDescWriter w;
         w.group("").longField("T:A", dims({1})).endGroup();
         Declaration d = Declaration::of(w, 4);
         d.key({1});
         return d;
       },
       kOk},
      {"PDECIMAL outside an overlay",
       [] {
         FieldDescWriter w;
         w.group("").pdecimal("T:P", 4, 2).endGroup();
         return Declaration::of(w, 4);
       },
       kErrUnsupportedDataType},
      {"BFLOAT4 outside an overlay",
       [] {
         FieldDescWriter w;
         w.group("").fixed(fileaccess::kTypeBfloat4, "T:F").endGroup();
         return Declaration::of(w, 4);
       },
       kErrUnsupportedDataType},
      {"PDECIMAL over another field",
       [] {
         FieldDescWriter w;
         w.group("").longField("T:A").pdecimal("T:P", 4, 2, over(-4)).endGroup();
         return Declaration::of(w, 4);
       },
       kOk},
      {"PDECIMAL inside an overlaying group",
       [] {
         FieldDescWriter w;
         w.group("").longField("T:A").longField("T:B");
         w.group("T:G", over(-8)).longField("T:C").pdecimal("T:P", 4, 2).endGroup();
         w.endGroup();
         return Declaration::of(w, 8);
       },
       kOk},
      // Key value 15067 bytes: an entry of 15076 bytes still fits a page.
      {"key entry of 15076 bytes",
       [] {
         FieldDescWriter w;
         w.group("").string("T:A", 7533).string("T:B", 1).endGroup();
         Declaration d = Declaration::of(w, 7534);
         d.key({1, 1, 2});
         return d;
       },
       kOk},
      {"key entry of 15077 bytes",
       [] {
         FieldDescWriter w;
         w.group("").string("T:A", 7533).string("T:B", 1).endGroup();
         Declaration d = Declaration::of(w, 7534);
         d.key({1, 1, 2, 2});
         return d;
       },
       kErrInvalidKeyLength},
      {"DUP key entry of 15077 bytes",
       [] {
         FieldDescWriter w;
         w.group("").string("T:A", 7533).string("T:B", 1).endGroup();
         Declaration d = Declaration::of(w, 7534);
         d.key({1, 1, 2, 2}, fileaccess::kKeyDup);
         return d;
       },
       kErrInvalidKeyLength},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    Declaration d = c.declare();
    EXPECT_EQ(d.buildError(), c.expected);
  }
}

TEST(BuildTableDef, FailedBuildLeavesNoLinks) {
  Declaration d = simple();
  d.key({1}).memo(100).key({5});
  std::unique_ptr<QbxTableDef> def;
  EXPECT_EQ(buildTableDef(d.block(), def), kErrInvalidFieldType);
  EXPECT_FALSE(def);
  for (auto& k : d.keys()) EXPECT_EQ(k.driverKey, nullptr);
  for (auto& m : d.memos()) {
    EXPECT_EQ(m.driverMemo, nullptr);
    EXPECT_EQ(m.memoBuffer, nullptr);
  }
}

TEST(BuildTableDef, KeyCountWithoutKeyTableMeansNoKeys) {
  Declaration d = simple();
  fileaccess::FileBlock& block = d.block();
  block.keyCount = 5;
  block.keyTable = nullptr;
  std::unique_ptr<QbxTableDef> def;
  ASSERT_EQ(buildTableDef(block, def), kOk);
  EXPECT_TRUE(def->keys.empty());
}

TEST(BuildTableDef, CopiesTheDeclaration) {
  FieldDescWriter w;
  FieldOptions named;
  named.nameAttribute = "Title";
  FieldOptions pictured;
  pictured.picture = "@s20";
  w.group("")
      .string("T:TITLE", 20, named)
      .decimal("T:VALUE", 4, 2)
      .cstring("T:NOTE", 10, pictured)
      .group("T:WHEN")
      .longField("T:DATE")
      .longField("T:TIME")
      .endGroup()
      .endGroup();
  Declaration d = Declaration::of(w, 42);
  d.key({1, -2}, fileaccess::kKeyDup | fileaccess::kKeyNocase | fileaccess::kKeyPrimary,
        "T:TITLEKEY", "TitleKey");
  d.key({}, fileaccess::kKeyIndex, "T:DYN");
  d.key({3}, fileaccess::kKeyIndex | fileaccess::kKeyOpt, "T:NOTEIDX");
  d.memo(300, fileaccess::kMemoBinary, "T:NOTES");
  fileaccess::FileBlock& block = d.block();
  block.name = "CAT.QBX   ";
  block.nameLength = 10;
  block.attributes = fileaccess::kAttrCreate | fileaccess::kAttrOem;
  std::unique_ptr<QbxTableDef> def;
  ASSERT_EQ(buildTableDef(block, def), kOk);

  EXPECT_EQ(def->name, "CAT.QBX");
  EXPECT_FALSE(def->owner.has_value());
  EXPECT_EQ(def->attributes, kTableCreate | kTableOem);
  EXPECT_EQ(def->recordLength, 42u);
  EXPECT_EQ(def->recordBuffer, d.record().data());

  ASSERT_EQ(def->fields.size(), 6u);
  const QbxFieldDef& title = def->fields[0];
  EXPECT_EQ(title.type, fileaccess::kTypeString);
  EXPECT_EQ(title.name, "Title");
  EXPECT_EQ(title.label, "T:TITLE");
  EXPECT_EQ(title.elementLength, 20u);
  EXPECT_FALSE(title.picture.has_value());
  const QbxFieldDef& value = def->fields[1];
  EXPECT_EQ(value.offset, 20u);
  EXPECT_EQ(value.name, "T:VALUE");
  EXPECT_EQ(value.elementSize, 4u);
  EXPECT_EQ(value.places, 2u);
  EXPECT_EQ(def->fields[2].picture, "@s20");
  const QbxFieldDef& when = def->fields[3];
  EXPECT_EQ(when.type, fileaccess::kTypeGroup);
  EXPECT_EQ(when.memberCount, 2u);
  EXPECT_EQ(when.totalSize, 8u);
  EXPECT_EQ(def->fields[5].offset, 38u);
  EXPECT_EQ(def->fields[5].fieldNumber, 5u);

  ASSERT_EQ(def->keys.size(), 3u);
  const QbxKeyDef& k0 = def->keys[0];
  EXPECT_EQ(k0.flags, kKeyDup | kKeyNoCase | kKeyPrimary);
  EXPECT_EQ(k0.externalName, "TitleKey");
  EXPECT_EQ(k0.label, "T:TITLEKEY");
  ASSERT_EQ(k0.components.size(), 2u);
  EXPECT_EQ(k0.components[0].field, 0u);
  EXPECT_FALSE(k0.components[0].descending);
  EXPECT_EQ(k0.components[1].field, 1u);
  EXPECT_TRUE(k0.components[1].descending);
  EXPECT_EQ(k0.valueLength, 24u);
  EXPECT_EQ(def->keys[1].flags, kKeyIndex | kKeyDynamic);
  EXPECT_EQ(def->keys[2].flags, kKeyIndex | kKeyOpt);
  EXPECT_EQ(def->keys[2].keyNumber, 2);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(d.keys()[i].driverKey, &def->keys[i]);
    EXPECT_EQ(def->keys[i].desc, &d.keys()[i]);
  }

  ASSERT_EQ(def->memos.size(), 1u);
  const QbxMemoDef& memo = def->memos[0];
  EXPECT_EQ(memo.size, 300u);
  EXPECT_EQ(memo.flags, kMemoBinary);
  ASSERT_EQ(d.memos()[0].memoBuffer, memo.buffer.get());
  EXPECT_EQ(std::string(memo.buffer.get(), 300), std::string(300, ' '));

  // Freeing the definition clears the declaration's links.
  def.reset();
  EXPECT_EQ(d.keys()[0].driverKey, nullptr);
  EXPECT_EQ(d.memos()[0].memoBuffer, nullptr);
  EXPECT_EQ(d.memos()[0].driverMemo, nullptr);
}

// Overlay flags and overlaid fields for a layout with OVER fields and groups.
TEST(BuildTableDef, OverlayRules) {
  FieldDescWriter w;
  w.group("")
      .longField("T:A")                 // 1  offset 0
      .longField("T:B")                 // 2  offset 4
      .longField("T:AOVER", over(-8))   // 3  offset 0, OVER A
      .string("T:C", 4, over(4))        // 4  offset 8
      .group("T:G")                     // 5  offset 12
      .longField("T:G1")                // 6  offset 12: starts at its group's offset
      .longField("T:G2")                // 7  offset 16
      .endGroup()
      .group("T:GOVER", over(-8))       // 8  offset 12, OVER G
      .shortField("T:H1")               // 9  offset 12 inherits the overlay
      .shortField("T:H2")               // 10 offset 14 inherits the overlay
      .endGroup()
      .longField("T:D", over(8))        // 11 offset 24
      .endGroup();
  Declaration d = Declaration::of(w, 28);
  auto def = d.build();
  ASSERT_TRUE(def);
  ASSERT_EQ(def->fields.size(), 11u);
  struct Expect {
    std::uint32_t offset, overlay, overlaid;
  };
  const std::vector<Expect> expected = {{0, 0, 0},  {4, 0, 0},  {0, 1, 1},  {8, 0, 0},
                                        {12, 0, 0}, {12, 0, 0}, {16, 0, 0}, {12, 1, 5},
                                        {12, 1, 0}, {14, 1, 0}, {24, 0, 0}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("field " + std::to_string(i + 1));
    EXPECT_EQ(def->fields[i].offset, expected[i].offset);
    EXPECT_EQ(def->fields[i].overlay, expected[i].overlay);
    EXPECT_EQ(def->fields[i].overlaidField, expected[i].overlaid);
  }
}

TEST(BuildTableDef, NoRecordLayoutGivesAnEmptyFieldList) {
  Declaration d(std::vector<std::uint8_t>{}, 0);
  d.memo(10);
  auto def = d.build();
  ASSERT_TRUE(def);
  EXPECT_TRUE(def->fields.empty());
  EXPECT_EQ(def->memos.size(), 1u);
}

}  // namespace
}  // namespace qbx::records
