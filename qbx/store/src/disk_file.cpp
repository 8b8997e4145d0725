#include "qbx/store/disk_file.h"

#include <algorithm>
#include <limits>

#include "platform/clock.h"
#include "platform/errors.h"
#include "qbx/store/format.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"

namespace qbx::store {
namespace {

constexpr int kReaderSlots = 1023;

// pread takes a signed 64-bit offset; anything beyond it cannot be reached.
bool reachable(std::uint64_t offset, std::size_t length) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return offset <= kMax && length <= kMax - offset;
}

}  // namespace

QbxDiskFile::QbxDiskFile() : readerSlot_(platform::firstReaderSlot() % kReaderSlots) {}

int QbxDiskFile::open(const std::string& path, const platform::OpenOptions& options) {
  return file_.open(path, options);
}

void QbxDiskFile::setPassword(std::string_view password) {
  if (password.empty()) {
    key_.reset();
  } else {
    key_ = buildCipherKey(password);
  }
}

void QbxDiskFile::close() {
  file_.close();
  key_.reset();
  path_.clear();
  std::vector<std::uint8_t>().swap(scratch_);
}

std::size_t QbxDiskFile::read(std::uint64_t offset, std::span<std::uint8_t> buffer) {
  if (buffer.size() % format::kIoUnit != 0) raiseInternalError(kErrReadLengthNotUnit);
  if (!file_.isOpen()) return 0;
  if (!reachable(offset, buffer.size())) raiseInternalError(kErrReadSeek);
  std::size_t got = 0;
  if (file_.read(offset, buffer, &got) != 0) raiseInternalError(kErrReadFailed);
  if (got == buffer.size() && key_) decipherBuffer(*key_, buffer);
  return got;
}

void QbxDiskFile::readExact(std::uint64_t offset, std::span<std::uint8_t> buffer) {
  if (read(offset, buffer) != buffer.size()) raiseInternalError(kErrReadExactShort);
}

void QbxDiskFile::write(std::uint64_t offset, std::span<const std::uint8_t> buffer) {
  if (buffer.size() % format::kIoUnit != 0) raiseInternalError(kErrWriteLengthNotUnit);
  if (!file_.isOpen() || pendingWriteError_ != 0) return;
  if (!reachable(offset, buffer.size())) {
    pendingWriteError_ = platform::kErrorInvalidParameter;
    return;
  }
  std::span<const std::uint8_t> out = buffer;
  if (key_) {
    scratch_.assign(buffer.begin(), buffer.end());
    encipherBuffer(*key_, scratch_);
    out = scratch_;
  }
  const int error = file_.write(offset, out);
  if (error != 0) pendingWriteError_ = error;
}

void QbxDiskFile::flush() {
  if (!file_.isOpen() || pendingWriteError_ != 0) return;
  const int error = file_.flush();
  if (error != 0) pendingWriteError_ = error;
}

void QbxDiskFile::setEnd(std::uint64_t offset) {
  if (!file_.isOpen()) return;
  (void)file_.setEnd(offset);
}

void QbxDiskFile::advanceReaderSlot() { readerSlot_ = (readerSlot_ + 1) % kReaderSlots; }

}  // namespace qbx::store
