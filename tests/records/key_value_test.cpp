#include "qbx/records/key_value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "declaration_fixture.h"
#include "platform/endian.h"
#include "qbx/records/oem.h"

namespace qbx::records {
namespace {

using fileaccess::FieldDescWriter;
using testing::Declaration;
using Bytes = std::vector<std::uint8_t>;

// A table with one field of the given kind and one key over it.
Declaration oneFieldTable(const std::function<void(FieldDescWriter&)>& field,
                          std::uint32_t size, std::int32_t component = 1,
                          std::uint32_t keyFlags = 0) {
  FieldDescWriter w;
  w.group("");
  field(w);
  w.endGroup();
  Declaration d = Declaration::of(w, size);
  d.key({component}, keyFlags);
  return d;
}

Bytes formed(const QbxTableDef& def, const Bytes& record, std::size_t key = 0) {
  Bytes out(def.keys[key].valueLength, 0xAA);
  formKeyValue(def, def.keys[key], record, out);
  return out;
}

Bytes le(std::uint64_t v, std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return b;
}

// Packed decimal of `size` bytes: sign nibble (F negative) then digits.
Bytes packed(long long scaled, std::size_t size) {
  Bytes b(size, 0);
  const bool negative = scaled < 0;
  unsigned long long m = negative ? static_cast<unsigned long long>(-scaled)
                                  : static_cast<unsigned long long>(scaled);
  for (std::size_t nibble = size * 2 - 1; nibble >= 1; --nibble) {
    const auto digit = static_cast<std::uint8_t>(m % 10);
    m /= 10;
    std::uint8_t& byte = b[nibble / 2];
    byte |= (nibble % 2 == 1) ? digit : static_cast<std::uint8_t>(digit << 4);
  }
  if (negative) b[0] |= 0xF0;
  return b;
}

struct NumericCase {
  const char* name;
  std::function<void(FieldDescWriter&)> field;
  std::uint32_t size;
  std::vector<Bytes> ascending;  // field images in ascending order of value
};

std::vector<Bytes> images(std::initializer_list<std::int64_t> values, std::size_t n) {
  std::vector<Bytes> out;
  for (auto v : values) out.push_back(le(static_cast<std::uint64_t>(v), n));
  return out;
}

std::vector<Bytes> floats(std::initializer_list<double> values) {
  std::vector<Bytes> out;
  for (double v : values) out.push_back(le(std::bit_cast<std::uint32_t>(static_cast<float>(v)), 4));
  return out;
}

std::vector<Bytes> doubles(std::initializer_list<double> values) {
  std::vector<Bytes> out;
  for (double v : values) out.push_back(le(std::bit_cast<std::uint64_t>(v), 8));
  return out;
}

std::vector<Bytes> decimals(std::initializer_list<long long> scaled, std::size_t size) {
  std::vector<Bytes> out;
  for (auto v : scaled) out.push_back(packed(v, size));
  return out;
}

const double kInf = std::numeric_limits<double>::infinity();

std::vector<NumericCase> numericCases() {
  return {
      {"SHORT", [](FieldDescWriter& w) { w.shortField("T:F"); }, 2,
       images({-32768, -300, -256, -1, 0, 1, 255, 256, 32767}, 2)},
      {"LONG", [](FieldDescWriter& w) { w.longField("T:F"); }, 4,
       images({INT32_MIN, -65536, -1000, -1, 0, 1, 255, 65536, INT32_MAX}, 4)},
      {"USHORT", [](FieldDescWriter& w) { w.ushortField("T:F"); }, 2,
       images({0, 1, 255, 256, 32768, 65535}, 2)},
      {"ULONG", [](FieldDescWriter& w) { w.ulongField("T:F"); }, 4,
       images({0, 1, 256, 65536, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF}, 4)},
      {"DATE", [](FieldDescWriter& w) { w.fixed(fileaccess::kTypeDate, "T:F"); }, 4,
       images({0, 1, 0x12345, 80000000, 0xFFFFFFFF}, 4)},
      {"TIME", [](FieldDescWriter& w) { w.fixed(fileaccess::kTypeTime, "T:F"); }, 4,
       images({0, 1, 100, 8640000, 0xFFFFFFFF}, 4)},
      {"BYTE", [](FieldDescWriter& w) { w.byteField("T:F"); }, 1, images({0, 1, 127, 128, 255}, 1)},
      {"SREAL", [](FieldDescWriter& w) { w.fixed(fileaccess::kTypeSreal, "T:F"); }, 4,
       floats({-kInf, -1e30, -2.5, -1, -0.5, -1e-30, 0, 1e-30, 0.5, 1, 2.5, 1e30, kInf})},
      {"REAL", [](FieldDescWriter& w) { w.realField("T:F"); }, 8,
       doubles({-kInf, -1e300, -1234.5, -1, -0.75, -1e-300, 0, 1e-300, 0.75, 1, 1234.5, 1e300,
                kInf})},
      {"DECIMAL(7,2)", [](FieldDescWriter& w) { w.decimal("T:F", 4, 2); }, 4,
       decimals({-9999999, -123456, -500, -1, 0, 1, 500, 123400, 9999999}, 4)},
      {"DECIMAL(1,0)", [](FieldDescWriter& w) { w.decimal("T:F", 1, 0); }, 1,
       decimals({-9, -1, 0, 1, 9}, 1)},
  };
}

// The formed values of images in ascending value order must be strictly
// ascending under memcmp; with a descending component strictly descending.
TEST(KeyValueOrder, NumbersSortByValueInBothDirections) {
  for (const NumericCase& c : numericCases()) {
    for (std::int32_t component : {1, -1}) {
      SCOPED_TRACE(std::string(c.name) + (component < 0 ? " descending" : " ascending"));
      Declaration d = oneFieldTable(c.field, c.size, component);
      auto def = d.build();
      ASSERT_TRUE(def);
      ASSERT_EQ(def->keys[0].valueLength, c.size);
      std::vector<Bytes> keys;
      for (const Bytes& image : c.ascending) keys.push_back(formed(*def, image));
      for (std::size_t i = 1; i < keys.size(); ++i) {
        const int cmp = std::memcmp(keys[i - 1].data(), keys[i].data(), c.size);
        if (component > 0) {
          EXPECT_LT(cmp, 0) << "values " << i - 1 << " and " << i;
        } else {
          EXPECT_GT(cmp, 0) << "values " << i - 1 << " and " << i;
        }
      }
    }
  }
}

TEST(KeyValueBytes, SignedAndUnsignedForms) {
  struct Case {
    const char* name;
    std::function<void(FieldDescWriter&)> field;
    std::uint32_t size;
    Bytes image;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"LONG -1", [](FieldDescWriter& w) { w.longField("T:F"); }, 4, le(0xFFFFFFFF, 4),
       {0x7F, 0xFF, 0xFF, 0xFF}},
      {"LONG 0", [](FieldDescWriter& w) { w.longField("T:F"); }, 4, le(0, 4),
       {0x80, 0x00, 0x00, 0x00}},
      {"LONG 1", [](FieldDescWriter& w) { w.longField("T:F"); }, 4, le(1, 4),
       {0x80, 0x00, 0x00, 0x01}},
      {"SHORT 0x1234", [](FieldDescWriter& w) { w.shortField("T:F"); }, 2, le(0x1234, 2),
       {0x92, 0x34}},
      {"ULONG 0x01020304", [](FieldDescWriter& w) { w.ulongField("T:F"); }, 4,
       le(0x01020304, 4), {0x01, 0x02, 0x03, 0x04}},
      {"DECIMAL 5.00", [](FieldDescWriter& w) { w.decimal("T:F", 4, 2); }, 4,
       {0x00, 0x00, 0x05, 0x00}, {0x80, 0x00, 0x05, 0x00}},
      // Negative: sign nibble cleared, top bit set, then complemented.
      {"DECIMAL -5.00", [](FieldDescWriter& w) { w.decimal("T:F", 4, 2); }, 4,
       {0xF0, 0x00, 0x05, 0x00}, {0x7F, 0xFF, 0xFA, 0xFF}},
      // Any non-zero sign nibble is negative.
      {"DECIMAL 80 00 05 00", [](FieldDescWriter& w) { w.decimal("T:F", 4, 2); }, 4,
       {0x80, 0x00, 0x05, 0x00}, {0x7F, 0xFF, 0xFA, 0xFF}},
      {"REAL 1.0", [](FieldDescWriter& w) { w.realField("T:F"); }, 8,
       le(std::bit_cast<std::uint64_t>(1.0), 8), {0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
      {"REAL -1.0", [](FieldDescWriter& w) { w.realField("T:F"); }, 8,
       le(std::bit_cast<std::uint64_t>(-1.0), 8), {0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Declaration d = oneFieldTable(c.field, c.size);
    auto def = d.build();
    ASSERT_TRUE(def);
    EXPECT_EQ(formed(*def, c.image), c.expected);
  }
}

TEST(KeyValueOrder, DescendingLongPutsFiveBeforeThree) {
  Declaration d = oneFieldTable([](FieldDescWriter& w) { w.longField("T:F"); }, 4, -1);
  auto def = d.build();
  ASSERT_TRUE(def);
  const Bytes five = formed(*def, le(5, 4));
  const Bytes three = formed(*def, le(3, 4));
  EXPECT_LT(std::memcmp(five.data(), three.data(), 4), 0);
}

// Two components: the second only decides among equal first components, and
// each keeps its own direction.
TEST(KeyValueOrder, ComponentsConcatenateWithTheirOwnDirections) {
  FieldDescWriter w;
  w.group("").longField("T:A").string("T:B", 3).endGroup();
  Declaration d = Declaration::of(w, 7);
  d.key({1, -2});
  auto def = d.build();
  ASSERT_TRUE(def);
  ASSERT_EQ(def->keys[0].valueLength, 7u);
  auto rec = [](std::int32_t a, const char* b) {
    Bytes r = le(static_cast<std::uint32_t>(a), 4);
    r.insert(r.end(), b, b + 3);
    return r;
  };
  const std::vector<Bytes> ascending = {rec(-1, "ZZZ"), rec(-1, "AAA"), rec(2, "ZZZ"),
                                        rec(2, "BBB"), rec(2, "AAA")};
  for (std::size_t i = 1; i < ascending.size(); ++i) {
    EXPECT_LT(std::memcmp(formed(*def, ascending[i - 1]).data(), formed(*def, ascending[i]).data(), 7),
              0)
        << i;
  }
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(KeyValueStrings, FixedWidthForms) {
  struct Case {
    const char* name;
    std::function<void(FieldDescWriter&)> field;
    std::uint32_t size;
    std::uint32_t flags;
    Bytes image;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"STRING keeps its trailing spaces", [](FieldDescWriter& w) { w.string("T:F", 6); }, 6, 0,
       text("AB    "), text("AB    ")},
      {"CSTRING zero fills after its terminator", [](FieldDescWriter& w) { w.cstring("T:F", 6); },
       6, 0, {'A', 'B', 0, 'X', 'Y', 'Z'}, {'A', 'B', 0, 0, 0, 0}},
      {"CSTRING without terminator takes the field",
       [](FieldDescWriter& w) { w.cstring("T:F", 3); }, 3, 0, text("ABC"), text("ABC")},
      {"PSTRING takes its length", [](FieldDescWriter& w) { w.pstring("T:F", 6); }, 6, 0,
       {2, 'A', 'B', 'X', 'Y', 'Z'}, {'A', 'B', 0, 0, 0, 0}},
      // A length byte beyond the field is clamped to the field size minus one.
      {"PSTRING length clamped", [](FieldDescWriter& w) { w.pstring("T:F", 5); }, 5, 0,
       {200, 'A', 'B', 'C', 'D'}, {'A', 'B', 'C', 'D', 0}},
      {"PSTRING length 255 in a 1-byte field", [](FieldDescWriter& w) { w.pstring("T:F", 1); }, 1,
       0, {255}, {0}},
      {"NOCASE folds upper case", [](FieldDescWriter& w) { w.string("T:F", 5); }, 5,
       fileaccess::kKeyNocase, text("SMITH"), text("smith")},
      {"NOCASE folds mixed case", [](FieldDescWriter& w) { w.string("T:F", 5); }, 5,
       fileaccess::kKeyNocase, text("Smith"), text("smith")},
      {"without NOCASE case stays", [](FieldDescWriter& w) { w.string("T:F", 5); }, 5, 0,
       text("Smith"), text("Smith")},
      {"NOCASE on a CSTRING", [](FieldDescWriter& w) { w.cstring("T:F", 4); }, 4,
       fileaccess::kKeyNocase, {'A', 'b', 0, 'C'}, {'a', 'b', 0, 0}},
      {"GROUP is a string of its size",
       [](FieldDescWriter& w) { w.group("T:G").string("T:X", 2).string("T:Y", 2).endGroup(); }, 4,
       fileaccess::kKeyNocase, text("ABcd"), text("abcd")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Declaration d = oneFieldTable(c.field, c.size, 1, c.flags);
    auto def = d.build();
    ASSERT_TRUE(def);
    EXPECT_EQ(formed(*def, c.image), c.expected);
  }
}

// A table with its own collation block: weights, expansions and the OEM
// weights replace the bytes after NOCASE.
class CollationForming : public ::testing::Test {
 protected:
  void SetUp() override {
    d_ = std::make_unique<Declaration>(
        oneFieldTable([](FieldDescWriter& w) { w.string("T:F", 6); }, 6));
    d_->key({1}, fileaccess::kKeyNocase, "T:NOCASE");
    def_ = d_->build();
    ASSERT_TRUE(def_);
    block_ = CollationBlock::defaults();
  }
  void addExpansion(std::size_t entry, char ch, char first, char second) {
    const std::size_t at = kCollationExpansions + entry * kCollationExpansionEntrySize;
    block_.bytes[at] = static_cast<std::uint8_t>(ch);
    block_.bytes[at + 1] = static_cast<std::uint8_t>(first);
    block_.bytes[at + 2] = static_cast<std::uint8_t>(second);
  }
  void use() { def_->collation.emplace(block_); }

  std::unique_ptr<Declaration> d_;
  std::unique_ptr<QbxTableDef> def_;
  CollationBlock block_;
};

TEST_F(CollationForming, ExpansionsGrowTheStringAndKeepItsWidth) {
  addExpansion(0, '&', 'n', 'd');
  addExpansion(1, 'X', 'k', 's');
  use();
  EXPECT_EQ(formed(*def_, text("a&b   ")), text("andb  "));
  // Input beyond the width is dropped; a replacement cut in half keeps its first byte.
  EXPECT_EQ(formed(*def_, text("&&&   ")), text("ndndnd"));
  EXPECT_EQ(formed(*def_, text("abc&& ")), text("abcndn"));
  // Replacements are not expanded again.
  addExpansion(2, 'n', 'Q', 'Q');
  use();
  EXPECT_EQ(formed(*def_, text("&     ")), text("nd    "));
}

TEST_F(CollationForming, NoCaseComesBeforeExpansion) {
  // 'x' is listed; with NOCASE an 'X' is folded to 'x' first and so expands.
  addExpansion(0, 'x', 'k', 's');
  use();
  EXPECT_EQ(formed(*def_, text("X     "), 1), text("ks    "));
  EXPECT_EQ(formed(*def_, text("X     "), 0), text("X     "));
}

TEST_F(CollationForming, SortWeightsReplaceEachByte) {
  // Weights that put 'b' before 'a'.
  block_.bytes[kCollationSortWeights + 'a'] = 'b';
  block_.bytes[kCollationSortWeights + 'b'] = 'a';
  use();
  EXPECT_EQ(formed(*def_, text("ab    ")), text("ba    "));
  // With an expansion present the weights apply to the expanded bytes.
  addExpansion(0, '&', 'a', 'b');
  use();
  EXPECT_EQ(formed(*def_, text("&a    ")), text("bab   "));
}

TEST_F(CollationForming, OemTablesUseTheOemWeights) {
  for (unsigned i = 0; i < 256; ++i) {
    block_.bytes[kCollationOemSortWeights + i] = static_cast<std::uint8_t>(255 - i);
  }
  use();
  EXPECT_EQ(formed(*def_, text("AB    ")), text("AB    "));
  def_->attributes |= kTableOem;
  const Bytes oem = formed(*def_, text("AB    "));
  Bytes expected = text("AB    ");
  for (auto& b : expected) b = static_cast<std::uint8_t>(255 - charToOemTable()[b]);
  EXPECT_EQ(oem, expected);
}

TEST_F(CollationForming, OemTablesConvertToTheOemCodePageFirst) {
  use();
  def_->attributes |= kTableOem;
  // Windows-1252 e-acute and u-umlaut are 0x82 and 0x81 in code page 437.
  EXPECT_EQ(formed(*def_, Bytes{0xE9, 0xFC, 'a', ' ', ' ', ' '}),
            (Bytes{0x82, 0x81, 'a', ' ', ' ', ' '}));
}

TEST_F(CollationForming, WithoutItsOwnBlockTheRuntimeSettingsApply) {
  block_.bytes[kCollationSortWeights + 'q'] = 'Z';
  setRuntimeCollation(block_);
  EXPECT_EQ(formed(*def_, text("q     ")), text("Z     "));
  // The table's own block wins over the runtime's settings.
  def_->collation.emplace(CollationBlock::defaults());
  EXPECT_EQ(formed(*def_, text("q     ")), text("q     "));
  setRuntimeCollation(CollationBlock::defaults());
}

TEST(KeyValueOpt, BlankComponentsByType) {
  struct Case {
    const char* name;
    std::function<void(FieldDescWriter&)> field;
    std::uint32_t size;
    Bytes image;
    bool blank;
  };
  const std::vector<Case> cases = {
      {"STRING of spaces", [](FieldDescWriter& w) { w.string("T:F", 3); }, 3, text("   "), true},
      {"STRING with a letter", [](FieldDescWriter& w) { w.string("T:F", 3); }, 3, text("  a"),
       false},
      {"STRING of zeros", [](FieldDescWriter& w) { w.string("T:F", 3); }, 3, {0, 0, 0}, false},
      {"CSTRING empty", [](FieldDescWriter& w) { w.cstring("T:F", 3); }, 3, {0, 'x', 'y'}, true},
      {"CSTRING of spaces", [](FieldDescWriter& w) { w.cstring("T:F", 3); }, 3, {' ', 0, 0}, false},
      {"PSTRING empty", [](FieldDescWriter& w) { w.pstring("T:F", 3); }, 3, {0, 'x', 'y'}, true},
      {"PSTRING with text", [](FieldDescWriter& w) { w.pstring("T:F", 3); }, 3, {1, 'x', 0}, false},
      {"LONG 0", [](FieldDescWriter& w) { w.longField("T:F"); }, 4, le(0, 4), true},
      {"LONG 256", [](FieldDescWriter& w) { w.longField("T:F"); }, 4, le(256, 4), false},
      {"DECIMAL negative zero", [](FieldDescWriter& w) { w.decimal("T:F", 2, 0); }, 2,
       {0xF0, 0x00}, false},
      {"GROUP of spaces",
       [](FieldDescWriter& w) { w.group("T:G").string("T:X", 2).endGroup(); }, 2, text("  "),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Declaration d = oneFieldTable(c.field, c.size, 1, fileaccess::kKeyOpt);
    d.key({1}, 0, "T:PLAIN");
    auto def = d.build();
    ASSERT_TRUE(def);
    EXPECT_EQ(blankForOpt(*def, def->keys[0], c.image), c.blank);
    // A key without OPT never counts a record as blank.
    EXPECT_FALSE(blankForOpt(*def, def->keys[1], c.image));
  }
}

TEST(KeyValueOpt, EveryComponentMustBeBlank) {
  FieldDescWriter w;
  w.group("").string("T:A", 2).longField("T:B").endGroup();
  Declaration d = Declaration::of(w, 6);
  d.key({1, 2}, fileaccess::kKeyOpt);
  auto def = d.build();
  ASSERT_TRUE(def);
  EXPECT_TRUE(blankForOpt(*def, def->keys[0], Bytes{' ', ' ', 0, 0, 0, 0}));
  EXPECT_FALSE(blankForOpt(*def, def->keys[0], Bytes{' ', ' ', 1, 0, 0, 0}));
  EXPECT_FALSE(blankForOpt(*def, def->keys[0], Bytes{'a', ' ', 0, 0, 0, 0}));
}

class KeyEntryForms : public ::testing::Test {
 protected:
  void SetUp() override {
    FieldDescWriter w;
    w.group("").string("T:NAME", 3).endGroup();
    d_ = std::make_unique<Declaration>(Declaration::of(w, 3));
    d_->key({1}, 0, "T:UNIQUE");
    d_->key({1}, fileaccess::kKeyDup, "T:DUP");
    def_ = d_->build();
    ASSERT_TRUE(def_);
    def_->tableNumber = 0x01020304;
  }
  std::unique_ptr<Declaration> d_;
  std::unique_ptr<QbxTableDef> def_;
};

TEST_F(KeyEntryForms, UniqueKeyCarriesTheRecordNumberAsData) {
  KeyEntry e;
  e.make(*def_, def_->keys[0], text("abc"));
  e.setRecordNumber(0x0A0B0C0D);
  EXPECT_EQ(Bytes(e.keyPart().begin(), e.keyPart().end()),
            (Bytes{0x01, 0x02, 0x03, 0x04, 0x00, 'a', 'b', 'c'}));
  EXPECT_EQ(Bytes(e.dataPart().begin(), e.dataPart().end()), (Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(e.bytes().size(), 3u + 9u);
  EXPECT_EQ(e.recordNumber(), 0x0A0B0C0Du);
}

TEST_F(KeyEntryForms, DupKeyEndsItsKeyWithTheRecordNumber) {
  KeyEntry e;
  e.make(*def_, def_->keys[1], text("abc"));
  e.setRecordNumber(7);
  EXPECT_EQ(Bytes(e.keyPart().begin(), e.keyPart().end()),
            (Bytes{0x01, 0x02, 0x03, 0x04, 0x01, 'a', 'b', 'c', 0, 0, 0, 7}));
  EXPECT_TRUE(e.dataPart().empty());
  EXPECT_EQ(e.bytes().size(), 3u + 9u);
}

TEST_F(KeyEntryForms, DupEntriesOfEqualValuesOrderByRecordNumber) {
  // Record numbers chosen so that byte order differs from little-endian order.
  const std::vector<std::uint32_t> numbers = {0x00000100, 0x00000002, 0x00010000, 0x000000FF};
  std::vector<Bytes> keys;
  KeyEntry e;
  for (std::uint32_t n : numbers) {
    e.make(*def_, def_->keys[1], text("abc"));
    e.setRecordNumber(n);
    keys.emplace_back(e.keyPart().begin(), e.keyPart().end());
  }
  std::vector<std::size_t> order = {0, 1, 2, 3};
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  std::vector<std::uint32_t> sorted;
  for (auto i : order) sorted.push_back(numbers[i]);
  EXPECT_EQ(sorted, (std::vector<std::uint32_t>{0x02, 0xFF, 0x100, 0x10000}));
  // A different value still sorts by value first.
  e.make(*def_, def_->keys[1], text("abb"));
  e.setRecordNumber(0xFFFFFFFF);
  EXPECT_LT(Bytes(e.keyPart().begin(), e.keyPart().end()), keys[1]);
}

TEST_F(KeyEntryForms, EntryWithoutImageHasAZeroValue) {
  KeyEntry e;
  e.make(*def_, def_->keys[0], text("xyz"));
  e.make(*def_, def_->keys[0]);
  EXPECT_EQ(Bytes(e.value().begin(), e.value().end()), (Bytes{0, 0, 0}));
  EXPECT_EQ(e.recordNumber(), 0u);
}

}  // namespace
}  // namespace qbx::records
