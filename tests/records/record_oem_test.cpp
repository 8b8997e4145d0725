#include "qbx/records/record_oem.h"

#include <gtest/gtest.h>

#include "declaration_fixture.h"

namespace qbx::records {
namespace {

using Bytes = std::vector<std::uint8_t>;
using fileaccess::FieldDescWriter;
using fileaccess::FieldOptions;

constexpr std::uint8_t kEAcute = 0xE9;     // Windows-1252
constexpr std::uint8_t kEAcuteOem = 0x82;  // code page 437

TEST(RecordOem, ConvertsTheTextOfStringFieldsOnly) {
  FieldOptions overLong;
  overLong.offsetAdjustment = -4;
  FieldDescWriter w;
  w.group("")
      .string("T:S", 3)             // 0..3
      .cstring("T:C", 4)            // 3..7
      .pstring("T:P", 3)            // 7..10
      .longField("T:L")             // 10..14
      .string("T:OVER", 4, overLong)  // 10..14, overlaid: left alone
      .endGroup();
  testing::Declaration d = testing::Declaration::of(w, 14);
  auto def = d.build();
  ASSERT_TRUE(def);
  const std::uint8_t e = kEAcute;
  const Bytes image = {e, ' ', e,   // STRING: every byte
                       e, 0, e, e,  // CSTRING: before the zero only
                       200, e, e,   // PSTRING: length clamped to 2
                       e, e, e, e};  // LONG bytes and the overlaid STRING stay
  const std::uint8_t o = kEAcuteOem;
  const Bytes oem = {o, ' ', o, o, 0, e, e, 200, o, o, e, e, e, e};
  Bytes converted = image;
  recordToOem(*def, converted);
  EXPECT_EQ(converted, oem);
  recordFromOem(*def, converted);
  EXPECT_EQ(converted, image);
}

TEST(RecordOem, PstringLengthWithinTheField) {
  FieldDescWriter w;
  w.group("").pstring("T:P", 4).endGroup();
  testing::Declaration d = testing::Declaration::of(w, 4);
  auto def = d.build();
  ASSERT_TRUE(def);
  Bytes image = {1, kEAcute, kEAcute, kEAcute};
  recordToOem(*def, image);
  EXPECT_EQ(image, (Bytes{1, kEAcuteOem, kEAcute, kEAcute}));
}

}  // namespace
}  // namespace qbx::records
