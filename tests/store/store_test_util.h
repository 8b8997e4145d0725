// Helpers of the store tests: opening stores on real files in a temporary
// directory, building keys, and expecting internal errors.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qbx/store/entry.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/store.h"
#include "support/temp_dir.h"

namespace qbx::store::test {

// Exclusive, read and write, create: no access or commit locks.
inline constexpr unsigned kCreateExclusive = 0x112;

inline std::vector<std::uint8_t> bigEndianKey(std::uint32_t n, std::size_t length = 4) {
  std::vector<std::uint8_t> key(length, 0);
  for (std::size_t i = 0; i < 4 && i < length; ++i) {
    key[i] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
  }
  return key;
}

// An entry whose key is n (big-endian, padded to keyLength) and whose data
// is dataLength bytes derived from n.
inline EntryPtr numberedEntry(std::uint32_t n, std::size_t keyLength = 4, std::size_t dataLength = 0) {
  const std::vector<std::uint8_t> key = bigEndianKey(n, keyLength);
  std::vector<std::uint8_t> data(dataLength);
  for (std::size_t i = 0; i < dataLength; ++i) data[i] = static_cast<std::uint8_t>(n * 7 + i);
  return makeEntry(key, data);
}

inline EntryPtr searchKey(std::uint32_t n, std::size_t keyLength = 4) {
  return makeEntry(bigEndianKey(n, keyLength));
}

// Opens (creating) a store in writer mode.
inline std::unique_ptr<QbxStore> openWriter(const std::string& path,
                                            unsigned flags = kCreateExclusive) {
  auto store = std::make_unique<QbxStore>();
  const int result = store->open(path, flags, "");
  EXPECT_EQ(result, 0) << path;
  store->enterWriterMode();
  return store;
}

// Runs f and returns the internal error it raised, or 0.
inline int internalErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const InternalError& e) {
    return e.number;
  }
  return 0;
}

}  // namespace qbx::store::test
