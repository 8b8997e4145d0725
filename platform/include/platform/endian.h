// Byte access over std::span: little-endian loads and stores for the file's
// integers, big-endian for record numbers, table numbers and the record
// number counter (so that byte order is numeric order). Every load and store
// checks its bound in debug builds; callers check bounds before they decode.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

inline std::uint16_t loadLe16(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at + 2 <= b.size());
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

inline std::uint32_t loadLe32(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at + 4 <= b.size());
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

inline std::uint64_t loadLe64(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint64_t>(loadLe32(b, at)) |
         (static_cast<std::uint64_t>(loadLe32(b, at + 4)) << 32);
}

inline std::uint32_t loadBe32(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at + 4 <= b.size());
  return (static_cast<std::uint32_t>(b[at]) << 24) | (static_cast<std::uint32_t>(b[at + 1]) << 16) |
         (static_cast<std::uint32_t>(b[at + 2]) << 8) | static_cast<std::uint32_t>(b[at + 3]);
}

inline std::uint16_t loadBe16(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at + 2 <= b.size());
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

inline void storeLe16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  assert(at + 2 <= b.size());
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void storeLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  assert(at + 4 <= b.size());
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  b[at + 2] = static_cast<std::uint8_t>(v >> 16);
  b[at + 3] = static_cast<std::uint8_t>(v >> 24);
}

inline void storeLe64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  storeLe32(b, at, static_cast<std::uint32_t>(v));
  storeLe32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

inline void storeBe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  assert(at + 4 <= b.size());
  b[at] = static_cast<std::uint8_t>(v >> 24);
  b[at + 1] = static_cast<std::uint8_t>(v >> 16);
  b[at + 2] = static_cast<std::uint8_t>(v >> 8);
  b[at + 3] = static_cast<std::uint8_t>(v);
}

inline void storeBe16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  assert(at + 2 <= b.size());
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}

}  // namespace platform
