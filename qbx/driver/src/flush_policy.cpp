#include "flush_policy.h"

#include "qbx/store/store.h"

namespace qbx::driver {

int postOperationFlush(QbxFile& file, int /*code*/) {
  if (!file.physicallyOpen() || file.store == nullptr || file.internalError != 0) return 0;
  file.deferredFlushes = 0;
  const int result = file.store->commit();
  file.store->enterReaderMode();
  return result;
}

}  // namespace qbx::driver
