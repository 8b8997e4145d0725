// Opening, closing and deleting a store, the header refresh that starts every
// access, truncation and the record number counter.
#include "qbx/store/store.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/file.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"

namespace qbx::store {
namespace {

// The platform open that the mode flags ask for.
platform::OpenOptions openOptions(unsigned flags) {
  platform::OpenOptions options;
  const unsigned access = flags & kOpenAccessMask;
  const unsigned share = flags & kOpenShareMask;
  if ((flags & kOpenCreate) != 0) {
    options.create = true;
    options.access = access != 0 ? platform::Access::kReadWrite : platform::Access::kRead;
    if (share == kOpenDenyWrite) {
      options.share = platform::Share::kDenyWrite;
    } else if (share == kOpenShareCompat || share == kOpenDenyNone) {
      options.share = platform::Share::kDenyNone;
    } else {
      options.share = platform::Share::kDenyAll;
    }
  } else {
    options.access = access == 1   ? platform::Access::kWrite
                     : access == 2 ? platform::Access::kReadWrite
                                   : platform::Access::kRead;
    if (share == kOpenShareCompat || share == kOpenDenyNone) {
      options.share = platform::Share::kDenyNone;
    } else if (share == kOpenDenyWrite) {
      options.share = platform::Share::kDenyWrite;
    } else if (share == kOpenDenyRead) {
      options.share = platform::Share::kDenyRead;
    } else {
      options.share = platform::Share::kDenyAll;
    }
  }
  // Lock bytes are locked for writing even by a reading open.
  options.writeLocks = options.access == platform::Access::kRead;
  return options;
}

}  // namespace

QbxStore::QbxStore() = default;

QbxStore::~QbxStore() { close(); }

int QbxStore::open(const std::string& path, unsigned modeFlags, std::string_view password) {
  readerMode_ = true;
  shared_ = (modeFlags & 0x30) == 0;
  denyWrite_ = (modeFlags & 0x30) == kOpenDenyWrite;
  int result = disk_.open(path, openOptions(modeFlags));
  if (result == 0) {
    disk_.setPassword(password);
    disk_.setPath(path);
    result = refreshHeader(true);
    if (result != 0) {
      disk_.close();
      accessOpen_ = false;
      if (result == kRefreshInvalidHeader) result = kErrorInvalidDataFile;
    }
  }
  opened_ = result == 0;
  return result;
}

void QbxStore::close() {
  if (closed_) return;
  closed_ = true;
  (void)endAccess();
  (void)commit();
  dropCache();
  disk_.close();
}

int QbxStore::deleteFile() {
  changed_ = false;
  const std::string path = disk_.path();
  disk_.file().close();
  accessOpen_ = false;
  return platform::removeFile(path);
}

int QbxStore::refreshHeader(bool wait) {
  if (accessOpen_) return 0;
  if (shared_ && lockAccess(wait) != 0) return platform::kErrorAccessDenied;
  accessOpen_ = true;
  if (!shared_ && header_.hasMagic()) return 0;

  FileHeader onDisk;
  const std::size_t got = disk_.read(0, onDisk.bytes());
  if (got == 0) {
    // An empty file is an empty store. A stale header of a disk file holds
    // only abandoned changes, which must not survive: start afresh. A
    // memory-only store keeps its header.
    if (!header_.hasMagic() && disk_.hasHandle()) header_ = FileHeader();
    header_.setMagic();
    return 0;
  }
  if (got < format::kHeaderSize || !onDisk.hasMagic()) return kRefreshInvalidHeader;
  // A header pointing at a pending log may be one whose write at the end of
  // a commit or roll forward was cut short (the new header in its first
  // part, the old in the rest): of it only the log bounds count, since the
  // complete log holds the new header. Any other header must pass every
  // check.
  const bool pending = onDisk.logStart() != onDisk.logEnd();
  if (pending ? onDisk.logStart() >= format::kLockBase || onDisk.logEnd() >= format::kLockBase
              : !onDisk.isSound()) {
    return kRefreshInvalidHeader;
  }
  if (header_.hasMagic() && header_.changeCount() >= onDisk.changeCount()) return 0;
  dropCache();
  header_ = onDisk;
  if (pending) {
    // A recovery of this store that failed before left its error behind;
    // nobody takes it, and it must not make this recovery skip its writes.
    disk_.clearPendingWriteError();
    recoverPendingLog();
    // A dropped log leaves the header at offset 0 in charge.
    if (!header_.isSound()) {
      dropCache();
      header_.clearMagic();
      return kRefreshInvalidHeader;
    }
  }
  return 0;
}

void QbxStore::truncate() {
  if (inTransaction_) return;
  if (refreshHeader(true) != 0) raiseInternalError(kErrTruncateRefresh);
  // A log that readers still read through must stay where it is.
  if (!cache_.logMap().empty()) return;
  disk_.setEnd(header_.logicalEnd());
}

std::array<std::uint8_t, 4> QbxStore::nextRecordNumber() {
  if (readerMode_) raiseInternalError(kErrNextRecordNumberReaderMode);
  if (refreshHeader(true) != 0) raiseInternalError(kErrNextRecordNumberRefresh);
  changed_ = true;
  const std::span<std::uint8_t, 4> counter = header_.recordCounter();
  std::array<std::uint8_t, 4> next;
  std::copy(counter.begin(), counter.end(), next.begin());
  // One big-endian number: the carry stops at its most significant byte.
  for (int i = 3;; --i) {
    ++next[static_cast<std::size_t>(i)];
    if (next[static_cast<std::size_t>(i)] != 0) break;
    if (i == 0) raiseInternalError(kErrRecordNumbersExhausted);
  }
  std::copy(next.begin(), next.end(), counter.begin());
  if (next[0] >= format::kRecordCounterLimit) raiseInternalError(kErrRecordNumbersExhausted);
  return next;
}

void QbxStore::setRecordNumberCounter(std::span<const std::uint8_t, 4> counter) {
  std::copy(counter.begin(), counter.end(), header_.recordCounter().begin());
}

int QbxStore::endAccess() {
  const int result = commit();
  if (accessOpen_) {
    accessOpen_ = false;
    if (shared_) unlockAccess();
  }
  return result;
}

void QbxStore::enterWriterMode() {
  if (readerMode_) (void)endAccess();
  readerMode_ = false;
  // A reader that found a pending log read through it (as does a writer
  // whose roll forward failed); a writer must first roll it forward, which
  // the next access does: its refresh finds the header stale.
  if (!cache_.logMap().empty()) {
    (void)endAccess();
    dropCache();
    header_.clearMagic();
  }
}

void QbxStore::enterReaderMode() {
  if (inTransaction_) return;
  (void)endAccess();
  readerMode_ = true;
}

}  // namespace qbx::store
