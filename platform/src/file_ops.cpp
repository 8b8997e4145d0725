// Whole-file operations: remove, move, copy, identity, directory sync. Remove,
// move and copy first open their file denying all, so a file that another
// open (of this or any program following the share protocol) holds is left
// alone with 5.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "io_loops.h"
#include "platform/errors.h"
#include "platform/file.h"

namespace platform {

namespace {

constexpr std::size_t kCopyBufferSize = 256 * 1024;

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

const OpenOptions kDenyAllRead{Access::kRead, Share::kDenyAll, false, false};

// Renames without replacing an existing target: 0 or errno (EEXIST when the
// target exists). File systems without RENAME_NOREPLACE get link + unlink,
// which never replaces either.
int renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int err = errno;
  if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return err;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  if (::unlink(from.c_str()) != 0) {
    const int unlinkErr = errno;
    ::unlink(to.c_str());
    return unlinkErr;
  }
  return 0;
}

// Maps a failed rename: a missing name can only be the target's directory,
// since the source is open.
int renameError(int err, const std::string& to) {
  if (err == ENOTEMPTY) return kErrorFileExists;
  return errorForPath(err, to, IoDirection::kWrite);
}

bool sameIdentity(const std::string& path, const FileId& id) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == id.device &&
         static_cast<std::uint64_t>(st.st_ino) == id.inode;
}

// Copies the bytes of the open source into fd through the I/O hooks.
int copyContents(File& source, int fd) {
  std::vector<std::uint8_t> buffer(kCopyBufferSize);
  std::uint64_t offset = 0;
  for (;;) {
    std::size_t got = 0;
    int result = source.read(offset, buffer, &got);
    if (result != 0) return result;
    if (got == 0) return 0;
    result = detail::writeFully(fd, offset, std::span<const std::uint8_t>(buffer.data(), got));
    if (result != 0) return result;
    offset += got;
  }
}

}  // namespace

int syncDirectoryOf(const std::string& path) {
  const std::string dir = directoryOf(path);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;  // no right to open it for reading: nothing we can do
  int result = 0;
  while (::fsync(fd) != 0) {
    if (errno == EINTR) continue;
    // Some file systems cannot sync directories (EINVAL); only a failed
    // sync is an error.
    if (errno == EIO || errno == ENOSPC || errno == EDQUOT) {
      result = errorFromErrno(errno, IoDirection::kWrite);
    }
    break;
  }
  ::close(fd);
  return result;
}

int fileId(const std::string& path, FileId* id) {
  if (path.empty() || path.find('\0') != std::string::npos) return kErrorInvalidName;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errorForPath(errno, path);
  *id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return 0;
}

int removeFile(const std::string& path) {
  File guard;
  int result = guard.open(path, kDenyAllRead);
  if (result != 0) return result;
  // The name must still be the file we hold.
  if (!sameIdentity(path, guard.id())) return kErrorAccessDenied;
  if (::unlink(path.c_str()) != 0) return errorForPath(errno, path, IoDirection::kWrite);
  guard.close();
  return syncDirectoryOf(path);
}

int moveFile(const std::string& from, const std::string& to) {
  if (to.empty() || to.find('\0') != std::string::npos) return kErrorInvalidName;
  File guard;
  int result = guard.open(from, kDenyAllRead);
  if (result != 0) return result;
  if (!sameIdentity(from, guard.id())) return kErrorAccessDenied;
  const int err = renameNoReplace(from, to);
  if (err != 0) return renameError(err, to);
  guard.close();
  result = syncDirectoryOf(to);
  if (result == 0 && directoryOf(from) != directoryOf(to)) result = syncDirectoryOf(from);
  return result;
}

int copyFile(const std::string& from, const std::string& to, bool replace) {
  if (to.empty() || to.find('\0') != std::string::npos) return kErrorInvalidName;
  File source;
  int result = source.open(from, kDenyAllRead);
  if (result != 0) return result;

  // An existing target is held denying all until it is replaced, so that no
  // other open loses its file under it.
  File target;
  struct stat st {};
  if (::stat(to.c_str(), &st) == 0) {
    if (!replace) return kErrorFileExists;
    result = target.open(to, kDenyAllRead);
    if (result != 0 && result != kErrorFileNotFound) return result;
  } else if (errno != ENOENT) {
    return errorForPath(errno, to);
  }

  std::string temp = directoryOf(to) + "/.qbx-copy-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errorForPath(errno, temp, IoDirection::kWrite);

  struct stat sourceStat {};
  result = copyContents(source, fd);
  if (result == 0 && ::stat(from.c_str(), &sourceStat) == 0) {
    ::fchmod(fd, sourceStat.st_mode & 07777);
  }
  if (result == 0) result = detail::syncData(fd);
  ::close(fd);
  if (result == 0) {
    int err = 0;
    if (replace) {
      if (::rename(temp.c_str(), to.c_str()) != 0) err = errno;
    } else {
      err = renameNoReplace(temp, to);
    }
    if (err != 0) result = renameError(err, to);
  }
  if (result != 0) {
    ::unlink(temp.c_str());
    return result;
  }
  target.close();
  return syncDirectoryOf(to);
}

}  // namespace platform
