// The error codes the driver's handlers give (0 is success). Their texts
// belong to the file access layer's error state.
#pragma once

namespace qbx::driver {

inline constexpr int kOk = 0;
inline constexpr int kErrFileNotFound = 2;
inline constexpr int kErrPathNotFound = 3;
inline constexpr int kErrAccessDenied = 5;
inline constexpr int kErrInsufficientMemory = 8;
inline constexpr int kErrRecordNotAvailable = 33;
inline constexpr int kErrRecordNotFound = 35;
inline constexpr int kErrInvalidDataFile = 36;
inline constexpr int kErrFileNotOpen = 37;
inline constexpr int kErrInvalidKeyFile = 38;
inline constexpr int kErrCreatesDuplicateKey = 40;
inline constexpr int kErrRecordIsAlreadyHeld = 43;
inline constexpr int kErrInvalidFilename = 45;
inline constexpr int kErrInvalidRecordDeclaration = 47;
inline constexpr int kErrFileAlreadyOpen = 52;
inline constexpr int kErrNoCreateAttribute = 54;
inline constexpr int kErrUnsupportedFunction = 80;
inline constexpr int kErrFileSystemError = 90;

}  // namespace qbx::driver
