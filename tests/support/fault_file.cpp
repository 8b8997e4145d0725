#include "support/fault_file.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/io_hooks.h"

namespace support {

namespace {

enum class Action { kNone, kFail, kShort, kKill, kTornKill };

struct Plan {
  std::atomic<int> at{0};  // 0: nothing planned
  std::atomic<Action> action{Action::kNone};
  std::atomic<int> err{0};
  std::atomic<bool> sticky{false};

  void clear() {
    at = 0;
    action = Action::kNone;
    err = 0;
    sticky = false;
  }
  void set(int n, Action a, int e, bool s) {
    action = a;
    err = e;
    sticky = s;
    at = n;
  }
  // The action for call number n.
  Action actionFor(int n) const {
    const int planned = at.load();
    if (planned <= 0) return Action::kNone;
    if (n == planned || (sticky.load() && n > planned)) return action.load();
    return Action::kNone;
  }
};

struct State {
  std::atomic<int> reads{0};
  std::atomic<int> writes{0};
  std::atomic<int> flushes{0};
  std::atomic<int> truncates{0};
  // Set by a short write: the continuation of that transfer gets 0 bytes.
  std::atomic<bool> refuseContinuation{false};
  Plan read;
  Plan write;
  Plan flush;
};

State state;
std::atomic<bool> installed{false};

[[noreturn]] void killSelf() {
  ::kill(::getpid(), SIGKILL);
  ::_exit(137);  // not reached
}

ssize_t faultPread(int fd, void* buffer, std::size_t length, off_t offset) {
  const int n = ++state.reads;
  if (state.read.actionFor(n) == Action::kFail) {
    errno = state.read.err.load();
    return -1;
  }
  return ::pread(fd, buffer, length, offset);
}

ssize_t faultPwrite(int fd, const void* buffer, std::size_t length, off_t offset) {
  if (state.refuseContinuation.exchange(false)) return 0;
  const int n = ++state.writes;
  switch (state.write.actionFor(n)) {
    case Action::kNone:
      break;
    case Action::kFail:
      errno = state.write.err.load();
      return -1;
    case Action::kShort: {
      const ssize_t done = length / 2 == 0 ? 0 : ::pwrite(fd, buffer, length / 2, offset);
      state.refuseContinuation = true;
      return done;
    }
    case Action::kKill:
      killSelf();
    case Action::kTornKill:
      if (length / 2 > 0) (void)!::pwrite(fd, buffer, length / 2, offset);
      killSelf();
  }
  return ::pwrite(fd, buffer, length, offset);
}

int faultFdatasync(int fd) {
  const int n = ++state.flushes;
  switch (state.flush.actionFor(n)) {
    case Action::kFail:
      errno = state.flush.err.load();
      return -1;
    case Action::kKill:
    case Action::kTornKill:
      killSelf();
    default:
      break;
  }
  return ::fdatasync(fd);
}

int faultFtruncate(int fd, off_t length) {
  ++state.truncates;
  return ::ftruncate(fd, length);
}

const platform::IoHooks kFaultHooks = {faultPread, faultPwrite, faultFdatasync, faultFtruncate};

}  // namespace

FaultFile::FaultFile() {
  if (installed.exchange(true)) {
    std::fputs("FaultFile: only one may exist at a time\n", stderr);
    std::abort();
  }
  reset();
  platform::setIoHooks(&kFaultHooks);
}

FaultFile::~FaultFile() {
  platform::setIoHooks(nullptr);
  reset();
  installed = false;
}

void FaultFile::reset() {
  state.reads = 0;
  state.writes = 0;
  state.flushes = 0;
  state.truncates = 0;
  state.refuseContinuation = false;
  state.read.clear();
  state.write.clear();
  state.flush.clear();
}

void FaultFile::failWrite(int n, int err, bool sticky) {
  state.write.set(n, Action::kFail, err, sticky);
}
void FaultFile::shortWrite(int n) { state.write.set(n, Action::kShort, 0, false); }
void FaultFile::killAtWrite(int n, bool torn) {
  state.write.set(n, torn ? Action::kTornKill : Action::kKill, 0, false);
}
void FaultFile::failFlush(int n, int err) { state.flush.set(n, Action::kFail, err, false); }
void FaultFile::killAtFlush(int n) { state.flush.set(n, Action::kKill, 0, false); }
void FaultFile::failRead(int n, int err) { state.read.set(n, Action::kFail, err, false); }

int FaultFile::reads() const { return state.reads; }
int FaultFile::writes() const { return state.writes; }
int FaultFile::flushes() const { return state.flushes; }
int FaultFile::truncates() const { return state.truncates; }

}  // namespace support
