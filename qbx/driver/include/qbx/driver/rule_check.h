// The rule check that every driver call passes before its handler runs, and
// the application of the same rules to the file's state when the call ends.
// Both work only on state flags, so they are independent of the store and the
// record engine.
#pragma once

#include <cstdint>
#include <string_view>

#include "qbx/driver/file_state.h"

namespace qbx::driver {

// The result of a call that is skipped without posting anything: the handler
// does not run, ERRORCODE keeps the value of the call before, lastError
// becomes 0, and the rules count it as a failure. Error codes are never
// negative, so it cannot be taken for one.
inline constexpr int kSilentRefusal = -1;

// What the rules need of a call's key argument.
struct KeyArgument {
  // The key's own state word, where its indexBuilt flag lives. Read by the
  // check, changed by applyRules; never null.
  std::uint32_t* state = nullptr;
  // An INDEX declared without components, built at run time.
  bool dynamicIndex = false;
  // The key's definition belongs to the QbxFile of this call.
  bool ofThisFile = false;
};

struct RuleVerdict {
  // 0: the handler runs. Otherwise the call's result: an error code or
  // kSilentRefusal.
  int result = 0;
  // The call passed on a closed file and its operation does not need an open
  // one: the table definition's name, owner text and driver option text are
  // copied again from the FileBlock (those not set by a property), so that a
  // program may change its name variable between a CLOSE and the next OPEN.
  bool refreshDeclaration = false;
};

// Checks a call against its operation's row, in this order: an operation that
// takes a key without a key of this file gets 38; then the flags the row
// needs (37, 46, a closed file lets the build operations through, 33, 63, 5,
// else a silent refusal); a running deferred build (92); the flags the row
// refuses (52, 56, else a silent refusal); a blank position text (35); and
// last 80 for an operation without a handler. Code 0, negative codes and codes
// above 93 get 80 without a check.
//
// state is the file's state flags; key is the call's key argument or nullptr;
// positionText is text A of the operations that take a position (ignored for
// the others). The caller zeroes FileState::actions when the call starts.
[[nodiscard]] RuleVerdict checkRules(int code, std::uint32_t state, const KeyArgument* key,
                                     std::string_view positionText = {});

// Applies the rules when the call ends, result being the call's result (0,
// an error code or kSilentRefusal). After success: the row's Sets and Clears
// on file.state (indexBuilt on the key's state instead, and only for a
// dynamic index) and its actions added to file.actions. After a failure: the
// row's failure clears, and discard for 37 or when success would have
// discarded, unless the result says the file stays as it is (52, 56). Codes
// without a row change nothing.
void applyRules(int code, int result, FileState& file, const KeyArgument* key);

}  // namespace qbx::driver
