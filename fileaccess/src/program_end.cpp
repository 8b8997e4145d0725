#include "fileaccess/program_end.h"

#include <atomic>

#include "dispatch.h"
#include "fileaccess/driver_op.h"
#include "fileaccess/files_in_use.h"

namespace fileaccess {

namespace {

std::atomic<ProgramEndHook> endHook{nullptr};

}  // namespace

void setProgramEndHook(ProgramEndHook hook) { endHook.store(hook); }

void programEnd() {
  if (const ProgramEndHook hook = endHook.load()) hook();
  // The driver takes a file out when its CLOSE succeeds; a failed CLOSE would
  // leave it in, so it is taken out here too and every file is tried once.
  for (;;) {
    const std::vector<FileInUse> entries = filesInUse();
    if (entries.empty()) break;
    FileBlock& file = *entries.back().file;
    static_cast<void>(dispatch(opCode(DriverOp::kClose), file, {}));
    removeFileInUse(file);
  }
}

}  // namespace fileaccess
