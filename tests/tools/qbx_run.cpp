#include "qbx_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace qbx::inspector::testing {
namespace {

constexpr auto kRunTimeout = std::chrono::minutes(5);

bool drain(int fd, std::string* text) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text->append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

}  // namespace

QbxRun runQbx(std::vector<std::string> args, const std::string& dir) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) std::abort();
  args.insert(args.begin(), kQbx);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::string ini = "QUILLBOX_INI=" + dir + "/no-profile.ini";
  std::string tmp = "TMPDIR=" + dir;
  // In a sanitized build a fault found in the child must not pass for one
  // of qbx's own exit statuses.
  std::string asan = "ASAN_OPTIONS=exitcode=99";
  std::string ubsan = "UBSAN_OPTIONS=exitcode=99:print_stacktrace=1";

  const pid_t pid = ::fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::putenv(ini.data());
    ::putenv(tmp.data());
    ::putenv(asan.data());
    ::putenv(ubsan.data());
    ::execv(kQbx.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  QbxRun run;
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  ::fcntl(err[0], F_SETFL, O_NONBLOCK);
  bool outOpen = true;
  bool errOpen = true;
  const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
  while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (::poll(fds, 2, 100) < 0 && errno != EINTR) break;
    if (outOpen && fds[0].revents != 0) outOpen = drain(out[0], &run.out);
    if (errOpen && fds[1].revents != 0) errOpen = drain(err[0], &run.err);
  }
  ::close(out[0]);
  ::close(err[0]);
  if (outOpen || errOpen) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (outOpen || errOpen) return run;  // timed out
  if (WIFEXITED(status)) {
    run.status.kind = support::ChildStatus::Kind::kExited;
    run.status.value = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    run.status.kind = support::ChildStatus::Kind::kSignalled;
    run.status.value = WTERMSIG(status);
  }
  return run;
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::size_t> findAll(const std::vector<std::uint8_t>& bytes, const std::string& text) {
  std::vector<std::size_t> found;
  auto it = bytes.begin();
  for (;;) {
    it = std::search(it, bytes.end(), text.begin(), text.end(),
                     [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    if (it == bytes.end()) return found;
    found.push_back(static_cast<std::size_t>(it - bytes.begin()));
    ++it;
  }
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace qbx::inspector::testing
