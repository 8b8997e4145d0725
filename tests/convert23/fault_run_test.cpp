// convert23 under injected disk faults: in a child process running the
// program, every write and every flush of a small conversion fails in turn.
// Whichever fails, the run must either show an error or leave a whole
// target: a failure is never reported as success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue_reader.h"
#include "convert23/program.h"
#include "program_run.h"
#include "qbx/driver/driver_entry.h"
#include "support/child_process.h"
#include "support/fault_file.h"
#include "support/temp_dir.h"

namespace convert23::testing {
namespace {

constexpr int kRecords = 3;

enum class Fault { kNone, kWriteFullDisk, kWriteFails, kFlushFails };

struct Counts {
  int writes = 0;
  int flushes = 0;
};

// Runs convert23 in a child with the fault planned at the n-th call; the
// child's standard input is empty and its error output a file. Returns the
// exit status, and the call counts of a run without fault.
support::ChildStatus runWithFault(const support::TempDir& dir, Fault fault, int n, Counts* counts) {
  const std::string countsFile = dir.file("counts");
  support::ChildProcess child([&](support::ChildChannel&) {
    const int null = ::open("/dev/null", O_RDONLY);
    const int messages = ::open(dir.file("messages").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(null, STDIN_FILENO);
    ::dup2(messages, STDERR_FILENO);
    if (::chdir(dir.path().c_str()) != 0) return 126;
    support::FaultFile faults;
    switch (fault) {
      case Fault::kNone:
        break;
      case Fault::kWriteFullDisk:
        faults.failWrite(n, ENOSPC, true);
        break;
      case Fault::kWriteFails:
        faults.failWrite(n, EIO);
        break;
      case Fault::kFlushFails:
        faults.failFlush(n, EIO);
        break;
    }
    const char* argv[] = {"convert23", "--force", "old.rcx", "new.rcx"};
    const int status = runProgram(argv, &qbx::driver::DriverEntry);
    std::ofstream(countsFile) << faults.writes() << " " << faults.flushes();
    return status;
  });
  const support::ChildStatus status = child.wait(std::chrono::minutes(2));
  if (counts != nullptr) std::ifstream(countsFile) >> counts->writes >> counts->flushes;
  return status;
}

// A test directory in memory when the machine has one: each of the several
// hundred runs below flushes dozens of times.
std::string memoryBackedTempBase() {
  const char* shm = "/dev/shm";
  return ::access(shm, W_OK) == 0 ? shm : "";
}

TEST(ConversionUnderFaults, NoFailureIsReportedAsSuccess) {
  const std::string base = memoryBackedTempBase();
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp != nullptr ? oldTmp : "";
  if (!base.empty()) ::setenv("TMPDIR", base.c_str(), 1);
  support::TempDir dir;
  if (oldTmp != nullptr) {
    ::setenv("TMPDIR", savedTmp.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  ::setenv("QUILLBOX_INI", dir.file("no-profile.ini").c_str(), 1);
  ASSERT_TRUE(makeSample(dir.file("old.rcx"), kRecords));
  Counts total;
  ASSERT_TRUE(runWithFault(dir, Fault::kNone, 0, &total).exitedWith(0));
  ASSERT_GT(total.writes, 0);
  ASSERT_GT(total.flushes, 0);
  const std::vector<Bytes> expected = sampleRecords(Layout::kNew, 1, kRecords);

  // Every flush and every write as the first on a full disk; a single
  // failed write at every fourth.
  struct Plan {
    Fault fault;
    int calls;
    int step;
  };
  int shown = 0;
  for (const Plan& plan :
       {Plan{Fault::kFlushFails, total.flushes, 1}, Plan{Fault::kWriteFullDisk, total.writes, 1},
        Plan{Fault::kWriteFails, total.writes, 4}}) {
    const Fault fault = plan.fault;
    for (int n = 1; n <= plan.calls; n += plan.step) {
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at call " +
                   std::to_string(n));
      std::filesystem::remove(dir.file("new.rcx"));
      const support::ChildStatus status = runWithFault(dir, fault, n, nullptr);
      const std::string messages = contents(dir.file("messages"));
      if (status.exitedWith(1)) {
        EXPECT_EQ(messages.rfind("Error: ", 0), 0u) << messages;
        ++shown;
        continue;
      }
      ASSERT_TRUE(status.exitedWith(0)) << status.describe();
      EXPECT_EQ(messages, "");
      const ReadBack back = readCatalogue(dir.file("new.rcx"), Layout::kNew);
      ASSERT_EQ(back.openError, 0);
      ASSERT_EQ(back.records, expected);
      ASSERT_FALSE(back.keyEntries.empty());
      EXPECT_EQ(back.keyEntries.front(), kRecords);
    }
  }
  // The faults did reach the run.
  EXPECT_GT(shown, 0);
}

}  // namespace
}  // namespace convert23::testing
