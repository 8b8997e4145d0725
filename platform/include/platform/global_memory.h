// Movable memory handles (the values of blobs): a table of blocks named by
// non-zero 32-bit handles, each with an exact size. A block's address is
// only valid between globalLock and globalUnlock; resizing keeps the
// contents; freeing invalidates the handle. Unknown handles are refused.
// Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using GlobalHandle = std::uint32_t;

// The largest block; larger requests fail with 8 like an exhausted heap.
inline constexpr std::size_t kMaxGlobalSize = 0x7FFFFFFF;

// New zero-filled block of exactly size bytes (0 allowed). 0 or 8.
[[nodiscard]] int globalAlloc(std::size_t size, GlobalHandle* handle);
// Resizes; the first min(old, new) bytes are kept, new bytes are zero. 0, 6
// unknown handle, 8 no memory (the block is unchanged), 5 while the block is
// locked (its address must not move under the holder).
[[nodiscard]] int globalReAlloc(GlobalHandle handle, std::size_t size);
// The block's address, raising its lock count; nullptr for an unknown handle.
// A block of size 0 gives a valid address that must not be read or written.
std::uint8_t* globalLock(GlobalHandle handle);
// Lowers the lock count. 0, 6 unknown handle, 158 not locked.
int globalUnlock(GlobalHandle handle);
// The block's exact size; 0 for an unknown handle.
std::size_t globalSize(GlobalHandle handle);
// Frees the block (also a locked one: its address becomes invalid). 0 or 6.
int globalFree(GlobalHandle handle);

}  // namespace platform
