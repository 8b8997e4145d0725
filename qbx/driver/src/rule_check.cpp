#include "qbx/driver/rule_check.h"

#include <algorithm>

#include "qbx/driver/operation_rules.h"

namespace qbx::driver {
namespace {

// The refusals the rule check gives.
constexpr int kAccessDenied = 5;
constexpr int kRecordNotAvailable = 33;
constexpr int kRecordNotFound = 35;
constexpr int kFileNotOpen = 37;
constexpr int kInvalidKeyFile = 38;
constexpr int kKeyFileMustBeRebuilt = 46;
constexpr int kFileAlreadyOpen = 52;
constexpr int kLogoutAlreadyActive = 56;
constexpr int kExclusiveAccessRequired = 63;
constexpr int kUnsupportedFunction = 80;
constexpr int kBuildInProgress = 92;

bool isBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

// The refusal for flags the row needs and the state lacks, by precedence; 0
// when the call goes on. Past isOpen and indexBuilt a closed file lets the
// call through: what else the row needs (writable, exclusive) is a need of
// the open file, and the build operations that have such rows open the file
// themselves.
int refusalForMissing(std::uint32_t missing, std::uint32_t state) {
  if ((missing & flag::isOpen) != 0) return kFileNotOpen;
  if ((missing & flag::indexBuilt) != 0) return kKeyFileMustBeRebuilt;
  if ((state & flag::isOpen) == 0) return 0;
  if ((missing & (flag::hasRecord | flag::sequenced)) != 0) return kRecordNotAvailable;
  if ((missing & flag::exclusive) != 0) return kExclusiveAccessRequired;
  if ((missing & flag::writable) != 0) return kAccessDenied;
  // inLogout for COMMIT and ROLLBACK, locked for UNLOCK.
  return kSilentRefusal;
}

int refusalForForbidden(std::uint32_t forbidden) {
  if ((forbidden & flag::isOpen) != 0) return kFileAlreadyOpen;
  if ((forbidden & flag::inLogout) != 0) return kLogoutAlreadyActive;
  // streamed for STREAM, locked for LOCKfile and LOCKfilesec.
  return kSilentRefusal;
}

bool keyIndexBuiltApplies(const OperationRule& row, std::uint32_t bits, const KeyArgument* key) {
  return row.has(kTakesKey) && key != nullptr && key->dynamicIndex &&
         (bits & flag::indexBuilt) != 0;
}

}  // namespace

RuleVerdict checkRules(int code, std::uint32_t state, const KeyArgument* key,
                       std::string_view positionText) {
  const OperationRule* row = findOperationRule(code);
  if (row == nullptr) return {kUnsupportedFunction, false};
  if (!row->has(kTakesKey)) key = nullptr;

  // A key operation needs a key of its own file: a foreign key's definition
  // would be used against this file's trees, and without one there is nothing
  // to work on.
  if (row->has(kTakesKey) && (key == nullptr || key->state == nullptr || !key->ofThisFile)) {
    return {kInvalidKeyFile, false};
  }

  std::uint32_t missing = row->needs & ~state & ~flag::indexBuilt;
  if (keyIndexBuiltApplies(*row, row->needs, key) && (*key->state & flag::indexBuilt) == 0) {
    missing |= flag::indexBuilt;
  }

  if (missing != 0) {
    if (int refusal = refusalForMissing(missing, state); refusal != 0) return {refusal, false};
  } else {
    if ((state & flag::building) != 0 && !row->has(kRunsDuringBuild)) {
      return {kBuildInProgress, false};
    }
    if (std::uint32_t forbidden = row->refusedIf & state; forbidden != 0) {
      return {refusalForForbidden(forbidden), false};
    }
    if (row->has(kTakesPosition) && isBlank(positionText)) return {kRecordNotFound, false};
  }

  if (row->has(kNoHandler)) return {kUnsupportedFunction, false};
  const bool closedFileOperation = (row->needs & flag::isOpen) == 0 && (state & flag::isOpen) == 0;
  return {0, closedFileOperation};
}

void applyRules(int code, int result, FileState& file, const KeyArgument* key) {
  const OperationRule* row = findOperationRule(code);
  if (row == nullptr) return;
  if (!row->has(kTakesKey)) key = nullptr;

  if (result != 0) {
    // An operation that would have discarded the QbxFile on success discards
    // it after a failure as well, except when it was refused because the file
    // is open (52) or in a transaction (56): then the file stays as it is,
    // open, and keeps its state.
    const bool discardsOnSuccess = (row->afterSuccess & kDiscardFile) != 0;
    if (result == kFileNotOpen ||
        (discardsOnSuccess && result != kFileAlreadyOpen && result != kLogoutAlreadyActive)) {
      file.actions |= kDiscardFile;
    }
    file.state &= ~row->failureClears;
    return;
  }

  file.state |= row->sets & ~flag::indexBuilt;
  file.state &= ~row->clears;
  if (keyIndexBuiltApplies(*row, row->sets, key) && key->state != nullptr) {
    *key->state |= flag::indexBuilt;
  }
  file.actions |= row->afterSuccess;
}

}  // namespace qbx::driver
