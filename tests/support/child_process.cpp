#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace support {

bool ChildChannel::send(char c) {
  for (;;) {
    const ssize_t n = ::write(writeFd_, &c, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool ChildChannel::receive(char* c, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    pollfd p{readFd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::read(readFd_, c, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;  // the other side closed its end
  }
}

bool ChildChannel::expect(char expected, std::chrono::milliseconds timeout) {
  char c = 0;
  return receive(&c, timeout) && c == expected;
}

std::string ChildStatus::describe() const {
  switch (kind) {
    case Kind::kExited:
      return "exited with " + std::to_string(value);
    case Kind::kSignalled:
      return "killed by signal " + std::to_string(value);
    case Kind::kTimedOut:
      return "timed out";
  }
  return "?";
}

ChildProcess::ChildProcess(Body body) {
  if (::pipe2(toChild_, O_CLOEXEC) != 0 || ::pipe2(toParent_, O_CLOEXEC) != 0) {
    std::perror("pipe2");
    std::abort();
  }
  std::fflush(nullptr);  // nothing buffered is written twice
  pid_ = ::fork();
  if (pid_ < 0) {
    std::perror("fork");
    std::abort();
  }
  if (pid_ == 0) {
    ::close(toChild_[1]);
    ::close(toParent_[0]);
    ChildChannel mine(toChild_[0], toParent_[1]);
    int code = 125;
    try {
      code = body(mine);
    } catch (...) {
      code = 125;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  ::close(toChild_[0]);
  ::close(toParent_[1]);
  toChild_[0] = toParent_[1] = -1;
  channel_ = ChildChannel(toParent_[0], toChild_[1]);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  for (int fd : {toChild_[1], toParent_[0]}) {
    if (fd >= 0) ::close(fd);
  }
}

ChildStatus ChildProcess::wait(std::chrono::milliseconds timeout) {
  ChildStatus result;
  if (reaped_) return result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto pause = std::chrono::microseconds(200);
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (r < 0 && errno != EINTR) return result;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      reaped_ = true;
      result.kind = ChildStatus::Kind::kTimedOut;
      return result;
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(10)) pause *= 2;
  }
  reaped_ = true;
  if (WIFEXITED(status)) {
    result.kind = ChildStatus::Kind::kExited;
    result.value = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.kind = ChildStatus::Kind::kSignalled;
    result.value = WTERMSIG(status);
  }
  return result;
}

void ChildProcess::kill(int signal) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, signal);
}

}  // namespace support
