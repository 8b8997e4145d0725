#include "fileaccess/call.h"

#include <algorithm>

#include "dispatch.h"
#include "fileaccess/thread_copies.h"

namespace fileaccess {

int dispatch(std::int32_t op, FileBlock& file, std::span<const std::intptr_t> words) {
  if (file.driverEntry == nullptr) return kNoDriverEntry;
  if (words.size() >= kMinArgumentWords) return file.driverEntry(op, &file, words.data());
  std::array<std::intptr_t, kMinArgumentWords> padded{};
  std::copy(words.begin(), words.end(), padded.begin());
  return file.driverEntry(op, &file, padded.data());
}

int callDriver(std::int32_t op, FileBlock& file, std::span<const std::intptr_t> words) {
  return dispatch(op, threadCopy(file), words);
}

}  // namespace fileaccess
