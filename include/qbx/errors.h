// Error codes of the QBX interface. Every operation returns 0 or one of the
// engine's error codes; none throws. Error 90 means the engine found the
// file inconsistent: the operation that met it also leaves the number of the
// internal error behind (Database::internalError, RecordReader::internalError).
#pragma once

#include <string>

namespace qbx {

inline constexpr int kOk = 0;
inline constexpr int kErrFileNotFound = 2;  // no such file, or no such table in it
inline constexpr int kErrPathNotFound = 3;
inline constexpr int kErrAccessDenied = 5;
inline constexpr int kErrInsufficientMemory = 8;
inline constexpr int kErrRecordNotAvailable = 33;  // the end of a reading order
inline constexpr int kErrInvalidDataFile = 36;     // not a QBX file, or a wrong password
inline constexpr int kErrFileNotOpen = 37;
inline constexpr int kErrInvalidFilename = 45;
inline constexpr int kErrInvalidRecordDeclaration = 47;  // a stored definition that cannot be used
inline constexpr int kErrFileSystemError = 90;           // an internal error of the engine

// The engine's text for a code ("File Not Found", "Invalid Data File", ...).
std::string errorText(int code);

}  // namespace qbx
