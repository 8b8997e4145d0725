// STREAM, FLUSH, INVIEW, ENDVIEW, and the table lock: LOCKfile, LOCKfilesec
// and UNLOCK.
#include <cstdint>

#include "flush_policy.h"
#include "handlers.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "qbx/store/store.h"

namespace qbx::driver {
namespace {

constexpr int kErrFileIsAlreadyLocked = 32;
constexpr std::int64_t kHundredthsPerSecond = 100;
// LOCKfile tries again after this pause, so that its wait without limit does
// not keep a processor busy.
constexpr unsigned kLockRetryPauseMillis = 1;
// LOCKfilesec tries once a second.
constexpr unsigned kLockStepMillis = 1000;

// One attempt at the table lock: the record lock on the table's own number,
// which no record shares (record and table numbers come from one counter).
// 32 when another program (or another table of this program's store) holds it.
int attemptTableLock(QbxFile& file) {
  records::QbxTable& table = *file.table;
  const int result = table.store().lockRecord(table.tableNumber());
  return result == platform::kErrorLockViolation ? kErrFileIsAlreadyLocked : result;
}

}  // namespace

// The rules set streamed: from now on the post-operation flush defers.
int handleStream(DriverCall&) { return 0; }

int handleFlush(DriverCall& call) { return flushFile(call.file); }

int handleInView(DriverCall& call) {
  if ((call.file.state & flag::streamed) == 0) call.file.inView = true;
  return 0;
}

int handleEndView(DriverCall& call) {
  if (!call.file.inView) return 0;
  call.file.inView = false;
  return flushFile(call.file);
}

int handleLockFile(DriverCall& call) {
  for (;;) {
    const int result = attemptTableLock(call.file);
    if (result != kErrFileIsAlreadyLocked) return result;
    platform::sleepMillis(kLockRetryPauseMillis);
  }
}

int handleLockFileSec(DriverCall& call) {
  // The seconds in 64 bits: no count of seconds overflows the deadline.
  const std::int64_t seconds = static_cast<std::int32_t>(call.word(0));
  const std::int64_t deadline = platform::tickCount() + seconds * kHundredthsPerSecond;
  for (;;) {
    const int result = attemptTableLock(call.file);
    if (result != kErrFileIsAlreadyLocked) return result;
    platform::sleepMillis(kLockStepMillis);
    if (platform::tickCount() >= deadline) return result;
  }
}

int handleUnlock(DriverCall& call) {
  records::QbxTable& table = *call.file.table;
  table.store().unlockRecord(table.tableNumber());
  return 0;
}

}  // namespace qbx::driver
