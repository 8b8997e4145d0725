// Runs a piece of a test in a fork()ed child process: for locks and share
// modes that must be held by another process, and for crashes. The parent
// and the child talk through two pipes, one byte at a time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace support {

using namespace std::chrono_literals;

// One end of the parent/child channel.
class ChildChannel {
 public:
  ChildChannel(int readFd, int writeFd) : readFd_(readFd), writeFd_(writeFd) {}
  bool send(char c);
  // false on timeout or when the other side has gone.
  bool receive(char* c, std::chrono::milliseconds timeout);
  // Receives one byte and checks that it is the expected one.
  bool expect(char expected, std::chrono::milliseconds timeout);

 private:
  int readFd_;
  int writeFd_;
};

struct ChildStatus {
  enum class Kind { kExited, kSignalled, kTimedOut };
  Kind kind = Kind::kTimedOut;
  int value = 0;  // exit code or signal number

  bool exitedWith(int code) const { return kind == Kind::kExited && value == code; }
  bool killedBy(int signal) const { return kind == Kind::kSignalled && value == signal; }
  std::string describe() const;
};

class ChildProcess {
 public:
  // The child's body gets its end of the channel; its result is the child's
  // exit code (an escaping exception gives 125). The child ends with _exit,
  // so no test framework code or atexit handler runs in it.
  using Body = std::function<int(ChildChannel&)>;
  explicit ChildProcess(Body body);
  // Kills and reaps a child that is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  ChildChannel& channel() { return channel_; }
  // Waits for the child to end; when the time runs out the child is killed
  // with SIGKILL and the status says kTimedOut.
  ChildStatus wait(std::chrono::milliseconds timeout = 30s);
  void kill(int signal);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int toChild_[2] = {-1, -1};
  int toParent_[2] = {-1, -1};
  ChildChannel channel_{-1, -1};
};

}  // namespace support
