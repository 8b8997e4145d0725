#include "convert23/program.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "convert23/catalogue.h"
#include "convert23/conversion.h"
#include "fileaccess/program_end.h"
#include "platform/terminal_ui.h"

namespace convert23 {

namespace {

constexpr int kStandardInput = 0;
constexpr int kStandardError = 2;

int usage(const std::string& message) {
  std::fprintf(stderr, "convert23: %s (see convert23 --help)\n",
               platform::printable(message).c_str());
  return kExitUsage;
}

int print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitFinished : kExitErrorShown;
}

}  // namespace

int runProgram(std::span<const char* const> argv, fileaccess::DriverEntryFn entry) {
  std::vector<std::string_view> args;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] != nullptr) args.emplace_back(argv[i]);
  }
  const CommandLine line = parseCommandLine(args);
  switch (line.action) {
    case CommandLine::Action::kHelp:
      return print(helpText());
    case CommandLine::Action::kVersion:
      return print(versionText());
    case CommandLine::Action::kUsageError:
      return usage(line.message);
    case CommandLine::Action::kConvert:
      break;
  }

  // A reader of the error output that goes away must not end the program
  // in the middle of the copy: its writes then simply fail.
  std::signal(SIGPIPE, SIG_IGN);

  setDriverEntry(entry);
  clearProgramData();
  RunResult result;
  {
    platform::TerminalUi ui(kStandardInput, kStandardError);
    ConversionRun run(ui, stderr, line.options);
    result = run.run();
    // Closes the files still in use, the most recently entered first: after
    // an error, the target with the records appended so far.
    fileaccess::programEnd();
  }
  switch (result.end) {
    case RunEnd::kFinished:
      return kExitFinished;
    case RunEnd::kErrorShown:
      return kExitErrorShown;
    case RunEnd::kUsageError:
      break;
  }
  return usage(result.usageMessage);
}

}  // namespace convert23
