#include "fileaccess/error_state.h"

#include <algorithm>
#include <string>

namespace fileaccess {

namespace {

ErrorState gState;

// Copies `text` into the fixed field, cut to `limit` characters (at most the
// field's length), and pads the rest with spaces.
template <std::size_t N>
void setPadded(std::array<char, N>& field, std::string_view text, std::size_t limit = N) {
  const std::size_t n = std::min({text.size(), limit, N});
  std::copy_n(text.begin(), n, field.begin());
  std::fill(field.begin() + static_cast<std::ptrdiff_t>(n), field.end(), ' ');
}

template <std::size_t N>
std::string_view viewOf(const std::array<char, N>& field) {
  return std::string_view(field.data(), N);
}

}  // namespace

std::int32_t ERRORCODE() { return gState.code; }
std::string_view ERROR() { return viewOf(gState.text); }
FileBlock* fileInError() { return gState.fileInError; }
std::string_view driverErrorCode() { return viewOf(gState.driverErrorCode); }
std::string_view driverErrorText() { return viewOf(gState.driverErrorText); }

void setSystemErrorNumber(std::int32_t number) { gState.systemErrorNumber = number; }
std::int32_t systemErrorNumber() { return gState.systemErrorNumber; }

void postError(std::int32_t code) {
  if (code == 0) {
    // Unsigned arithmetic: an out-of-range system number wraps instead of
    // overflowing.
    code = static_cast<std::int32_t>(static_cast<std::uint32_t>(kSystemErrorBase) +
                                     static_cast<std::uint32_t>(gState.systemErrorNumber));
  }
  const std::string text = errorText(code);
  gState.fileInError = nullptr;
  gState.code = code;
  std::string_view shown = text;
  const std::size_t first = shown.find_first_not_of(' ');
  shown.remove_prefix(first == std::string_view::npos ? shown.size() : first);
  setPadded(gState.text, shown, kErrorTextLength - 1);
}

void clearError() {
  gState.code = 0;
  gState.fileInError = nullptr;
  gState.text.fill(' ');
  gState.driverErrorCode.fill(' ');
  gState.driverErrorText.fill(' ');
}

void setFileInError(FileBlock* file) { gState.fileInError = file; }

void setDriverError(std::string_view codeText, std::string_view message) {
  setPadded(gState.driverErrorCode, codeText);
  constexpr std::size_t kMessageLimit = kDriverErrorTextLength - 1;
  if (!message.empty()) {
    setPadded(gState.driverErrorText, message, kMessageLimit);
    return;
  }
  std::string text(tableErrorText(kFileSystemError));
  text += " : ";
  text += codeText.substr(0, kDriverErrorCodeLength);
  setPadded(gState.driverErrorText, text, kMessageLimit);
}

ErrorState saveErrorState() { return gState; }
void restoreErrorState(const ErrorState& saved) { gState = saved; }

}  // namespace fileaccess
