// The qbx-sample program: writes a sample movie catalogue, or counts the
// records of catalogue files.
//
//   qbx-sample FILE --records N [--seed S] [--layout old|new] [--force]
//   qbx-sample --count FILE...
//
// Exit status 0 on success, 1 when a file operation failed, 2 for a usage
// error (nothing written).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileaccess/declarations.h"
#include "qbx/sample/movie_sample.h"

namespace qbx::sample {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct SampleCommand {
  enum class Action { kWrite, kCount, kHelp, kVersion, kUsageError };
  Action action = Action::kWrite;
  std::vector<std::string> files;  // kWrite: exactly one
  SampleOptions options;
  bool force = false;   // kWrite: replace an existing file
  std::string message;  // kUsageError: one line without a line end
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after "=" (--records=N).
SampleCommand parseSampleCommand(std::span<const std::string_view> args);

std::string_view sampleHelpText();

// The whole program, through the given driver entry; returns the exit status.
int runSampleProgram(std::span<const char* const> argv, fileaccess::DriverEntryFn entry);

}  // namespace qbx::sample
