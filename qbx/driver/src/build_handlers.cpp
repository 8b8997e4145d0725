// The BUILD family (BUILDfile, BUILDkey, BUILDdyn, BUILDdynfilter), PACK, and
// BUILDevent, which runs a build that was deferred.
//
// A build is deferred when the file's buildLater flag is set: the operation
// keeps what it is to build and posts the deferred-build message to the
// program's message queue; when the program pumps its queue the message calls
// BUILDevent for the FileBlock, which runs the build with the `building` flag
// set. While building, the build tells the program of its progress (event
// 5697) and of its end (5698, BUILDfile only), and the program may answer
// with a cancel; every operation the program makes on the file from those
// events but CLOSE, NAME and the property reads is refused with 92.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "fileaccess/call.h"
#include "fileaccess/driver_op.h"
#include "fileaccess/error_state.h"
#include "handlers.h"
#include "platform/message_queue.h"
#include "qbx/driver/result_codes.h"
#include "qbx/records/key_build.h"
#include "qbx/store/internal_error.h"
#include "table_access.h"

namespace qbx::driver {
namespace {

using fileaccess::DriverOp;
using fileaccess::opCode;

// The deferred-build message: wParam 0, lParam the FileBlock.
constexpr std::uint32_t kDeferredBuildMessage = 0x2420;
// A build of a table the program has not opened opens it read and write,
// denying others writing, and closes it again.
constexpr unsigned kBuildOpenMode = 0x22;
// The internal error that abandons a deferred build whose table the program
// closed while it answered a progress event.
constexpr int kErrTableClosedDuringBuild = 2401;

constexpr int kBuildFileCode = opCode(DriverOp::kBuildFile);
constexpr int kBuildKeyCode = opCode(DriverOp::kBuildKey);
constexpr int kBuildDynCode = opCode(DriverOp::kBuildDyn);
constexpr int kBuildDynFilterCode = opCode(DriverOp::kBuildDynFilter);
constexpr int kPackCode = opCode(DriverOp::kPack);

std::intptr_t blockArgument(const QbxFile& file) {
  return reinterpret_cast<std::intptr_t>(file.fileBlock);
}

// The program's side of a deferred build's progress.
class DeferredProgress final : public records::BuildProgress {
 public:
  explicit DeferredProgress(QbxFile& file) : file_(file) {}

  int progress(std::uint32_t /*handled*/) override {
    const bool wasOpen = file_.isOpen();
    const int answer = platform::sendEvent(platform::kBuildProgressEvent, blockArgument(file_));
    // The program closed the file from the event: the build cannot go on
    // with a table the program has let go, and ends through the trap.
    if (wasOpen && !file_.isOpen()) store::raiseInternalError(kErrTableClosedDuringBuild);
    return answer;
  }

