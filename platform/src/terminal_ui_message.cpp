// The message box on a terminal: the error's text on a line of its own and,
// when someone is there to press it, the OK button as the Enter key.
#include <termios.h>

#include <string>
#include <string_view>

#include "platform/terminal_ui.h"

namespace platform {

void TerminalUi::showError(std::string_view errorText) {
  breakProgressLine();
  const std::size_t end = errorText.find_last_not_of(' ');
  errorText = end == std::string_view::npos ? std::string_view() : errorText.substr(0, end + 1);
  write("Error: " + printable(errorText) + "\n");
  if (!canAsk()) return;
  // Keys pressed before the message appeared must not dismiss it unseen.
  ::tcflush(inFd_, TCIFLUSH);
  std::string line;
  // Any line ends the wait: only Enter closes the box, every other key is
  // part of the line it ends. End of input closes it too, so that a closed
  // terminal cannot keep the program waiting.
  (void)ask("Press Enter to continue.", &line);
}

}  // namespace platform
