// OPEN, SHARE, CREATE, CLOSE and REMOVE.
#include "fileaccess/files_in_use.h"
#include "handlers.h"
#include "qbx/driver/file_names.h"
#include "qbx/driver/result_codes.h"
#include "qbx/records/format.h"
#include "qbx/records/table_transfer.h"
#include "table_access.h"

namespace qbx::driver {
namespace {

// The state flags an access mode gives: write access unless the access
// field is read only, exclusive when others are denied writing (deny all,
// deny write, and deny read, which carries the deny-write bit).
void applyAccessMode(QbxFile& file, std::int32_t mode) {
  file.accessMode = mode;
  file.state &= ~(flag::writable | flag::exclusive);
  if (mode % 4 != 0) file.state |= flag::writable;
  if ((mode & 0x30) != 0) file.state |= flag::exclusive;
}

}  // namespace

int handleOpen(DriverCall& call) {
  QbxFile& file = call.file;
  const auto mode = static_cast<std::int32_t>(call.word(0));
  int result = file.def->name.empty() ? kErrInvalidFilename : 0;
  if (result == 0) result = openTable(file, static_cast<unsigned>(mode), {});
  if (result != 0) {
    static_cast<void>(closeTable(file));
    file.actions |= kDiscardFile;
    return result;
  }
  applyAccessMode(file, mode);
  fileaccess::recordAccessMode(call.block, mode);
  return 0;
}

int handleCreate(DriverCall& call) {
  QbxFile& file = call.file;
  if ((file.def->attributes & records::kTableCreate) == 0) return kErrNoCreateAttribute;
  records::TableOpenOptions options;
  options.create = true;
  const int result = openTable(file, kCreateMode, options);
  // The new table is committed by its close; a failed commit is CREATE's
  // failure too.
  const int closed = closeTable(file);
  return result != 0 ? result : closed;
}

int handleClose(DriverCall& call) { return closeTable(call.file); }

int handleRemove(DriverCall& call) {
  TableName split;
  int result = splitTableName(call.file.def->name, &split);
  if (result != 0) return result;
  std::string fullName;
  result = formFullName(split.file, kDefaultExtension, &fullName);
  if (result != 0) return result;
  return records::removeTable(*call.file.def, fullName, split.table);
}

}  // namespace qbx::driver
