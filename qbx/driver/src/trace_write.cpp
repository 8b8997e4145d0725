// Writing the trace log: one append per traced call, the set of declared
// files whose declaration has been written in this run, and the program's own
// lines of property 29442.
#include <cerrno>
#include <mutex>
#include <new>
#include <unordered_set>

#include "fileaccess/driver_op.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "qbx/driver/declaration_dump.h"
#include "qbx/driver/trace_log.h"

namespace qbx::driver {
namespace {

using fileaccess::DriverOp;
using fileaccess::opCode;

// The append lock: one byte far beyond any log's end, taken by every program
// of ours for the moment between finding the end and writing there.
constexpr std::uint64_t kAppendLockOffset = 0x7FFFFFFFFFFFFFFEull;
// The lock is tried this often, a millisecond apart, before the line is
// written without it: a stuck program must not stop the operations of
// another.
constexpr int kAppendLockTries = 1000;

// Declared files (FileBlocks, or tables without one) whose declaration has
// reached a log in this run. Never destroyed: files closed at program end
// may still trace.
struct DeclaredSet {
  std::mutex mutex;
  std::unordered_set<const void*> files;
};

DeclaredSet& declaredSet() {
  static DeclaredSet* set = new DeclaredSet;
  return *set;
}

bool isDeclared(const void* declared) {
  DeclaredSet& set = declaredSet();
  std::lock_guard<std::mutex> guard(set.mutex);
  return set.files.contains(declared);
}

// Only a declaration that reached the log counts; calls on one declared file
// come from one thread, so nothing writes it twice in between.
void markDeclared(const void* declared) {
  DeclaredSet& set = declaredSet();
  std::lock_guard<std::mutex> guard(set.mutex);
  set.files.insert(declared);
}

// Appends bytes at the end of the log: true when they were written.
bool appendToLog(platform::File& log, std::string_view bytes) {
  bool locked = false;
  for (int i = 0; i < kAppendLockTries && !locked; ++i) {
    locked = log.lock(kAppendLockOffset, 1, platform::LockKind::kExclusive, false) == 0;
    if (!locked) platform::sleepMillis(1);
  }
  std::uint64_t end = 0;
  bool written = log.size(&end) == 0;
  if (written) {
    written =
        log.write(end, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}) == 0;
  }
  if (locked) (void)log.unlock(kAppendLockOffset, 1);
  return written;
}

[[nodiscard]] bool openLog(platform::File& log, const std::string& name) {
  if (name.empty()) return false;
  platform::OpenOptions options;
  options.access = platform::Access::kWrite;
  options.share = platform::Share::kDenyNone;
  options.create = true;
  return log.open(name, options) == 0;
}

bool writesRecord(int code) {
  switch (static_cast<DriverOp>(code)) {
    case DriverOp::kAdd:
    case DriverOp::kAppend:
    case DriverOp::kDelete:
    case DriverOp::kGetFileKey:
    case DriverOp::kGetFilePtr:
    case DriverOp::kGetKeyPtr:
    case DriverOp::kNext:
    case DriverOp::kPut:
    case DriverOp::kPrevious:
    case DriverOp::kAddFileLen:
    case DriverOp::kGetFilePtrLen:
    case DriverOp::kPutFilePtr:
    case DriverOp::kPutFilePtrLen:
    case DriverOp::kAppendLen:
    case DriverOp::kRegetFile:
    case DriverOp::kRegetKey:
      return true;
    default:
      return false;
  }
}

bool detailsWanted(const TraceSettings& settings, const records::QbxTableDef& table) {
  if (!settings.detailsOn) return false;
  if (!settings.detailsFromProfile || !isEncrypted(table)) return true;
  return table.driverOptions && allowsDetails(*table.driverOptions);
}

// Keeps errno as the operation left it: the driver may still read it.
class ErrnoGuard {
 public:
  ErrnoGuard() : saved_(errno) {}
  ~ErrnoGuard() { errno = saved_; }
  ErrnoGuard(const ErrnoGuard&) = delete;
  ErrnoGuard& operator=(const ErrnoGuard&) = delete;

 private:
  int saved_;
};

void trace(const TraceSettings& settings, const TraceCall& call) {
  if (call.code == opCode(DriverOp::kInternal87) || call.code == opCode(DriverOp::kInternal91)) {
    return;
  }
  if (!settings.traceOn || call.table == nullptr || call.table->name.empty()) return;
  const records::QbxTableDef& table = *call.table;

  platform::File log;
  if (!openLog(log, settings.fileName)) return;

  std::string text;
  const bool details = detailsWanted(settings, table);
  const void* declared =
      table.fileBlock != nullptr ? static_cast<const void*>(table.fileBlock) : &table;
  const bool declaring = details && !isDeclared(declared);
  if (declaring) {
    text += declarationDump(table,
                            call.fileLabel.empty() ? std::string_view(table.name) : call.fileLabel);
  }
  text += traceLineText(call);
  if (details) {
    const std::span<const std::uint8_t> record =
        table.recordBuffer != nullptr
            ? std::span<const std::uint8_t>(table.recordBuffer, table.recordLength)
            : std::span<const std::uint8_t>();
    if (writesRecord(call.code)) {
      text += recordDumpText(table, record, call.memoValues);
    } else if ((call.code == opCode(DriverOp::kSetKeyKey) ||
                call.code == opCode(DriverOp::kSetKeyKeyPtr)) &&
               call.key != nullptr) {
      text += keyValuesText(table, *call.key, record);
    }
  }
  if (appendToLog(log, text) && declaring) markDeclared(declared);
}

}  // namespace

void writeTrace(const TraceSettings& settings, const TraceCall& call) noexcept {
  const ErrnoGuard keepErrno;
  try {
    trace(settings, call);
  } catch (...) {
    // Running out of memory while forming the text: the line is not written.
  }
}

void writeTraceText(const TraceSettings& settings, std::string_view text) noexcept {
  if (!settings.traceOn) return;
  const ErrnoGuard keepErrno;
  try {
    platform::File log;
    if (!openLog(log, settings.fileName)) return;
    std::string line(text);
    line += "\r\n";
    (void)appendToLog(log, line);
  } catch (...) {
  }
}

}  // namespace qbx::driver
