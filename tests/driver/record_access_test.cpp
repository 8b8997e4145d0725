// Record access through the file access layer: sequences, reads by number,
// key and position, writes, the queries and CLEAR.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "support/temp_dir.h"

namespace qbx::driver {
namespace {

using enum fileaccess::DriverOp;
using testing::kReadWriteDenyNone;
using testing::kRecordLength;
using testing::TestFile;

class RecordAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileaccess::clearError();
    fileaccess::stringStack().clear();
    file_.setName(temp_.file("DATA"));
    file_.call(kCreate);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
    file_.call(kOpen, kReadWriteDenyNone);
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  }

  // Adds records "r1", "r2", ... with numbers 1, 2, ... and codes from the
  // list; returns their record numbers.
  std::vector<std::int32_t> addAll(const std::vector<std::string>& codes) {
    std::vector<std::int32_t> numbers;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      file_.setFields("r" + std::to_string(i + 1), static_cast<std::int32_t>(i + 1), codes[i]);
      file_.call(kAdd);
      EXPECT_EQ(fileaccess::ERRORCODE(), 0);
      numbers.push_back(file_.call(kPointerFile));
    }
    return numbers;
  }

  // Reads the rest of the sequence: the names in order.
  std::vector<std::string> readAll(fileaccess::DriverOp step = kNext) {
    std::vector<std::string> names;
    for (;;) {
      file_.call(step);
      if (fileaccess::ERRORCODE() != 0) break;
      names.push_back(file_.name());
    }
    EXPECT_EQ(fileaccess::ERRORCODE(), 33);
    return names;
  }

  support::TempDir temp_;
  TestFile file_;
};

using Names = std::vector<std::string>;

TEST_F(RecordAccessTest, AnEmptyTableEndsAtOnce) {
  file_.call(kSetFile);
  EXPECT_EQ(file_.call(kEof), 1);
  EXPECT_EQ(file_.call(kBof), 1);
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
}

TEST_F(RecordAccessTest, FileOrderInBothDirections) {
  addAll({"A", "B", "C"});
  file_.call(kSetFile);
  EXPECT_EQ(file_.call(kEof), 0);
  EXPECT_EQ(readAll(), (Names{"r1", "r2", "r3"}));
  file_.call(kSetFile);
  EXPECT_EQ(readAll(kPrevious), (Names{"r3", "r2", "r1"}));
}

TEST_F(RecordAccessTest, SetFilePtrBelowOneIsSetFile) {
  const auto numbers = addAll({"A", "B", "C"});
  for (const std::int32_t n : {0, -3}) {
    file_.call(kSetFilePtr, n);
    EXPECT_EQ(readAll(), (Names{"r1", "r2", "r3"})) << n;
  }
  file_.call(kSetFilePtr, numbers[1]);
  EXPECT_EQ(readAll(), (Names{"r2", "r3"}));
}

TEST_F(RecordAccessTest, KeyOrderAndReadsByKey) {
  addAll({"B", "A", "B", "A"});
  file_.call(kSetKey, file_.codeKey());
  EXPECT_EQ(readAll(), (Names{"r2", "r4", "r1", "r3"}));
  EXPECT_EQ(file_.call(kQueryKey), 2);
  // A DUP key finds the lowest record number among equal values.
  file_.setFields("", 0, "B");
  file_.call(kGetFileKey, file_.codeKey());
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.name(), "r1");
  file_.setFields("r3", 0, "");
  file_.call(kGetFileKey, file_.nameKey());
  EXPECT_EQ(file_.number(), 3);
  file_.setFields("none", 0, "");
  file_.call(kGetFileKey, file_.nameKey());
  EXPECT_EQ(fileaccess::ERRORCODE(), 35);
  file_.call(kSetFile);
  EXPECT_EQ(file_.call(kQueryKey), 0);
}

TEST_F(RecordAccessTest, GetByNumber) {
  const auto numbers = addAll({"A", "B"});
  file_.call(kGetFilePtr, numbers[1]);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.name(), "r2");
  file_.call(kGetKeyPtr, file_.nameKey(), numbers[0]);
  EXPECT_EQ(file_.name(), "r1");
  file_.call(kGetFilePtr, numbers[1] + 100);
  EXPECT_EQ(fileaccess::ERRORCODE(), 35);
  EXPECT_EQ(file_.name(), "r1") << "a failed read leaves the buffer as it was";
}

TEST_F(RecordAccessTest, PositionsReadTheSameRecordAgain) {
  addAll({"A", "B", "C"});
  file_.call(kSetFile);
  file_.call(kNext);
  file_.call(kNext);
  file_.call(kPositionFile);
  const std::string filePosition = TestFile::popText();
  ASSERT_EQ(filePosition.size(), 4u);
  file_.call(kPositionKey, file_.nameKey());
  const std::string keyPosition = TestFile::popText();
  ASSERT_EQ(keyPosition.size(), 4u + 20u);

  file_.call(kNext);
  file_.callWithText(kResetFile, filePosition);
  EXPECT_EQ(readAll(), (Names{"r2", "r3"}));
  file_.callWithText(kResetKey, keyPosition, file_.nameKey());
  EXPECT_EQ(readAll(), (Names{"r2", "r3"}));
  file_.callWithText(kRegetFile, filePosition);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.name(), "r2");
  file_.call(kGetFilePtr, 0);  // anything else
  file_.callWithText(kRegetKey, keyPosition, file_.nameKey());
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.name(), "r2");
}

