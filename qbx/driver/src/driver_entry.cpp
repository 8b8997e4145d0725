// One call of the driver entry: attach, the damaged-file gate, the rule
// check, the handler under the internal-error trap, the trace line, the
// post-operation flush, the rules applied to the state, the text result,
// and the result posted.
#include "qbx/driver/driver_entry.h"

#include <optional>
#include <string>

#include "driver_call.h"
#include "file_lifecycle.h"
#include "fileaccess/call.h"
#include "fileaccess/driver_op.h"
#include "fileaccess/error_state.h"
#include "fileaccess/string_stack.h"
#include "flush_policy.h"
#include "handlers.h"
#include "platform/clock.h"
#include "platform/message_queue.h"
#include "qbx/driver/file_names.h"
#include "qbx/driver/operation_rules.h"
#include "qbx/driver/result_codes.h"
#include "qbx/driver/rule_check.h"
#include "qbx/driver/trace_log.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/store.h"

namespace qbx::driver {
namespace {

using fileaccess::DriverOp;
using fileaccess::opCode;

// Words read for a call made with no argument block.
constexpr std::intptr_t kNoWords[fileaccess::kMinArgumentWords + 1] = {};

void driverErrorSink(int code, std::string_view text) {
  fileaccess::setDriverError(std::to_string(code), text);
}

// The store reports internal errors through the error state: installed once,
// before the first operation reaches the store.
void installErrorSink() {
  static const bool installed = [] {
    store::setDriverErrorSink(&driverErrorSink);
    return true;
  }();
  static_cast<void>(installed);
}

// The name the store's internal error messages refer to: the table's name,
// or its full name when it has none.
void nameFileForMessages(const QbxFile& file) {
  if (file.def && !file.def->name.empty()) {
    store::setCurrentFileName(file.def->name);
    return;
  }
  std::string full;
  if (formFullName(std::string(), kDefaultExtension, &full) != 0) full.clear();
  store::setCurrentFileName(full);
}

// A file marked by an internal error is left alone: CLOSE releases it, NAME
// answers, everything else gives 90 with the internal number as the driver
// error.
int damagedFileGate(QbxFile& file, int code) {
  nameFileForMessages(file);
  if (file.internalError == 0) return 0;
  if (code == opCode(DriverOp::kClose)) {
    file.state |= flag::isOpen;
    return 0;
  }
  if (code == opCode(DriverOp::kName)) return 0;
  fileaccess::setDriverError(std::to_string(file.internalError), store::corruptionMessage());
  return kErrFileSystemError;
}

// The store was abandoned in the middle of an operation: its cached pages
// may be half changed and its locks held. Its uncommitted changes are
// forgotten (other tables sharing the store lose theirs with them) and its
// access locks and the reader area released, so that neither a later commit
// through another table nor the store's close writes a half-changed tree,
// and other programs do not wait on this one.
void abandonStore(store::QbxStore& s) {
  try {
    s.abandon();
    s.enterReaderMode();
    if (s.accessOpen()) static_cast<void>(s.endAccess());
  } catch (const store::InternalError&) {
    // Nothing more can be released.
  }
}

void onInternalError(QbxFile& file, int number) {
  file.internalError = number;
  if (file.table) abandonStore(file.table->store());
  if ((file.state & flag::building) != 0) {
    // The program learns at once that its deferred build failed, and the
    // build's progress display stops.
    fileaccess::postError(kErrFileSystemError);
    fileaccess::setFileInError(file.fileBlock);
    static_cast<void>(platform::sendEvent(platform::kBuildDoneEvent,
                                          reinterpret_cast<std::intptr_t>(file.fileBlock)));
  }
}

// Runs part of the call under the internal-error trap: an internal error of
// the store ends it with 90 and marks the file.
template <typename Body>
int underTrap(QbxFile& file, Body&& body) {
  try {
    return body();
  } catch (const store::InternalError& error) {
    onInternalError(file, error.number);
    return kErrFileSystemError;
  }
}

// Calls in progress on this thread: a call made while another runs (from a
// build's progress display) must leave the outer call's context as it was.
thread_local int gCallDepth = 0;

// Keeps the store's driver-wide current file name of an outer call while an
// inner call runs; the outermost call has nothing to keep.
class CallContextGuard {
 public:
  CallContextGuard() : nested_(gCallDepth++ > 0) {
    if (nested_) saved_ = store::currentFileName();
  }
  ~CallContextGuard() {
    --gCallDepth;
    if (nested_) store::setCurrentFileName(saved_);
  }
  CallContextGuard(const CallContextGuard&) = delete;
  CallContextGuard& operator=(const CallContextGuard&) = delete;

