#include "platform/clock.h"

#include <ctime>

#include <gtest/gtest.h>

namespace {

TEST(Clock, TicksCountHundredthsFromProgramStart) {
  const std::int64_t before = platform::tickCount();
  EXPECT_GE(before, 0);
  platform::sleepMillis(30);
  const std::int64_t after = platform::tickCount();
  EXPECT_GE(after - before, 3);  // at least 30 ms passed; no upper bound is asserted
}

TEST(Clock, LocalTimeAgreesWithTheCLibrary) {
  const platform::LocalDateTime t = platform::localDateTime();
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_GE(t.year, 2020);
  EXPECT_LT(t.hundredths, 100);

  const time_t now = std::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const std::uint32_t expected = static_cast<std::uint32_t>(now + local.tm_gmtoff);
  const std::uint32_t seconds = platform::localTimeSeconds();
  EXPECT_LE(seconds - expected, 2u);  // taken a moment later
}

TEST(Clock, ReaderSlotInRange) {
  const int slot = platform::firstReaderSlot();
  EXPECT_GE(slot, 0);
  EXPECT_LT(slot, 1023);
}

}  // namespace
