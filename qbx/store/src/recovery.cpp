// Recovery of an interrupted commit, run by the header refresh when the
// header at offset 0 points at a pending log. A complete log holds the new
// state: readers read through it, a writer copies it home (roll forward). A
// log that is cut short or implausible is dropped (roll back): the header at
// offset 0 still describes the old state.
#include <optional>
#include <vector>

#include "platform/endian.h"
#include "qbx/store/store.h"
#include "qbx/store/transaction.h"

namespace qbx::store {

using namespace format;

namespace {

struct LogBlock {
  std::uint32_t home;
  std::uint32_t position;
  std::uint32_t slot;
};

// A block is the header (home 0, 512 bytes) or a page (home on a page
// boundary below the lock bytes, 13 to 15104 bytes).
bool plausibleBlock(std::uint32_t home, std::uint32_t length) {
  if (home == 0) return length == kHeaderSize;
  return home >= kHeaderSize && (home - kHeaderSize) % kPageUnit == 0 && home < kLockBase &&
         length >= kPageHeaderSize && length <= kMaxPageSize;
}

// Walks the log from its start to its end. None when any block is short,
// implausible or runs past the end, or when the log holds no header block.
std::optional<std::vector<LogBlock>> walkLog(QbxDiskFile& disk, const FileHeader& header) {
  const std::uint32_t end = header.logEnd();
  std::uint32_t position = header.logStart();
  if (position > end) return std::nullopt;
  std::vector<LogBlock> blocks;
  bool sawHeader = false;
  std::vector<std::uint8_t> head(kHeaderSize);
  while (position != end) {
    if (disk.read(position, head) < kHeaderSize) return std::nullopt;
    const std::uint32_t home = platform::loadLe32(head, kBlockHomeOffset);
    const std::uint32_t length = platform::loadLe16(head, kBlockStoredLength);
    if (!plausibleBlock(home, length)) return std::nullopt;
    const std::uint32_t slot = roundToUnit(length);
    if (slot > end - position) return std::nullopt;
    blocks.push_back({home, position, slot});
    sawHeader = sawHeader || home == 0;
    position += slot;
  }
  if (!sawHeader) return std::nullopt;
  return blocks;
}

}  // namespace

void QbxStore::recoverPendingLog() {
  const FileHeader oldHeader = header_;
  std::optional<std::vector<LogBlock>> blocks = walkLog(disk_, header_);
  bool usable = blocks.has_value();
  FileHeader newHeader;
  if (usable) {
    LogMap& map = cache_.logMap();
    for (const LogBlock& b : *blocks) map.add(b.home, b.position);
    usable = disk_.read(map.positionOf(0), newHeader.bytes()) == kHeaderSize && newHeader.isSound();
  }
  if (usable) {
    // The new state, readable through the log map, may belong to a
    // multi-file commit that did not prepare every file.
    header_ = newHeader;
    usable = consultMarker(*this) == LogVerdict::kKeep;
  }
  if (usable) {
    if (readerMode_) return;  // read through the log; the file stays as it is
    dropCache();
    const bool lockWriter = denyWrite_;
    if (lockWriter) (void)disk_.lock(AccessLock::kWriterByte, true);
    // Roll forward: every block goes home, the header last of all.
    std::vector<std::uint8_t> buffer;
    for (const LogBlock& b : *blocks) {
      buffer.resize(b.slot);
      disk_.readExact(b.position, buffer);
      disk_.write(b.home, buffer);
    }
    if (!clearLog()) {
      // Some block may not have reached home: keep the log and read through
      // it; the next writer's refresh rolls it forward again.
      for (const LogBlock& b : *blocks) cache_.logMap().add(b.home, b.position);
    }
    if (lockWriter) disk_.unlock(AccessLock::kWriterByte);
    return;
  }
  dropCache();
  header_ = oldHeader;
  // A header that fails its checks is left as it is; the refresh refuses it.
  if (readerMode_ || !header_.isSound()) return;
  const bool lockWriter = denyWrite_;
  if (lockWriter) (void)disk_.lock(AccessLock::kWriterByte, true);
  (void)clearLog();  // on failure the dropped log stays pending and is dropped again
  if (lockWriter) disk_.unlock(AccessLock::kWriterByte);
}

}  // namespace qbx::store
