#include "qbx/store/internal_error.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using qbx::store::InternalError;

struct SetError {
  int code;
  std::string text;
};

std::vector<SetError> gRecorded;

void recordDriverError(int code, std::string_view text) {
  gRecorded.push_back({code, std::string(text)});
}

// The raise context is driver-wide; every test starts from none.
class InternalErrorRaise : public ::testing::Test {
 protected:
  void SetUp() override {
    gRecorded.clear();
    qbx::store::setDriverErrorSink(&recordDriverError);
    qbx::store::setCurrentFileName("");
    qbx::store::setCorruptionMessageOverride("");
  }
  void TearDown() override {
    qbx::store::setDriverErrorSink(nullptr);
    qbx::store::setCurrentFileName("");
    qbx::store::setCorruptionMessageOverride("");
  }

  // Raises `number` and returns the number the thrown error carries.
  static int raiseAndCatch(int number) {
    try {
      qbx::store::raiseInternalError(number);
    } catch (const InternalError& e) {
      return e.number;
    }
    ADD_FAILURE() << "raiseInternalError returned";
    return 0;
  }
};

TEST_F(InternalErrorRaise, WithFileNameSetsCorruptionMessage) {
  qbx::store::setCurrentFileName("/data/movies.rcx");
  EXPECT_EQ(raiseAndCatch(1477), 1477);
  ASSERT_EQ(gRecorded.size(), 1u);
  EXPECT_EQ(gRecorded[0].code, 1477);
  EXPECT_EQ(gRecorded[0].text, "Possible data corruption in file");
  EXPECT_EQ(qbx::store::currentFileName(), "/data/movies.rcx");
}

TEST_F(InternalErrorRaise, WithoutFileNameSetsDriverErrorText) {
  EXPECT_EQ(raiseAndCatch(2272), 2272);
  ASSERT_EQ(gRecorded.size(), 1u);
  EXPECT_EQ(gRecorded[0].code, 2272);
  EXPECT_EQ(gRecorded[0].text, "Quillbox File Driver Error");
}

TEST_F(InternalErrorRaise, OverrideReplacesMessageCutTo219) {
  const std::string longText(300, 'x');
  const std::string shortText = "Catalogue damaged";
  struct Case {
    const std::string& override;
    std::string expected;
  };
  const Case cases[] = {
      {shortText, shortText},
      {std::string(219, 'y'), std::string(219, 'y')},
      {longText, std::string(219, 'x')},
  };
  qbx::store::setCurrentFileName("movies.rcx");
  for (const Case& c : cases) {
    gRecorded.clear();
    qbx::store::setCorruptionMessageOverride(c.override);
    EXPECT_EQ(qbx::store::corruptionMessage(), c.expected);
    EXPECT_EQ(raiseAndCatch(530), 530);
    ASSERT_EQ(gRecorded.size(), 1u);
    EXPECT_EQ(gRecorded[0].text, c.expected);
  }
  // The override does not apply without a current file name.
  gRecorded.clear();
  qbx::store::setCurrentFileName("");
  EXPECT_EQ(raiseAndCatch(530), 530);
  ASSERT_EQ(gRecorded.size(), 1u);
  EXPECT_EQ(gRecorded[0].text, "Quillbox File Driver Error");
  // An empty override restores the standard message.
  qbx::store::setCorruptionMessageOverride("");
  EXPECT_EQ(qbx::store::corruptionMessage(), "Possible data corruption in file");
}

TEST_F(InternalErrorRaise, WithoutSinkOnlyThrows) {
  qbx::store::setDriverErrorSink(nullptr);
  qbx::store::setCurrentFileName("movies.rcx");
  EXPECT_EQ(raiseAndCatch(1602), 1602);
  EXPECT_TRUE(gRecorded.empty());
}

}  // namespace
