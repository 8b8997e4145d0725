// The error codes that the record layer returns (0 is success). Their texts
// belong to the file access layer's error state.
#pragma once

namespace qbx::records {

inline constexpr int kOk = 0;
inline constexpr int kErrFileNotFound = 2;               // "File Not Found"
inline constexpr int kErrAccessDenied = 5;               // "Access Denied"
inline constexpr int kErrInsufficientMemory = 8;         // "Insufficient Memory"
inline constexpr int kErrRecordNotAvailable = 33;        // "Record Not Available"
inline constexpr int kErrRecordNotFound = 35;            // "Record Not Found"
inline constexpr int kErrCreatesDuplicateKey = 40;       // "Creates Duplicate Key"
inline constexpr int kErrRecordHeld = 43;                // "Record Is Already Held"
inline constexpr int kErrInvalidFilename = 45;           // "Invalid Filename"
inline constexpr int kErrInvalidRecordDeclaration = 47;  // "Invalid Record Declaration"
inline constexpr int kErrInvalidFieldType = 75;          // "Invalid Field Type Descriptor"
inline constexpr int kErrUnsupportedDataType = 79;       // "Unsupported Data Type In File"
inline constexpr int kErrInvalidKeyLength = 88;          // "Invalid Key Length"
inline constexpr int kErrRecordChanged = 89;             // "Record Changed By Another Station"

}  // namespace qbx::records
