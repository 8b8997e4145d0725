// The text held by the string types inside their fixed-size fields: a CSTRING
// up to its zero byte, a PSTRING after its length byte. A PSTRING whose
// length byte claims more than its field holds is clamped to the field size
// minus one, so nothing ever reads beyond the field.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qbx::records {

// Bytes before the first zero byte, at most the whole field.
inline std::size_t cstringLength(std::span<const std::uint8_t> field) {
  return static_cast<std::size_t>(std::find(field.begin(), field.end(), std::uint8_t{0}) -
                                  field.begin());
}

// The length byte, taken unsigned, clamped to what the field holds after it.
inline std::size_t pstringLength(std::span<const std::uint8_t> field) {
  if (field.empty()) return 0;
  return std::min<std::size_t>(field[0], field.size() - 1);
}

}  // namespace qbx::records
