#include "convert23/same_table.h"

#include <optional>
#include <string>

#include "platform/file.h"
#include "qbx/driver/file_names.h"

namespace convert23 {

namespace {

struct PhysicalTable {
  platform::FileId file;
  std::string table;
};

std::optional<PhysicalTable> lookUp(std::string_view name) {
  const std::size_t end = name.find_last_not_of(' ');
  name = end == std::string_view::npos ? std::string_view() : name.substr(0, end + 1);
  qbx::driver::TableName split;
  if (qbx::driver::splitTableName(std::string(name), &split) != 0) return std::nullopt;
  std::string full;
  if (qbx::driver::formFullName(split.file, qbx::driver::kDefaultExtension, &full) != 0) {
    return std::nullopt;
  }
  PhysicalTable found;
  if (platform::fileId(full, &found.file) != 0) return std::nullopt;
  found.table = std::move(split.table);
  return found;
}

}  // namespace

bool sameTable(std::string_view first, std::string_view second) {
  const std::optional<PhysicalTable> a = lookUp(first);
  if (!a) return false;
  const std::optional<PhysicalTable> b = lookUp(second);
  return b && a->file == b->file && a->table == b->table;
}

}  // namespace convert23
