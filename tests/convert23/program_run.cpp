#include "program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace convert23::testing {

std::vector<std::string> testEnvironment(const std::string& dir) {
  return {"QUILLBOX_INI=" + dir + "/no-profile.ini", "TMPDIR=" + dir};
}

support::PtyCommand command(const std::string& program, std::vector<std::string> args,
                            const std::string& dir) {
  return support::PtyCommand{program, std::move(args), dir, testEnvironment(dir)};
}

namespace {

// Reads what the pipe holds into text; false once it is at its end.
bool drain(int fd, std::string* text) {
  char buffer[4096];
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

support::ChildStatus statusOf(int status) {
  support::ChildStatus result;
  if (WIFEXITED(status)) {
    result.kind = support::ChildStatus::Kind::kExited;
    result.value = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.kind = support::ChildStatus::Kind::kSignalled;
    result.value = WTERMSIG(status);
  }
  return result;
}

}  // namespace

ProgramRun runWithoutTerminal(const std::string& program, std::vector<std::string> args,
                              const std::string& dir, const std::string& input,
                              std::uint64_t fileSizeLimit, std::chrono::seconds timeout) {
  // Plain pipes and a session of its own: the program has no terminal at
  // all, controlling or standard.
  int in[2];
  int out[2];
  int err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    std::abort();
  }
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argStore) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = testEnvironment(dir);

  const pid_t pid = ::fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    ::setsid();
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    if (fileSizeLimit > 0) {
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
      ::signal(SIGXFSZ, SIG_IGN);  // kept across exec: writes fail with EFBIG
    }
    for (std::string& entry : env) ::putenv(entry.data());
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  // The input is small: it fits the pipe, then the program sees its end.
  if (!input.empty()) static_cast<void>(::write(in[1], input.data(), input.size()));
  ::close(in[1]);

  ProgramRun run;
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  ::fcntl(err[0], F_SETFL, O_NONBLOCK);
  bool outOpen = true;
  bool errOpen = true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (::poll(fds, 2, 100) < 0 && errno != EINTR) break;
    if (outOpen && fds[0].revents != 0) outOpen = drain(out[0], &run.out);
    if (errOpen && fds[1].revents != 0) errOpen = drain(err[0], &run.err);
  }
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      run.status = statusOf(status);
      return run;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      run.status = support::ChildStatus{};  // timed out
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool makeSample(const std::string& path, int records, const std::string& layout, int seed) {
  const std::string dir = std::filesystem::path(path).parent_path().string();
  const ProgramRun run = runWithoutTerminal(kSample,
                                            {path, "--records", std::to_string(records), "--layout",
                                             layout, "--seed", std::to_string(seed), "--force"},
                                            dir);
  return run.status.exitedWith(0);
}

std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace convert23::testing
