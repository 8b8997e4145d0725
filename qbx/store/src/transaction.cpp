// The driver-wide transaction: joining stores, the control file paths, ending
// and rolling back. Commit all is in transaction_commit.cpp, the marker and
// its consultation by recovery in transaction_marker.cpp.
#include "qbx/store/transaction.h"

#include <algorithm>

#include "platform/paths.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"
#include "qbx/store/store.h"

namespace qbx::store {

std::string defaultControlFilePath(const std::string& dataFilePath) {
  const std::size_t slash = dataFilePath.find_last_of('/');
  std::string path = slash == std::string::npos ? std::string() : dataFilePath.substr(0, slash + 1);
  path += kControlFileName;
  // Names of one directory written differently ("a/./x", a linked
  // directory) must lead to one recorded path; names that differ in case
  // are different files on this system and stay apart.
  std::string full;
  if (platform::absolutePath(path, &full) == 0) return full;
  return path;
}

void QbxTransaction::join(QbxStore& store) {
  // The path is checked first: a store whose join fails must not stay a
  // member whose commits would silently do nothing.
  std::string path;
  bool record = false;
  if (controlPath_.empty()) {
    path = defaultControlFilePath(store.diskFile().path());
    record = std::find(defaultPaths_.begin(), defaultPaths_.end(), path) == defaultPaths_.end();
    if (record && defaultPaths_.size() >= kMaxDefaultControlPaths) {
      raiseInternalError(kErrJoinTransactionFull);
    }
  }
  if (!store.inTransaction()) {
    store.setInTransaction(true);
    members_.push_back(&store);
  }
  if (record) defaultPaths_.push_back(std::move(path));
}

void QbxTransaction::leave(QbxStore& store) {
  const auto at = std::find(members_.begin(), members_.end(), &store);
  if (at == members_.end()) return;
  members_.erase(at);
  store.setInTransaction(false);
}

bool QbxTransaction::isMember(const QbxStore& store) const {
  return std::find(members_.begin(), members_.end(), &store) != members_.end();
}

int QbxTransaction::rollBack() {
  endTransaction();
  return 0;
}

void QbxTransaction::endTransaction() {
  // Taken out first: whatever an abandon does, the list is empty afterwards.
  std::vector<QbxStore*> members;
  members.swap(members_);
  for (auto it = members.rbegin(); it != members.rend(); ++it) {
    (*it)->setInTransaction(false);
    // A member whose commit finished has no changes left: this only lets go
    // of its reader area.
    (*it)->abandon();
  }
  std::vector<std::string>().swap(defaultPaths_);
}

void QbxTransaction::setControlFilePath(std::string path) {
  previousControlPath_ = std::move(controlPath_);
  controlPath_ = std::move(path);
}

void QbxTransaction::release() {
  endTransaction();
  std::string().swap(controlPath_);
  std::string().swap(previousControlPath_);
}

QbxTransaction& driverTransaction() {
  static QbxTransaction transaction;
  return transaction;
}

void commitRunningTransaction() {
  QbxTransaction& transaction = driverTransaction();
  if (transaction.running()) (void)transaction.commitAll();
}

}  // namespace qbx::store
