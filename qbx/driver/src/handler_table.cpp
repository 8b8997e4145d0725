// Operation code -> handler. Codes without an entry fail with 80.
#include <array>

#include "fileaccess/driver_op.h"
#include "handlers.h"

namespace qbx::driver {
namespace {

using enum fileaccess::DriverOp;

constexpr std::array<Handler, fileaccess::kDriverOpCount> makeTable() {
  std::array<Handler, fileaccess::kDriverOpCount> t{};
  auto set = [&t](fileaccess::DriverOp op, Handler h) {
    t[static_cast<std::size_t>(fileaccess::opCode(op))] = h;
  };
  // Open, create, close and names.
  set(kClose, &handleClose);
  set(kCopy, &handleCopy);
  set(kCreate, &handleCreate);
  set(kName, &handleName);
  set(kOpen, &handleOpen);
  set(kRemove, &handleRemove);
  set(kRename, &handleRename);
  set(kShare, &handleOpen);
  set(kSend, &handleSend);
  set(kInternal91, &handleEntryAddress);

  // Record access.
  set(kSetFile, &handleSetFile);
  set(kSetFileKey, &handleSetFileKey);
  set(kSetFilePtr, &handleSetFilePtr);
  set(kSetKey, &handleSetKey);
  set(kSetKeyKey, &handleSetKeyKey);
  set(kSetKeyPtr, &handleSetKeyPtr);
  set(kSetKeyKeyPtr, &handleSetKeyKeyPtr);
  set(kResetFile, &handleResetFile);
  set(kResetKey, &handleResetKey);
  set(kNext, &handleNext);
  set(kPrevious, &handlePrevious);
  set(kSkip, &handleSkip);
  set(kBof, &handleBof);
  set(kEof, &handleEof);
  set(kGetFileKey, &handleGetFileKey);
  set(kGetFilePtr, &handleGetFilePtr);
  set(kGetKeyPtr, &handleGetKeyPtr);
  set(kRegetFile, &handleRegetFile);
  set(kRegetKey, &handleRegetKey);
  set(kAdd, &handleAdd);
  set(kAppend, &handleAppend);
  set(kPut, &handlePut);
  set(kPutFilePtr, &handlePutFilePtr);
  set(kDelete, &handleDelete);
  set(kEmpty, &handleEmpty);
  set(kHoldFile, &handleHoldFile);
  set(kHoldFileSec, &handleHoldFileSec);
  set(kWatch, &handleWatch);
  set(kNoMemo, &handleNoMemo);
  set(kRelease, &handleRelease);
  set(kPointerFile, &handlePointer);
  set(kPointerKey, &handlePointer);
  set(kPositionFile, &handlePositionFile);
  set(kPositionKey, &handlePositionKey);
  set(kRecordsFile, &handleRecordsFile);
  set(kRecordsKey, &handleRecordsKey);
  set(kBytes, &handleBytes);
  set(kDuplicate, &handleDuplicate);
  set(kDuplicateKey, &handleDuplicateKey);
  set(kQueryKey, &handleQueryKey);
  set(kClear, &handleClear);

  // Streaming, flushing, building and locking.
  set(kStream, &handleStream);
  set(kFlush, &handleFlush);
  set(kInView, &handleInView);
  set(kEndView, &handleEndView);
  set(kLockFile, &handleLockFile);
  set(kLockFileSec, &handleLockFileSec);
  set(kUnlock, &handleUnlock);
  set(kBuildFile, &handleBuildFile);
  set(kBuildKey, &handleBuildKey);
  set(kBuildDyn, &handleBuildDyn);
  set(kBuildDynFilter, &handleBuildDynFilter);
  set(kPack, &handlePack);
  set(kBuildEvent, &handleBuildEvent);
  set(kLogout, &handleLogout);
  set(kCommit, &handleCommit);
  set(kRollback, &handleRollback);
  return t;
}

constexpr std::array<Handler, fileaccess::kDriverOpCount> kHandlers = makeTable();

}  // namespace

Handler findHandler(int code) {
  if (code < 0 || code >= fileaccess::kDriverOpCount) return nullptr;
  return kHandlers[static_cast<std::size_t>(code)];
}

}  // namespace qbx::driver
