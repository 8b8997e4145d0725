#include "qbx/records/entry_buffer.h"

#include <algorithm>

namespace qbx::records {

std::span<std::uint8_t> EntryBuffer::shape(std::size_t keyLength, std::size_t dataLength) {
  const std::size_t total = keyLength + dataLength;
  if (entry_ == nullptr || total > capacity_) {
    // Grows at least to a size that serves the usual keys without another
    // reallocation; newEntry applies the store's length check.
    const std::size_t want = std::max<std::size_t>(total, 64);
    entry_ = store::newEntry(want, 0);
    capacity_ = want;
  }
  entry_->keyLength = static_cast<std::uint16_t>(keyLength);
  entry_->totalLength = static_cast<std::uint16_t>(total);
  return entry_->all();
}

void EntryBuffer::setKey(std::span<const std::uint8_t> key) {
  const std::span<std::uint8_t> out = shape(key.size(), 0);
  std::copy(key.begin(), key.end(), out.begin());
}

}  // namespace qbx::records
