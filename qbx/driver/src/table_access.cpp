#include "table_access.h"

#include "qbx/driver/file_names.h"
#include "qbx/store/store.h"

namespace qbx::driver {

int openTable(QbxFile& file, unsigned modeFlags, const records::TableOpenOptions& options) {
  TableName split;
  int result = splitTableName(file.def->name, &split);
  if (result != 0) return result;
  std::string fullName;
  result = formFullName(split.file, kDefaultExtension, &fullName);
  if (result != 0) return result;
  result =
      records::QbxTable::open(*file.def, fullName, split.table, modeFlags, options, &file.table);
  if (result != 0) {
    file.table.reset();
    return result;
  }
  file.def->name = tableFullName(fullName, split.table);
  // A definition read from the file brings its own key list.
  file.keyStates.assign(file.def->keys.size(), 0);
  return 0;
}

int closeTable(QbxFile& file) {
  if (!file.table) return 0;
  if (file.internalError != 0) {
    // The store's changes were abandoned when the error was caught; what
    // this file still holds is let go, nothing is written through it.
    store::QbxStore& s = file.table->store();
    const std::uint32_t tableNumber = file.table->tableNumber();
    if (file.table->storeUse().users() <= 1) {
      s.abandon();
      s.releaseAllLocks(tableNumber);
    } else {
      s.unlockRecord(tableNumber);
    }
    file.table.reset();
    file.internalError = 0;
    return 0;
  }
  store::QbxStore& s = file.table->store();
  // The table lock goes with the table, also when other tables of the
  // program keep the store open.
  if ((file.state & flag::locked) != 0) s.unlockRecord(file.table->tableNumber());
  int result = s.commit();
  if (result == 0) s.truncate();
  s.enterReaderMode();
  // Closed from inside its own deferred build, the table stays in memory
  // until the build's call ends: the build is still reading it.
  if ((file.state & flag::building) == 0) file.table.reset();
  return result;
}

void releaseTableWithoutCommit(QbxFile& file) {
  if (!file.table) return;
  if (file.table->storeUse().users() <= 1) file.table->store().abandon();
  file.table.reset();
}

}  // namespace qbx::driver
