#include "io_loops.h"

#include <sys/types.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/io_hooks.h"

namespace platform::detail {

int readFully(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer, std::size_t* got) {
  std::size_t done = 0;
  int result = 0;
  if (offset > kMaxFileOffset || buffer.size() > kMaxFileOffset - offset) {
    result = kErrorInvalidParameter;
  } else {
    const IoHooks& io = ioHooks();
    while (done < buffer.size()) {
      const ssize_t n = io.pread(fd, buffer.data() + done, buffer.size() - done,
                                 static_cast<off_t>(offset + done));
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n == 0) {
        break;  // end of file
      } else if (errno != EINTR) {
        result = errorFromErrno(errno, IoDirection::kRead);
        break;
      }
    }
  }
  if (got != nullptr) *got = done;
  return result;
}

int writeFully(int fd, std::uint64_t offset, std::span<const std::uint8_t> buffer) {
  if (offset > kMaxFileOffset || buffer.size() > kMaxFileOffset - offset) {
    return kErrorInvalidParameter;
  }
  const IoHooks& io = ioHooks();
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = io.pwrite(fd, buffer.data() + done, buffer.size() - done,
                                static_cast<off_t>(offset + done));
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0) {
      return kErrorAccessDenied;  // stopped short without an error
    } else if (errno != EINTR) {
      return errorFromErrno(errno, IoDirection::kWrite);
    }
  }
  return 0;
}

int syncData(int fd) {
  const IoHooks& io = ioHooks();
  while (io.fdatasync(fd) != 0) {
    if (errno != EINTR) return errorFromErrno(errno, IoDirection::kWrite);
  }
  return 0;
}

int truncateTo(int fd, std::uint64_t length) {
  if (length > kMaxFileOffset) return kErrorInvalidParameter;
  const IoHooks& io = ioHooks();
  while (io.ftruncate(fd, static_cast<off_t>(length)) != 0) {
    if (errno != EINTR) return errorFromErrno(errno, IoDirection::kWrite);
  }
  return 0;
}

}  // namespace platform::detail
