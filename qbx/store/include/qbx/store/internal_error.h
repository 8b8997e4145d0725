// Internal consistency errors of the store. A failed check raises its number;
// the operation in progress is abandoned at once and the driver entry, the
// only place that catches InternalError, ends it with error 90.
#pragma once

#include <string>
#include <string_view>

namespace qbx::store {

// The one exception type of the engine.
struct InternalError {
  int number;
};

// Receives the driver error that a raise sets: the code (the internal number)
// and the text. The driver installs it; without one the raise only throws.
using DriverErrorSink = void (*)(int code, std::string_view text);
void setDriverErrorSink(DriverErrorSink sink);

// Driver-wide context of the raise: the name of the file the current
// operation works on (empty: none), and the program's replacement for the
// message text (empty: none).
void setCurrentFileName(std::string_view name);
const std::string& currentFileName();
void setCorruptionMessageOverride(std::string_view text);
// The message of a marked file: the override (at most 219 characters) or
// "Possible data corruption in file".
std::string corruptionMessage();

// Sets the driver error through the sink and throws InternalError{number}.
[[noreturn]] void raiseInternalError(int number);

}  // namespace qbx::store
