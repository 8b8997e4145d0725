// Conversion between the program's code page and the OEM code page, for
// tables with the OEM attribute: stored string fields and string key
// components use the OEM form.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qbx::records {

// Program code page -> OEM, one byte each.
const std::array<std::uint8_t, 256>& charToOemTable();
// OEM -> program code page.
const std::array<std::uint8_t, 256>& oemToCharTable();

inline void charToOem(std::span<std::uint8_t> bytes) {
  const auto& t = charToOemTable();
  for (auto& b : bytes) b = t[b];
}

inline void oemToChar(std::span<std::uint8_t> bytes) {
  const auto& t = oemToCharTable();
  for (auto& b : bytes) b = t[b];
}

}  // namespace qbx::records