 private:
  bool nested_;
  std::string saved_;
};

}  // namespace

int DriverEntry(int op, fileaccess::FileBlock* block, const std::intptr_t* args) {
  if (op == opCode(DriverOp::kQueryView)) return 0;
  if (block == nullptr) return kErrUnsupportedFunction;
  installErrorSink();
  if (args == nullptr) args = kNoWords;
  const OperationRule* row = findOperationRule(op);
  const auto has = [row](std::uint32_t trait) { return row != nullptr && row->has(trait); };

  // THREAD declarations: the file access layer hands every thread its own
  // copy with its own link, cleared when the copy is made, so each thread
  // attaches its own QbxFile below.
  std::optional<CallContextGuard> nameGuard;
  nameGuard.emplace();

  // Stale state of a closed file is built again from the current declaration.
  QbxFile* file = attachedFile(*block);
  if (file != nullptr && has(kDiscardsStale) &&
      (file->state & (flag::isOpen | flag::propertiesSet)) == 0) {
    discardFile(*block);
    file = nullptr;
  }

  std::optional<std::string> textA;
  std::optional<std::string> textB;
  if (has(kPopsTextA)) textA = fileaccess::stringStack().pop();
  if (has(kPopsTextB)) textB = fileaccess::stringStack().pop();

  int result = 0;
  bool attached = true;
  if (file == nullptr) {
    result = attachFile(*block, &file);
    attached = result == 0;
  }
  if (file != nullptr) file->actions = 0;
  if (!attached && file != nullptr) file->actions |= kDiscardFile;

  KeyArgument keyState;
  const KeyArgument* key = nullptr;
  std::optional<DriverCall> call;
  std::int64_t startTime = 0;
  if (attached) {
    if (file->trace.traceOn) startTime = platform::tickCount();
    call.emplace(op, *block, *file);
    call->words = args;
    if (has(kTakesKey)) {
      key = keyArgument(*file, args[0], keyState, &call->key);
      call->words = args + 1;
    }
    call->textA = std::move(textA);
    call->textB = std::move(textB);

    result = damagedFileGate(*file, op);
    if (result == 0) {
      const RuleVerdict verdict = checkRules(op, file->state, key, call->a());
      result = verdict.result;
      if (result == 0 && verdict.refreshDeclaration) refreshDeclaration(*file);
    }
    if (result == 0) {
      const Handler handler = findHandler(op);
      result = handler == nullptr ? kErrUnsupportedFunction
                                  : underTrap(*file, [&] { return handler(*call); });
    }
  }
  if (file != nullptr && attached && file->trace.traceOn) {
    TraceCall trace;
    trace.code = op;
    trace.table = file->def.get();
    trace.key = call->key;
    trace.result = result;
    trace.elapsed = platform::tickCount() - startTime;
    writeTrace(file->trace, trace);
  }

  if (file != nullptr && attached) {
    const int flushResult = underTrap(*file, [&] { return postOperationFlush(*file, op); });
    if (result == 0) result = flushResult;
  }
  nameGuard.reset();

  if (file != nullptr) {
    applyRules(op, result, *file, key);
    // A refused operation never discards a file that is still open; only
    // CLOSE, which has released the table, discards it after a failure.
    if (result != 0 && file->isOpen() && op != opCode(DriverOp::kClose)) {
      file->actions &= ~kDiscardFile;
    }
  }
  if (has(kPushesText)) {
    fileaccess::stringStack().push(call ? std::move(call->text) : std::string());
  }
  const std::int32_t numeric = call ? call->numeric : 0;
  if (file != nullptr) {
    file->lastError = result == kSilentRefusal ? 0 : result;
    const std::uint32_t actions = file->actions;
    if ((actions & kClearError) != 0) fileaccess::clearError();
    if ((actions & kDiscardFile) != 0 && !file->orphaned) {
      call.reset();
      // While its deferred build runs the file is only let go of by the
      // FileBlock (orphaned), not freed.
      const bool frees = (file->state & flag::building) == 0;
      discardFile(*block);
      if (frees) file = nullptr;
    }
    // A file let go of from inside its deferred build is freed once the
    // build's own call is over.
    if (file != nullptr && file->orphaned && (file->state & flag::building) == 0) {
      call.reset();
      delete file;
    }
  }

  if (result != 0 && result != kSilentRefusal) {
    fileaccess::postError(result);
    fileaccess::setFileInError(block);
  }
  if (result != 0 && has(kOneOnFailure)) return 1;
  return numeric;
}

}  // namespace qbx::driver
