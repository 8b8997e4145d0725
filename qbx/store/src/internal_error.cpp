#include "qbx/store/internal_error.h"

#include <string>

namespace qbx::store {

namespace {

constexpr std::string_view kDefaultCorruptionMessage = "Possible data corruption in file";
// The driver error text of a raise outside any file's operation.
constexpr std::string_view kNoFileDriverErrorText = "Quillbox File Driver Error";
constexpr std::size_t kCorruptionMessageMaxLength = 219;

// Driver-wide: the driver runs every operation on the caller's one thread.
DriverErrorSink gSink = nullptr;
std::string gCurrentFileName;
std::string gMessageOverride;

}  // namespace

void setDriverErrorSink(DriverErrorSink sink) { gSink = sink; }

void setCurrentFileName(std::string_view name) { gCurrentFileName.assign(name); }

const std::string& currentFileName() { return gCurrentFileName; }

void setCorruptionMessageOverride(std::string_view text) {
  gMessageOverride.assign(text.substr(0, kCorruptionMessageMaxLength));
}

std::string corruptionMessage() {
  if (!gMessageOverride.empty()) return gMessageOverride;
  return std::string(kDefaultCorruptionMessage);
}

void raiseInternalError(int number) {
  if (gSink != nullptr) {
    if (gCurrentFileName.empty()) {
      gSink(number, kNoFileDriverErrorText);
    } else {
      const std::string message = corruptionMessage();
      gSink(number, message);
    }
  }
  throw InternalError{number};
}

}  // namespace qbx::store
