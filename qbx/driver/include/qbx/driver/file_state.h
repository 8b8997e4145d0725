// The part of a QbxFile that the operation rules read and change: the state
// flags, the post-operation action bits, and the error bookkeeping of the
// last call. The full QbxFile (table definition, store, cursors, trace
// settings) is built around this.
#pragma once

#include <cstdint>

namespace qbx::driver {

// State flags of a QbxFile (FileState::state). indexBuilt is kept per key in
// the key's own state word, never in FileState::state.
namespace flag {
inline constexpr std::uint32_t isOpen = 0x00001;         // the file is open
inline constexpr std::uint32_t hasRecord = 0x00002;      // a current record exists
inline constexpr std::uint32_t inLogout = 0x00004;       // in a transaction begun by LOGOUT
inline constexpr std::uint32_t streamed = 0x00008;       // STREAM in force, flushes deferred
inline constexpr std::uint32_t locked = 0x00010;         // LOCK in force
inline constexpr std::uint32_t sequenced = 0x00020;      // SET or RESET set up a sequence
inline constexpr std::uint32_t writable = 0x00040;       // opened with write access
inline constexpr std::uint32_t exclusive = 0x00080;      // opened denying write, or locked
inline constexpr std::uint32_t indexBuilt = 0x00100;     // per key: a dynamic index is built
inline constexpr std::uint32_t building = 0x04000;       // a deferred build is running
inline constexpr std::uint32_t buildLater = 0x08000;     // the next BUILD is deferred
inline constexpr std::uint32_t propertiesSet = 0x10000;  // a property or driver string applied
}  // namespace flag

// Post-operation action bits (FileState::actions), collected while one call
// runs and carried out when it ends.
inline constexpr std::uint32_t kClearError = 0x1;   // clear the posted error
inline constexpr std::uint32_t kDiscardFile = 0x2;  // free the QbxFile when the call ends

// FileState::setByProperty: texts set through a property, no longer copied
// again from the FileBlock before an operation on the closed file.
inline constexpr std::uint32_t kNameSetByProperty = 0x1;
inline constexpr std::uint32_t kOwnerSetByProperty = 0x2;
inline constexpr std::uint32_t kDriverOptionsSetByProperty = 0x4;

struct FileState {
  // Action bits of the running call; zeroed when a call starts.
  std::uint32_t actions = 0;
  // State flags (namespace flag).
  std::uint32_t state = 0;
  std::uint32_t setByProperty = 0;
  // Error code of the last call; 0 for none and after a silent refusal.
  std::int32_t lastError = 0;
  // Number of the last internal error of the store caught for this file;
  // while it is not 0 every call but CLOSE and NAME is refused with 90.
  std::int32_t internalError = 0;
};

}  // namespace qbx::driver
