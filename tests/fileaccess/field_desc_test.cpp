#include "fileaccess/field_desc.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "platform/endian.h"

namespace fileaccess {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes encode(std::int32_t value) {
  std::array<std::uint8_t, 4> buf{};
  const std::size_t n = encodeCompact(value, buf);
  return Bytes(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(CompactNumber, BoundariesEncodeAndDecode) {
  struct Case {
    std::int32_t value;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {0, {0x00}},
      {31, {0x1F}},
      {32, {0x20, 0x20}},
      {100, {0x20, 0x64}},
      {5000, {0x33, 0x88}},
      {8000, {0x3F, 0x40}},
      {8191, {0x3F, 0xFF}},
      {8192, {0x40, 0x20, 0x00}},
      {(1 << 21) - 1, {0x5F, 0xFF, 0xFF}},
      {1 << 21, {0x60, 0x20, 0x00, 0x00}},
      {static_cast<std::int32_t>(kCompactMaxMagnitude), {0x7F, 0xFF, 0xFF, 0xFF}},
      {-1, {0x81}},
      {-31, {0x9F}},
      {-32, {0xA0, 0x20}},
      {-8192, {0xC0, 0x20, 0x00}},
      {-static_cast<std::int32_t>(kCompactMaxMagnitude), {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(encode(c.value), c.bytes);
    const auto decoded = decodeCompact(c.bytes);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->value, c.value);
    EXPECT_EQ(decoded->length, c.bytes.size());
  }
}

TEST(CompactNumber, OutOfRangeAndTruncated) {
  std::array<std::uint8_t, 4> buf{};
  EXPECT_EQ(encodeCompact(static_cast<std::int32_t>(kCompactMaxMagnitude) + 1, buf), 0u);
  EXPECT_EQ(encodeCompact(std::numeric_limits<std::int32_t>::min(), buf), 0u);
  EXPECT_FALSE(decodeCompact(Bytes{}).has_value());
  const Bytes truncated = {0x60, 0x20, 0x00};  // announces three more bytes, holds two
  EXPECT_FALSE(decodeCompact(truncated).has_value());
  const Bytes negativeZero = {0x80};
  EXPECT_EQ(decodeCompact(negativeZero)->value, 0);
}

// A small layout: record { A STRING(10), B LONG, G GROUP { C LONG, D LONG }, E BYTE }.
//   at  0: record entry (14 bytes)      at 23: G (16 bytes)
//   at 14: A (5 bytes)                  at 39: C, at 43: D (4 bytes each)
//   at 19: B (4 bytes)                  at 47: E (4 bytes); 51 bytes in all
Bytes smallLayout() {
  FieldDescWriter w;
  w.group("")
      .string("A", 10)
      .longField("B")
      .group("G")
      .longField("C")
      .longField("D")
      .endGroup()
      .byteField("E")
      .endGroup();
  return w.finish().value();
}
constexpr std::uint32_t kSmallRecord = 23;

TEST(FieldDescReader, WalksEntriesWithOffsetsAndLevels) {
  const Bytes stream = smallLayout();
  ASSERT_EQ(stream.size(), 51u);
  std::vector<FieldEntry> entries;
  ASSERT_EQ(readFieldEntries(stream, kSmallRecord, entries), 0);
  struct Expect {
    std::uint8_t type;
    std::string_view label;
    std::uint32_t size, offset, level;
  };
  const std::vector<Expect> expected = {
      {kTypeGroup, "", 23, 0, 0},  {kTypeString, "A", 10, 0, 1}, {kTypeLong, "B", 4, 10, 1},
      {kTypeGroup, "G", 8, 14, 1}, {kTypeLong, "C", 4, 14, 2},   {kTypeLong, "D", 4, 18, 2},
      {kTypeByte, "E", 1, 22, 1},
  };
  ASSERT_EQ(entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].number, i);
    EXPECT_EQ(entries[i].type, expected[i].type);
    EXPECT_EQ(entries[i].label, expected[i].label);
    EXPECT_EQ(entries[i].size, expected[i].size);
    EXPECT_EQ(entries[i].offset, expected[i].offset);
    EXPECT_EQ(entries[i].level, expected[i].level);
  }
  EXPECT_EQ(entries[0].memberCount, 6u);
  EXPECT_EQ(entries[3].memberCount, 2u);
  EXPECT_EQ(entries[3].groupLength, 24u);
}

TEST(FieldDescReader, AskingBeyondTheLastEntryGives75) {
  const Bytes stream = smallLayout();
  FieldDescReader reader(stream, kSmallRecord);
  FieldEntry e;
  for (int i = 0; i < 7; ++i) ASSERT_EQ(reader.next(e), 0);
  EXPECT_TRUE(reader.done());
  EXPECT_EQ(reader.fieldCount(), 6u);
  EXPECT_EQ(reader.next(e), 75);
  EXPECT_EQ(reader.next(e), 75);
}

TEST(FieldDescReader, OptionalPartsAndCarriedTypes) {
  // Picture, NAME attribute, dimensions, an overlay by a negative offset
  // adjustment, and code 31 whose size comes from its size byte.
  FieldOptions title;
  title.nameAttribute = "Title";
  title.picture = "@s20";
  FieldOptions grid;
  grid.dimensions = {3, 2};
  FieldOptions over;
  over.offsetAdjustment = -24;
  FieldDescWriter w;
  w.group("")
      .string("T", 20, title)
      .longField("GRID", grid)
      .decimal("AMOUNT", 4, 2, over)
      .endGroup();
  Bytes stream = w.finish().value();
  // Append a code-31 entry with size byte 6 by hand: type, flags, size.
  stream.insert(stream.end(), {kTypeSized31, 0x00, 6});
  stream.insert(stream.end(), {kTypeLong, 0x00});
  const std::span<std::uint8_t> root(stream.data(), kGroupHeaderBytes);
  platform::storeLe32(root, 2, 20 + 24 + 6 + 4);
  platform::storeLe32(root, 6, 5);
  platform::storeLe32(root, 10, static_cast<std::uint32_t>(stream.size()));

  std::vector<FieldEntry> e;
  ASSERT_EQ(readFieldEntries(stream, 54, e), 0);
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(e[1].picture, "@s20");
  EXPECT_EQ(e[1].nameAttribute, "Title");
  EXPECT_EQ(e[2].elementCount, 6u);
  EXPECT_EQ(e[2].dimensions, (std::vector<std::uint32_t>{3, 2}));
  EXPECT_EQ(e[2].offset, 20u);
  EXPECT_EQ(e[3].offset, 20u);  // 44 - 24: laid over GRID
  EXPECT_EQ(e[3].places, 2);
  EXPECT_EQ(e[3].offsetAdjustment, -24);
  EXPECT_EQ(e[4].offset, 24u);
  EXPECT_EQ(e[4].size, 6u);
  EXPECT_EQ(e[5].offset, 30u);
}

// Hostile or inconsistent streams, each a mutation of the small layout. Each
// copy is exactly as large as its bytes, so a read past the stream shows
// under AddressSanitizer.
TEST(FieldDescReader, HostileStreamsGive75WithoutReadingPastThem) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> mutate;
    std::uint32_t recordLength = kSmallRecord;
  };
  auto put32 = [](Bytes& b, std::size_t at, std::uint32_t v) {
    platform::storeLe32(std::span<std::uint8_t>(b), at, v);
  };
  const std::vector<Case> cases = {
      {"empty stream", [](Bytes& b) { b.clear(); }},
      {"only a type byte", [](Bytes& b) { b.resize(1); }},
      {"record entry is not a group", [](Bytes& b) { b[0] = kTypeLong; }},
      {"record header cut short", [](Bytes& b) { b.resize(9); }},
      {"stated length beyond the stream", [&](Bytes& b) { put32(b, 10, 52); }},
      {"stream cut before its stated length", [](Bytes& b) { b.resize(50); }},
      {"entries run past the stated length", [&](Bytes& b) { put32(b, 10, 49); }},
      {"label runs past the stated length",
       [&](Bytes& b) {
         b.resize(50);  // E's label loses its zero byte
         put32(b, 10, 50);
       }},
      {"stated length below the header", [&](Bytes& b) { put32(b, 10, 4); }},
      {"record counts more entries than it holds", [&](Bytes& b) { put32(b, 6, 7); }},
      {"record counts fewer entries than it holds", [&](Bytes& b) { put32(b, 6, 5); }},
      {"record length too small for the fields", [](Bytes&) {}, kSmallRecord - 1},
      {"record size beyond the record length", [&](Bytes& b) { put32(b, 2, 24); }},
      {"record size negative", [&](Bytes& b) { put32(b, 2, 0x80000000u); }},
      {"negative string length", [](Bytes& b) { b[16] = 0x8A; }},
      {"string length truncated at the stream end",
       [&](Bytes& b) {
         b.resize(17);
         b[16] = 0x60;  // a four-byte compact number at the very end
         put32(b, 10, 17);
       }},
      {"unknown type code", [](Bytes& b) { b[19] = 37; }},
      {"unknown flag bit", [](Bytes& b) { b[20] = 0x22; }},
      {"picture on a number", [](Bytes& b) { b[20] = 0x06; }},
      {"group counts more members than its parent holds", [&](Bytes& b) { put32(b, 29, 4); }},
      {"group counts fewer members than follow", [&](Bytes& b) { put32(b, 29, 1); }},
      {"group length shorter than its members", [&](Bytes& b) { put32(b, 33, 20); }},
      {"group length longer than its members", [&](Bytes& b) { put32(b, 33, 28); }},
      {"group size makes it end beyond the record", [&](Bytes& b) { put32(b, 25, 10); }},
      {"group length negative", [&](Bytes& b) { put32(b, 33, 0xFFFFFFF0u); }},
      {"label without terminator at the stream end", [](Bytes& b) { b.back() = 'X'; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes stream = smallLayout();
    c.mutate(stream);
    const Bytes exact(stream.begin(), stream.end());
    std::vector<FieldEntry> entries;
    EXPECT_EQ(readFieldEntries(exact, c.recordLength, entries), 75);
  }
}

// Entries built by hand: a record entry holding one entry.
Bytes recordWith(const Bytes& member, std::uint32_t size) {
  Bytes b = {kTypeGroup, 0x00};
  b.resize(kGroupHeaderBytes, 0);
  b.insert(b.end(), member.begin(), member.end());
  platform::storeLe32(std::span<std::uint8_t>(b), 2, size);
  platform::storeLe32(std::span<std::uint8_t>(b), 6, 1);
  platform::storeLe32(std::span<std::uint8_t>(b), 10, static_cast<std::uint32_t>(b.size()));
  return b;
}

TEST(FieldDescReader, HostileSingleEntriesGive75) {
  struct Case {
    const char* name;
    Bytes member;
  };
  const std::vector<Case> cases = {
      {"DECIMAL of size 0", {kTypeDecimal, 0x00, 0, 2}},
      {"PDECIMAL of size 0", {kTypePdecimal, 0x00, 0, 0}},
      {"offset made negative", {kTypeLong, kFieldHasOffset, 0x81}},
      {"negative dimension", {kTypeLong, kFieldHasDims, 1, 0x82}},
      {"dimension product beyond 32 bits",
       {kTypeByte, kFieldHasDims, 3, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x20, 0x40}},
      {"dimension count beyond the stream", {kTypeByte, kFieldHasDims, 4, 0x01}},
      {"offset adjustment cut short", {kTypeLong, kFieldHasOffset, 0x40, 0x01}},
      {"field ends beyond the record", {kTypeString, 0x00, 0x20, 0x65}},
      {"code 31 without its size byte", {kTypeSized31, 0x00}},
      {"NAME attribute without terminator", {kTypeLong, kFieldHasName, 'N', 'A'}},
      {"picture without terminator", {kTypeString, kFieldHasPicture, 4, '@', 's'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = recordWith(c.member, 100);
    std::vector<FieldEntry> entries;
    EXPECT_EQ(readFieldEntries(stream, 100, entries), 75);
  }
}

TEST(FieldDescReader, ZeroDimensionTakesNoRoom) {
  const Bytes stream = recordWith({kTypeLong, kFieldHasDims, 1, 0x00}, 0);
  std::vector<FieldEntry> entries;
  ASSERT_EQ(readFieldEntries(stream, 0, entries), 0);
  EXPECT_EQ(entries[1].elementCount, 0u);
}

TEST(FieldDescWriter, RefusesUnbalancedOrOutOfRangeDeclarations) {
  {
    FieldDescWriter w;
    w.group("").longField("A");
    EXPECT_FALSE(w.finish().has_value());  // record still open
  }
  {
    FieldDescWriter w;
    w.group("").endGroup().endGroup();
    EXPECT_FALSE(w.finish().has_value());
  }
  {
    FieldDescWriter w;
    w.group("").endGroup().group("");
    EXPECT_FALSE(w.finish().has_value());  // a second record entry
  }
  {
    FieldDescWriter w;
    w.group("").string("A", 1 << 29).endGroup();
    EXPECT_FALSE(w.finish().has_value());
  }
  {
    FieldDescWriter w;
    w.group("").decimal("A", 0, 0).endGroup();
    EXPECT_FALSE(w.finish().has_value());
  }
}

}  // namespace
}  // namespace fileaccess
