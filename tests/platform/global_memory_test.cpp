#include "platform/global_memory.h"

#include <cstring>

#include <gtest/gtest.h>

namespace {

using platform::GlobalHandle;

TEST(GlobalMemory, BlocksKeepTheirContentsAcrossResizes) {
  GlobalHandle h = 0;
  ASSERT_EQ(platform::globalAlloc(10, &h), 0);
  EXPECT_NE(h, 0u);
  EXPECT_EQ(platform::globalSize(h), 10u);
  std::uint8_t* p = platform::globalLock(h);
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], 0);
  std::memcpy(p, "0123456789", 10);
  EXPECT_EQ(platform::globalReAlloc(h, 20), 5);  // locked: the address must not move
  ASSERT_EQ(platform::globalUnlock(h), 0);
  EXPECT_EQ(platform::globalUnlock(h), 158);

  ASSERT_EQ(platform::globalReAlloc(h, 100000), 0);
  EXPECT_EQ(platform::globalSize(h), 100000u);
  p = platform::globalLock(h);
  EXPECT_EQ(std::memcmp(p, "0123456789", 10), 0);
  EXPECT_EQ(p[99999], 0);
  ASSERT_EQ(platform::globalUnlock(h), 0);

  ASSERT_EQ(platform::globalReAlloc(h, 4), 0);
  EXPECT_EQ(platform::globalSize(h), 4u);
  p = platform::globalLock(h);
  EXPECT_EQ(std::memcmp(p, "0123", 4), 0);
  ASSERT_EQ(platform::globalUnlock(h), 0);

  ASSERT_EQ(platform::globalReAlloc(h, 0), 0);
  EXPECT_EQ(platform::globalSize(h), 0u);
  EXPECT_NE(platform::globalLock(h), nullptr);
  EXPECT_EQ(platform::globalFree(h), 0);  // frees a locked block too
}

TEST(GlobalMemory, UnknownAndFreedHandlesAreRefused) {
  GlobalHandle a = 0;
  GlobalHandle b = 0;
  ASSERT_EQ(platform::globalAlloc(1, &a), 0);
  ASSERT_EQ(platform::globalAlloc(1, &b), 0);
  EXPECT_NE(a, b);
  ASSERT_EQ(platform::globalFree(a), 0);
  for (GlobalHandle h : {a, GlobalHandle{0}, GlobalHandle{0xFFFFFFF0u}}) {
    EXPECT_EQ(platform::globalFree(h), 6) << h;
    EXPECT_EQ(platform::globalLock(h), nullptr) << h;
    EXPECT_EQ(platform::globalUnlock(h), 6) << h;
    EXPECT_EQ(platform::globalReAlloc(h, 5), 6) << h;
    EXPECT_EQ(platform::globalSize(h), 0u) << h;
  }
  EXPECT_EQ(platform::globalSize(b), 1u);  // the other block is untouched
  EXPECT_EQ(platform::globalFree(b), 0);
}

TEST(GlobalMemory, ImpossibleSizesReportNoMemory) {
  GlobalHandle h = 123;
  EXPECT_EQ(platform::globalAlloc(platform::kMaxGlobalSize + 1, &h), 8);
  EXPECT_EQ(h, 0u);
  ASSERT_EQ(platform::globalAlloc(3, &h), 0);
  EXPECT_EQ(platform::globalReAlloc(h, static_cast<std::size_t>(-1)), 8);
  EXPECT_EQ(platform::globalSize(h), 3u);
  EXPECT_EQ(platform::globalFree(h), 0);
}

}  // namespace
