// The post-operation flush: what the driver entry does with a file's pending
// changes once an operation has run. A file normally commits after every
// operation and returns to reader mode, so that other programs see a
// consistent file between any two operations. A streamed file (STREAM until
// FLUSH) stays in writer mode and collects its changes in memory: it commits
// once 40 pages are dirty or 5000 operations have passed since its last
// commit. While a deferred build runs nothing is written after the calls the
// program makes from the build's events.
#pragma once

#include <cstdint>

#include "qbx/driver/qbx_file.h"

namespace qbx::driver {

// A streamed file commits once its store holds this many dirty pages...
inline constexpr std::uint32_t kStreamDirtyPages = 40;
// ... or once this many operations have passed without a commit.
inline constexpr std::uint32_t kStreamOperations = 5000;

// Runs after every operation on an attached file (code: the operation's).
// Nothing for a file that is not physically open or that an internal error
// has marked (its store's changes were abandoned). Otherwise the policy
// above: a deferred flush only counts the operation; a real one commits the
// store and enters reader mode. 0 or the commit's error. May raise an
// internal error.
[[nodiscard]] int postOperationFlush(QbxFile& file, int code);

// FLUSH: commits the store and enters reader mode. 0 or the commit's error.
[[nodiscard]] int flushFile(QbxFile& file);

}  // namespace qbx::driver
