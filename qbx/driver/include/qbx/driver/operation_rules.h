// The operation rules: one row of data per operation code 1 to 93 saying what
// the operation needs of the file's state, what refuses it, which state flags
// and actions its success or failure brings, and how the driver entry treats
// its arguments and results. The rule check and the driver entry read these
// rows; no handler repeats them in code.
#pragma once

#include <cstdint>

#include "qbx/driver/file_state.h"

namespace qbx::driver {

// Operation codes with a row. Code 0 and codes above 93 have none: they are
// answered with 80 without a rule check and leave the state untouched.
inline constexpr int kFirstRuleCode = 1;
inline constexpr int kLastRuleCode = 93;

// Row traits (OperationRule::traits).
// The first argument word is a key; the other words follow it.
inline constexpr std::uint32_t kTakesKey = 0x0001;
// Pops text A from the string stack before the operation.
inline constexpr std::uint32_t kPopsTextA = 0x0002;
// Pops text B (beneath A) as well.
inline constexpr std::uint32_t kPopsTextB = 0x0004;
// Pushes a text result on every call, also after an error.
inline constexpr std::uint32_t kPushesText = 0x0008;
// A QbxFile that is neither open nor marked propertiesSet is discarded before
// the call, so that it is built again from the current declaration.
inline constexpr std::uint32_t kDiscardsStale = 0x0010;
// No handler: the call passes the rule check and then fails with 80.
inline constexpr std::uint32_t kNoHandler = 0x0020;
// Not refused with 92 while a deferred build of the file runs.
inline constexpr std::uint32_t kRunsDuringBuild = 0x0040;
// Text A is a record position; an empty or all-blank one gives 35.
inline constexpr std::uint32_t kTakesPosition = 0x0080;
// Returns 1 instead of the handler's output when the call fails.
inline constexpr std::uint32_t kOneOnFailure = 0x0100;
// Goes on after an internal error marked the file (others give 90).
inline constexpr std::uint32_t kRunsOnDamagedFile = 0x0200;

struct OperationRule {
  // Flags that must be set. indexBuilt here is tested on the key argument,
  // and only when that key is a dynamic index.
  std::uint32_t needs;
  // Flags that must be clear.
  std::uint32_t refusedIf;
  // Flags set and cleared after success; indexBuilt is applied to the key
  // argument's state instead, and only when that key is a dynamic index.
  std::uint32_t sets;
  std::uint32_t clears;
  // Flags cleared after a failure, a silent refusal included.
  std::uint32_t failureClears;
  // Action bits (kClearError, kDiscardFile) that success adds.
  std::uint32_t afterSuccess;
  std::uint32_t traits;

  [[nodiscard]] constexpr bool has(std::uint32_t trait) const { return (traits & trait) != 0; }
};

// The row of a code; nullptr for code 0, negative codes and codes above 93.
[[nodiscard]] const OperationRule* findOperationRule(int code);

}  // namespace qbx::driver
