#include "fileaccess/stored_values.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "fileaccess/field_desc.h"

namespace fileaccess {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes stored(std::int64_t value, std::size_t size = 4, std::uint8_t places = 2) {
  Bytes out(size, 0xAA);
  EXPECT_EQ(storeDecimal(out, value, places), 0);
  return out;
}

TEST(DecimalStore, CatalogueValueField) {
  // DECIMAL(7,2): 4 bytes, 2 places; only the value modulo 100000 survives.
  struct Case {
    std::int64_t value;
    Bytes bytes;
    const char* text;
  };
  const std::vector<Case> cases = {
      {0, {0x00, 0x00, 0x00, 0x00}, "0.00"},
      {5, {0x00, 0x00, 0x05, 0x00}, "5.00"},
      {1234, {0x00, 0x12, 0x34, 0x00}, "1234.00"},
      {-5, {0xF0, 0x00, 0x05, 0x00}, "-5.00"},
      {99999, {0x09, 0x99, 0x99, 0x00}, "99999.00"},
      {123456, {0x02, 0x34, 0x56, 0x00}, "23456.00"},
      {-123456, {0xF2, 0x34, 0x56, 0x00}, "-23456.00"},
      {100000, {0x00, 0x00, 0x00, 0x00}, "0.00"},
      {-100000, {0xF0, 0x00, 0x00, 0x00}, "-0.00"},
      {2147483647, {0x08, 0x36, 0x47, 0x00}, "83647.00"},
      {std::numeric_limits<std::int32_t>::min(), {0xF8, 0x36, 0x48, 0x00}, "-83648.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const Bytes b = stored(c.value);
    EXPECT_EQ(b, c.bytes);
    EXPECT_EQ(decimalText(b, 2), c.text);
  }
}

TEST(DecimalStore, OtherSizesAndPlaces) {
  EXPECT_EQ(stored(7, 1, 0), (Bytes{0x07}));
  EXPECT_EQ(stored(17, 1, 0), (Bytes{0x07}));  // one digit position
  EXPECT_EQ(stored(-7, 1, 0), (Bytes{0xF7}));
  EXPECT_EQ(stored(5, 1, 1), (Bytes{0x00}));  // the only digit is a place
  EXPECT_EQ(stored(-5, 1, 1), (Bytes{0xF0}));
  EXPECT_EQ(stored(123, 2, 0), (Bytes{0x01, 0x23}));
  EXPECT_EQ(stored(std::numeric_limits<std::int64_t>::min(), 10, 0),
            (Bytes{0xF9, 0x22, 0x33, 0x72, 0x03, 0x68, 0x54, 0x77, 0x58, 0x08}));
  // More places than digit positions: every digit is a place, all zero.
  EXPECT_EQ(stored(42, 2, 5), (Bytes{0x00, 0x00}));
  Bytes empty;
  EXPECT_EQ(storeDecimal(empty, 1, 0), 75);
}

TEST(DecimalRead, AnyNonZeroSignNibbleIsNegative) {
  const Bytes b = {0x80, 0x00, 0x05, 0x00};
  EXPECT_TRUE(readDecimal(b, 2).negative);
  EXPECT_EQ(decimalText(b, 2), "-5.00");
  std::int64_t scaled = 0;
  ASSERT_TRUE(decimalToScaled(b, scaled));
  EXPECT_EQ(scaled, -500);

  const DecimalParts negativeZero = readDecimal(Bytes{0xF0, 0x00, 0x00, 0x00}, 2);
  EXPECT_TRUE(negativeZero.negative);
  EXPECT_EQ(negativeZero.digits, "0000000");
}

TEST(DecimalRead, TextForms) {
  EXPECT_EQ(decimalText(Bytes{0x00, 0x00, 0x00, 0x50}, 2), "0.50");
  EXPECT_EQ(decimalText(Bytes{0x01, 0x23}, 0), "123");
  EXPECT_EQ(decimalText(Bytes{0x00, 0x00}, 0), "0");
  EXPECT_EQ(decimalText(Bytes{0x01, 0x23}, 3), "0.123");
  EXPECT_EQ(decimalText(Bytes{0x01, 0x23}, 5), "0.00123");
  // A nibble above 9 shows and reads as malformed.
  const Bytes bad = {0x00, 0x1A};
  EXPECT_EQ(decimalText(bad, 0), "1?");
  EXPECT_FALSE(readDecimal(bad, 0).wellFormed);
  std::int64_t scaled = 0;
  EXPECT_FALSE(decimalToScaled(bad, scaled));
  // 19 nines do not fit 64 bits.
  EXPECT_FALSE(decimalToScaled(Bytes(10, 0x99), scaled));
}

TEST(StringAssign, ShorterSourcePadsLongerIsCut) {
  const Bytes source3 = {'a', 'b', 'c'};
  const Bytes source7 = {'1', '2', '3', '4', '5', '6', '7'};
  Bytes target(5, 'x');
  assignString(target, source3);
  EXPECT_EQ(target, (Bytes{'a', 'b', 'c', ' ', ' '}));
  assignString(target, source7);
  EXPECT_EQ(target, (Bytes{'1', '2', '3', '4', '5'}));
  assignString(target, {});
  EXPECT_EQ(target, Bytes(5, ' '));
}

TEST(ClearRecord, StringsToSpacesNumbersToZerosGroupsOfNumbersEndAsZeros) {
  // { S STRING(3), N LONG, G GROUP { D LONG, T LONG }, H GROUP { X STRING(2),
  //   Y BYTE }, V DECIMAL(3,0) } in 3 + 4 + 8 + 3 + 2 = 20 bytes.
  FieldDescWriter w;
  w.group("")
      .string("S", 3)
      .longField("N")
      .group("G")
      .longField("D")
      .longField("T")
      .endGroup()
      .group("H")
      .string("X", 2)
      .byteField("Y")
      .endGroup()
      .decimal("V", 2, 0)
      .endGroup();
  const Bytes stream = w.finish().value();
  Bytes record(20, 0xEE);
  ASSERT_EQ(clearRecord(record, stream), 0);
  const Bytes expected = {' ', ' ', ' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ' ', ' ', 0, 0, 0};
  EXPECT_EQ(record, expected);

  Bytes image;
  ASSERT_EQ(buildClearedImage(stream, 20, image), 0);
  EXPECT_EQ(image, expected);
}

TEST(ClearRecord, InvalidStreamLeavesTheRecordAlone) {
  FieldDescWriter w;
  w.group("").string("S", 30).endGroup();
  const Bytes stream = w.finish().value();
  Bytes record(20, 0xEE);  // too short for the field
  EXPECT_EQ(clearRecord(record, stream), 75);
  EXPECT_EQ(record, Bytes(20, 0xEE));
}

}  // namespace
}  // namespace fileaccess
