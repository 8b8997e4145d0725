#include "platform/errors.h"

#include <sys/stat.h>

#include <cerrno>

namespace platform {

namespace {

struct ErrnoEntry {
  int err;
  int code;
};

// errno -> Windows-style number. EIO is handled apart because its number
// depends on the direction.
constexpr ErrnoEntry kErrnoTable[] = {
    {ENOENT, kErrorFileNotFound},
    {ENOTDIR, kErrorPathNotFound},
    {ELOOP, kErrorPathNotFound},
    {EMFILE, kErrorTooManyOpenFiles},
    {ENFILE, kErrorTooManyOpenFiles},
    {EACCES, kErrorAccessDenied},
    {EPERM, kErrorAccessDenied},
    {EISDIR, kErrorAccessDenied},
    {EBADF, kErrorInvalidHandle},
    {ENOMEM, kErrorNotEnoughMemory},
    {EXDEV, kErrorNotSameDevice},
    {EROFS, kErrorWriteProtect},
    {EAGAIN, kErrorLockViolation},
    {ENOSPC, kErrorDiskFull},
    {EDQUOT, kErrorDiskFull},
    {EFBIG, kErrorDiskFull},
    {ENAMETOOLONG, kErrorInvalidName},
    {EEXIST, kErrorFileExists},
    {EINVAL, kErrorInvalidParameter},
};

}  // namespace

int errorFromErrno(int err, IoDirection direction) {
  if (err == 0) return 0;
  if (err == EIO) return direction == IoDirection::kWrite ? kErrorWriteFault : kErrorReadFault;
  for (const ErrnoEntry& e : kErrnoTable) {
    if (e.err == err) return e.code;
  }
  return kErrorGeneralFailure;
}

int errorForPath(int err, const std::string& path, IoDirection direction) {
  if (err != ENOENT) return errorFromErrno(err, direction);
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return kErrorFileNotFound;  // the current directory exists
  const std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kErrorPathNotFound;
  return kErrorFileNotFound;
}

}  // namespace platform
