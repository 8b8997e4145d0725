// The error codes that the record layer returns (0 is success). Their texts
// belong to the file access layer's error state.
#pragma once

namespace qbx::records {

inline constexpr int kOk = 0;
inline constexpr int kErrInsufficientMemory = 8;        // "Insufficient Memory"
inline constexpr int kErrInvalidRecordDeclaration = 47;  // "Invalid Record Declaration"
inline constexpr int kErrInvalidFieldType = 75;          // "Invalid Field Type Descriptor"
inline constexpr int kErrUnsupportedDataType = 79;       // "Unsupported Data Type In File"
inline constexpr int kErrInvalidKeyLength = 88;          // "Invalid Key Length"

}  // namespace qbx::records
