// convert23's questions on a terminal: the two file prompts, Cancel as an
// empty answer, the overwrite question and the message box's OK.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "program_run.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace convert23::testing {
namespace {

using namespace std::chrono_literals;

TEST(Convert23Prompts, CancelAtTheFirstPromptCreatesNothing) {
  support::TempDir dir;
  support::PtyProcess process(command(kConvert23, {}, dir.path()));
  ASSERT_TRUE(process.waitFor("Select File to Convert")) << process.output();
  ASSERT_TRUE(process.send("\n"));
  ASSERT_TRUE(process.waitFor("Select Coverted File Name")) << process.output();
  ASSERT_TRUE(process.send("new.rcx\n"));
  ASSERT_TRUE(process.waitFor("Error: Invalid Filename")) << process.output();
  // Keys pressed before the box is up are dropped: OK once it asks.
  ASSERT_TRUE(process.waitFor("Press Enter")) << process.output();
  EXPECT_TRUE(process.stillRunningAfter(300ms));
  ASSERT_TRUE(process.send("\n"));
  EXPECT_TRUE(process.wait().exitedWith(1));
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{});
}

// At the prompt the source is refused as the target and asked for again.
TEST(Convert23Prompts, SourceChosenAsTargetIsAskedAgain) {
  support::TempDir dir;
  writeFile(dir.file("old.rcx"), "not a catalogue");
  support::PtyProcess process(command(kConvert23, {"--force", "old.rcx"}, dir.path()));
  ASSERT_TRUE(process.waitFor("Select Coverted File Name")) << process.output();
  ASSERT_TRUE(process.send("old.rcx\n"));
  ASSERT_TRUE(process.waitFor("is the file being converted")) << process.output();
  ASSERT_TRUE(process.waitFor("Select Coverted File Name", std::chrono::seconds(10), 2))
      << process.output();
  // A name of its own goes on to the conversion, which finds no catalogue
  // in the source and shows that.
  ASSERT_TRUE(process.send("new.rcx\n"));
  ASSERT_TRUE(process.waitFor("Error: ")) << process.output();
  ASSERT_TRUE(process.waitFor("Press Enter")) << process.output();
  ASSERT_TRUE(process.send("\n"));
  EXPECT_TRUE(process.wait().exitedWith(1));
  EXPECT_EQ(contents(dir.file("old.rcx")), "not a catalogue");
}

}  // namespace
}  // namespace convert23::testing
