#include <string>
#include <string_view>
#include <vector>

#include "convert23/program.h"

namespace convert23 {

namespace {

CommandLine usageError(std::string message) {
  CommandLine line;
  line.action = CommandLine::Action::kUsageError;
  line.message = std::move(message);
  return line;
}

}  // namespace

CommandLine parseCommandLine(std::span<const std::string_view> args) {
  CommandLine line;
  std::vector<std::string_view> names;
  bool optionsEnded = false;
  for (const std::string_view arg : args) {
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      names.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--force") {
      line.options.force = true;
    } else if (arg == "--quiet") {
      line.options.quiet = true;
    } else if (arg == "--help") {
      line.action = CommandLine::Action::kHelp;
    } else if (arg == "--version") {
      if (line.action != CommandLine::Action::kHelp) line.action = CommandLine::Action::kVersion;
    } else if (arg[1] == '-') {
      return usageError("unknown option " + std::string(arg));
    } else {
      for (const char c : arg.substr(1)) {
        switch (c) {
          case 'f':
            line.options.force = true;
            break;
          case 'q':
            line.options.quiet = true;
            break;
          case 'h':
            line.action = CommandLine::Action::kHelp;
            break;
          case 'V':
            if (line.action != CommandLine::Action::kHelp) {
              line.action = CommandLine::Action::kVersion;
            }
            break;
          default:
            return usageError("unknown option -" + std::string(1, c));
        }
      }
    }
  }
  if (line.action != CommandLine::Action::kConvert) return line;
  if (names.size() > 2) {
    return usageError("too many file names: at most SOURCE and TARGET");
  }
  if (!names.empty()) line.options.source = std::string(names[0]);
  if (names.size() == 2) line.options.target = std::string(names[1]);
  return line;
}

std::string_view helpText() {
  return "Usage: convert23 [OPTION]... [SOURCE [TARGET]]\n"
         "Converts a Reelcatalog movie catalogue from the old record layout to the new\n"
         "one, in which a movie's value is a decimal number with two places. Every\n"
         "record is copied in record-number order, then the new file's keys are built.\n"
         "\n"
         "SOURCE is the catalogue to convert (usually a .rcx file); TARGET is the\n"
         "converted file, created or, after confirmation, replaced. A name that is not\n"
         "given is asked for on the terminal; an empty answer cancels the choice.\n"
         "\n"
         "  -f, --force    replace an existing TARGET without asking\n"
         "  -q, --quiet    draw no progress line\n"
         "  -h, --help     show this help and exit\n"
         "  -V, --version  show the version and exit\n"
         "\n"
         "Exit status: 0 when the conversion ran to its end, 1 when an error was\n"
         "shown, 2 for a usage error (then nothing is created or changed).\n";
}

std::string versionText() {
#ifdef QBX_VERSION
  return std::string("convert23 (QBX) ") + QBX_VERSION + "\n";
#else
  return "convert23 (QBX)\n";
#endif
}

}  // namespace convert23
