// The 512-byte file header as the store caches it, with typed access to its
// fields (layout in format.h).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "qbx/store/format.h"

namespace qbx::store {

class FileHeader {
 public:
  // Zeroed, with the stored length 512 (an initialised store's header).
  FileHeader();

  std::span<std::uint8_t, format::kHeaderSize> bytes() { return bytes_; }
  std::span<const std::uint8_t, format::kHeaderSize> bytes() const { return bytes_; }

  std::uint32_t logStart() const;
  void setLogStart(std::uint32_t offset);
  std::uint32_t logEnd() const;
  void setLogEnd(std::uint32_t offset);

  bool hasMagic() const;
  void setMagic();
  // Marks the cached header stale: the next refresh reads the file's again.
  void clearMagic();

  std::span<std::uint8_t, 4> recordCounter();
  std::span<const std::uint8_t, 4> recordCounter() const;

  // Signed on disk; raised by wrapping so that the counter never overflows.
  std::int32_t changeCount() const;
  void setChangeCount(std::int32_t count);
  void raiseChangeCount();

  std::int32_t rootPage() const;
  void setRootPage(std::int32_t page);

  // Region bounds of size class c (0..59), page numbers.
  std::uint32_t regionStart(int c) const;
  std::uint32_t regionEnd(int c) const;
  void setRegionStart(int c, std::uint32_t page);
  void setRegionEnd(int c, std::uint32_t page);
  bool regionsEmpty() const;

  // 512 + 256 x the region end of the highest non-empty class (512 when all
  // are empty). 64-bit, so that a damaged header cannot wrap it.
  std::uint64_t logicalEnd() const;

  // The checks a header read from disk must pass before the store uses it:
  // the magic; region 1 starts at 0; every region runs forward, holds whole
  // slots of its class and ends at or before the next one starts; the
  // logical end and the log bounds lie below the lock bytes; and once the
  // tree has been started, the root page is the start of a slot in a region
  // (or, while no region holds a page, at least not a temporary number).
  bool isSound() const;

 private:
  std::array<std::uint8_t, format::kHeaderSize> bytes_{};
};

}  // namespace qbx::store
