// The list of files in use: the driver enters a FileBlock when it attaches
// its per-file state, records the access mode when OPEN or SHARE succeeds, and
// takes the entry out when CLOSE succeeds or the state is discarded. Entries
// stay in order of entry, one per FileBlock (a THREAD file's copies are
// FileBlocks of their own). Program end closes what is left (program_end.h).
#pragma once

#include <cstdint>
#include <vector>

#include "fileaccess/declarations.h"

namespace fileaccess {

struct FileInUse {
  FileBlock* file = nullptr;
  std::int32_t accessMode = 0;
  bool opened = false;  // an OPEN or SHARE has recorded its access mode
};

// Enters the file at the end of the list; a file already entered keeps its place.
void enterFileInUse(FileBlock& file);
// Records the access mode of a successful OPEN or SHARE; no effect on a file not entered.
void recordAccessMode(FileBlock& file, std::int32_t accessMode);
void removeFileInUse(FileBlock& file);
bool isFileInUse(const FileBlock& file);
// The entries in order of entry.
std::vector<FileInUse> filesInUse();

}  // namespace fileaccess
