#include "qbx/store/file_header.h"

#include <algorithm>

#include "platform/endian.h"

namespace qbx::store {

using namespace format;

FileHeader::FileHeader() { platform::storeLe16(bytes_, kBlockStoredLength, kHeaderSize); }

std::uint32_t FileHeader::logStart() const { return platform::loadLe32(bytes_, kHeaderLogStart); }
void FileHeader::setLogStart(std::uint32_t offset) {
  platform::storeLe32(bytes_, kHeaderLogStart, offset);
}
std::uint32_t FileHeader::logEnd() const { return platform::loadLe32(bytes_, kHeaderLogEnd); }
void FileHeader::setLogEnd(std::uint32_t offset) {
  platform::storeLe32(bytes_, kHeaderLogEnd, offset);
}

bool FileHeader::hasMagic() const {
  return std::equal(kMagic.begin(), kMagic.end(), bytes_.begin() + kHeaderMagic);
}
void FileHeader::setMagic() { std::copy(kMagic.begin(), kMagic.end(), bytes_.begin() + kHeaderMagic); }
void FileHeader::clearMagic() { std::fill_n(bytes_.begin() + kHeaderMagic, kMagic.size(), 0); }

std::span<std::uint8_t, 4> FileHeader::recordCounter() {
  return std::span<std::uint8_t, 4>(bytes_.data() + kHeaderRecordCounter, 4);
}
std::span<const std::uint8_t, 4> FileHeader::recordCounter() const {
  return std::span<const std::uint8_t, 4>(bytes_.data() + kHeaderRecordCounter, 4);
}

std::int32_t FileHeader::changeCount() const {
  return static_cast<std::int32_t>(platform::loadLe32(bytes_, kHeaderChangeCount));
}
void FileHeader::setChangeCount(std::int32_t count) {
  platform::storeLe32(bytes_, kHeaderChangeCount, static_cast<std::uint32_t>(count));
}
void FileHeader::raiseChangeCount() {
  platform::storeLe32(bytes_, kHeaderChangeCount,
                      platform::loadLe32(bytes_, kHeaderChangeCount) + 1u);
}

std::int32_t FileHeader::rootPage() const {
  return static_cast<std::int32_t>(platform::loadLe32(bytes_, kHeaderRootPage));
}
void FileHeader::setRootPage(std::int32_t page) {
  platform::storeLe32(bytes_, kHeaderRootPage, static_cast<std::uint32_t>(page));
}

std::uint32_t FileHeader::regionStart(int c) const {
  return platform::loadLe32(bytes_, kHeaderRegionStarts + 4 * static_cast<std::size_t>(c));
}
std::uint32_t FileHeader::regionEnd(int c) const {
  return platform::loadLe32(bytes_, kHeaderRegionEnds + 4 * static_cast<std::size_t>(c));
}
void FileHeader::setRegionStart(int c, std::uint32_t page) {
  platform::storeLe32(bytes_, kHeaderRegionStarts + 4 * static_cast<std::size_t>(c), page);
}
void FileHeader::setRegionEnd(int c, std::uint32_t page) {
  platform::storeLe32(bytes_, kHeaderRegionEnds + 4 * static_cast<std::size_t>(c), page);
}

bool FileHeader::regionsEmpty() const {
  for (int c = 1; c <= kMaxClass; ++c) {
    if (regionStart(c) != regionEnd(c)) return false;
  }
  return true;
}

std::uint64_t FileHeader::logicalEnd() const {
  for (int c = kMaxClass; c >= 1; --c) {
    if (regionEnd(c) != regionStart(c)) return pageOffset(regionEnd(c));
  }
  return pageOffset(regionEnd(0));
}

bool FileHeader::isSound() const {
  if (!hasMagic()) return false;
  if (regionStart(1) != 0) return false;
  // Region 0 holds no page: its bounds stay 0, which the chain below checks
  // as "ends at or before region 1's start".
  for (int c = 0; c <= kMaxClass; ++c) {
    const std::uint32_t start = regionStart(c);
    const std::uint32_t end = regionEnd(c);
    if (start > end) return false;
    if (c == 0 ? end != start : (end - start) % static_cast<std::uint32_t>(c) != 0) return false;
    if (c < kMaxClass && end > regionStart(c + 1)) return false;
  }
  if (logicalEnd() >= kLockBase) return false;
  if (logStart() >= kLockBase || logEnd() >= kLockBase) return false;
  if (changeCount() == 0) return true;  // the tree has not been started
  const std::int32_t root = rootPage();
  if (root < 0) return false;
  if (regionsEmpty()) return true;
  const auto page = static_cast<std::uint32_t>(root);
  for (int c = 1; c <= kMaxClass; ++c) {
    if (regionStart(c) <= page && page < regionEnd(c)) {
      return (page - regionStart(c)) % static_cast<std::uint32_t>(c) == 0;
    }
  }
  return false;
}

}  // namespace qbx::store
