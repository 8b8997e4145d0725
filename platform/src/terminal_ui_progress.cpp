// The progress window as one line on the error output, redrawn in place with
// a carriage return. Drawing is rate-limited by a coarse monotonic clock, so
// that a copy loop calling the update for every record pays one clock read
// per record, not one terminal write.
#include <sys/ioctl.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "platform/terminal_ui.h"

namespace platform {

namespace {

constexpr std::int64_t kRedrawIntervalNanos = 200'000'000;  // five redraws a second

std::int64_t monotonicNanos() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

void TerminalUi::openProgress(std::string_view prompt, std::optional<std::uint64_t> total,
                              bool quiet) {
  breakProgressLine();
  progressActive_ = !quiet && errIsTerminal_;
  prompt_ = std::string(prompt);
  total_ = total;
  count_ = 0;
  if (!progressActive_) return;
  winsize size{};
  columns_ = ::ioctl(errFd_, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
  draw();
  nextDrawNanos_ = monotonicNanos() + kRedrawIntervalNanos;
}

void TerminalUi::maybeDraw() {
  const std::int64_t now = monotonicNanos();
  if (now < nextDrawNanos_) return;
  draw();
  nextDrawNanos_ = now + kRedrawIntervalNanos;
}

void TerminalUi::draw() {
  std::string text = progressText(prompt_, count_, total_);
  // A line that wraps cannot be redrawn with a carriage return: on a narrow
  // terminal the total goes first, then the end of the line.
  if (columns_ > 1 && text.size() >= columns_) {
    text = progressText(prompt_, count_, std::nullopt);
    if (text.size() >= columns_) text.resize(columns_ - 1);
  }
  std::string out;
  out.reserve(text.size() + drawnLength_ + 1);
  out += '\r';
  out += text;
  if (lineOpen_ && drawnLength_ > text.size()) out.append(drawnLength_ - text.size(), ' ');
  write(out);
  drawnLength_ = text.size();
  drawnCount_ = count_;
  lineOpen_ = true;
}

void TerminalUi::finishProgress() {
  if (!progressActive_) return;
  progressActive_ = false;
  // After a message ended the line, the count it showed stands unless the
  // count has moved since.
  if (!lineOpen_ && drawnCount_ == count_) return;
  draw();
  write("\n");
  lineOpen_ = false;
}

void TerminalUi::breakProgressLine() {
  if (!lineOpen_) return;
  draw();  // the count shown is the exact one
  write("\n");
  lineOpen_ = false;
}

}  // namespace platform
