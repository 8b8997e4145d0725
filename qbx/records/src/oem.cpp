#include "qbx/records/oem.h"

#include "platform/codepage.h"

namespace qbx::records {

const std::array<std::uint8_t, 256>& charToOemTable() { return platform::kAnsiToOem; }

const std::array<std::uint8_t, 256>& oemToCharTable() { return platform::kOemToAnsi; }

}  // namespace qbx::records
