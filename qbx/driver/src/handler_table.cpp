// Operation code -> handler. Codes without an entry fail with 80.
#include <array>

#include "fileaccess/driver_op.h"
#include "handlers.h"

namespace qbx::driver {
namespace {

using enum fileaccess::DriverOp;

constexpr std::array<Handler, fileaccess::kDriverOpCount> makeTable() {
  std::array<Handler, fileaccess::kDriverOpCount> t{};
  auto set = [&t](fileaccess::DriverOp op, Handler h) {
    t[static_cast<std::size_t>(fileaccess::opCode(op))] = h;
  };
  set(kCopy, &handleCopy);
  set(kName, &handleName);
  set(kRename, &handleRename);
  set(kSend, &handleSend);
  set(kInternal91, &handleEntryAddress);
  return t;
}

constexpr std::array<Handler, fileaccess::kDriverOpCount> kHandlers = makeTable();

}  // namespace

Handler findHandler(int code) {
  if (code < 0 || code >= fileaccess::kDriverOpCount) return nullptr;
  return kHandlers[static_cast<std::size_t>(code)];
}

}  // namespace qbx::driver
