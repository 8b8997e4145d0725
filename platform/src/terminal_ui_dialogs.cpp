// The open-file and save-file dialogs on a terminal. A name from the command
// line is taken as it is; a missing one is asked for with the dialog's title
// and filter as the prompt, and checked the way the dialogs check a choice:
// the open dialog wants an existing file, the save dialog a confirmation
// before an existing file is replaced.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/terminal_ui.h"

namespace platform {

namespace {

DialogResult chosen(std::string_view name) {
  DialogResult result;
  result.status = kDialogOk;
  result.name = std::string(name);
  return result;
}

DialogResult cancelled() { return DialogResult{}; }

DialogResult usageError(std::string message) {
  DialogResult result;
  result.status = kDialogUsageError;
  result.message = std::move(message);
  return result;
}

DialogResult nameTooLong() {
  return usageError("file name longer than " + std::to_string(kMaxDialogName) + " characters");
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// A leading "~" or "~/" stands for the home directory, as in the shell that
// would otherwise have expanded it on the command line.
std::string expandHome(std::string_view name) {
  if (name.empty() || name[0] != '~' || (name.size() > 1 && name[1] != '/')) {
    return std::string(name);
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return std::string(name);
  std::string expanded(home);
  expanded += name.substr(1);
  return expanded;
}

enum class Found { kFile, kDirectory, kMissing, kUnreachable };

Found lookUp(const std::string& name, int* err) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) {
    *err = errno;
    return (errno == ENOENT || errno == ENOTDIR) ? Found::kMissing : Found::kUnreachable;
  }
  return S_ISDIR(st.st_mode) ? Found::kDirectory : Found::kFile;
}

bool isYes(std::string_view answer) {
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

bool isNo(std::string_view answer) {
  return answer.empty() || answer == "n" || answer == "N" || answer == "no" || answer == "No" ||
         answer == "NO";
}

std::string quoted(std::string_view name) { return "\"" + printable(name) + "\""; }

}  // namespace

DialogResult TerminalUi::openFileDialog(std::string_view title, std::string_view filter,
                                        std::string_view given) {
  if (!given.empty()) {
    if (given.size() > kMaxDialogName) return nameTooLong();
    return chosen(given);
  }
  if (!canAsk()) return usageError("no file name given, and no terminal to ask for one");
  return askForName(title, filter, true, false);
}

DialogResult TerminalUi::saveFileDialog(std::string_view title, std::string_view filter,
                                        std::string_view given, bool force) {
  if (!given.empty()) {
    if (given.size() > kMaxDialogName) return nameTooLong();
    const std::string name(given);
    int err = 0;
    if (force || lookUp(name, &err) != Found::kFile) return chosen(given);
    if (!canAsk()) {
      return usageError(quoted(name) + " already exists and is not replaced without confirmation");
    }
    if (confirmOverwrite(name)) return chosen(given);
    // A no keeps the dialog open for another name.
  } else if (!canAsk()) {
    return usageError("no file name given, and no terminal to ask for one");
  }
  return askForName(title, filter, false, force);
}

DialogResult TerminalUi::askForName(std::string_view title, std::string_view filter, bool mustExist,
                                    bool force) {
  std::string prompt(title);
  const std::string hint = filterHint(filter);
  if (!hint.empty()) prompt += " " + hint;
  prompt += ": ";
  const std::string tooLong =
      "File names are at most " + std::to_string(kMaxDialogName) + " characters long.\n";

  std::string line;
  for (;;) {
    const LineRead read = ask(prompt, &line);
    if (read == LineRead::kEnd) return cancelled();
    if (read == LineRead::kTooLong) {
      write(tooLong);
      continue;
    }
    const std::string_view answer = trimmed(line);
    if (answer.empty()) return cancelled();
    const std::string name = expandHome(answer);
    if (name.size() > kMaxDialogName) {
      write(tooLong);
      continue;
    }
    int err = 0;
    switch (lookUp(name, &err)) {
      case Found::kDirectory:
        write(quoted(name) + " is a directory.\n");
        continue;
      case Found::kFile:
        if (mustExist || force || confirmOverwrite(name)) return chosen(name);
        continue;
      case Found::kMissing:
        if (!mustExist) return chosen(name);
        write(quoted(name) + ": File not found. Check the file name and try again.\n");
        continue;
      case Found::kUnreachable:
        if (!mustExist) return chosen(name);  // the save itself reports what is wrong
        write(quoted(name) + ": " + std::strerror(err) + ".\n");
        continue;
    }
  }
}

bool TerminalUi::confirmOverwrite(const std::string& name) {
  const std::string question = quoted(name) + " already exists. Replace it? [y/N] ";
  std::string line;
  for (;;) {
    const LineRead read = ask(question, &line);
    if (read == LineRead::kEnd) return false;
    if (read == LineRead::kOk) {
      const std::string_view answer = trimmed(line);
      if (isYes(answer)) return true;
      if (isNo(answer)) return false;
    }
    write("Please answer y or n.\n");
  }
}

}  // namespace platform
