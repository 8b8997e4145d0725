#include "qbx/driver/file_names.h"

#include "platform/errors.h"
#include "platform/paths.h"
#include "qbx/records/collation.h"

namespace qbx::driver {
namespace {

// The last component of a name gets its extension: the default one when it
// has no "." at all; a trailing "." means "no extension" and is dropped, as
// it names the same file as the name without it.
std::string withExtension(const std::string& name, std::string_view defaultExtension) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::string_view last = std::string_view(name).substr(start);
  if (last.find('.') == std::string_view::npos) {
    std::string out = name;
    out += defaultExtension;
    return out;
  }
  const std::size_t keep = last.find_last_not_of('.');
  // "." and ".." (and other names of dots alone) are directory references,
  // left for the open to refuse.
  if (keep == std::string_view::npos || keep + 1 == last.size()) return name;
  return name.substr(0, start + keep + 1);
}

}  // namespace

int formFullName(const std::string& name, std::string_view defaultExtension, std::string* full) {
  if (name.find('\0') != std::string::npos) return platform::kErrorInvalidName;
  std::string formed;
  const int result = platform::absolutePath(withExtension(name, defaultExtension), &formed);
  if (result != 0) return result;
  if (formed.size() >= kMaxFullNameLength) return platform::kErrorInvalidName;
  *full = std::move(formed);
  return 0;
}

int splitTableName(const std::string& name, TableName* split) {
  TableName& out = *split;
  out = TableName{};
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = name.find(kTableSeparator, from);
    if (at == std::string::npos) break;
    const std::size_t after = at + kTableSeparator.size();
    // A "\!" after an existing directory's name, or at the end of one, is
    // part of the path ("/data\!x" in a directory /data, or a directory
    // named "cats\!").
    const bool inPath = (at > 0 && platform::isDirectory(name.substr(0, at))) ||
                        platform::isDirectory(name.substr(0, after));
    if (!inPath) {
      out.file = name.substr(0, at);
      const records::CollationTables& collation = records::runtimeCollation();
      out.table.reserve(name.size() - after);
      for (std::size_t i = after; i < name.size(); ++i) {
        out.table.push_back(static_cast<char>(collation.upper(static_cast<std::uint8_t>(name[i]))));
      }
      out.hasTablePart = true;
      return out.table.empty() ? platform::kErrorInvalidName : 0;
    }
    from = after;
  }
  out.file = name;
  out.table = std::string(kDefaultTableName);
  return 0;
}

std::string tableFullName(const std::string& fullFileName, std::string_view table) {
  if (table == kDefaultTableName) return fullFileName;
  std::string out = fullFileName;
  out += kTableSeparator;
  out += table;
  return out;
}

}  // namespace qbx::driver
