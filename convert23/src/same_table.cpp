#include "convert23/same_table.h"

#include <cctype>

#include "platform/file.h"
#include "platform/paths.h"

namespace convert23 {

namespace {

constexpr std::string_view kTableSeparator = "\\!";

std::string_view withoutTrailingBlanks(std::string_view name) {
  const std::size_t end = name.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : name.substr(0, end + 1);
}

}  // namespace

TableName splitTableName(std::string_view name) {
  name = withoutTrailingBlanks(name);
  TableName result;
  std::string_view physical = name;
  std::string_view table;
  for (std::size_t at = name.find(kTableSeparator); at != std::string_view::npos;
       at = name.find(kTableSeparator, at + 1)) {
    // A directory may itself hold the separator's characters.
    if (!platform::isDirectory(std::string(name.substr(0, at)))) {
      physical = name.substr(0, at);
      table = name.substr(at + kTableSeparator.size());
      break;
    }
  }
  result.physicalFile = std::string(physical);
  if (platform::lastComponent(result.physicalFile).find('.') == std::string::npos) {
    result.physicalFile += kDefaultExtension;
  }
  if (table.empty()) table = kDefaultTable;
  result.table.reserve(table.size());
  for (const char c : table) {
    result.table += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return result;
}

bool sameTable(std::string_view first, std::string_view second) {
  const TableName a = splitTableName(first);
  const TableName b = splitTableName(second);
  if (a.table != b.table) return false;
  platform::FileId idA;
  platform::FileId idB;
  if (platform::fileId(a.physicalFile, &idA) != 0) return false;
  if (platform::fileId(b.physicalFile, &idB) != 0) return false;
  return idA == idB;
}

}  // namespace convert23
