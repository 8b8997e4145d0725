// A reusable entry: one allocation that search keys and entries to insert are
// formed in, again and again, so that the hot paths (adds, key upkeep, steps)
// allocate only for the entries that the tree takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qbx/store/entry.h"

namespace qbx::records {

class EntryBuffer {
 public:
  EntryBuffer() = default;

  // Sizes the entry (reallocating only when it outgrows the buffer) and
  // returns its bytes, key then data, for the caller to fill. The lengths
  // must pass the entry check of the store (at most 15093 bytes together).
  std::span<std::uint8_t> shape(std::size_t keyLength, std::size_t dataLength);
  // Shapes the entry as a key-only entry holding these bytes.
  void setKey(std::span<const std::uint8_t> key);

  store::QbxEntry& entry() { return *entry_; }
  const store::QbxEntry& entry() const { return *entry_; }
  bool empty() const { return entry_ == nullptr; }
  std::span<const std::uint8_t> key() const { return entry_->key(); }
  std::span<const std::uint8_t> bytes() const { return entry_->all(); }
  std::span<std::uint8_t> bytes() { return entry_->all(); }
  // An exact-size copy for the tree to take.
  store::EntryPtr copy() const { return store::copyEntry(*entry_); }

 private:
  store::EntryPtr entry_;
  std::size_t capacity_ = 0;
};

}  // namespace qbx::records
