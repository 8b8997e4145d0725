// File names as programs give them: a physical file's name, optionally
// followed by the two characters "\!" and the name of a table in that file.
// The full name of a physical file is absolute, with its directory part
// normalised, and carries the default extension ".QBX" unless it has an
// extension of its own or ends in ".".
#pragma once

#include <string>
#include <string_view>

namespace qbx::driver {

// The extension a name without one gets, as written (names are case-sensitive).
inline constexpr std::string_view kDefaultExtension = ".QBX";
// Separates the physical file's name from the table's name.
inline constexpr std::string_view kTableSeparator = "\\!";
// The table of a name without a table part.
inline constexpr std::string_view kDefaultTableName = "UNNAMED";
// A full name of this many characters or more is refused (45).
inline constexpr std::size_t kMaxFullNameLength = 260;

// Forms the full name of a physical file: a relative name is taken against
// the current directory and its directory normalised (the last component is
// kept as written); a last component without "." gets defaultExtension; one
// that ends in "." has no extension and loses its trailing dots ("DATA."
// names DATA). An empty name is the file named by the extension alone in
// the current directory. 0, 3 when the directory is missing, 45 for a full
// name of 260 characters or more or a name holding a NUL, else the
// platform's error.
[[nodiscard]] int formFullName(const std::string& name, std::string_view defaultExtension,
                               std::string* full);

// A declared name split into the physical file's part and the table's.
struct TableName {
  std::string file;   // as given, not yet a full name
  std::string table;  // upper case; "UNNAMED" without a table part
  bool hasTablePart = false;
};

// Splits at the first "\!" that belongs to no directory: one whose preceding
// text names an existing directory, or that ends the name of an existing
// directory, is part of the path and the search goes on after it. The table
// name is taken in the runtime's upper case. 0, or 45 when the separator is
// followed by nothing: a table without a name would have a name record that
// the search for a file's remaining tables cannot see.
[[nodiscard]] int splitTableName(const std::string& name, TableName* out);

// The name by which an open table is known: the physical file's full name,
// then "\!" and the table name unless the table is "UNNAMED".
std::string tableFullName(const std::string& fullFileName, std::string_view table);

}  // namespace qbx::driver
