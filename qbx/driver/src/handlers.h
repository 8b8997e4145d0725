// The operation handlers behind the driver entry. Each runs after the rule
// check has passed and returns the operation's result (0 or an error code);
// its numeric and text outputs go into the DriverCall.
#pragma once

#include "driver_call.h"

namespace qbx::driver {

using Handler = int (*)(DriverCall& call);

// The handler of a code; null when the driver does not carry it out (the
// call then fails with 80).
Handler findHandler(int code);

// Names (names_handlers.cpp).
int handleName(DriverCall& call);
int handleSend(DriverCall& call);
int handleEntryAddress(DriverCall& call);

// OPEN, SHARE, CREATE, CLOSE, REMOVE (open_close.cpp).
int handleOpen(DriverCall& call);
int handleCreate(DriverCall& call);
int handleClose(DriverCall& call);
int handleRemove(DriverCall& call);

// RENAME and COPY (file_transfer.cpp).
int handleRename(DriverCall& call);
int handleCopy(DriverCall& call);

// Record access (record_handlers.cpp).
int handleSetFile(DriverCall& call);
int handleSetFileKey(DriverCall& call);
int handleSetFilePtr(DriverCall& call);
int handleSetKey(DriverCall& call);
int handleSetKeyKey(DriverCall& call);
int handleSetKeyPtr(DriverCall& call);
int handleSetKeyKeyPtr(DriverCall& call);
int handleResetFile(DriverCall& call);
int handleResetKey(DriverCall& call);
int handleNext(DriverCall& call);
int handlePrevious(DriverCall& call);
int handleSkip(DriverCall& call);
int handleBof(DriverCall& call);
int handleEof(DriverCall& call);
int handleGetFileKey(DriverCall& call);
int handleGetFilePtr(DriverCall& call);
int handleGetKeyPtr(DriverCall& call);
int handleRegetFile(DriverCall& call);
int handleRegetKey(DriverCall& call);
int handleAdd(DriverCall& call);
int handleAppend(DriverCall& call);
int handlePut(DriverCall& call);
int handlePutFilePtr(DriverCall& call);
int handleDelete(DriverCall& call);
int handleEmpty(DriverCall& call);
int handleHoldFile(DriverCall& call);
int handleHoldFileSec(DriverCall& call);
int handleWatch(DriverCall& call);
int handleNoMemo(DriverCall& call);
int handleRelease(DriverCall& call);

// Queries (record_queries.cpp) and CLEAR (record_clear.cpp).
int handlePointer(DriverCall& call);
int handlePositionFile(DriverCall& call);
int handlePositionKey(DriverCall& call);
int handleRecordsFile(DriverCall& call);
int handleRecordsKey(DriverCall& call);
int handleBytes(DriverCall& call);
int handleDuplicate(DriverCall& call);
int handleDuplicateKey(DriverCall& call);
int handleQueryKey(DriverCall& call);
int handleClear(DriverCall& call);

// STREAM, FLUSH, INVIEW, ENDVIEW and the table lock (stream_lock_handlers.cpp).
int handleStream(DriverCall& call);
int handleFlush(DriverCall& call);
int handleInView(DriverCall& call);
int handleEndView(DriverCall& call);
int handleLockFile(DriverCall& call);
int handleLockFileSec(DriverCall& call);
int handleUnlock(DriverCall& call);

// LOGOUT, COMMIT and ROLLBACK (transaction_handlers.cpp).
int handleLogout(DriverCall& call);
int handleCommit(DriverCall& call);
int handleRollback(DriverCall& call);

// The BUILD family, PACK and BUILDevent (build_handlers.cpp).
int handleBuildFile(DriverCall& call);
int handleBuildKey(DriverCall& call);
int handleBuildDyn(DriverCall& call);
int handleBuildDynFilter(DriverCall& call);
int handlePack(DriverCall& call);
int handleBuildEvent(DriverCall& call);

// An address as the 32-bit numeric result: the address when it fits, else 0
// (the text reply of SEND "REGISTER" carries it whole).
std::int32_t addressResult(const void* address);

}  // namespace qbx::driver
