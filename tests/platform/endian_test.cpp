#include "platform/endian.h"

#include <array>

#include <gtest/gtest.h>

namespace {

TEST(Endian, LittleAndBigEndianRoundTrip) {
  std::array<std::uint8_t, 8> b{};
  platform::storeLe32(b, 0, 0x11223344u);
  EXPECT_EQ(b[0], 0x44);
  EXPECT_EQ(b[3], 0x11);
  EXPECT_EQ(platform::loadLe32(b, 0), 0x11223344u);
  platform::storeBe32(b, 4, 0x11223344u);
  EXPECT_EQ(b[4], 0x11);
  EXPECT_EQ(b[7], 0x44);
  EXPECT_EQ(platform::loadBe32(b, 4), 0x11223344u);
  platform::storeLe16(b, 0, 0xBEEF);
  EXPECT_EQ(platform::loadLe16(b, 0), 0xBEEF);
  platform::storeLe64(b, 0, 0x0102030405060708ull);
  EXPECT_EQ(platform::loadLe64(b, 0), 0x0102030405060708ull);
}

}  // namespace
