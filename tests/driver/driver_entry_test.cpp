// The steps of one driver call that do not need an open file: QUERY_VIEW,
// codes without a row, attach and its failure, refusals on a closed file,
// key arguments, texts popped and pushed, stale state, NAME and REGISTER.
#include "qbx/driver/driver_entry.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <string>

#include "driver_fixture.h"
#include "fileaccess/files_in_use.h"
#include "qbx/driver/driver_descriptor.h"
#include "qbx/driver/operation_rules.h"

namespace qbx::driver {
namespace {

using fileaccess::DriverOp;
using enum fileaccess::DriverOp;
using testing::TestFile;

class DriverEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileaccess::clearError();
    fileaccess::stringStack().clear();
  }
  void TearDown() override { fileaccess::stringStack().clear(); }

  // An error posted before the call under test, to see whether it stays.
  static void postEarlier() { fileaccess::postError(33); }
};

TEST_F(DriverEntryTest, QueryViewReturnsAtOnceWithoutAttaching) {
  TestFile file;
  postEarlier();
  EXPECT_EQ(file.call(kQueryView), 0);
  EXPECT_FALSE(file.attached());
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
}

TEST_F(DriverEntryTest, CodesWithoutARowGive80AndLeaveTheStateAlone) {
  for (const int code : {0, 94, 1000, -1}) {
    TestFile file;
    std::intptr_t words[4] = {};
    EXPECT_EQ(DriverEntry(code, &file.block(), words), 0) << code;
    EXPECT_EQ(fileaccess::ERRORCODE(), 80) << code;
    EXPECT_EQ(fileaccess::fileInError(), &file.block()) << code;
  }
}

TEST_F(DriverEntryTest, CodesWithARowButNoHandlerPassTheRulesThenGive80) {
  TestFile file;
  // SETNULL needs an open file: the rules refuse it first.
  EXPECT_EQ(file.call(kSetNull), 0);
  EXPECT_EQ(fileaccess::ERRORCODE(), 37);
  // DO_PROPERTY needs nothing: it reaches the missing handler.
  EXPECT_EQ(file.callWithText(kDoProperty, "x"), 0);
  EXPECT_EQ(fileaccess::ERRORCODE(), 80);
  EXPECT_TRUE(fileaccess::stringStack().empty());
}

TEST_F(DriverEntryTest, FailedAttachPostsTheDefinitionErrorAndLeavesNoState) {
  TestFile file;
  file.block().recordLength = 15001;
  file.call(kName);
  EXPECT_EQ(fileaccess::ERRORCODE(), 47);
  EXPECT_EQ(fileaccess::fileInError(), &file.block());
  EXPECT_FALSE(file.attached());
  EXPECT_FALSE(fileaccess::isFileInUse(file.block()));
  // NAME pushes its text on every call, an empty one when there is no state.
  EXPECT_EQ(TestFile::popText(), "");
}

TEST_F(DriverEntryTest, AttachEntersTheFileInUseAndDiscardTakesItOut) {
  TestFile file;
  file.call(kName);
  static_cast<void>(TestFile::popText());
  EXPECT_TRUE(file.attached());
  EXPECT_TRUE(fileaccess::isFileInUse(file.block()));
  file.call(kNext);  // 37 discards
  EXPECT_FALSE(file.attached());
  EXPECT_FALSE(fileaccess::isFileInUse(file.block()));
}

TEST_F(DriverEntryTest, OperationsOnAClosedFileGive37AndDiscardTheState) {
  for (const DriverOp op : {kNext, kAdd, kRecordsFile, kClose, kStream, kCommit, kUnlock}) {
    TestFile file;
    postEarlier();
    file.call(op);
    EXPECT_EQ(fileaccess::ERRORCODE(), 37) << fileaccess::driverOpName(op);
    EXPECT_EQ(fileaccess::fileInError(), &file.block());
    EXPECT_FALSE(file.attached()) << fileaccess::driverOpName(op);
  }
}

TEST_F(DriverEntryTest, RefusedBofAndEofReturnOne) {
  TestFile file;
  EXPECT_EQ(file.call(kBof), 1);
  EXPECT_EQ(fileaccess::ERRORCODE(), 37);
  EXPECT_EQ(file.call(kEof), 1);
}

