// Lock bytes: reader slots, the writer byte, the reader area and record lock
// bytes, all above the last offset that can hold data, and the access locks
// of a shared store.
#include "platform/clock.h"
#include "qbx/store/disk_file.h"
#include "qbx/store/format.h"
#include "qbx/store/store.h"

namespace qbx::store {
namespace {

constexpr std::uint64_t kReaderSlots = 1023;
constexpr std::uint64_t kWriterByte = format::kLockBase + kReaderSlots;
constexpr std::uint64_t kRecordLockBase = format::kLockBase + 1024;

// Pause after a full sweep of refused reader slots, so that a waiting reader
// does not spin on a core while a commit holds the reader area.
constexpr unsigned kSweepPauseMillis = 1;

}  // namespace

int QbxDiskFile::lock(AccessLock kind, bool wait) {
  if (!file_.isOpen()) return 0;
  // A descriptor that cannot write can only hold read locks.
  const auto mode = file_.canWrite() ? platform::LockKind::kExclusive : platform::LockKind::kShared;
  switch (kind) {
    case AccessLock::kWriterByte:
      return file_.lock(kWriterByte, 1, mode, wait);
    case AccessLock::kReaderArea:
      return file_.lock(format::kLockBase, kReaderSlots, mode, wait);
    case AccessLock::kReaderSlot:
      break;
  }
  for (std::uint64_t tries = 1;; ++tries) {
    const int slot = readerSlot_;
    const int error = file_.lock(format::kLockBase + static_cast<std::uint64_t>(slot), 1, mode, false);
    if (error == 0) {
      heldReaderSlot_ = slot;
      return 0;
    }
    advanceReaderSlot();
    if (!wait) return error;
    if (tries % kReaderSlots == 0) platform::sleepMillis(kSweepPauseMillis);
  }
}

void QbxDiskFile::unlock(AccessLock kind) {
  if (!file_.isOpen()) return;
  switch (kind) {
    case AccessLock::kWriterByte:
      (void)file_.unlock(kWriterByte, 1);
      return;
    case AccessLock::kReaderArea:
      (void)file_.unlock(format::kLockBase, kReaderSlots);
      return;
    case AccessLock::kReaderSlot:
      if (heldReaderSlot_ >= 0) {
        (void)file_.unlock(format::kLockBase + static_cast<std::uint64_t>(heldReaderSlot_), 1);
        heldReaderSlot_ = -1;
      }
      return;
  }
}

int QbxDiskFile::lockRecord(std::uint32_t number) {
  if (!file_.isOpen()) return 0;
  const auto mode = file_.canWrite() ? platform::LockKind::kExclusive : platform::LockKind::kShared;
  // 64-bit: record numbers reach 0xFDFFFFFF, far above the 32-bit range.
  return file_.lock(kRecordLockBase + std::uint64_t{number} + 1, 1, mode, false);
}

void QbxDiskFile::unlockRecord(std::uint32_t number) {
  if (!file_.isOpen()) return;
  (void)file_.unlock(kRecordLockBase + std::uint64_t{number} + 1, 1);
}

int QbxStore::lockAccess(bool wait) {
  return disk_.lock(readerMode_ ? AccessLock::kReaderSlot : AccessLock::kWriterByte, wait);
}

void QbxStore::unlockAccess() {
  disk_.unlock(readerMode_ ? AccessLock::kReaderSlot : AccessLock::kWriterByte);
}

void QbxStore::takeReaderArea() {
  (void)disk_.lock(AccessLock::kReaderArea, true);
  readerAreaHeld_ = true;
}

void QbxStore::releaseReaderArea() {
  if (!readerAreaHeld_) return;
  disk_.unlock(AccessLock::kReaderArea);
  readerAreaHeld_ = false;
}

void QbxStore::releaseAllLocks(std::uint32_t number) {
  disk_.unlock(AccessLock::kWriterByte);
  disk_.unlock(AccessLock::kReaderSlot);
  disk_.unlock(AccessLock::kReaderArea);
  readerAreaHeld_ = false;
  disk_.unlockRecord(number);
}

}  // namespace qbx::store
