#include "qbx/records/definition_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "declaration_fixture.h"
#include "qbx/records/result_codes.h"

namespace qbx::records {
namespace {

using fileaccess::FieldDescWriter;
using fileaccess::FieldOptions;
using testing::Declaration;
using Bytes = std::vector<std::uint8_t>;

// Chunks kept by number, as the entry tree keeps definition chunks.
class Chunks final : public DefinitionChunkSink, public DefinitionChunkSource {
 public:
  int storeChunk(std::uint16_t chunk, std::span<const std::uint8_t> piece) override {
    chunks[chunk].assign(piece.begin(), piece.end());
    return kOk;
  }
  std::size_t loadChunk(std::uint16_t chunk,
                        std::span<std::uint8_t, kDefinitionChunkSize> out) override {
    auto it = chunks.find(chunk);
    if (it == chunks.end()) return 0;
    const std::size_t n = std::min(it->second.size(), out.size());
    std::copy_n(it->second.begin(), n, out.begin());
    return n;
  }
  std::map<std::uint16_t, Bytes> chunks;
};

Chunks written(const QbxTableDef& def) {
  Chunks c;
  EXPECT_EQ(writeDefinition(def, c), kOk);
  return c;
}

// A declaration using every stored type, both memo kinds and several keys.
Declaration catalogue() {
  FieldDescWriter w;
  FieldOptions named;
  named.nameAttribute = "Title";
  FieldOptions pictured;
  pictured.picture = "@n$9.2";
  FieldOptions overA;
  overA.offsetAdjustment = -4;
  w.group("")
      .string("T:TITLE", 20, named)
      .longField("T:COUNT")
      .ulongField("T:ULONG", overA)
      .shortField("T:SHORT")
      .ushortField("T:USHORT")
      .byteField("T:BYTE")
      .fixed(fileaccess::kTypeDate, "T:DATE")
      .fixed(fileaccess::kTypeTime, "T:TIME")
      .fixed(fileaccess::kTypeSreal, "T:SREAL")
      .realField("T:REAL")
      .decimal("T:VALUE", 4, 2)
      .cstring("T:NOTE", 10, pictured)
      .pstring("T:CODE", 6)
      .group("T:WHEN")
      .longField("T:DAY")
      .pdecimal("T:ODD", 4, 1, overA)
      .endGroup()
      .endGroup();
  Declaration d = Declaration::of(w, 83);
  d.key({1, -2}, fileaccess::kKeyDup | fileaccess::kKeyNocase, "T:TITLEKEY", "TitleKey");
  d.key({11}, fileaccess::kKeyOpt | fileaccess::kKeyPrimary, "T:VALUEKEY");
  d.key({}, fileaccess::kKeyIndex, "T:DYNAMIC");
  d.key({14}, fileaccess::kKeyIndex | fileaccess::kKeyCarried, "T:WHENIDX");
  d.memo(500, 0, "T:NOTES");
  d.memo(2000, fileaccess::kMemoBlob | fileaccess::kMemoBinary, "T:PICTURE");
  return d;
}

TEST(DefinitionStream, ReadBackGivesTheDeclaredLayout) {
  Declaration d = catalogue();
  auto def = d.build();
  ASSERT_TRUE(def);
  Chunks chunks = written(*def);

  Declaration bare(Bytes{}, 0);
  auto read = bare.build();
  ASSERT_TRUE(read);
  ASSERT_EQ(readDefinition(*read, chunks), kOk);

  EXPECT_EQ(read->recordLength, def->recordLength);
  ASSERT_EQ(read->fields.size(), def->fields.size());
  for (std::size_t i = 0; i < def->fields.size(); ++i) {
    SCOPED_TRACE("field " + std::to_string(i));
    const QbxFieldDef& a = def->fields[i];
    const QbxFieldDef& b = read->fields[i];
    EXPECT_EQ(b.type, a.type);
    EXPECT_EQ(b.offset, a.offset);
    EXPECT_EQ(b.name, a.name);
    EXPECT_EQ(b.elementCount, a.elementCount);
    EXPECT_EQ(b.totalSize, a.totalSize);
    EXPECT_EQ(b.overlay, a.overlay);
    EXPECT_EQ(b.fieldNumber, a.fieldNumber);
    EXPECT_EQ(b.places, a.places);
    EXPECT_EQ(b.elementSize, a.elementSize);
    EXPECT_EQ(b.elementLength, a.elementLength);
    EXPECT_EQ(b.picture, a.picture);
  }
  ASSERT_EQ(read->memos.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(read->memos[i].label, def->memos[i].label);
    EXPECT_EQ(read->memos[i].externalName, def->memos[i].externalName);
    EXPECT_EQ(read->memos[i].size, def->memos[i].size);
    EXPECT_EQ(read->memos[i].flags, def->memos[i].flags);
    EXPECT_EQ(std::string(read->memos[i].buffer.get(), read->memos[i].size),
              std::string(def->memos[i].size, ' '));
  }
  ASSERT_EQ(read->keys.size(), def->keys.size());
  for (std::size_t i = 0; i < def->keys.size(); ++i) {
    SCOPED_TRACE("key " + std::to_string(i));
    const QbxKeyDef& a = def->keys[i];
    const QbxKeyDef& b = read->keys[i];
    EXPECT_EQ(b.label, a.label);
    EXPECT_EQ(b.externalName, a.externalName);
    EXPECT_EQ(b.flags, a.flags);
    EXPECT_EQ(b.keyNumber, a.keyNumber);
    EXPECT_EQ(b.valueLength, a.valueLength);
    ASSERT_EQ(b.components.size(), a.components.size());
    for (std::size_t c = 0; c < a.components.size(); ++c) {
      EXPECT_EQ(b.components[c].field, a.components[c].field);
      EXPECT_EQ(b.components[c].descending, a.components[c].descending);
    }
  }
  // What was read writes the same stream again, and matches the declaration.
  EXPECT_EQ(encodeDefinition(*read), encodeDefinition(*def));
  EXPECT_EQ(compareDefinition(*def, chunks), DefinitionMatch::kMatches);
}

TEST(DefinitionStream, HeaderAndTextForms) {
  FieldDescWriter w;
  w.group("").longField("").endGroup();  // a field without label or NAME
  Declaration d = Declaration::of(w, 4);
  d.key({}, fileaccess::kKeyIndex, "");  // empty label, absent NAME
  auto def = d.build();
  ASSERT_TRUE(def);
  const Bytes stream = encodeDefinition(*def);
  const Bytes expected = {
      1,    0,    4, 0, 1, 0, 0, 0, 1, 0,  // version, record length, 1 field, 0 memos, 1 key
      6,    0,    0,                       // LONG at offset 0
      0,    1,                             // absent name
      1,    0,    4, 0, 0, 0, 0, 0,        // 1 element, 4 bytes, no overlay, field 0
      0,    1,                             // key NAME absent
      0,    0,                             // key label empty
      0x60, 0,    0,                       // INDEX | dynamic, no components
  };
  EXPECT_EQ(stream, expected);

  Chunks chunks = written(*def);
  Declaration bare(Bytes{}, 0);
  auto read = bare.build();
  ASSERT_EQ(readDefinition(*read, chunks), kOk);
  EXPECT_FALSE(read->fields[0].name.has_value());
  EXPECT_FALSE(read->keys[0].externalName.has_value());
  ASSERT_TRUE(read->keys[0].label.has_value());
  EXPECT_TRUE(read->keys[0].label->empty());
}

TEST(DefinitionStream, VersionTwoWithABlob) {
  Declaration d = Declaration::of(FieldDescWriter().group("").longField("T:A").endGroup(), 4);
  d.memo(10, fileaccess::kMemoBlob);
  auto def = d.build();
  ASSERT_TRUE(def);
  EXPECT_EQ(encodeDefinition(*def)[0], 2);
}

TEST(DefinitionStream, ChunkSizes) {
  struct Case {
    std::size_t length;
    std::vector<std::size_t> chunkSizes;
  };
  const std::vector<Case> cases = {
      {1024, {512, 512, 0}},  // a multiple of 512 ends with an empty chunk
      {1023, {512, 511}},
      {1025, {512, 512, 1}},
      {512, {512, 0}},
      {100, {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    Declaration d = Declaration::of(FieldDescWriter().group("").longField("T:A").endGroup(), 4);
    // Key items besides the label: NAME 00 01, label zero, flags, count, one component.
    auto probe = d.build();
    const std::size_t base = encodeDefinition(*probe).size() + 2 + 1 + 1 + 2 + 4;
    probe.reset();
    ASSERT_GT(c.length, base);
    d.key({1}, 0, std::string(c.length - base, 'K'));
    auto def = d.build();
    ASSERT_TRUE(def);
    ASSERT_EQ(encodeDefinition(*def).size(), c.length);
    Chunks chunks = written(*def);
    std::vector<std::size_t> sizes;
    std::uint16_t expectNumber = 0;
    for (const auto& [number, bytes] : chunks.chunks) {
      EXPECT_EQ(number, expectNumber++);
      sizes.push_back(bytes.size());
    }
    EXPECT_EQ(sizes, c.chunkSizes);
    EXPECT_EQ(compareDefinition(*def, chunks), DefinitionMatch::kMatches);
  }
}

struct Mutation {
  const char* name;
  std::function<void(QbxTableDef&)> change;
  DefinitionMatch expected;
};

TEST(DefinitionStream, CompareRules) {
  const auto kMatch = DefinitionMatch::kMatches;
  const auto kDiffers = DefinitionMatch::kLayoutDiffers;
  const std::vector<Mutation> cases = {
      {"nothing", [](QbxTableDef&) {}, kMatch},
      // Ignored differences.
      {"field name", [](QbxTableDef& t) { t.fields[0].name = "Other"; }, kMatch},
      {"DECIMAL places", [](QbxTableDef& t) { t.fields[10].places = 3; }, kMatch},
      {"DECIMAL element size", [](QbxTableDef& t) { t.fields[10].elementSize = 2; }, kMatch},
      {"string element length", [](QbxTableDef& t) { t.fields[0].elementLength = 5; }, kMatch},
      {"picture", [](QbxTableDef& t) { t.fields[11].picture = "@s10"; }, kMatch},
      {"absent picture", [](QbxTableDef& t) { t.fields[11].picture.reset(); }, kMatch},
      {"memo flags", [](QbxTableDef& t) { t.memos[0].flags = kMemoBinary; }, kMatch},
      {"memo label", [](QbxTableDef& t) { t.memos[0].label = "T:OTHER"; }, kMatch},
      {"key NAME attribute", [](QbxTableDef& t) { t.keys[0].externalName = "Else"; }, kMatch},
      {"key label", [](QbxTableDef& t) { t.keys[1].label.reset(); }, kMatch},
      {"key PRIMARY bit", [](QbxTableDef& t) { t.keys[1].flags &= ~kKeyPrimary; }, kMatch},
      {"blob size", [](QbxTableDef& t) { t.memos[1].size = 64000; }, kMatch},
      // Layout differences.
      {"record length", [](QbxTableDef& t) { t.recordLength = 84; }, kDiffers},
      {"field type", [](QbxTableDef& t) { t.fields[1].type = fileaccess::kTypeUlong; }, kDiffers},
      {"field offset", [](QbxTableDef& t) { t.fields[1].offset = 21; }, kDiffers},
      {"element count", [](QbxTableDef& t) { t.fields[1].elementCount = 2; }, kDiffers},
      {"total size", [](QbxTableDef& t) { t.fields[0].totalSize = 19; }, kDiffers},
      {"overlay flag", [](QbxTableDef& t) { t.fields[2].overlay = 0; }, kDiffers},
      {"field number", [](QbxTableDef& t) { t.fields[3].fieldNumber = 4; }, kDiffers},
      {"field count", [](QbxTableDef& t) { t.fields.pop_back(); }, kDiffers},
      {"memo size", [](QbxTableDef& t) { t.memos[0].size = 501; }, kDiffers},
      {"memo count", [](QbxTableDef& t) { t.memos.pop_back(); }, kDiffers},
      {"key count", [](QbxTableDef& t) { t.keys.pop_back(); }, kDiffers},
      {"key DUP flag", [](QbxTableDef& t) { t.keys[0].flags &= ~kKeyDup; }, kDiffers},
      {"key NOCASE flag", [](QbxTableDef& t) { t.keys[0].flags &= ~kKeyNoCase; }, kDiffers},
      {"key bit 3", [](QbxTableDef& t) { t.keys[3].flags &= ~kKeyBit3; }, kDiffers},
      {"component count", [](QbxTableDef& t) { t.keys[0].components.pop_back(); }, kDiffers},
      {"component field", [](QbxTableDef& t) { t.keys[1].components[0].field = 9; }, kDiffers},
      {"component direction", [](QbxTableDef& t) { t.keys[0].components[1].descending = false; },
       kDiffers},
      // A blob turning into a memo changes the stream's version.
      {"blob turned memo", [](QbxTableDef& t) { t.memos[1].flags = 0; }, kDiffers},
  };
  Declaration stored = catalogue();
  auto storedDef = stored.build();
  ASSERT_TRUE(storedDef);
  Chunks chunks = written(*storedDef);
  for (const Mutation& m : cases) {
    SCOPED_TRACE(m.name);
    Declaration d = catalogue();
    auto def = d.build();
    ASSERT_TRUE(def);
    m.change(*def);
    EXPECT_EQ(compareDefinition(*def, chunks), m.expected);
  }
}

TEST(DefinitionStream, ReadChecksTheStoredDefinition) {
  const std::vector<Mutation> cases = {
      {"record length 15001", [](QbxTableDef& t) { t.recordLength = 15001; }, {}},
      {"unsupported type", [](QbxTableDef& t) { t.fields[1].type = fileaccess::kTypeBfloat4; }, {}},
      {"PDECIMAL without overlay", [](QbxTableDef& t) { t.fields[15].overlay = 0; }, {}},
      {"overlay flag 2", [](QbxTableDef& t) { t.fields[15].overlay = 2; }, {}},
      {"field beyond the record", [](QbxTableDef& t) { t.fields[14].offset = 80; }, {}},
      {"size not the type's", [](QbxTableDef& t) { t.fields[1].totalSize = 3; }, {}},
      {"string size not elements times length",
       [](QbxTableDef& t) { t.fields[0].elementLength = 3; }, {}},
      {"DECIMAL element size 0", [](QbxTableDef& t) { t.fields[10].elementSize = 0; }, {}},
      {"field number out of place", [](QbxTableDef& t) { t.fields[4].fieldNumber = 9; }, {}},
      {"component on a dimensioned field",
       [](QbxTableDef& t) {
         t.fields[1].elementCount = 2;
         t.fields[1].totalSize = 8;
         t.fields[2].offset = 24;  // keep the fields apart
       },
       {}},
      {"memo above 64000", [](QbxTableDef& t) { t.memos[0].size = 64001; }, {}},
      {"key flag outside the known bits", [](QbxTableDef& t) { t.keys[1].flags |= 0x80; }, {}},
      {"dynamic index with components", [](QbxTableDef& t) { t.keys[0].flags |= kKeyDynamic; }, {}},
      {"241 keys", [](QbxTableDef& t) { t.keys.resize(241); }, {}},
  };
  for (const Mutation& m : cases) {
    SCOPED_TRACE(m.name);
    Declaration d = catalogue();
    auto def = d.build();
    ASSERT_TRUE(def);
    m.change(*def);
    for (std::size_t i = 0; i < def->keys.size(); ++i) def->keys[i].keyNumber = static_cast<std::uint8_t>(i);
    Chunks chunks = written(*def);

    Declaration other = catalogue();
    auto target = other.build();
    ASSERT_TRUE(target);
    EXPECT_EQ(readDefinition(*target, chunks), kErrInvalidRecordDeclaration);
    // The table keeps its own lists and links.
    EXPECT_EQ(target->fields.size(), 16u);
    EXPECT_EQ(target->keys.size(), 4u);
    EXPECT_EQ(other.keys()[0].driverKey, &target->keys[0]);
  }
}

TEST(DefinitionStream, ReadRefusesAKeyTooLongForAPage) {
  FieldDescWriter w;
  w.group("").string("T:A", 7533).string("T:B", 1).endGroup();
  Declaration d = Declaration::of(w, 7534);
  d.key({1, 1, 2});
  auto def = d.build();
  ASSERT_TRUE(def);
  def->keys[0].components.push_back({1, false});  // 15068 bytes of value
  Chunks chunks = written(*def);
  Declaration bare(Bytes{}, 0);
  auto read = bare.build();
  EXPECT_EQ(readDefinition(*read, chunks), kErrInvalidRecordDeclaration);
}

TEST(DefinitionStream, MissingBytesReadAsZero) {
  Declaration d = catalogue();
  auto def = d.build();
  ASSERT_TRUE(def);
  Chunks chunks = written(*def);
  Bytes& last = chunks.chunks.rbegin()->second;
  // The stream ends with the last key's component: field 13 (0D 00), ascending (00 00).
  ASSERT_GE(last.size(), 4u);
  ASSERT_EQ(Bytes(last.end() - 4, last.end()), (Bytes{13, 0, 0, 0}));
  last.resize(last.size() - 3);  // keep 0D; 00 00 00 are missing now
  Declaration bare(Bytes{}, 0);
  auto read = bare.build();
  ASSERT_EQ(readDefinition(*read, chunks), kOk);
  EXPECT_EQ(encodeDefinition(*read), encodeDefinition(*def));
  EXPECT_EQ(compareDefinition(*def, chunks), DefinitionMatch::kMatches);

  // With no chunks at all everything reads as zero: version 0 is refused,
  // and a comparison sees a different layout.
  Chunks none;
  EXPECT_EQ(readDefinition(*read, none), kErrInvalidRecordDeclaration);
  EXPECT_EQ(compareDefinition(*def, none), DefinitionMatch::kLayoutDiffers);
}

// The stream ends with the last key's component: field 13 (0D 00), then
// ascending (00 00). Patching them gives components the build would refuse.
TEST(DefinitionStream, ReadChecksComponents) {
  struct Case {
    const char* name;
    Bytes tail;
    int expected;
  };
  const std::vector<Case> cases = {
      {"as written", {13, 0, 0, 0}, kOk},
      {"descending", {13, 0, 1, 0}, kOk},
      {"last field", {15, 0, 0, 0}, kOk},
      {"beyond the fields", {16, 0, 0, 0}, kErrInvalidRecordDeclaration},
      {"far beyond the fields", {0xFF, 0xFF, 0, 0}, kErrInvalidRecordDeclaration},
      {"descending 2", {13, 0, 2, 0}, kErrInvalidRecordDeclaration},
  };
  Declaration d = catalogue();
  auto def = d.build();
  ASSERT_TRUE(def);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Chunks chunks = written(*def);
    Bytes& last = chunks.chunks.rbegin()->second;
    ASSERT_GE(last.size(), 4u);
    ASSERT_EQ(Bytes(last.end() - 4, last.end()), (Bytes{13, 0, 0, 0}));
    std::copy(c.tail.begin(), c.tail.end(), last.end() - 4);
    Declaration bare(Bytes{}, 0);
    auto read = bare.build();
    EXPECT_EQ(readDefinition(*read, chunks), c.expected);
  }
}

// Streams of random bytes are refused or read, never read out of bounds.
TEST(DefinitionStream, GarbageIsReadSafely) {
  std::mt19937 rng(12345);
  Declaration d = catalogue();
  auto def = d.build();
  const Bytes good = encodeDefinition(*def);
  for (int round = 0; round < 300; ++round) {
    Bytes stream = good;
    const int flips = 1 + static_cast<int>(rng() % 8);
    for (int f = 0; f < flips; ++f) stream[rng() % stream.size()] = static_cast<std::uint8_t>(rng());
    stream.resize(rng() % (stream.size() + 1));
    Chunks chunks;
    for (std::size_t at = 0, n = 0; at < stream.size(); at += 512, ++n) {
      chunks.chunks[static_cast<std::uint16_t>(n)].assign(
          stream.begin() + static_cast<std::ptrdiff_t>(at),
          stream.begin() + static_cast<std::ptrdiff_t>(std::min(at + 512, stream.size())));
    }
    Declaration bare(Bytes{}, 0);
    auto read = bare.build();
    const int rc = readDefinition(*read, chunks);
    EXPECT_TRUE(rc == kOk || rc == kErrInvalidRecordDeclaration);
    (void)compareDefinition(*def, chunks);
  }
}

}  // namespace
}  // namespace qbx::records
