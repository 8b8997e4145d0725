// LOGOUT, COMMIT and ROLLBACK: the file's store joins the driver's one
// transaction, which commits every member as one or none.
#include "fileaccess/program_end.h"
#include "handlers.h"
#include "qbx/store/store.h"
#include "qbx/store/transaction.h"

namespace qbx::driver {

int handleLogout(DriverCall& call) {
  store::QbxStore& s = call.file.table->store();
  // A program that ends in the middle of a transaction commits it first.
  fileaccess::setProgramEndHook(&store::commitRunningTransaction);
  store::driverTransaction().join(s);
  s.enterWriterMode();
  return 0;
}

int handleCommit(DriverCall& call) {
  const int result = store::driverTransaction().commitAll();
  call.file.table->store().enterReaderMode();
  return result;
}

int handleRollback(DriverCall&) { return store::driverTransaction().rollBack(); }

}  // namespace qbx::driver
