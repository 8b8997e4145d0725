#include "qbx/records/collation.h"

#include <gtest/gtest.h>

#include <vector>

#include "qbx/records/entry_keys.h"

namespace qbx::records {
namespace {

TEST(Collation, DefaultSettings) {
  const CollationBlock b = CollationBlock::defaults();
  for (unsigned i = 0; i < 256; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(b.bytes[kCollationSortWeights + i], i);
    EXPECT_EQ(b.bytes[kCollationOemSortWeights + i], i);
    const bool upper = i >= 'A' && i <= 'Z';
    const bool lower = i >= 'a' && i <= 'z';
    const unsigned partner = upper ? i + 32 : lower ? i - 32 : i;
    EXPECT_EQ(b.bytes[kCollationCaseMap + i], partner);
    EXPECT_EQ(b.bytes[kCollationClasses + i], upper ? kClassNoCase : lower ? kClassUpper : 0);
  }
  for (std::size_t i = kCollationExpansions; i < kCollationBlockSize; ++i) EXPECT_EQ(b.bytes[i], 0);

  const CollationTables t(b);
  EXPECT_FALSE(t.hasExpansions());
  EXPECT_EQ(t.noCaseMap()['Q'], 'q');
  EXPECT_EQ(t.noCaseMap()['q'], 'q');
  EXPECT_EQ(t.upper('q'), 'Q');
  EXPECT_EQ(t.upper('Q'), 'Q');
  EXPECT_EQ(t.upper(0xE9), 0xE9);
}

TEST(Collation, ExpansionTableEndsAtTheFirstEmptyEntry) {
  CollationBlock b = CollationBlock::defaults();
  auto entry = [&](std::size_t e, std::uint8_t ch, std::uint8_t r1, std::uint8_t r2) {
    const std::size_t at = kCollationExpansions + e * kCollationExpansionEntrySize;
    b.bytes[at] = ch;
    b.bytes[at + 1] = r1;
    b.bytes[at + 2] = r2;
  };
  entry(0, 0xDF, 's', 's');
  entry(1, 0xDF, 'x', 'x');  // a second entry for the same character is never used
  entry(3, 0xE6, 'a', 'e');  // after the empty entry 2: not part of the table
  const CollationTables t(b);
  EXPECT_TRUE(t.hasExpansions());
  const std::uint8_t slot = t.expansionSlot(0xDF);
  ASSERT_NE(slot, 0);
  EXPECT_EQ(t.expansionFirst(slot), 's');
  EXPECT_EQ(t.expansionSecond(slot), 's');
  EXPECT_EQ(t.expansionSlot(0xE6), 0);
  EXPECT_EQ(t.expansionSlot('s'), 0);
}

TEST(SortTableRecord, DataIsTheBlockAndTheOemFlag) {
  CollationBlock b = CollationBlock::defaults();
  b.bytes[kCollationSettings + 3] = 0x5A;  // carried settings survive
  for (bool oem : {false, true}) {
    std::array<std::uint8_t, kSortTableDataSize> data{};
    encodeSortTableData({b, oem}, data);
    EXPECT_EQ(data[kCollationBlockSize], oem ? 1 : 0);
    const auto back = decodeSortTableData(data);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->block, b);
    EXPECT_EQ(back->oem, oem);
  }
  EXPECT_EQ(sortTableKey(0x00000102),
            (std::array<std::uint8_t, 6>{0x00, 0x00, 0x01, 0x02, 0xFB, 0x01}));
}

TEST(SortTableRecord, DataOfAnotherLengthCountsAsAbsent) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, kCollationBlockSize,
                           kSortTableDataSize + 1, std::size_t{4096}}) {
    SCOPED_TRACE(size);
    const std::vector<std::uint8_t> data(size, 1);
    EXPECT_FALSE(decodeSortTableData(data).has_value());
  }
}

}  // namespace
}  // namespace qbx::records
