#include "qbx/records/definition_chunks.h"

#include <gtest/gtest.h>

#include <string>

#include "declaration_fixture.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/result_codes.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"
#include "support/temp_dir.h"

namespace qbx::records {
namespace {

using fileaccess::FieldDescWriter;
using testing::Declaration;

constexpr unsigned kCreateExclusive = 0x112;
constexpr unsigned kOpenExclusive = 0x12;

// A layout with `fields` STRING fields whose long labels make a stream of
// several chunks.
Declaration layout(int fields, std::uint32_t size) {
  FieldDescWriter w;
  w.group("");
  for (int i = 0; i < fields; ++i) w.string("T:FIELD_WITH_A_LONG_LABEL_" + std::to_string(i), size);
  w.endGroup();
  Declaration d = Declaration::of(w, static_cast<std::uint32_t>(fields) * size);
  d.key({1, -2}, fileaccess::kKeyDup, "T:KEY");
  return d;
}

TEST(DefinitionChunks, TablesKeepTheirDefinitionsInTheFile) {
  support::TempDir dir;
  const std::string path = dir.file("defs.QBX");
  Declaration first = layout(40, 10);
  Declaration second = layout(3, 7);
  auto firstDef = first.build();
  auto secondDef = second.build();
  ASSERT_TRUE(firstDef && secondDef);
  ASSERT_GT(encodeDefinition(*firstDef).size(), 2 * kDefinitionChunkSize);
  {
    store::QbxStore s;
    ASSERT_EQ(s.open(path, kCreateExclusive, ""), 0);
    s.enterWriterMode();
    StoreDefinitionChunks one(s, 1);
    StoreDefinitionChunks two(s, 2);
    ASSERT_EQ(writeDefinition(*secondDef, one), kOk);  // replaced below
    ASSERT_EQ(writeDefinition(*firstDef, one), kOk);
    ASSERT_EQ(writeDefinition(*secondDef, two), kOk);
    ASSERT_EQ(s.commit(), 0);
    s.close();
  }
  store::QbxStore s;
  ASSERT_EQ(s.open(path, kOpenExclusive, ""), 0);
  StoreDefinitionChunks one(s, 1);
  StoreDefinitionChunks two(s, 2);
  EXPECT_EQ(compareDefinition(*firstDef, one), DefinitionMatch::kMatches);
  EXPECT_EQ(compareDefinition(*secondDef, one), DefinitionMatch::kLayoutDiffers);
  EXPECT_EQ(compareDefinition(*secondDef, two), DefinitionMatch::kMatches);

  Declaration bare(std::vector<std::uint8_t>{}, 0);
  auto read = bare.build();
  ASSERT_EQ(readDefinition(*read, one), kOk);
  EXPECT_EQ(encodeDefinition(*read), encodeDefinition(*firstDef));
  EXPECT_EQ(read->fields.size(), 40u);

  // Chunk 0 of table 1 holds the first 512 bytes of the stream.
  const store::QbxEntry* chunk0 = store::find(s, *store::makeEntry(definitionChunkKey(1, 0)));
  ASSERT_NE(chunk0, nullptr);
  EXPECT_EQ(chunk0->data().size(), kDefinitionChunkSize);
  // A table without chunks has no definition.
  StoreDefinitionChunks none(s, 3);
  EXPECT_EQ(readDefinition(*read, none), kErrInvalidRecordDeclaration);
}

}  // namespace
}  // namespace qbx::records
