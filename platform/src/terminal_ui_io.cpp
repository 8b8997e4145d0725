// The terminal UI's own input and output: whole writes to the error output
// and line reads from the input, one byte at a time so that no input beyond
// the line is taken from a pipe that others may read after us.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform/terminal_ui.h"

namespace platform {

namespace {

// The longest line kept; a longer one is read to its end and dropped. Far
// above the longest name a dialog accepts, so trimming cannot matter.
constexpr std::size_t kMaxLine = 4096;

// Waits until a non-blocking descriptor is ready; false on error.
bool waitReady(int fd, short events) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int ready = ::poll(&p, 1, -1);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

TerminalUi::TerminalUi(int inFd, int errFd)
    : inFd_(inFd),
      errFd_(errFd),
      inIsTerminal_(::isatty(inFd) == 1),
      errIsTerminal_(::isatty(errFd) == 1) {}

TerminalUi::~TerminalUi() {
  if (lineOpen_) write("\n");
}

void TerminalUi::write(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(errFd_, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitReady(errFd_, POLLOUT)) return;
    } else {
      return;
    }
  }
}

TerminalUi::LineRead TerminalUi::readLine(std::string* line) {
  line->clear();
  bool tooLong = false;
  bool gotAny = false;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(inFd_, &c, 1);
    if (n == 1) {
      gotAny = true;
      if (c == '\n') break;
      if (line->size() < kMaxLine) {
        line->push_back(c);
      } else {
        tooLong = true;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (waitReady(inFd_, POLLIN)) continue;
    }
    // End of input or a read error: a last line without its line end still
    // counts as a line.
    if (!gotAny) return LineRead::kEnd;
    break;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (tooLong) {
    line->clear();
    return LineRead::kTooLong;
  }
  return LineRead::kOk;
}

TerminalUi::LineRead TerminalUi::ask(std::string_view prompt, std::string* answer) {
  breakProgressLine();
  write(prompt);
  const LineRead result = readLine(answer);
  // End of input typed on a terminal echoes no line end: give one, so that
  // what follows does not run on after the prompt.
  if (result == LineRead::kEnd) write("\n");
  return result;
}

}  // namespace platform
