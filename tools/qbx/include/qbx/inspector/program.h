// The qbx program: looks into, dumps, checks and generates QBX files (see
// command_line.h). Exit status 0 on success, 1 when the file is damaged (a
// check found problems, or another command met damage and reported it),
// 2 for a usage error or a file that cannot be opened.
#pragma once

#include <cstdio>
#include <span>

namespace qbx::inspector {

int runInspector(std::span<const char* const> argv, std::FILE* out, std::FILE* err);

}  // namespace qbx::inspector
