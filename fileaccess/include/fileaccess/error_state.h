// The program's error state: the code and text of the last posted error, the
// file whose operation posted it, the system error number, and the driver's
// own code and text for an error 90. Operations never throw; a driver posts
// its result here and the program reads ERRORCODE() and ERROR() afterwards.
//
// There is one error state per program, used from the program's one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fileaccess {

struct FileBlock;

inline constexpr std::size_t kErrorTextLength = 80;
inline constexpr std::size_t kDriverErrorCodeLength = 81;
inline constexpr std::size_t kDriverErrorTextLength = 255;

// The error "File System Error", whose details are the driver error.
inline constexpr std::int32_t kFileSystemError = 90;
// The error whose text describes codes that have none of their own.
inline constexpr std::int32_t kUnknownErrorPosted = 81;
// An operating-system error n is posted as kSystemErrorBase + n.
inline constexpr std::int32_t kSystemErrorBase = 300;

// The whole state, as saved and restored in one piece. Texts are space padded.
struct ErrorState {
  std::int32_t code = 0;
  std::array<char, kErrorTextLength> text;
  FileBlock* fileInError = nullptr;
  std::int32_t systemErrorNumber = 0;
  std::array<char, kDriverErrorCodeLength> driverErrorCode;
  std::array<char, kDriverErrorTextLength> driverErrorText;

  ErrorState() {
    text.fill(' ');
    driverErrorCode.fill(' ');
    driverErrorText.fill(' ');
  }
};

// Code of the last posted error, 0 when none is pending.
std::int32_t ERRORCODE();
// Text of the last posted error: 80 characters, space padded.
std::string_view ERROR();
FileBlock* fileInError();
// The driver error of the last error 90: code (81 characters) and text (255
// characters), both space padded.
std::string_view driverErrorCode();
std::string_view driverErrorText();

// The last error number of the operating system, in the layer's Windows-style
// numbering. The driver sets it when an operating-system call fails; Post
// notes it, and Post(0) posts 300 + this number.
void setSystemErrorNumber(std::int32_t number);
std::int32_t systemErrorNumber();

// Posts a failed operation's code (0: the last operating-system error) with
// its text, leaving no file in error.
void postError(std::int32_t code);
// Clears the posted error and the driver error.
void clearError();
// Names the FileBlock whose operation posted the error; called right after
// postError.
void setFileInError(FileBlock* file);
// Sets the driver error of an error 90: its code text, and its message (cut to
// 254 characters), or when there is no message "File System Error : " and the
// code text.
void setDriverError(std::string_view codeText, std::string_view message);

ErrorState saveErrorState();
void restoreErrorState(const ErrorState& saved);

// Keeps the error state unchanged across work that may post, such as showing
// a message box or redisplaying a window.
class ErrorStateGuard {
 public:
  ErrorStateGuard() : saved_(saveErrorState()) {}
  ~ErrorStateGuard() { restoreErrorState(saved_); }
  ErrorStateGuard(const ErrorStateGuard&) = delete;
  ErrorStateGuard& operator=(const ErrorStateGuard&) = delete;

 private:
  ErrorState saved_;
};

// The text table's own text of a code; empty when it has none.
std::string_view tableErrorText(std::int32_t code);
// The text of a code: code 0 is taken as 81; a code without a text of its own
// is described as "Unknown Error Posted : " and the code in decimal.
std::string errorText(std::int32_t code);

}  // namespace fileaccess
