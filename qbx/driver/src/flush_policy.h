// The post-operation flush: what the driver entry does with a file's
// pending changes once an operation has run.
#pragma once

#include "qbx/driver/qbx_file.h"

namespace qbx::driver {

// Commits the store of a physically open table and returns it to reader
// mode, so that other programs see a consistent file between any two
// operations. Nothing for a file that is not physically open or that an
// internal error has marked (its store's changes were abandoned). 0 or the
// commit's error. May raise an internal error.
[[nodiscard]] int postOperationFlush(QbxFile& file, int code);

}  // namespace qbx::driver
