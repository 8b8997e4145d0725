#include "fileaccess/error_state.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace {

using fileaccess::ERROR;
using fileaccess::ERRORCODE;

std::string padded(std::string_view text, std::size_t length) {
  std::string s(text);
  s.resize(length, ' ');
  return s;
}

// The error state is program-wide: every test starts from a clear one.
class ErrorStateTest : public ::testing::Test {
 protected:
  void SetUp() override { fileaccess::restoreErrorState(fileaccess::ErrorState{}); }
  void TearDown() override { fileaccess::restoreErrorState(fileaccess::ErrorState{}); }

  // Stand-ins for two FileBlocks; the error state only keeps the pointer.
  alignas(std::max_align_t) unsigned char blockA_[16] = {};
  alignas(std::max_align_t) unsigned char blockB_[16] = {};
  fileaccess::FileBlock* fileA() { return reinterpret_cast<fileaccess::FileBlock*>(blockA_); }
  fileaccess::FileBlock* fileB() { return reinterpret_cast<fileaccess::FileBlock*>(blockB_); }
};

TEST_F(ErrorStateTest, StartsClear) {
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(ERROR(), std::string(80, ' '));
  EXPECT_EQ(fileaccess::fileInError(), nullptr);
  EXPECT_EQ(fileaccess::driverErrorCode(), std::string(81, ' '));
  EXPECT_EQ(fileaccess::driverErrorText(), std::string(255, ' '));
}

TEST_F(ErrorStateTest, PostSetsCodeAndPaddedText) {
  struct Case {
    std::int32_t posted;
    std::int32_t systemError;
    std::int32_t code;
    std::string_view text;
  };
  const Case cases[] = {
      {33, 0, 33, "Record Not Available"},
      {53, 0, 53, "Invalid Velmora File"},
      {12, 0, 12, "Unknown Error Posted : 12"},
      {0, 5, 305, "Access Denied"},
      {0, 39, 339, "Handle Disk Full"},
      {0, 0, 300, "Unknown Error Posted : 300"},
      {0, 14, 314, "Unknown Error Posted : 314"},
      {78, 0, 78, "Invalid Number Of Parameters"},  // its trailing space vanishes in the padding
      {81, 0, 81, "Unknown Error Posted"},
      {90, 0, 90, "File System Error"},
      {392, 0, 392, "Unknown Error Posted : 392"},
      {-7, 0, -7, "Unknown Error Posted : -7"},
      {INT32_MIN, 0, INT32_MIN, "Unknown Error Posted : -2147483648"},
      // A system number far out of range wraps instead of overflowing.
      {0, INT32_MAX, static_cast<std::int32_t>(300u + 0x7FFFFFFFu),
       "Unknown Error Posted : -2147483349"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.posted);
    fileaccess::setSystemErrorNumber(c.systemError);
    fileaccess::setFileInError(fileA());
    fileaccess::postError(c.posted);
    EXPECT_EQ(ERRORCODE(), c.code);
    EXPECT_EQ(ERROR(), padded(c.text, 80));
    EXPECT_EQ(fileaccess::fileInError(), nullptr);
    EXPECT_EQ(fileaccess::systemErrorNumber(), c.systemError);
  }
}

TEST_F(ErrorStateTest, TextOfCode) {
  struct Case {
    std::int32_t code;
    std::string_view text;
  };
  const Case cases[] = {
      {0, "Unknown Error Posted"},
      {2, "File Not Found"},
      {78, "Invalid Number Of Parameters "},
      {350, "Not Supported "},
      {96, "Remote Object Not Found"},
      {301, "Invalid Function"},
      {391, "Unknown Error"},
      {1, "Unknown Error Posted : 1"},
      {1477, "Unknown Error Posted : 1477"},
  };
  for (const Case& c : cases) EXPECT_EQ(fileaccess::errorText(c.code), c.text) << c.code;
}

TEST_F(ErrorStateTest, OperatingSystemCodesWithoutText) {
  // Between 301 and 391 exactly these have no text of their own.
  auto hasNoText = [](std::int32_t code) {
    return code == 314 || (code >= 340 && code <= 349) || (code >= 373 && code <= 379) ||
           code == 389;
  };
  for (std::int32_t code = 301; code <= 391; ++code) {
    EXPECT_EQ(fileaccess::tableErrorText(code).empty(), hasNoText(code)) << code;
  }
}

TEST_F(ErrorStateTest, ClearAfterFileSystemErrorBlanksDriverError) {
  fileaccess::postError(90);
  fileaccess::setFileInError(fileA());
  fileaccess::setDriverError("1477", "Possible data corruption in file");
  EXPECT_EQ(fileaccess::fileInError(), fileA());
  EXPECT_EQ(fileaccess::driverErrorCode(), padded("1477", 81));

  fileaccess::clearError();
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(ERROR(), std::string(80, ' '));
  EXPECT_EQ(fileaccess::fileInError(), nullptr);
  EXPECT_EQ(fileaccess::driverErrorCode(), std::string(81, ' '));
  EXPECT_EQ(fileaccess::driverErrorText(), std::string(255, ' '));
}

TEST_F(ErrorStateTest, SetDriverError) {
  struct Case {
    std::string codeText;
    std::string message;
    std::string code;
    std::string text;
  };
  const Case cases[] = {
      {"1477", "Possible data corruption in file", "1477", "Possible data corruption in file"},
      {"2272", "", "2272", "File System Error : 2272"},
      {"530", std::string(254, 'm'), "530", std::string(254, 'm')},
      {"530", std::string(400, 'm'), "530", std::string(254, 'm')},
      {std::string(100, '9'), "", std::string(81, '9'), "File System Error : " + std::string(81, '9')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codeText + " / " + c.message.substr(0, 20));
    fileaccess::setDriverError(c.codeText, c.message);
    EXPECT_EQ(fileaccess::driverErrorCode(), padded(c.code, 81));
    EXPECT_EQ(fileaccess::driverErrorText(), padded(c.text, 255));
  }
  // Setting the driver error leaves the posted error alone.
  EXPECT_EQ(ERRORCODE(), 0);
}

TEST_F(ErrorStateTest, SaveAndRestoreAsOneUnit) {
  fileaccess::setSystemErrorNumber(5);
  fileaccess::postError(90);
  fileaccess::setFileInError(fileA());
  fileaccess::setDriverError("1602", "Possible data corruption in file");
  {
    // What a message box does around its work.
    fileaccess::ErrorStateGuard guard;
    fileaccess::setSystemErrorNumber(2);
    fileaccess::postError(33);
    fileaccess::setFileInError(fileB());
    fileaccess::setDriverError("1", "other");
    fileaccess::clearError();
    EXPECT_EQ(ERRORCODE(), 0);
  }
  EXPECT_EQ(ERRORCODE(), 90);
  EXPECT_EQ(ERROR(), padded("File System Error", 80));
  EXPECT_EQ(fileaccess::fileInError(), fileA());
  EXPECT_EQ(fileaccess::systemErrorNumber(), 5);
  EXPECT_EQ(fileaccess::driverErrorCode(), padded("1602", 81));
  EXPECT_EQ(fileaccess::driverErrorText(), padded("Possible data corruption in file", 255));

  const fileaccess::ErrorState saved = fileaccess::saveErrorState();
  fileaccess::postError(0);
  EXPECT_EQ(ERRORCODE(), 305);
  fileaccess::restoreErrorState(saved);
  EXPECT_EQ(ERRORCODE(), 90);
}

}  // namespace
