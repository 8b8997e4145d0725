// A multiset of entries summed up in a few words: two sums of independent
// 64-bit hashes of each entry's bytes, and the count. Two multisets with
// equal sums hold the same entries (but for a 2^-128 chance), whatever the
// order in which they were added, so the entries a key holds can be compared
// with the entries its records form without keeping either.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

namespace qbx::inspector {

class EntryMultiset {
 public:
  void add(std::span<const std::uint8_t> bytes) {
    const std::uint64_t h = hash(bytes);
    ++count_;
    sum1_ += mix(h ^ 0x9E3779B97F4A7C15ull);
    sum2_ += mix(h + 0xD6E8FEB86659FD93ull) | 1u;
  }
  std::uint64_t count() const { return count_; }
  bool operator==(const EntryMultiset&) const = default;

 private:
  static std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x;
  }
  // Eight bytes at a time, each step a multiply and a mix of the length.
  static std::uint64_t hash(std::span<const std::uint8_t> bytes) {
    std::uint64_t h = 0x243F6A8885A308D3ull ^ (bytes.size() * 0x9E3779B97F4A7C15ull);
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
      std::uint64_t w;
      std::memcpy(&w, bytes.data() + i, 8);
      h = (h ^ mix(w)) * 0x100000001B3ull;
    }
    std::uint64_t tail = 0;
    for (std::size_t j = 0; i + j < bytes.size(); ++j) {
      tail |= std::uint64_t{bytes[i + j]} << (8 * j);
    }
    return mix(h ^ mix(tail ^ 0xA0761D6478BD642Full));
  }

  std::uint64_t count_ = 0;
  std::uint64_t sum1_ = 0;
  std::uint64_t sum2_ = 0;
};

}  // namespace qbx::inspector
