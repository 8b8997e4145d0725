// The terminal stand-ins for the conversion program's window platform: the
// open-file and save-file dialogs, the progress window with its record count
// and the modal message box. All input and output goes through the two file
// descriptors given to the TerminalUi object, so that a program passes its
// standard input and standard error and tests pass pipes or a pseudo-terminal.
//
// Whether a stream is a terminal decides what the UI may do:
// - standard input a terminal: a missing file name is asked for, an
//   overwrite is confirmed by a yes/no question, and the message box waits
//   for Enter (its OK button);
// - standard error a terminal: the progress line is drawn.
// Without a terminal to ask, a dialog that would have to ask ends with a
// usage error that the caller reports.
//
// The UI knows nothing of the file access layer: keeping the error state
// unchanged around the message box is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The dialogs' name buffer holds 260 characters; a longer name is refused.
inline constexpr std::size_t kMaxDialogName = 260;

// Outcomes of a file dialog.
inline constexpr int kDialogOk = 0;          // a name was chosen
inline constexpr int kDialogCancelled = 1;   // an empty answer (or end of input) at the prompt
inline constexpr int kDialogUsageError = 2;  // the dialog would have to ask and cannot, or
                                             // the name given is unusable

struct DialogResult {
  int status = kDialogCancelled;
  std::string name;     // the chosen name when status is kDialogOk, else empty
  std::string message;  // for kDialogUsageError: one line, without a line end
};

// Digits grouped in threes with commas: 0 -> "0", 1234567 -> "1,234,567".
std::string groupDigits(std::uint64_t value);
// The count display: groupDigits right-aligned eight positions wide; a value
// that needs more than eight positions is shown in full.
std::string formatCount(std::uint64_t value);
// The whole progress line without its carriage return: the prompt, a blank,
// the count display and, when the total is known, " of " with the total and
// the percentage done (floored, at most 100; 100 when the total is 0).
std::string progressText(std::string_view prompt, std::uint64_t count,
                         std::optional<std::uint64_t> total);
// The hint shown after a dialog's title for a filter list written as
// "Description|pattern|Description|pattern": "(Description pattern, ...)".
// Empty for an empty filter.
std::string filterHint(std::string_view filter);
// The text with every control character (below 0x20, and 0x7F) replaced by
// "?", so that a name or message cannot move the cursor or change the
// terminal's state when it is shown.
std::string printable(std::string_view text);

class TerminalUi {
 public:
  // inFd is read for answers; errFd receives prompts, the progress line and
  // messages. Neither is closed by the object.
  TerminalUi(int inFd, int errFd);
  // Ends a progress line that is still open with a line end.
  ~TerminalUi();
  TerminalUi(const TerminalUi&) = delete;
  TerminalUi& operator=(const TerminalUi&) = delete;

  bool canAsk() const { return inIsTerminal_; }
  bool canDraw() const { return errIsTerminal_; }

  // The open-file dialog. A name given (from the command line) is used as it
  // is, without asking. With no name given, the title and the filter hint
  // are the prompt; an answer that names no existing file (or a directory)
  // is refused and asked again, as is one longer than 260 characters.
  [[nodiscard]] DialogResult openFileDialog(std::string_view title, std::string_view filter,
                                            std::string_view given);
  // The save-file dialog. A name given is used as it is, except that an
  // existing file is overwritten only after a yes in answer to a question
  // (force answers yes without asking); a no asks for another name. Without
  // a terminal, an existing file without force is a usage error.
  [[nodiscard]] DialogResult saveFileDialog(std::string_view title, std::string_view filter,
                                            std::string_view given, bool force);

  // Opens the progress line. Nothing is ever drawn when quiet or when the
  // error output is not a terminal. The line is drawn at once with a count
  // of 0.
  void openProgress(std::string_view prompt, std::optional<std::uint64_t> total, bool quiet);
  // Sets the count. Redraws in place at most a few times per second, timed
  // by a monotonic clock; a call that does not draw costs one clock read.
  void updateProgress(std::uint64_t count) {
    count_ = count;
    if (progressActive_) maybeDraw();
  }
  // Draws the final count and ends the line. The progress stays closed.
  void finishProgress();

  // The message box: "Error: " and the text with trailing spaces cut, on a
  // line of its own on the error output. When the input is a terminal, waits
  // for Enter before returning.
  void showError(std::string_view errorText);

 private:
  // How reading a line of input ended: kOk, kEnd (end of input or a read
  // error) or kTooLong (the line was read to its end, its text dropped).
  enum class LineRead { kOk, kEnd, kTooLong };
  LineRead readLine(std::string* line);
  // Writes the text to the error output, finishing partial writes; a
  // failing terminal is not an error of the program, so nothing is reported.
  void write(std::string_view text);
  // Asks a question on the terminal and reads the answer.
  LineRead ask(std::string_view prompt, std::string* answer);
  // Asks for a file name until one passes the dialog's checks. mustExist is
  // the open dialog's rule; otherwise an existing file needs a yes (or force).
  DialogResult askForName(std::string_view title, std::string_view filter, bool mustExist,
                          bool force);
  // The overwrite question; false for no and for end of input.
  bool confirmOverwrite(const std::string& name);
  // Ends an open progress line so that other output starts on a line of its
  // own; the next update starts a new one.
  void breakProgressLine();
  void maybeDraw();
  void draw();

  int inFd_;
  int errFd_;
  bool inIsTerminal_;
  bool errIsTerminal_;

  bool progressActive_ = false;
  bool lineOpen_ = false;  // a progress line is drawn and not yet ended
  std::string prompt_;
  std::optional<std::uint64_t> total_;
  std::uint64_t count_ = 0;
  std::uint64_t drawnCount_ = 0;
  std::size_t drawnLength_ = 0;  // length of the line last drawn, to blank a shorter one
  std::size_t columns_ = 0;      // terminal width, 0 when unknown
  std::int64_t nextDrawNanos_ = 0;
};

}  // namespace platform
