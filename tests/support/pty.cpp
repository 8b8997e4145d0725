#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace support {

namespace {

void fail(const char* what) {
  std::perror(what);
  std::abort();
}

void closeFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

// A pipe whose both ends are closed on exec; the child's end is dup2()ed
// onto its standard stream, which clears the flag there.
void makePipe(int ends[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) fail("pipe2");
}

}  // namespace

PtyProcess::PtyProcess(Body body, PtyOptions options) {
  start(
      [&body] {
        int code = 125;
        try {
          code = body();
        } catch (...) {
          code = 125;
        }
        std::fflush(nullptr);
        ::_exit(code);
      },
      options);
}

PtyProcess::PtyProcess(const PtyCommand& command, PtyOptions options) {
  // Everything exec needs is built before the fork.
  std::vector<std::string> argStore;
  argStore.push_back(command.path);
  argStore.insert(argStore.end(), command.args.begin(), command.args.end());
  std::vector<char*> argv;
  for (std::string& arg : argStore) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore = command.env;
  start(
      [&] {
        if (!command.workDir.empty() && ::chdir(command.workDir.c_str()) != 0) ::_exit(127);
        for (std::string& entry : envStore) ::putenv(entry.data());
        ::execv(command.path.c_str(), argv.data());
        ::_exit(127);
      },
      options);
}

void PtyProcess::start(const std::function<void()>& childMain, PtyOptions options) {
  int master = -1;
  int slave = -1;
  winsize size{};
  size.ws_col = options.columns;
  size.ws_row = options.rows;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) fail("openpty");
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  int inPipe[2] = {-1, -1};
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (!options.stdinIsTerminal) makePipe(inPipe);
  if (!options.stdoutIsTerminal) makePipe(outPipe);
  if (!options.stderrIsTerminal) makePipe(errPipe);

  std::fflush(nullptr);  // nothing buffered is written twice
  pid_ = ::fork();
  if (pid_ < 0) fail("fork");
  if (pid_ == 0) {
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(options.stdinIsTerminal ? slave : inPipe[0], STDIN_FILENO);
    ::dup2(options.stdoutIsTerminal ? slave : outPipe[1], STDOUT_FILENO);
    ::dup2(options.stderrIsTerminal ? slave : errPipe[1], STDERR_FILENO);
    for (int fd :
         {master, slave, inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
      if (fd > STDERR_FILENO) ::close(fd);
    }
    childMain();
    ::_exit(125);
  }
  ::close(slave);
  closeFd(&inPipe[0]);
  closeFd(&outPipe[1]);
  closeFd(&errPipe[1]);
  terminal_.fd = master;
  stdinPipe_ = inPipe[1];
  stdout_.fd = outPipe[0];
  stderr_.fd = errPipe[0];
}

PtyProcess::~PtyProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  for (int* fd : {&terminal_.fd, &stdout_.fd, &stderr_.fd, &stdinPipe_}) closeFd(fd);
}

bool PtyProcess::send(std::string_view text) {
  const int fd = stdinPipe_ >= 0 ? stdinPipe_ : terminal_.fd;
  if (fd < 0) return false;
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

void PtyProcess::sendEndOfInput() {
  if (stdinPipe_ >= 0) {
    closeFd(&stdinPipe_);
    return;
  }
  if (terminal_.fd < 0) return;
  termios modes{};
  const char eof =
      ::tcgetattr(terminal_.fd, &modes) == 0 ? static_cast<char>(modes.c_cc[VEOF]) : '\x04';
  (void)send(std::string_view(&eof, 1));
}

std::size_t PtyProcess::count(std::string_view text) const {
  if (text.empty()) return 0;
  std::size_t found = 0;
  for (std::size_t at = terminal_.text.find(text); at != std::string::npos;
       at = terminal_.text.find(text, at + text.size())) {
    ++found;
  }
  return found;
}

bool PtyProcess::pump(std::chrono::milliseconds timeout) {
  pollfd fds[3];
  Stream* streams[3];
  nfds_t n = 0;
  for (Stream* s : {&terminal_, &stdout_, &stderr_}) {
    if (s->fd < 0) continue;
    fds[n] = pollfd{s->fd, POLLIN, 0};
    streams[n++] = s;
  }
  if (n == 0) {
    std::this_thread::sleep_for(std::min(timeout, std::chrono::milliseconds(5)));
    return false;
  }
  const int ready = ::poll(fds, n, static_cast<int>(timeout.count()));
  if (ready <= 0) return false;
  bool got = false;
  for (nfds_t i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    char buffer[4096];
    const ssize_t r = ::read(fds[i].fd, buffer, sizeof buffer);
    if (r > 0) {
      streams[i]->text.append(buffer, static_cast<std::size_t>(r));
      got = true;
    } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
      // End of a pipe, or EIO from the terminal once every descriptor of
      // its other side is closed.
      closeFd(&streams[i]->fd);
    }
  }
  return got;
}

bool PtyProcess::waitFor(std::string_view text, std::chrono::milliseconds timeout,
                         std::size_t times) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (count(text) >= times) return true;
    if (terminal_.fd < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pump(std::min(left, std::chrono::milliseconds(50)));
  }
}

bool PtyProcess::tryReap() {
  if (reaped_) return true;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r != pid_) return false;
  reaped_ = true;
  if (WIFEXITED(status)) {
    status_.kind = ChildStatus::Kind::kExited;
    status_.value = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    status_.kind = ChildStatus::Kind::kSignalled;
    status_.value = WTERMSIG(status);
  }
  return true;
}

bool PtyProcess::stillRunningAfter(std::chrono::milliseconds time) {
  const auto deadline = std::chrono::steady_clock::now() + time;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pump(std::min(left, std::chrono::milliseconds(20)));
  }
  return !tryReap();
}

ChildStatus PtyProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!tryReap()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      reaped_ = true;
      status_ = ChildStatus{};  // kTimedOut
      return status_;
    }
    pump(std::chrono::milliseconds(10));
  }
  // The child is gone: collect what it left in the terminal and the pipes.
  // A grandchild holding them open cannot keep us here.
  while (terminal_.fd >= 0 || stdout_.fd >= 0 || stderr_.fd >= 0) {
    if (!pump(std::chrono::milliseconds(200))) break;
  }
  return status_;
}

}  // namespace support
