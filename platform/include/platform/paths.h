// Path primitives: "/" separates directories, names are case-sensitive, a
// relative name is taken against the current directory (never changed by
// this layer). The rules of the system's file names (default extension,
// table separator, length limit) are built on these by the driver.
#pragma once

#include <string>

namespace platform {

// The current directory. 0, 3 when it has been removed, or an error.
[[nodiscard]] int currentDirectory(std::string* dir);

// The full name of name: a relative name is made absolute against the
// current directory, and the directory part is normalised with realpath
// (".", ".." and symbolic links resolved). The last component is kept as
// written. 0, 3 when the directory is missing or is not a directory, 45 for
// an empty name or one holding a NUL, else an error.
[[nodiscard]] int absolutePath(const std::string& name, std::string* full);

// The directory part of path ("." when it has none, "/" for a name in the
// root) and the last component (after the last "/").
std::string directoryPart(const std::string& path);
std::string lastComponent(const std::string& path);

bool isDirectory(const std::string& path);
// True when the name leads to something (a dangling symbolic link does not).
bool exists(const std::string& path);

// $TMPDIR when set and not empty, else "/tmp".
std::string temporaryDirectory();

}  // namespace platform
