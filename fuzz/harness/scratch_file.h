// A scratch file for fuzz targets that must hand their input to code that
// opens a file by name: one private directory per process, removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qbx::fuzz {

// The full name of `name` inside the process's scratch directory (created on
// first use in $TMPDIR, else /tmp; the program aborts when that fails, since
// no input could be run).
std::string scratchPath(const std::string& name);

// Replaces the file's contents with bytes (creating it); aborts on failure.
void writeScratchFile(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace qbx::fuzz
