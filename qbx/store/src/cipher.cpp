#include "qbx/store/cipher.h"

#include <cstddef>

#include "platform/endian.h"

namespace qbx::store {

namespace {

constexpr std::size_t kUnitBytes = 64;
constexpr std::size_t kUnitWords = 16;

using Words = std::array<std::uint32_t, kUnitWords>;

// One pass of the unit cipher over `block` with the key words `key`. The key
// is read word by word as the pass goes, so `key` may be `block` itself: the
// key schedule enciphers the key with itself, and then step i uses the value
// word i has after steps 0 to i - 1.
void encipherWords(const std::uint32_t* key, std::uint32_t* block) {
  for (std::size_t i = 0; i < kUnitWords; ++i) {
    const std::uint32_t k = key[i];
    const std::size_t j = k & 15u;
    const std::uint32_t a = block[i];
    const std::uint32_t b = block[j];
    // Exchange the bits of words i and j where k has 0 bits, then add k to
    // both. With j == i both writes give a + k.
    block[j] = ((b & k) | (a & ~k)) + k;
    block[i] = ((a & k) | (b & ~k)) + k;
  }
}

void decipherWords(const std::uint32_t* key, std::uint32_t* block) {
  for (std::size_t n = kUnitWords; n-- > 0;) {
    const std::uint32_t k = key[n];
    const std::size_t j = k & 15u;
    const std::uint32_t a = block[n] - k;
    const std::uint32_t b = block[j] - k;
    block[n] = (a & k) | (b & ~k);
    block[j] = (b & k) | (a & ~k);
  }
}

Words loadUnit(std::span<const std::uint8_t, kUnitBytes> unit) {
  Words w;
  for (std::size_t i = 0; i < kUnitWords; ++i) w[i] = platform::loadLe32(unit, i * 4);
  return w;
}

void storeUnit(const Words& w, std::span<std::uint8_t, kUnitBytes> unit) {
  for (std::size_t i = 0; i < kUnitWords; ++i) platform::storeLe32(unit, i * 4, w[i]);
}

}  // namespace

std::array<std::uint8_t, 64> cipherKeyScheduleBytes(std::string_view password) {
  // The password is read as a zero-terminated text: the position stops at its
  // end (or at an embedded zero byte) and then starts again at the first
  // character.
  const auto byteAt = [password](std::size_t pos) -> std::uint8_t {
    return pos < password.size() ? static_cast<std::uint8_t>(password[pos]) : 0;
  };
  std::array<std::uint8_t, 64> bytes{};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < kUnitBytes; ++i) {
    if (byteAt(pos) != 0) {
      ++pos;
    } else {
      pos = 0;
    }
    // 17 is odd, so (i * 17) mod 64 visits every key byte once.
    bytes[(i * 17) % kUnitBytes] = static_cast<std::uint8_t>(byteAt(pos) + i);
  }
  return bytes;
}

CipherKey buildCipherKey(std::string_view password) {
  const std::array<std::uint8_t, 64> bytes = cipherKeyScheduleBytes(password);
  CipherKey key = loadUnit(bytes);
  encipherWords(key.data(), key.data());
  encipherWords(key.data(), key.data());
  return key;
}

void encipherUnit(const CipherKey& key, std::span<std::uint8_t, 64> unit) {
  Words w = loadUnit(unit);
  encipherWords(key.data(), w.data());
  storeUnit(w, unit);
}

void decipherUnit(const CipherKey& key, std::span<std::uint8_t, 64> unit) {
  Words w = loadUnit(unit);
  decipherWords(key.data(), w.data());
  storeUnit(w, unit);
}

// A trailing part shorter than a unit is left as it is; the disk file refuses
// such lengths (internal errors 2272 and 2286) before it gets here.
void encipherBuffer(const CipherKey& key, std::span<std::uint8_t> buffer) {
  const std::size_t units = buffer.size() / kUnitBytes;
  for (std::size_t u = 0; u < units; ++u) {
    encipherUnit(key, buffer.subspan(u * kUnitBytes).first<kUnitBytes>());
  }
}

void decipherBuffer(const CipherKey& key, std::span<std::uint8_t> buffer) {
  const std::size_t units = buffer.size() / kUnitBytes;
  for (std::size_t u = 0; u < units; ++u) {
    decipherUnit(key, buffer.subspan(u * kUnitBytes).first<kUnitBytes>());
  }
}

}  // namespace qbx::store