TEST_F(DriverEntryTest, KeyOfAnotherFileGives38) {
  TestFile file;
  TestFile other;
  other.call(kName);  // attach, so that the other key has its definition
  static_cast<void>(TestFile::popText());
  file.call(kSetKey, other.nameKey());
  EXPECT_EQ(fileaccess::ERRORCODE(), 38);
  file.call(kSetKey, static_cast<fileaccess::KeyDesc*>(nullptr));
  EXPECT_EQ(fileaccess::ERRORCODE(), 38);
  // The file's own key on the closed file: the open file is missing.
  file.call(kSetKey, file.nameKey());
  EXPECT_EQ(fileaccess::ERRORCODE(), 37);
}

TEST_F(DriverEntryTest, TextArgumentsArePoppedAlsoWhenRefused) {
  TestFile file;
  fileaccess::stringStack().push("beneath");
  // BUILDdynfilter pops A and B; the closed file refuses it.
  file.callWithTexts(kBuildDynFilter, "components", "filter");
  EXPECT_EQ(fileaccess::ERRORCODE(), 38);  // no key given
  EXPECT_EQ(TestFile::popText(), "beneath");
  EXPECT_TRUE(fileaccess::stringStack().empty());
}

TEST_F(DriverEntryTest, NameOfAClosedFileIsTheDeclaredText) {
  TestFile file;
  file.setName("some/file.dat");
  file.call(kName);
  const std::string name = TestFile::popText();
  ASSERT_EQ(name.size(), 260u);  // every declared character, blanks included
  EXPECT_EQ(name.substr(0, 13), "some/file.dat");
  EXPECT_EQ(name.find_first_not_of(' ', 13), std::string::npos);

  file.block().name = "zero\0terminated";
  file.block().nameLength = fileaccess::kTextZeroTerminated;
  file.call(kName);
  EXPECT_EQ(TestFile::popText(), "zero");
  static const char kPrefixed[] =
      "\x03"
      "abcdef";
  file.block().name = kPrefixed;
  file.block().nameLength = fileaccess::kTextLengthPrefixed;
  file.call(kName);
  EXPECT_EQ(TestFile::popText(), "abc");
}

TEST_F(DriverEntryTest, StaleStateIsBuiltAgainFromTheCurrentDeclaration) {
  TestFile file;
  file.call(kName);  // leaves a QbxFile behind on the closed file
  static_cast<void>(TestFile::popText());
  ASSERT_TRUE(file.attached());
  file.block().recordLength = 15001;
  // A call that keeps state uses what is there: code 0 fails with 80 and
  // the old state stays.
  std::intptr_t words[4] = {};
  DriverEntry(0, &file.block(), words);
  EXPECT_EQ(fileaccess::ERRORCODE(), 80);
  ASSERT_TRUE(file.attached());
  // NAME does: the declaration as it is now fails to build.
  file.call(kName);
  static_cast<void>(TestFile::popText());
  EXPECT_EQ(fileaccess::ERRORCODE(), 47);
  EXPECT_FALSE(file.attached());
}

std::uintptr_t parseAddress(const std::string& text) {
  std::uintptr_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_EQ(ec, std::errc());
  EXPECT_EQ(end, text.data() + text.size());
  return value;
}

TEST_F(DriverEntryTest, RegisterRepliesWithTheDescriptorAndLeavesNoState) {
  TestFile file;
  postEarlier();
  file.callWithText(kSend, "REGISTER");
  const std::string reply = TestFile::popText();
  EXPECT_EQ(parseAddress(reply), reinterpret_cast<std::uintptr_t>(&driverDescriptor()));
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);  // a successful SEND clears the error
  EXPECT_FALSE(file.attached());

  // Blanks after the command do not matter; letter case does.
  file.callWithText(kSend, "REGISTER  ");
  EXPECT_EQ(TestFile::popText(), reply);
  file.callWithText(kSend, "register");
  EXPECT_EQ(TestFile::popText(), "");
}

TEST(DriverDescriptor, AnnouncesItsOperationsAndTypes) {
  const DriverDescriptor& d = driverDescriptor();
  EXPECT_STREQ(d.name, "QUILLBOX");
  EXPECT_EQ(d.entry, &DriverEntry);
  ASSERT_EQ(d.operationCount, 70u);
  ASSERT_EQ(d.typeCount, 17u);
  // Every announced operation has a row with a handler.
  for (std::uint32_t i = 0; i < d.operationCount; ++i) {
    const OperationRule* row = findOperationRule(d.operations[i]);
    ASSERT_NE(row, nullptr) << int{d.operations[i]};
    EXPECT_FALSE(row->has(kNoHandler)) << int{d.operations[i]};
    if (i > 0) {
      EXPECT_LT(d.operations[i - 1], d.operations[i]);
    }
  }
}

}  // namespace
}  // namespace qbx::driver
