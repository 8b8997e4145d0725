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
#include "qbx/driver/trace_log.h"
#include "qbx/records/qbx_table.h"
#include "qbx/records/table_def.h"

namespace fileaccess {
struct FileBlock;
}

namespace qbx::driver {

// The driver's name, the first thing in its descriptor record.
inline constexpr std::string_view kDriverName = "QUILLBOX";

// QbxFile::engineFlags besides the record engine's own request and status
// flags (records::kHoldRequested ...), which the open table keeps.
namespace engine {
inline constexpr std::uint16_t fullBuild = 0x0100;  // FULLBUILD on
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
  std::unique_ptr<records::QbxTableDef> def;
  // The table while it is physically open in its physical file's shared
  // store. Declared after def, which it refers to, so that it goes first.
  std::unique_ptr<records::QbxTable> table;

  // The access-mode word of the last successful OPEN or SHARE.
  std::int32_t accessMode = 0;
  std::string_view driverName = kDriverName;

  // Trace settings, read at attach.
  TraceSettings trace;

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
  // HOLDfilesec's seconds, or kHoldWithoutLimit.
  std::int32_t holdTimeout = kHoldWithoutLimit;
  std::int64_t holdStart = 0;
  // The text the last POSITION made.
  std::string position;

  std::uint32_t deferredFlushes = 0;
  bool inView = false;
  // Discarded (CLOSE, a failure) from inside its own deferred build: no
  // longer the FileBlock's, but still in use by the BUILDevent call below,
  // which frees it when it ends.
  bool orphaned = false;

  // Per key (by key number): the key's own state word, where indexBuilt of
  // a dynamic index lives.
  std::vector<std::uint32_t> keyStates;

  bool physicallyOpen() const { return table != nullptr; }
  bool isOpen() const { return (state & flag::isOpen) != 0; }
};

}  // namespace qbx::driver
