// Running convert23 and qbx-sample as child processes in a test's temporary
// directory, the way a user or a script runs them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/pty.h"

namespace convert23::testing {

inline const std::string kConvert23 = QBX_CONVERT23_PROGRAM;
inline const std::string kSample = QBX_SAMPLE_PROGRAM;

struct ProgramRun {
  support::ChildStatus status;
  std::string out;
  std::string err;
};

// The environment of every run: a profile file that does not exist (no
// trace log, whatever the user's settings) and temporary files in dir.
std::vector<std::string> testEnvironment(const std::string& dir);

// The command for a program run in dir.
support::PtyCommand command(const std::string& program, std::vector<std::string> args,
                            const std::string& dir);

// Runs the program with its three standard streams as pipes, so that no
// terminal is there to ask; input is written to it and then closed. A
// fileSizeLimit above 0 is the largest file the program may write (its
// disk is full beyond it: writes there fail, SIGXFSZ being ignored). A
// program still running after the timeout is killed.
ProgramRun runWithoutTerminal(const std::string& program, std::vector<std::string> args,
                              const std::string& dir, const std::string& input = "",
                              std::uint64_t fileSizeLimit = 0,
                              std::chrono::seconds timeout = std::chrono::minutes(5));

// Writes a sample catalogue of the given layout ("old" or "new") through
// qbx-sample; false when it fails.
bool makeSample(const std::string& path, int records, const std::string& layout = "old",
                int seed = 1);

// The names in a directory, sorted.
std::vector<std::string> listing(const std::string& dir);
std::string contents(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace convert23::testing
