// The call path: one operation on one file is one call of the driver entry
// that the FileBlock names, with the operation code, the FileBlock and the
// argument words; the driver's result comes back unchanged. Text arguments
// travel on the string stack (string_stack.h), not in the words.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <type_traits>

#include "fileaccess/declarations.h"
#include "fileaccess/driver_op.h"

namespace fileaccess {

// The driver always receives at least this many words, the ones the caller
// did not write being 0, so a driver never reads past the caller's arguments.
inline constexpr std::size_t kMinArgumentWords = 4;

// The result of a call on a FileBlock that names no driver entry: "Unsupported
// File Driver Function". Nothing is posted.
inline constexpr int kNoDriverEntry = 80;

// One argument as its word: integers and enumerations by value, pointers
// (key descriptors, buffers) by address.
template <typename T>
std::intptr_t argumentWord(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<std::intptr_t>(value);
  } else if constexpr (std::is_enum_v<T>) {
    return static_cast<std::intptr_t>(static_cast<std::underlying_type_t<T>>(value));
  } else {
    static_assert(std::is_integral_v<T>, "argument words are integers or pointers");
    return static_cast<std::intptr_t>(value);
  }
}

// Calls the driver entry for op with the words as given (padded with zeros to
// kMinArgumentWords). For a FileBlock with the THREAD attribute the calling
// thread's copy of the declaration is used (thread_copies.h).
int callDriver(std::int32_t op, FileBlock& file, std::span<const std::intptr_t> words);

template <typename... Args>
int Call(DriverOp op, FileBlock& file, Args... args) {
  std::array<std::intptr_t, std::max(sizeof...(Args), kMinArgumentWords)> words{
      argumentWord(args)...};
  return callDriver(opCode(op), file, words);
}

}  // namespace fileaccess
