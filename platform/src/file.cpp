// Disk files: descriptors opened with O_CLOEXEC, transfers through the I/O
// hooks, byte-range locks as open-file-description locks with a table of the
// ranges this File holds (the kernel would grant an overlapping lock and an
// inexact unlock, which the system must refuse).
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "io_loops.h"
#include "platform/errors.h"
#include "share_mode.h"

namespace platform {

namespace {

bool isRefusedByRights(int err) {
  return err == EACCES || err == EPERM || err == EROFS || err == ETXTBSY;
}

// Opens the descriptor; with create, tells whether this call made the file.
// O_NONBLOCK keeps an open of a FIFO or device from hanging; it is cleared
// once the file is known to be a regular file.
int openDescriptor(const std::string& path, int accessMode, bool create, bool* created) {
  *created = false;
  const int base = accessMode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (!create) return ::open(path.c_str(), base);
  // O_EXCL first so that only the creator syncs the directory; the file may
  // vanish or appear between the two calls, hence the retries.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ::open(path.c_str(), base | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      *created = true;
      return fd;
    }
    if (errno != EEXIST) return -1;
    fd = ::open(path.c_str(), base);
    if (fd >= 0 || errno != ENOENT) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

File::~File() { close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_),
      canWrite_(other.canWrite_),
      id_(other.id_),
      path_(std::move(other.path_)),
      held_(std::move(other.held_)) {
  other.fd_ = -1;
  other.canWrite_ = false;
  other.id_ = {};
  other.held_.clear();
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    canWrite_ = other.canWrite_;
    id_ = other.id_;
    path_ = std::move(other.path_);
    held_ = std::move(other.held_);
    other.fd_ = -1;
    other.canWrite_ = false;
    other.id_ = {};
    other.held_.clear();
  }
  return *this;
}

int File::open(const std::string& path, const OpenOptions& options) {
  close();
  if (path.empty() || path.find('\0') != std::string::npos) return kErrorInvalidName;

  // Writing needs a readable descriptor too: the share markers are read locks.
  bool writable = options.access != Access::kRead;
  bool created = false;
  int fd = -1;
  if (writable) {
    fd = openDescriptor(path, O_RDWR, options.create, &created);
  } else if (options.writeLocks) {
    fd = openDescriptor(path, O_RDWR, options.create, &created);
    writable = fd >= 0;
    if (fd < 0 && isRefusedByRights(errno)) {
      fd = openDescriptor(path, O_RDONLY, options.create, &created);
    }
  } else {
    fd = openDescriptor(path, O_RDONLY, options.create, &created);
  }
  if (fd < 0) {
    const int err = errno;
    return options.create && err == ENOENT ? kErrorPathNotFound : errorForPath(err, path);
  }

  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return errorFromErrno(err);
  }
  if (!S_ISREG(st.st_mode)) {  // directories, devices, FIFOs
    ::close(fd);
    return kErrorAccessDenied;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int err = errno;
    ::close(fd);
    return errorFromErrno(err);
  }

  int result = detail::joinSharing(fd, writable, options.access, options.share);
  if (result == 0 && created) result = syncDirectoryOf(path);
  if (result != 0) {
    ::close(fd);
    return result;
  }
  fd_ = fd;
  canWrite_ = writable;
  id_ = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  path_ = path;
  return 0;
}

int File::read(std::uint64_t offset, std::span<std::uint8_t> buffer, std::size_t* bytesRead) {
  if (fd_ < 0) {
    if (bytesRead != nullptr) *bytesRead = 0;
    return kErrorInvalidHandle;
  }
  return detail::readFully(fd_, offset, buffer, bytesRead);
}

int File::write(std::uint64_t offset, std::span<const std::uint8_t> buffer) {
  if (fd_ < 0) return kErrorInvalidHandle;
  if (!canWrite_) return kErrorAccessDenied;
  return detail::writeFully(fd_, offset, buffer);
}

int File::flush() {
  if (fd_ < 0) return kErrorInvalidHandle;
  return detail::syncData(fd_);
}

int File::setEnd(std::uint64_t length) {
  if (fd_ < 0) return kErrorInvalidHandle;
  if (!canWrite_) return kErrorAccessDenied;
  return detail::truncateTo(fd_, length);
}

int File::size(std::uint64_t* length) const {
  if (fd_ < 0) return kErrorInvalidHandle;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return errorFromErrno(errno);
  *length = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

void File::close() {
  if (fd_ >= 0) {
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    ::close(fd_);
  }
  fd_ = -1;
  canWrite_ = false;
  id_ = {};
  path_.clear();
  held_.clear();
}

int File::lock(std::uint64_t offset, std::uint64_t length, LockKind kind, bool wait) {
  if (fd_ < 0) return kErrorInvalidHandle;
  if (length == 0 || offset > detail::kMaxFileOffset || length > detail::kMaxFileOffset - offset) {
    return kErrorInvalidParameter;
  }
  const std::uint64_t end = offset + length;
  // The share-mode bytes count as held by every open.
  if (offset < detail::kShareReservedEnd && end > detail::kShareReservedStart) {
    return kErrorLockViolation;
  }
  // First held range that ends after offset; the ranges are ordered and
  // disjoint, so it is the only one that can overlap.
  auto at = std::partition_point(held_.begin(), held_.end(), [offset](const Range& r) {
    return r.offset + r.length <= offset;
  });
  if (at != held_.end() && at->offset < end) return kErrorLockViolation;

  // The kernel refuses write locks on a descriptor that cannot write: such a
  // File takes a shared lock even when asked for an exclusive one.
  const short type = (kind == LockKind::kExclusive && canWrite_) ? F_WRLCK : F_RDLCK;
  const int err = detail::ofdLock(fd_, wait ? F_OFD_SETLKW : F_OFD_SETLK, type, offset, length);
  if (err != 0) {
    return (err == EAGAIN || err == EACCES) ? kErrorLockViolation : errorFromErrno(err);
  }
  held_.insert(at, Range{offset, length});
  return 0;
}

int File::unlock(std::uint64_t offset, std::uint64_t length) {
  if (fd_ < 0) return kErrorInvalidHandle;
  auto at = std::lower_bound(held_.begin(), held_.end(), offset,
                             [](const Range& r, std::uint64_t o) { return r.offset < o; });
  if (at == held_.end() || at->offset != offset || at->length != length) return kErrorNotLocked;
  const int err = detail::ofdLock(fd_, F_OFD_SETLK, F_UNLCK, offset, length);
  if (err != 0) return errorFromErrno(err);
  held_.erase(at);
  return 0;
}

bool File::holds(std::uint64_t offset, std::uint64_t length) const {
  auto at = std::lower_bound(held_.begin(), held_.end(), offset,
                             [](const Range& r, std::uint64_t o) { return r.offset < o; });
  return at != held_.end() && at->offset == offset && at->length == length;
}

}  // namespace platform
