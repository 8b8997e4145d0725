// The convert23 program around the conversion run: its command line, help
// and version, and the exit status that tells a script how the run ended.
//
//   convert23 [--force] [--quiet] [SOURCE [TARGET]]
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "convert23/conversion.h"
#include "fileaccess/declarations.h"

namespace convert23 {

inline constexpr int kExitFinished = 0;    // the conversion ran to its end
inline constexpr int kExitErrorShown = 1;  // an error was shown
inline constexpr int kExitUsage = 2;       // usage error: nothing created or changed

struct CommandLine {
  enum class Action { kConvert, kHelp, kVersion, kUsageError };
  Action action = Action::kConvert;
  ConversionOptions options;
  std::string message;  // kUsageError: one line without a line end
};

// Parses the arguments after the program name: the options -f/--force,
// -q/--quiet, -h/--help, -V/--version (short ones may be joined, as -fq),
// "--" ending the options, and at most two names.
CommandLine parseCommandLine(std::span<const std::string_view> args);

std::string_view helpText();
std::string versionText();

// The whole program: parses the command line, names the driver entry of both
// files, clears the program data, runs the conversion with the terminal as
// its dialogs, progress line and message box, and closes the files still in
// use at program end. Returns the exit status.
int runProgram(std::span<const char* const> argv, fileaccess::DriverEntryFn entry);

}  // namespace convert23
