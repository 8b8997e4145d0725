// convert23 as a script sees it: help, version, and the usage errors that
// end a run before anything is opened, created or changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "program_run.h"
#include "support/temp_dir.h"

namespace convert23::testing {
namespace {

TEST(Convert23Program, HelpAndVersionOnStandardOutput) {
  support::TempDir dir;
  for (const char* option : {"--help", "-h"}) {
    const ProgramRun run = runWithoutTerminal(kConvert23, {option}, dir.path());
    EXPECT_TRUE(run.status.exitedWith(0)) << run.status.describe();
    EXPECT_EQ(run.out.rfind("Usage: convert23 ", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
  }
  const ProgramRun run = runWithoutTerminal(kConvert23, {"--version"}, dir.path());
  EXPECT_TRUE(run.status.exitedWith(0));
  EXPECT_EQ(run.out.rfind("convert23 ", 0), 0u) << run.out;
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{});
}

// Every case: exit status 2, one line on standard error, and the directory
// exactly as it was, the existing files' bytes included.
TEST(Convert23Program, UsageErrorsChangeNothing) {
  support::TempDir dir;
  writeFile(dir.file("old.rcx"), "source bytes");
  writeFile(dir.file("new.rcx"), "target bytes");
  writeFile(dir.file("plain.QBX"), "plain bytes");
  ASSERT_EQ(::link(dir.file("old.rcx").c_str(), dir.file("linked.rcx").c_str()), 0);
  const std::vector<std::string> before = listing(dir.path());

  struct Case {
    const char* what;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {"no names and no terminal to ask", {}},
      {"no target and no terminal to ask", {"old.rcx"}},
      {"an existing target without --force", {"old.rcx", "new.rcx"}},
      {"an unknown option", {"--frobnicate", "old.rcx", "x.rcx"}},
      {"three names", {"old.rcx", "x.rcx", "y.rcx"}},
      {"the source as its own target", {"--force", "old.rcx", "old.rcx"}},
      {"the source through another name", {"--force", "old.rcx", "./linked.rcx"}},
      {"the source by its default extension", {"--force", "plain", "plain.QBX"}},
      {"a target name longer than 260 characters", {"old.rcx", std::string(261, 'n')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ProgramRun run = runWithoutTerminal(kConvert23, c.args, dir.path());
    EXPECT_TRUE(run.status.exitedWith(2)) << run.status.describe();
    EXPECT_EQ(run.err.rfind("convert23: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(listing(dir.path()), before);
    EXPECT_EQ(contents(dir.file("old.rcx")), "source bytes");
    EXPECT_EQ(contents(dir.file("new.rcx")), "target bytes");
  }
}

}  // namespace
}  // namespace convert23::testing
