// Share modes across processes, kept with open-file-description locks on
// bytes that the file format never uses (see share_mode.cpp for the protocol).
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace platform::detail {

// Reserved bytes: the gate and the four markers. Byte-range locks of the
// program must stay clear of them.
inline constexpr std::uint64_t kShareGateByte = 0x7FFFFF00;
inline constexpr std::uint64_t kMarkerReadAccess = 0x7FFFFF01;
inline constexpr std::uint64_t kMarkerWriteAccess = 0x7FFFFF02;
inline constexpr std::uint64_t kMarkerDenyRead = 0x7FFFFF03;
inline constexpr std::uint64_t kMarkerDenyWrite = 0x7FFFFF04;
inline constexpr std::uint64_t kShareReservedStart = kShareGateByte;
inline constexpr std::uint64_t kShareReservedEnd = kMarkerDenyWrite + 1;

// Joins the open on fd to the file's sharing: 0 when its access and sharing
// agree with every other open, 5 on a conflict, else an error. The caller
// closes fd on failure, which drops any marker taken. writable tells whether
// fd may take write locks.
int joinSharing(int fd, bool writable, Access access, Share share);

// One OFD lock call, retried on EINTR: 0 or errno.
int ofdLock(int fd, int command, short type, std::uint64_t offset, std::uint64_t length);

}  // namespace platform::detail
