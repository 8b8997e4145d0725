// Whether two file names stand for the same table of the same physical file,
// each taken the way the driver takes a declared name: trailing blanks cut,
// split into the physical file and the table, the file's full name formed
// with the default extension. Physical files are compared by device and
// inode, so two names of one file (a hard or symbolic link, "./" or "..")
// are the same file and two names differing only in case are not.
#pragma once

#include <string_view>

namespace convert23 {

// True when both names lead to an existing physical file, the same one, and
// name the same table in it.
bool sameTable(std::string_view first, std::string_view second);

}  // namespace convert23
