#include "flush_policy.h"

#include "fileaccess/driver_op.h"
#include "qbx/records/qbx_table.h"
#include "qbx/store/store.h"

namespace qbx::driver {

int flushFile(QbxFile& file) {
  if (!file.table) return 0;
  store::QbxStore& s = file.table->store();
  const int result = s.commit();
  s.enterReaderMode();
  return result;
}

int postOperationFlush(QbxFile& file, int code) {
  // A deferred build's call ends here even when the internal-error trap cut
  // its handler short: building is switched off as the handler would have,
  // so that the call's own flush writes the build's changes.
  if (code == fileaccess::opCode(fileaccess::DriverOp::kBuildEvent)) file.state &= ~flag::building;
  if (!file.table || file.internalError != 0) return 0;
  const bool streamed = (file.state & flag::streamed) != 0;
  const bool building = (file.state & flag::building) != 0;
  if (building || (streamed && file.table->store().dirtyPageCount() < kStreamDirtyPages &&
                   file.deferredFlushes < kStreamOperations)) {
    ++file.deferredFlushes;
    return 0;
  }
  file.deferredFlushes = 0;
  return flushFile(file);
}

}  // namespace qbx::driver
