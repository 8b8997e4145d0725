// QbxFile: the driver's state for one FileBlock, from the first call on it
// until CLOSE, CREATE, REMOVE, RENAME, COPY or a failure discards it. It
// owns the table definition built from the declaration and, while the table
// is open, a use of the physical file's shared store.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qbx/driver/file_state.h"
#include "qbx/records/table_def.h"

namespace fileaccess {
struct FileBlock;
}

namespace qbx::store {
class QbxStore;
}

namespace qbx::driver {

// The driver's name, the first thing in its descriptor record.
inline constexpr std::string_view kDriverName = "QUILLBOX";

// QbxFile::engineFlags.
namespace engine {
inline constexpr std::uint16_t physicallyOpen = 0x0001;  // the table is open in its store
inline constexpr std::uint16_t holdRequested = 0x0002;
inline constexpr std::uint16_t held = 0x0004;
inline constexpr std::uint16_t watchRequested = 0x0008;
inline constexpr std::uint16_t watching = 0x0010;
inline constexpr std::uint16_t noMemoRequested = 0x0020;
inline constexpr std::uint16_t memosNotLoaded = 0x0040;
inline constexpr std::uint16_t fullBuild = 0x0100;
}  // namespace engine

// Hold timeout of HOLDfile: wait without limit.
inline constexpr std::int32_t kHoldWithoutLimit = -1;

struct QbxFile : FileState {
  explicit QbxFile(fileaccess::FileBlock& block) : fileBlock(&block) {}
  ~QbxFile();
  QbxFile(const QbxFile&) = delete;
  QbxFile& operator=(const QbxFile&) = delete;

  fileaccess::FileBlock* fileBlock;
  // Built at attach; absent only when the build failed (the call that
  // attached then discards the QbxFile).
  std::unique_ptr<records::QbxTableDef> table;
  // The physical file's shared store while the table is physically open.
  store::QbxStore* store = nullptr;

  // The access-mode word of the last successful OPEN or SHARE.
  std::int32_t accessMode = 0;
  std::string_view driverName = kDriverName;

  // Trace settings, read at attach.
  bool traceOn = false;
  bool detailsOn = false;
  std::string traceFileName;

  // A deferred build: its operation code, key and texts.
  std::int32_t pendingBuild = 0;
  records::QbxKeyDef* pendingKey = nullptr;
  std::string pendingComponents;
  std::string pendingFilter;
  std::uint16_t buildInterval = 1;
  std::uint16_t buildProgress = 0;
  // The remote object name; no remote objects exist here, so always empty.
  std::string remoteName;

  // The key the last keyed SET or RESET named; none after a file-order one.
  records::QbxKeyDef* currentKey = nullptr;
  std::uint16_t engineFlags = 0;
  std::int32_t holdTimeout = kHoldWithoutLimit;
  std::int64_t holdStart = 0;
  // The text the last POSITION made.
  std::string position;

  std::uint32_t deferredFlushes = 0;
  bool inView = false;

  // Per key (by key number): the key's own state word, where indexBuilt of
  // a dynamic index lives.
  std::vector<std::uint32_t> keyStates;

  bool physicallyOpen() const { return (engineFlags & engine::physicallyOpen) != 0; }
  bool isOpen() const { return (state & flag::isOpen) != 0; }
};

}  // namespace qbx::driver
