#include "qbx/records/oem.h"

namespace qbx::records {
namespace {

std::array<std::uint8_t, 256> identity() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(i);
  return t;
}

}  // namespace

// Identity until the platform's code-page tables are wired in.
const std::array<std::uint8_t, 256>& charToOemTable() {
  static const std::array<std::uint8_t, 256> table = identity();
  return table;
}

const std::array<std::uint8_t, 256>& oemToCharTable() {
  static const std::array<std::uint8_t, 256> table = identity();
  return table;
}

}  // namespace qbx::records
