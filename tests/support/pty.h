// Runs a piece of a test, or a whole program, in a child process whose
// standard streams are a fresh pseudo-terminal: the child is a session leader
// with the terminal as its controlling terminal, so isatty() holds and the
// line discipline echoes and edits input as a user's terminal does. Each of
// the three streams can instead be a pipe to the parent, for the cases where
// a program must behave differently without a terminal.
//
// The parent types into the terminal with send() and reads what the child
// writes (terminal output, with its echo and "\r\n" line ends) with
// waitFor() and output(). Every wait has a timeout; a child still running
// when the object goes away is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace support {

struct PtyOptions {
  bool stdinIsTerminal = true;   // else a pipe fed by send()
  bool stdoutIsTerminal = true;  // else a pipe collected in pipedStdout()
  bool stderrIsTerminal = true;  // else a pipe collected in pipedStderr()
  unsigned short columns = 80;
  unsigned short rows = 24;
};

// A program to run: path, arguments after the program name, the working
// directory (empty: the parent's) and environment entries "NAME=value" added
// to the parent's.
struct PtyCommand {
  std::string path;
  std::vector<std::string> args;
  std::string workDir;
  std::vector<std::string> env;
};

class PtyProcess {
 public:
  // The body's result is the child's exit code (an escaping exception gives
  // 125); the child ends with _exit.
  using Body = std::function<int()>;
  explicit PtyProcess(Body body, PtyOptions options = {});
  // A program that cannot be started exits with 127.
  explicit PtyProcess(const PtyCommand& command, PtyOptions options = {});
  ~PtyProcess();
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Types the text into the terminal, or writes it into the input pipe.
  bool send(std::string_view text);
  // Ends the input: end-of-file typed at the terminal (at the start of a
  // line), or the input pipe closed.
  void sendEndOfInput();

  // Waits until the terminal output holds the text at least `times` times;
  // false when the time runs out or the terminal closes first.
  bool waitFor(std::string_view text, std::chrono::milliseconds timeout = 10s,
               std::size_t times = 1);
  // Collects output for the given time; true when the child is still running
  // at the end of it.
  bool stillRunningAfter(std::chrono::milliseconds time);
  // Everything the child wrote to the terminal so far (send() echoes land
  // here too).
  const std::string& output() const { return terminal_.text; }
  const std::string& pipedStdout() const { return stdout_.text; }
  const std::string& pipedStderr() const { return stderr_.text; }
  // How often the text occurs in the terminal output.
  std::size_t count(std::string_view text) const;

  // Waits for the child to end, collecting its output; when the time runs
  // out the child is killed and the status says kTimedOut. After the end all
  // of the child's output has been collected.
  ChildStatus wait(std::chrono::milliseconds timeout = 30s);

 private:
  struct Stream {
    int fd = -1;
    std::string text;
  };
  void start(const std::function<void()>& childMain, PtyOptions options);
  // Reads what is ready within the time; false when nothing came.
  bool pump(std::chrono::milliseconds timeout);
  bool tryReap();

  pid_t pid_ = -1;
  bool reaped_ = false;
  ChildStatus status_;
  Stream terminal_;
  Stream stdout_;
  Stream stderr_;
  int stdinPipe_ = -1;
};

}  // namespace support
