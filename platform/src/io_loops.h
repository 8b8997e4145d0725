// Transfer loops shared by disk files, copies and temporary files. Every call
// goes through ioHooks(), finishes partial transfers and retries on EINTR.
// Results are the layer's error numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::detail {

// The largest offset (and offset + length) the kernel accepts.
inline constexpr std::uint64_t kMaxFileOffset = 0x7FFFFFFFFFFFFFFFull;

// Reads until the buffer is full or end of file; *got receives the count even
// on failure.
int readFully(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer, std::size_t* got);
// Writes the whole buffer; a transfer that stops without an error gives 5.
int writeFully(int fd, std::uint64_t offset, std::span<const std::uint8_t> buffer);
int syncData(int fd);
int truncateTo(int fd, std::uint64_t length);

}  // namespace platform::detail
