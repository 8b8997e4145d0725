// The driver's one entry. The file access layer calls it for every operation
// on a file whose FileBlock names it, with the operation code, the FileBlock
// and the operation's argument words (at least fileaccess::kMinArgumentWords
// of them; a null pointer counts as words of 0). Text arguments are popped
// from the calling thread's string stack and text results pushed on it.
// Failures are posted to the error state, never returned: the result is the
// operation's numeric output (0 when it has none), and 1 for a failed BOF or
// EOF.
#pragma once

#include <cstdint>

#include "fileaccess/declarations.h"

namespace qbx::driver {

int DriverEntry(int op, fileaccess::FileBlock* file, const std::intptr_t* args);

}  // namespace qbx::driver
