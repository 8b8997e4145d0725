#include "qbx/records/run_store.h"

#include <cstring>
#include <new>

#include "platform/errors.h"
#include "qbx/records/result_codes.h"

namespace qbx::records {

int RunStore::fail(int error) {
  error_ = error;
  // Nothing written so far can be trusted to be whole: let the file go.
  file_.close();
  buffer_.reset();
  buffered_ = 0;
  return error_;
}

int RunStore::moveToFile() {
  const int result = file_.create();
  if (result != 0) return fail(result);
  // The buffer's bytes now wait for the file; flushBuffer writes them at 0.
  fileBytes_ = 0;
  return 0;
}

int RunStore::flushBuffer() {
  if (buffered_ == 0) return 0;
  const int result =
      file_.writeAt(fileBytes_, std::span<const std::uint8_t>(buffer_.get(), buffered_));
  if (result != 0) return fail(result);
  fileBytes_ += buffered_;
  buffered_ = 0;
  return 0;
}

int RunStore::write(std::span<const std::uint8_t> data) {
  if (error_ != 0) return error_;
  if (finished_) return platform::kErrorInvalidParameter;
  if (data.empty()) return 0;
  if (!buffer_) {
    buffer_.reset(new (std::nothrow) std::uint8_t[kRunStoreBufferSize]);
    if (!buffer_) return fail(kErrInsufficientMemory);
  }
  if (buffered_ + data.size() <= kRunStoreBufferSize) {
    std::memcpy(buffer_.get() + buffered_, data.data(), data.size());
    buffered_ += data.size();
    return 0;
  }
  // It does not fit: the stream belongs on the file from here on.
  if (!file_.isOpen()) {
    const int result = moveToFile();
    if (result != 0) return result;
  }
  if (const int result = flushBuffer(); result != 0) return result;
  if (data.size() > kRunStoreBufferSize) {
    const int result = file_.writeAt(fileBytes_, data);
    if (result != 0) return fail(result);
    fileBytes_ += data.size();
    return 0;
  }
  std::memcpy(buffer_.get(), data.data(), data.size());
  buffered_ = data.size();
  return 0;
}

int RunStore::finishWriting() {
  if (error_ != 0) return error_;
  finished_ = true;
  if (file_.isOpen()) return flushBuffer();
  return 0;
}

int RunStore::read(std::uint64_t offset, std::span<std::uint8_t> buffer) {
  if (error_ != 0) return error_;
  if (!finished_) return platform::kErrorInvalidParameter;
  if (offset > size() || buffer.size() > size() - offset) return fail(platform::kErrorAccessDenied);
  if (buffer.empty()) return 0;
  if (!file_.isOpen()) {
    std::memcpy(buffer.data(), buffer_.get() + offset, buffer.size());
    return 0;
  }
  std::size_t got = 0;
  const int result = file_.readAt(offset, buffer, &got);
  if (result != 0) return fail(result);
  if (got != buffer.size()) return fail(platform::kErrorAccessDenied);  // the file came up short
  return 0;
}

void RunStore::close() {
  file_.close();
  buffer_.reset();
  buffered_ = 0;
  fileBytes_ = 0;
  finished_ = false;
  error_ = 0;
}

}  // namespace qbx::records
