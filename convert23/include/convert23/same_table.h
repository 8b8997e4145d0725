// Whether two file names stand for the same table of the same physical file,
// taken the way the driver takes a name: trailing blanks cut, a table part
// after the first "\!" whose preceding text is not an existing directory
// (upper case, "UNNAMED" when there is none), the default extension ".QBX"
// when the file's last component has no ".". Physical files are compared by
// device and inode, so two names of one file (a hard or symbolic link, "./"
// or "..") are the same file and two names differing only in case are not.
#pragma once

#include <string>
#include <string_view>

namespace convert23 {

struct TableName {
  std::string physicalFile;
  std::string table;
};

inline constexpr std::string_view kDefaultTable = "UNNAMED";
inline constexpr std::string_view kDefaultExtension = ".QBX";

TableName splitTableName(std::string_view name);

// True when both names lead to an existing physical file, the same one, and
// name the same table in it.
bool sameTable(std::string_view first, std::string_view second);

}  // namespace convert23