 private:
  QbxFile& file_;
};

// Runs the build on the file's table, opening the table for it when the
// program has not (the operation rules let BUILDfile, BUILDkey, PACK and
// BUILDevent run on a closed file). The close's error is the result when the
// build itself succeeded.
int withTable(QbxFile& file, const std::function<int(records::QbxTable&)>& build) {
  if (file.table) return build(*file.table);
  int result = openTable(file, kBuildOpenMode, {});
  if (result == 0) result = build(*file.table);
  const int closed = closeTable(file);
  // The build is over: its table goes also when building kept it open.
  file.table.reset();
  return result != 0 ? result : closed;
}

bool isKeyOf(const QbxFile& file, const records::QbxKeyDef* key) {
  if (key == nullptr || !file.def) return false;
  for (const records::QbxKeyDef& k : file.def->keys) {
    if (&k == key) return true;
  }
  return false;
}

// The build of one operation, at once. components and filter are the texts
// of BUILDdyn and BUILDdynfilter.
int runBuild(QbxFile& file, int code, records::QbxKeyDef* key, std::string_view components,
             std::optional<std::string_view> filter) {
  DeferredProgress progress(file);
  records::BuildSettings settings;
  settings.fullBuild = (file.engineFlags & engine::fullBuild) != 0;
  const bool deferred = (file.state & flag::building) != 0;
  if (deferred) {
    settings.progress = &progress;
    settings.interval = file.buildInterval;
  }

  int result = 0;
  if (code == kBuildFileCode || code == kPackCode) {
    result = withTable(file, [&](records::QbxTable& table) {
      return records::buildFile(table, code == kPackCode, settings);
    });
    if (deferred) {
      // The program learns of a failure at once, and of the end in any case;
      // an answer other than 0 to the end turns a success into a cancel.
      if (result != 0) {
        fileaccess::postError(result);
        fileaccess::setFileInError(file.fileBlock);
      }
      const int answer = platform::sendEvent(platform::kBuildDoneEvent, blockArgument(file));
      if (answer != 0 && result == 0) result = records::kErrBuildCancelled;
    }
  } else if (!isKeyOf(file, key)) {
    result = 0;  // a pending key that is no longer this file's: nothing to build
  } else if (code == kBuildKeyCode) {
    result = withTable(file, [&](records::QbxTable& table) {
      return records::buildKey(table, *key, std::nullopt, settings);
    });
  } else if (!key->isDynamic()) {
    // Only a dynamic index takes its components at run time: a declared
    // key's entries in the file were formed from its declared components.
    result = records::kErrInvalidIndexString;
  } else {
    result = withTable(file, [&](records::QbxTable& table) {
      return records::buildDynamicIndex(table, *key, components, filter, settings);
    });
  }
  if (code != kPackCode) file.engineFlags &= static_cast<std::uint16_t>(~engine::fullBuild);
  return result;
}

void deliverDeferredBuild(const platform::Message& message) {
  auto* block = reinterpret_cast<fileaccess::FileBlock*>(message.lParam);
  if (block != nullptr) static_cast<void>(fileaccess::Call(DriverOp::kBuildEvent, *block));
}

// With buildLater set, keeps the build for BUILDevent and posts the message
// that will call it; true when the build was deferred (*result then 0, or 8
// when the message could not be posted and nothing is kept).
bool deferBuild(DriverCall& call, std::string_view components, std::string_view filter,
                int* result) {
  QbxFile& file = call.file;
  if ((file.state & flag::buildLater) == 0) return false;
  file.state &= ~flag::buildLater;
  platform::setMessageHandler(kDeferredBuildMessage, &deliverDeferredBuild);
  if (!platform::postMessage({kDeferredBuildMessage, 0, reinterpret_cast<std::intptr_t>(&call.block)})) {
    // A build that will never run must not be reported as done.
    *result = kErrInsufficientMemory;
    return true;
  }
  file.pendingBuild = call.code;
  file.pendingKey = call.key;
  file.pendingComponents.assign(components);
  file.pendingFilter.assign(filter);
  *result = 0;
  return true;
}

int buildOrDefer(DriverCall& call, std::string_view components, std::optional<std::string_view> filter) {
  int result = 0;
  if (deferBuild(call, components, filter.value_or(std::string_view()), &result)) return result;
  return runBuild(call.file, call.code, call.key, components, filter);
}

}  // namespace

int handleBuildFile(DriverCall& call) { return buildOrDefer(call, {}, std::nullopt); }

int handleBuildKey(DriverCall& call) { return buildOrDefer(call, {}, std::nullopt); }

int handleBuildDyn(DriverCall& call) { return buildOrDefer(call, call.a(), std::nullopt); }

int handleBuildDynFilter(DriverCall& call) {
  return buildOrDefer(call, call.a(), std::string_view(call.b()));
}

int handlePack(DriverCall& call) { return runBuild(call.file, call.code, nullptr, {}, std::nullopt); }

int handleBuildEvent(DriverCall& call) {
  QbxFile& file = call.file;
  const int code = file.pendingBuild;
  records::QbxKeyDef* key = file.pendingKey;
  const std::string components = std::move(file.pendingComponents);
  const std::string filter = std::move(file.pendingFilter);
  file.pendingBuild = 0;
  file.pendingKey = nullptr;
  file.pendingComponents.clear();
  file.pendingFilter.clear();

  // building lasts for this call; the post-operation flush switches it off
  // also when an internal error cuts the build short.
  file.state |= flag::building;
  int result = 0;
  switch (code) {
    case kBuildFileCode:
    case kBuildKeyCode:
    case kBuildDynCode:
      result = runBuild(file, code, key, components, std::nullopt);
      break;
    case kBuildDynFilterCode:
      result = runBuild(file, code, key, components, std::string_view(filter));
      break;
    default:
      break;  // nothing was deferred
  }
  file.state &= ~flag::building;
  return result;
}

}  // namespace qbx::driver
