// The layer's error numbers. Every failure of the operating system is turned
// into the Windows-style number that the rest of the system expects, through
// one table (errors.cpp). 0 is success.
#pragma once

#include <string>

namespace platform {

// Numbers this layer reports.
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorTooManyOpenFiles = 4;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorInvalidHandle = 6;
inline constexpr int kErrorNotEnoughMemory = 8;
inline constexpr int kErrorNotSameDevice = 17;
inline constexpr int kErrorWriteProtect = 19;
inline constexpr int kErrorWriteFault = 29;
inline constexpr int kErrorReadFault = 30;
inline constexpr int kErrorGeneralFailure = 31;
inline constexpr int kErrorLockViolation = 33;
inline constexpr int kErrorDiskFull = 39;
inline constexpr int kErrorInvalidName = 45;
inline constexpr int kErrorFileExists = 80;
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorNotLocked = 158;

// The direction of the transfer that failed: an I/O error is a write fault
// (29) on the way out and a read fault (30) on the way in. Operations that
// move no data (open, stat, rename) count as reads, flush and set end as
// writes.
enum class IoDirection { kRead, kWrite };

// The table: ENOENT 2, ENOTDIR 3, EMFILE/ENFILE 4, EACCES/EPERM/EISDIR 5,
// EBADF 6, ENOMEM 8, EXDEV 17, EROFS 19, EIO 29 (write) / 30 (read),
// EAGAIN 33, ENOSPC/EDQUOT/EFBIG 39, ENAMETOOLONG 45, ELOOP 3, EEXIST 80,
// EINVAL 87. Any other errno gives 31 (general failure), and 0 gives 0.
int errorFromErrno(int err, IoDirection direction = IoDirection::kRead);

// As errorFromErrno, for a failure on a named file: ENOENT becomes 3 when the
// directory that should hold the file does not exist (or is not a
// directory), 2 when only the file itself is missing.
int errorForPath(int err, const std::string& path, IoDirection direction = IoDirection::kRead);

}  // namespace platform
