#include "qbx/driver/driver_descriptor.h"

#include <array>

#include "qbx/driver/driver_entry.h"

namespace qbx::driver {
namespace {

// The operations the driver announces. Kept apart from the operation rules
// on purpose: it is what the descriptor has always said, not a view of the
// handlers (QUERY_KEY, CLEAR, BUILDevent and the view operations run but are
// not announced).
constexpr std::array<std::uint8_t, 70> kOperations = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
    25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 36, 37, 38, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50,
    52, 54, 56, 57, 58, 60, 61, 62, 63, 64, 65, 66, 67, 71, 72, 75, 76, 77, 78, 79, 85, 86};

// BYTE to DECIMAL, STRING, CSTRING, PSTRING, MEMO, GROUP, ARRAY, BLOB.
constexpr std::array<std::uint8_t, 17> kFieldTypes = {1,  2,  3,  4,  5,  6,  7,  8, 9,
                                                      10, 18, 19, 20, 21, 22, 24, 27};

const DriverDescriptor kDescriptor = {"QUILLBOX",         &DriverEntry,       kOperations.size(),
                                      kOperations.data(), kFieldTypes.size(), kFieldTypes.data()};

}  // namespace

const DriverDescriptor& driverDescriptor() { return kDescriptor; }

std::span<const std::uint8_t> supportedOperations() { return kOperations; }
std::span<const std::uint8_t> supportedFieldTypes() { return kFieldTypes; }

}  // namespace qbx::driver
