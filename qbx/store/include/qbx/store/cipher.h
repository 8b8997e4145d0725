// The page cipher: every block of a file with an owner password is enciphered
// in units of 64 bytes (16 little-endian 32-bit words) with a 64-byte key
// built from the password.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace qbx::store {

using CipherKey = std::array<std::uint32_t, 16>;

// Builds the key from a password of at least one character.
CipherKey buildCipherKey(std::string_view password);

// The key bytes the password gives before the key is enciphered with itself
// (the first half of buildCipherKey): byte (i * 17) mod 64 is the password
// byte taken at step i plus i.
std::array<std::uint8_t, 64> cipherKeyScheduleBytes(std::string_view password);

void encipherUnit(const CipherKey& key, std::span<std::uint8_t, 64> unit);
void decipherUnit(const CipherKey& key, std::span<std::uint8_t, 64> unit);

// Whole buffers, unit by unit in place; the length must be a multiple of 64.
void encipherBuffer(const CipherKey& key, std::span<std::uint8_t> buffer);
void decipherBuffer(const CipherKey& key, std::span<std::uint8_t> buffer);

}  // namespace qbx::store
