// What a Database holds: the file's full name, its password, and a use of
// the file's shared store (the driver's tables of the same file share it).
#pragma once

#include <string>

#include "qbx/database.h"
#include "qbx/records/shared_stores.h"

namespace qbx {

struct Database::Impl {
  std::string fullName;
  std::string password;
  records::StoreUse store;
  int internalError = 0;
};

}  // namespace qbx
