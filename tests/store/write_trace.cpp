#include "write_trace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <span>

#include "platform/endian.h"
#include "platform/io_hooks.h"
#include "store_state.h"

namespace qbx::store::test {
namespace {

WriteTrace* active = nullptr;

ssize_t tracedPwrite(int fd, const void* buffer, std::size_t length, off_t offset) {
  active->write(fd, buffer, length, static_cast<std::uint64_t>(offset));
  return ::pwrite(fd, buffer, length, offset);
}

int tracedFdatasync(int fd) {
  active->flush(fd);
  return ::fdatasync(fd);
}

const platform::IoHooks kTracingHooks = {::pread, tracedPwrite, tracedFdatasync, ::ftruncate};

}  // namespace

WriteTrace::WriteTrace(const std::string& path) {
  if (active != nullptr) {
    std::fputs("WriteTrace: only one may exist at a time\n", stderr);
    std::abort();
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    device_ = static_cast<std::uint64_t>(st.st_dev);
    inode_ = static_cast<std::uint64_t>(st.st_ino);
  }
  const FileHeader h = diskHeader(path);
  logStart_ = h.logStart();
  logEnd_ = h.logEnd();
  active = this;
  platform::setIoHooks(&kTracingHooks);
}

WriteTrace::~WriteTrace() {
  platform::setIoHooks(nullptr);
  active = nullptr;
}

bool WriteTrace::ours(int fd) const {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == device_ &&
         static_cast<std::uint64_t>(st.st_ino) == inode_;
}

void WriteTrace::write(int fd, const void* buffer, std::size_t length, std::uint64_t offset) {
  if (!ours(fd)) return;
  events_.push_back({false, offset, length});
  if (offset == 0) {
    // The header moves the log it points at (an unenciphered file).
    if (length >= format::kHeaderLogEnd + 4) {
      const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(buffer), length);
      logStart_ = platform::loadLe32(bytes, format::kHeaderLogStart);
      logEnd_ = platform::loadLe32(bytes, format::kHeaderLogEnd);
    }
    return;
  }
  if (logStart_ < logEnd_ && offset < logEnd_ && offset + length > logStart_) {
    violations_.push_back("write " + std::to_string(events_.size()) + " at " +
                          std::to_string(offset) + " lies in the log [" +
                          std::to_string(logStart_) + ", " + std::to_string(logEnd_) +
                          ") that offset 0 points at");
  }
}

void WriteTrace::flush(int fd) {
  if (ours(fd)) events_.push_back({true, 0, 0});
}

}  // namespace qbx::store::test
