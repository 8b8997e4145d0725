// Conversion between the program's character set, Windows-1252, and the OEM
// character set, code page 437, for tables with the OEM attribute. Two fixed
// 256-byte tables (codepage_tables.cpp, made by platform/tools/gen_codepage.py);
// every byte converts to exactly one byte, so text never changes length.
// A character the other set lacks takes a best-fit byte: its base letter
// without the accent where it has one ('Ã' -> 'A', 'Š' -> 'S'), else '?'.
// Controls (0x00-0x1F, 0x7F) stay as they are; the bytes Windows-1252 leaves
// undefined become '?'. Characters present in both sets survive a round trip.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace platform {

extern const std::array<std::uint8_t, 256> kAnsiToOem;
extern const std::array<std::uint8_t, 256> kOemToAnsi;

// Converts a buffer in place, Windows-1252 to code page 437.
inline void charToOem(std::span<std::uint8_t> text) {
  for (std::uint8_t& c : text) c = kAnsiToOem[c];
}

// Converts a buffer in place, code page 437 to Windows-1252.
inline void oemToChar(std::span<std::uint8_t> text) {
  for (std::uint8_t& c : text) c = kOemToAnsi[c];
}

}  // namespace platform
