#include "flush_policy.h"

#include "qbx/records/qbx_table.h"
#include "qbx/store/store.h"

namespace qbx::driver {

int postOperationFlush(QbxFile& file, int /*code*/) {
  if (!file.table || file.internalError != 0) return 0;
  file.deferredFlushes = 0;
  store::QbxStore& s = file.table->store();
  const int result = s.commit();
  s.enterReaderMode();
  return result;
}

}  // namespace qbx::driver
