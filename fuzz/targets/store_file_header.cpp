// The checks a file header read from disk must pass, from arbitrary bytes.
//
// Input: up to 512 header bytes (the rest zero). A header that passes
// isSound() must describe a file the store can address: the logical end and
// the log bounds below the lock bytes, every region that holds pages inside
// the logical end and made of whole slots, and a started tree's root at the
// start of a slot.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "qbx/store/file_header.h"
#include "qbx/store/format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qbx::store;
  FileHeader header;
  std::fill(header.bytes().begin(), header.bytes().end(), 0);
  std::copy_n(data, std::min<std::size_t>(size, format::kHeaderSize), header.bytes().begin());
  if (!header.isSound()) return 0;

  const std::uint64_t end = header.logicalEnd();
  if (end < format::kHeaderSize || end >= format::kLockBase) std::abort();
  if (header.logStart() >= format::kLockBase || header.logEnd() >= format::kLockBase) std::abort();
  bool rootInSlot = false;
  const auto root = static_cast<std::uint32_t>(header.rootPage());
  for (int c = 1; c <= format::kMaxClass; ++c) {
    const std::uint32_t start = header.regionStart(c);
    const std::uint32_t stop = header.regionEnd(c);
    if (start == stop) continue;
    if (start > stop || format::pageOffset(stop) > end) std::abort();
    if ((stop - start) % static_cast<std::uint32_t>(c) != 0) std::abort();
    if (start <= root && root < stop && (root - start) % static_cast<std::uint32_t>(c) == 0) {
      rootInSlot = true;
    }
  }
  if (header.changeCount() != 0 && !header.regionsEmpty() && !rootInSlot) std::abort();
  return 0;
}
