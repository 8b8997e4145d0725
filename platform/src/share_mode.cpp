// Share-mode protocol. Every open of a file holds read locks on the markers
// that describe it: read access, write access, deny read, deny write. Read
// locks of many opens coexist, so a marker is held as long as any open that
// set it lives. A new open
//   1. takes the gate byte exclusively, waiting: opens are checked one at a
//      time, so two opens that conflict cannot both be refused for each other;
//   2. takes read locks on its own markers;
//   3. asks the kernel (F_OFD_GETLK, which ignores the asking open's own
//      locks) whether another open holds a marker it conflicts with: reading
//      against deny read, writing against deny write, denying read against
//      read access, denying write against write access;
//   4. releases the gate.
// Because every open sets its markers before it tests, of two opens that
// conflict at least the second one sees the first, even without the gate.
// A descriptor that cannot take write locks (read-only) takes the gate shared:
// it still waits for every writable open in step 1-4, and in the rare case of
// two such read-only opens conflicting at the same moment both may be
// refused, never both admitted. Closing the descriptor drops its markers.
#include "share_mode.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/errors.h"

namespace platform::detail {

int ofdLock(int fd, int command, short type, std::uint64_t offset, std::uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  while (::fcntl(fd, command, &fl) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

namespace {

// True when an open other than fd's holds any lock on the byte (error: also
// a conflict, since nothing can be proven).
bool otherOpenHolds(int fd, std::uint64_t byte) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(byte);
  fl.l_len = 1;
  fl.l_pid = 0;
  while (::fcntl(fd, F_OFD_GETLK, &fl) != 0) {
    if (errno != EINTR) return true;
  }
  return fl.l_type != F_UNLCK;
}

}  // namespace

int joinSharing(int fd, bool writable, Access access, Share share) {
  const bool reads = access != Access::kWrite;
  const bool writes = access != Access::kRead;
  const bool deniesRead = share == Share::kDenyRead || share == Share::kDenyAll;
  const bool deniesWrite = share == Share::kDenyWrite || share == Share::kDenyAll;

  int err = ofdLock(fd, F_OFD_SETLKW, writable ? F_WRLCK : F_RDLCK, kShareGateByte, 1);
  if (err != 0) return errorFromErrno(err);

  int result = 0;
  const struct {
    bool set;
    std::uint64_t byte;
  } own[] = {{reads, kMarkerReadAccess},
             {writes, kMarkerWriteAccess},
             {deniesRead, kMarkerDenyRead},
             {deniesWrite, kMarkerDenyWrite}};
  for (const auto& marker : own) {
    if (!marker.set) continue;
    err = ofdLock(fd, F_OFD_SETLK, F_RDLCK, marker.byte, 1);
    if (err != 0) {
      // Only a program outside the protocol write-locks a marker.
      result = (err == EAGAIN || err == EACCES) ? kErrorAccessDenied : errorFromErrno(err);
      break;
    }
  }
  if (result == 0) {
    const bool conflict = (reads && otherOpenHolds(fd, kMarkerDenyRead)) ||
                          (writes && otherOpenHolds(fd, kMarkerDenyWrite)) ||
                          (deniesRead && otherOpenHolds(fd, kMarkerReadAccess)) ||
                          (deniesWrite && otherOpenHolds(fd, kMarkerWriteAccess));
    if (conflict) result = kErrorAccessDenied;
  }
  (void)ofdLock(fd, F_OFD_SETLK, F_UNLCK, kShareGateByte, 1);
  return result;
}

}  // namespace platform::detail
