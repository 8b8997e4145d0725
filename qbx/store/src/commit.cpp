// Commit through the log area. Prepare places the changed pages, writes every
// block whose home lies inside the old data into a log behind it (the new
// header last), and points the header at offset 0 at that log; finish copies
// the log's blocks home and clears the log. At every moment the file holds
// the old state or, through the log, the new one.
#include <algorithm>

#include "platform/errors.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"
#include "qbx/store/page_codec.h"
#include "qbx/store/slot_allocator.h"
#include "qbx/store/store.h"

namespace qbx::store {

using namespace format;

int QbxStore::commit() {
  const int result = prepare();
  if (result != 0) return result;
  return finish();
}

int QbxStore::prepare() {
  if (inTransaction_ || !changed_) return 0;
  if (!opened_) {
    abandon();
    return disk_.takePendingWriteError();
  }
  // A log that readers still read through cannot be written over.
  if (!cache_.logMap().empty()) {
    abandon();
    return platform::kErrorAccessDenied;
  }
  if (shared_ || denyWrite_) takeReaderArea();
  FileHeader old = headerAtOffsetZero();
  if (old.logStart() != old.logEnd()) {
    // The header at offset 0 still points at a log that was dropped (cut
    // short, or of a multi-file commit that did not complete). This
    // commit's log may be written over the same bytes; should the program
    // die before pointing at it, a walk within the old bounds could join
    // blocks of both logs. So it points at no log first.
    disk_.clearPendingWriteError();
    const std::uint64_t end = old.logicalEnd();
    if (end >= kLockBase) {
      abandon();
      return platform::kErrorDiskFull;
    }
    old.setLogStart(static_cast<std::uint32_t>(end));
    old.setLogEnd(static_cast<std::uint32_t>(end));
    disk_.write(0, old.bytes());
    disk_.flush();
    if (const int error = disk_.takePendingWriteError(); error != 0) {
      abandon();
      return error;
    }
  }
  oldLogicalEnd_ = header_.logicalEnd();

  placePages();
  compact(*this);

  const std::uint64_t logStart = std::max(header_.logicalEnd(), oldLogicalEnd_);
  disk_.clearPendingWriteError();
  if (logStart >= kLockBase) {
    abandon();
    return platform::kErrorDiskFull;
  }
  header_.setLogStart(static_cast<std::uint32_t>(logStart));
  header_.setLogEnd(static_cast<std::uint32_t>(logStart));
  header_.raiseChangeCount();

  writeDirtyPages();
  // The header is the last block of the log; it carries the final log end.
  const std::uint64_t headerAt = header_.logEnd();
  if (headerAt + kHeaderSize > kLockBase) {
    disk_.recordWriteError(platform::kErrorDiskFull);
  } else {
    header_.setLogEnd(static_cast<std::uint32_t>(headerAt + kHeaderSize));
    disk_.write(headerAt, header_.bytes());
  }
  // The log must be on the disk before the header at offset 0 points at it.
  disk_.flush();
  if (const int error = disk_.takePendingWriteError(); error != 0) {
    abandon();
    return error;
  }
  const FileHeader unpointed = old;
  old.setLogStart(header_.logStart());
  old.setLogEnd(header_.logEnd());
  // Raised, so that other programs holding the old state in their caches
  // see at their next access that the file has changed and read it again,
  // through the log.
  old.raiseChangeCount();
  disk_.write(0, old.bytes());
  disk_.flush();
  if (const int error = disk_.takePendingWriteError(); error != 0) {
    // The header at offset 0 may point at the new log now, wholly or in its
    // first part (a short write), or may reach the disk later (a failed
    // flush). The commit has failed, so the old header goes back: the file
    // keeps its old state. Should that fail too, the log is complete and
    // the file holds one state or the other.
    disk_.write(0, unpointed.bytes());
    disk_.flush();
    disk_.clearPendingWriteError();
    abandon();
    return error;
  }
  return 0;
}

FileHeader QbxStore::headerAtOffsetZero() {
  // The cached header already holds changes of this commit (the record
  // number counter, a root page that has no slot yet): what offset 0 will
  // point at the log is the header that describes the old state on disk.
  // An empty file holds an empty store.
  FileHeader onDisk;
  if (disk_.read(0, onDisk.bytes()) != kHeaderSize) {
    onDisk = FileHeader();
    onDisk.setMagic();
  }
  return onDisk;
}

void QbxStore::placePages() {
  // Pages that become dirty while the first ones are placed (moved pages,
  // index pages whose child numbers change) keep their size.
  const std::uint32_t count = cache_.dirtyCount();
  QbxPage* page = cache_.firstDirty();
  for (std::uint32_t i = 0; i < count; ++i) {
    QbxPage* following = page->ringNext;
    page->image = encodePage(*page);
    setClass(*this, page->number, static_cast<int>(page->image.size() / kPageUnit));
    page = following;
  }
}

void QbxStore::writeBlock(std::span<const std::uint8_t> block, std::uint64_t home) {
  // Nothing is ever written into the lock bytes: a file that would grow
  // into them is full.
  const std::uint64_t at = home < oldLogicalEnd_ ? header_.logEnd() : home;
  if (at + block.size() > kLockBase) {
    disk_.recordWriteError(platform::kErrorDiskFull);
    return;
  }
  disk_.write(at, block);
  if (home < oldLogicalEnd_) header_.setLogEnd(static_cast<std::uint32_t>(at + block.size()));
}

void QbxStore::writeDirtyPages() {
  QbxPage* page = cache_.firstDirty();
  while (page != nullptr) {
    QbxPage* following = cache_.nextDirty(page);
    if (page->image.empty()) page->image = encodePage(*page);
    writeBlockFields(*page, page->image);
    const std::uint64_t home = pageOffset(page->number);
    writeBlock(page->image, home);
    // A page written at home is done; one written into the log keeps its
    // image for finish.
    if (home >= oldLogicalEnd_) discardPage(page);
    page = following;
  }
}

int QbxStore::finish() {
  if (inTransaction_ || !changed_) return 0;
  if (!opened_) {
    abandon();
    return 0;
  }
  while (QbxPage* page = cache_.firstDirty()) {
    if (page->image.empty()) {
      page->image = encodePage(*page);
      writeBlockFields(*page, page->image);
    }
    disk_.write(pageOffset(page->number), page->image);
    discardPage(page);
  }
  disk_.write(0, header_.bytes());
  const bool cleared = clearLog();
  releaseReaderArea();
  changed_ = false;
  if (!cleared) {
    // The header at offset 0 still points at the complete log: the next
    // writer rolls it forward. This store ends its access, so that its next
    // one reads the file again (and, as a writer, rolls the log forward)
    // instead of reading pages whose homes may not have been written.
    header_.clearMagic();
    dropCache();
    const int error = disk_.takePendingWriteError();
    (void)endAccess();
    return error;
  }
  return 0;
}

bool QbxStore::clearLog() {
  disk_.flush();
  // Nothing may claim the log is done before everything written has reached
  // the disk.
  if (disk_.pendingWriteError() != 0) return false;
  FileHeader onDisk;
  disk_.readExact(0, onDisk.bytes());
  const std::uint64_t end = onDisk.logicalEnd();
  onDisk.setLogStart(static_cast<std::uint32_t>(end));
  onDisk.setLogEnd(static_cast<std::uint32_t>(end));
  onDisk.raiseChangeCount();
  disk_.write(0, onDisk.bytes());
  disk_.flush();
  return disk_.pendingWriteError() == 0;
}

void QbxStore::abandon() {
  if (changed_) {
    changed_ = false;
    header_.clearMagic();
    dropCache();
    (void)endAccess();
  }
  releaseReaderArea();
}

}  // namespace qbx::store
