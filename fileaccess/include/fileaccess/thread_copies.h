// Per-thread declarations. A FileBlock with the THREAD attribute is used by
// each thread through its own copy: the FileBlock, its record buffer, its
// KeyDescs and its MemoDescs. A fresh copy starts without driver state (its
// driverState, driverKey, driverMemo and memoBuffer are 0) so that the driver
// attaches state of its own for that thread. When a thread ends, every copy
// it still has in use is closed and taken out of the files in use.
#pragma once

#include "fileaccess/declarations.h"

namespace fileaccess {

// The calling thread's copy of a THREAD declaration, made on first use (then
// *justMade is set). Given a copy, returns it unchanged; given a FileBlock
// without the THREAD attribute, returns it unchanged.
FileBlock& threadCopy(FileBlock& declared, bool* justMade = nullptr);

}  // namespace fileaccess