TEST_F(RecordAccessTest, ShortPositionTextsArePaddedAndFindNothing) {
  addAll({"A"});
  file_.call(kSetFile);
  file_.call(kNext);
  file_.call(kPositionKey, file_.nameKey());
  const std::string keyPosition = TestFile::popText();
  // Cut inside the record number and inside the key value.
  file_.callWithText(kRegetKey, keyPosition.substr(0, 6), file_.nameKey());
  EXPECT_EQ(fileaccess::ERRORCODE(), 35);
  file_.callWithText(kRegetFile, std::string("\x7f", 1));
  EXPECT_EQ(fileaccess::ERRORCODE(), 35);
  file_.callWithText(kResetKey, keyPosition.substr(0, 2), file_.nameKey());
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
}

TEST_F(RecordAccessTest, SkipMovesWithoutReading) {
  addAll({"A", "B", "C", "D"});
  file_.call(kSetFile);
  file_.call(kSkip, 2);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(readAll(), (Names{"r3", "r4"}));
  file_.call(kSetFile);
  file_.call(kSkip, 10);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  file_.call(kNext);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
}

TEST_F(RecordAccessTest, WritesKeepTheKeys) {
  const auto numbers = addAll({"A", "B"});
  // ADD of an existing unique value fails and changes nothing.
  file_.setFields("r1", 9, "Z");
  file_.call(kAdd);
  EXPECT_EQ(fileaccess::ERRORCODE(), 40);
  EXPECT_EQ(file_.call(kRecordsFile), 2);

  file_.call(kGetFilePtr, numbers[0]);
  file_.setFields("renamed", 1, "A");
  file_.call(kPut);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  file_.call(kSetKey, file_.nameKey());
  EXPECT_EQ(readAll(), (Names{"r2", "renamed"}));

  file_.call(kGetFilePtr, numbers[1]);
  file_.call(kDelete);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.call(kRecordsFile), 1);
  EXPECT_EQ(file_.call(kRecordsKey, file_.nameKey()), 1);
  file_.call(kPut);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33) << "no current record after DELETE";

  file_.setFields("by number", 5, "Q");
  file_.call(kPutFilePtr, numbers[0]);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  file_.call(kGetFilePtr, numbers[0]);
  EXPECT_EQ(file_.name(), "by number");
  file_.call(kPutFilePtr, numbers[1]);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33) << "record 2 is gone";
}

TEST_F(RecordAccessTest, AppendDoesNotMakeItsRecordCurrentForTheRules) {
  file_.setFields("app", 1, "A");
  file_.call(kAppend);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  file_.call(kPut);
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
  EXPECT_EQ(file_.call(kRecordsFile), 1);
}

TEST_F(RecordAccessTest, BytesAndDuplicate) {
  const auto numbers = addAll({"A", "B", "C"});
  EXPECT_EQ(file_.call(kBytes), static_cast<std::int32_t>(kRecordLength)) << "after ADD";
  file_.call(kGetFilePtr, numbers[0]);
  EXPECT_EQ(file_.call(kDuplicate), 0) << "the record itself is no duplicate";
  EXPECT_EQ(file_.call(kDuplicateKey, file_.nameKey()), 0);
  file_.setFields("r2", 1, "A");
  EXPECT_EQ(file_.call(kDuplicate), 1);
  EXPECT_EQ(file_.call(kDuplicateKey, file_.nameKey()), 1);
  EXPECT_EQ(file_.call(kDuplicateKey, file_.codeKey()), 0) << "a DUP key never duplicates";
  file_.call(kGetFilePtr, numbers[0]);
  file_.call(kDelete);
  EXPECT_EQ(file_.call(kBytes), static_cast<std::int32_t>(2 * kRecordLength));
}

TEST_F(RecordAccessTest, EmptyKeepsTheTableUsable) {
  addAll({"A", "B"});
  file_.call(kClose);
  file_.call(kOpen, 0x22);  // EMPTY needs exclusive access
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  file_.call(kEmpty);
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_EQ(file_.call(kRecordsFile), 0);
  addAll({"C"});
  EXPECT_EQ(file_.call(kRecordsFile), 1);
  file_.call(kSetKey, file_.nameKey());
  EXPECT_EQ(readAll(), (Names{"r1"}));
}

TEST_F(RecordAccessTest, ClearModes) {
  auto number = [&] { return file_.number(); };
  file_.setFields("x", 7, "C");
  file_.call(kClear, 0);
  EXPECT_EQ(file_.name(), "");
  EXPECT_EQ(number(), 0);
  EXPECT_EQ(file_.record()[24], ' ');
  file_.call(kClear, 1);
  EXPECT_EQ(number(), INT_MAX);
  EXPECT_EQ(file_.record()[0], 0xFF);
  file_.call(kClear, -1);
  EXPECT_EQ(number(), INT_MIN);
  EXPECT_EQ(file_.record()[0], 0x00);
}

}  // namespace
}  // namespace qbx::driver
