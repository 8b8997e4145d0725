// convert23 end to end: sample catalogues written by qbx-sample, converted
// by the real program in a child process, read back through the driver.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue_reader.h"
#include "convert23/conversion.h"
#include "platform/terminal_ui.h"
#include "program_run.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace convert23::testing {
namespace {

using namespace std::chrono_literals;

class ConversionRunTest : public ::testing::Test {
 protected:
  std::string source() const { return dir_.file("old.rcx"); }
  std::string target() const { return dir_.file("new.rcx"); }

  // Converts without a terminal, replacing the target.
  ProgramRun convert(std::uint64_t fileSizeLimit = 0,
                     std::chrono::seconds timeout = std::chrono::minutes(5)) {
    return runWithoutTerminal(kConvert23, {"--force", "old.rcx", "new.rcx"}, dir_.path(), "",
                              fileSizeLimit, timeout);
  }

  // The whole target: every record the sample's, in order, with every key
  // built over all of them.
  void expectConverted(int records, int seed = 1) {
    const ReadBack back = readCatalogue(target(), Layout::kNew);
    ASSERT_EQ(back.openError, 0);
    EXPECT_EQ(back.endError, 33);
    ASSERT_EQ(back.records.size(), static_cast<std::size_t>(records));
    const std::vector<Bytes> expected = sampleRecords(Layout::kNew, seed, records);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(back.records[i], expected[i]) << "record " << i + 1;
    }
    // Key 1 has no OPT: it holds an entry for every record once built.
    ASSERT_FALSE(back.keyEntries.empty());
    EXPECT_EQ(back.keyEntries.front(), records);
  }

  support::TempDir dir_;
};

TEST_F(ConversionRunTest, RecordsConvertInRecordNumberOrder) {
  for (const int records : {0, 1, 257}) {
    SCOPED_TRACE(records);
    ASSERT_TRUE(makeSample(source(), records));
    const ProgramRun run = convert();
    EXPECT_TRUE(run.status.exitedWith(0)) << run.status.describe() << run.err;
    // Nothing is shown after a conversion that ran to its end.
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    expectConverted(records);
    // The source is only read.
    EXPECT_EQ(readCatalogue(source(), Layout::kOld).records.size(),
              static_cast<std::size_t>(records));
  }
}

TEST_F(ConversionRunTest, ProgressLineCountsToTheLastRecord) {
  constexpr int kRecords = 1234;
  ASSERT_TRUE(makeSample(source(), kRecords));
  support::PtyProcess process(command(kConvert23, {"--force", "old.rcx", "new.rcx"}, dir_.path()));
  EXPECT_TRUE(process.wait(5min).exitedWith(0)) << process.output();
  const std::string last = std::string(kProgressPrompt) + " " + platform::formatCount(kRecords);
  EXPECT_NE(process.output().find(last), std::string::npos) << process.output();
  EXPECT_EQ(process.output().find("Error"), std::string::npos) << process.output();
  expectConverted(kRecords);

  // With --quiet the terminal shows nothing at all.
  support::PtyProcess quiet(
      command(kConvert23, {"--quiet", "--force", "old.rcx", "new.rcx"}, dir_.path()));
  EXPECT_TRUE(quiet.wait(5min).exitedWith(0));
  EXPECT_EQ(quiet.output(), "");
}

TEST_F(ConversionRunTest, CancelAtTheSecondPromptLeavesTheBlankNamesFile) {
  ASSERT_TRUE(makeSample(source(), 3));
  support::PtyProcess process(command(kConvert23, {"old.rcx"}, dir_.path()));
  ASSERT_TRUE(process.waitFor("Select Coverted File Name")) << process.output();
  ASSERT_TRUE(process.send("\n"));
  ASSERT_TRUE(process.waitFor("Error: Invalid Filename")) << process.output();
  ASSERT_TRUE(process.waitFor("Press Enter")) << process.output();
  // The box stays until its OK.
  EXPECT_TRUE(process.stillRunningAfter(300ms));
  ASSERT_TRUE(process.send("\n"));
  EXPECT_TRUE(process.wait().exitedWith(1));
  EXPECT_EQ(listing(dir_.path()), (std::vector<std::string>{".QBX", "old.rcx"}));
  EXPECT_EQ(readCatalogue(source(), Layout::kOld).records.size(), 3u);
}

TEST_F(ConversionRunTest, ExistingTargetIsReplacedAfterConfirmation) {
  ASSERT_TRUE(makeSample(source(), 40, "old", 5));
  ASSERT_TRUE(makeSample(target(), 90, "new", 6));
  support::PtyProcess process(command(kConvert23, {"old.rcx", "new.rcx"}, dir_.path()));
  ASSERT_TRUE(process.waitFor("Replace it? [y/N]")) << process.output();
  ASSERT_TRUE(process.send("y\n"));
  EXPECT_TRUE(process.wait(5min).exitedWith(0)) << process.output();
  expectConverted(40, 5);
}

TEST_F(ConversionRunTest, SourceOfTheNewLayoutIsRefused) {
  ASSERT_TRUE(makeSample(source(), 5, "new"));
  const ProgramRun run = convert();
  EXPECT_TRUE(run.status.exitedWith(1));
  EXPECT_EQ(run.err, "Error: Invalid Record Declaration\n");
  EXPECT_FALSE(std::filesystem::exists(target()));
}

// A disk that fills up: during the copy (the records appended so far are
// kept, in order, and no key is built), or later, when the keys are built
// (the error is shown all the same).
TEST_F(ConversionRunTest, FullDiskShowsTheErrorAndKeepsATargetThatOpens) {
  constexpr int kRecords = 3000;
  ASSERT_TRUE(makeSample(source(), kRecords));
  const auto sourceSize = std::filesystem::file_size(source());
  const std::vector<Bytes> expected = sampleRecords(Layout::kNew, 1, kRecords);
  for (const bool duringTheCopy : {true, false}) {
    SCOPED_TRACE(duringTheCopy ? "during the copy" : "at the end");
    const ProgramRun run = convert(duringTheCopy ? sourceSize / 8 : sourceSize / 3);
    EXPECT_TRUE(run.status.exitedWith(1)) << run.status.describe();
    EXPECT_EQ(run.err.rfind("Error: ", 0), 0u) << run.err;
    const ReadBack back = readCatalogue(target(), Layout::kNew);
    ASSERT_EQ(back.openError, 0);
    EXPECT_EQ(back.endError, 33);
    ASSERT_LE(back.records.size(), expected.size());
    for (std::size_t i = 0; i < back.records.size(); ++i) {
      ASSERT_EQ(back.records[i], expected[i]) << "record " << i + 1;
    }
    ASSERT_FALSE(back.keyEntries.empty());
    if (duringTheCopy) {
      EXPECT_GT(back.records.size(), 0u);
      EXPECT_LT(back.records.size(), expected.size());
      EXPECT_EQ(back.keyEntries.front(), 0);
    }
    EXPECT_EQ(readCatalogue(source(), Layout::kOld).records.size(), expected.size());
  }
}

// Damaged pages at several places of the source: a run either copies every
// record as it is, or ends with the error shown and a target holding the
// records before the damage; never a record twice, never an endless loop.
// Some damage must be met by NEXT in the middle of the copy.
TEST_F(ConversionRunTest, DamagedSourceEndsTheRunWithItsError) {
  constexpr int kRecords = 400;
  ASSERT_TRUE(makeSample(dir_.file("whole.rcx"), kRecords));
  const std::string whole = contents(dir_.file("whole.rcx"));
  const std::vector<Bytes> expected = sampleRecords(Layout::kNew, 1, kRecords);
  int metInTheCopy = 0;
  for (const double at : {0.6, 0.7, 0.8, 0.9}) {
    SCOPED_TRACE(at);
    std::string damaged = whole;
    const auto from = static_cast<std::size_t>(static_cast<double>(damaged.size()) * at);
    for (std::size_t i = from; i < from + 4096 && i < damaged.size(); ++i) damaged[i] ^= 0x5A;
    writeFile(source(), damaged);
    std::filesystem::remove(target());
    // The whole copy takes about a second: a minute is an endless loop.
    const ProgramRun run = convert(0, std::chrono::minutes(1));
    ASSERT_FALSE(run.status.kind == support::ChildStatus::Kind::kTimedOut);
    const ReadBack back = readCatalogue(target(), Layout::kNew);
    if (run.status.exitedWith(0)) {
      EXPECT_EQ(back.records, expected);
      continue;
    }
    ASSERT_TRUE(run.status.exitedWith(1)) << run.status.describe();
    EXPECT_EQ(run.err.rfind("Error: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    if (back.openError != 0) continue;  // the damage stopped the run before the copy
    ASSERT_LT(back.records.size(), expected.size());
    for (std::size_t i = 0; i < back.records.size(); ++i) {
      ASSERT_EQ(back.records[i], expected[i]) << "record " << i + 1;
    }
    if (run.err == "Error: File System Error\n") ++metInTheCopy;
  }
  EXPECT_GT(metInTheCopy, 0);
}

TEST_F(ConversionRunTest, KillDuringTheCopyLeavesATargetThatOpens) {
  constexpr int kRecords = 6000;
  ASSERT_TRUE(makeSample(source(), kRecords));
  support::PtyProcess process(command(kConvert23, {"--force", "old.rcx", "new.rcx"}, dir_.path()));
  // The line is drawn as the copy starts and again five times a second.
  ASSERT_TRUE(process.waitFor(kProgressPrompt, 60s, 2)) << process.output();
  ::kill(process.pid(), SIGKILL);
  EXPECT_TRUE(process.wait().killedBy(SIGKILL));
  const bool copyEnded =
      process.output().find(std::string(kProgressPrompt) + " " + platform::formatCount(kRecords)) !=
      std::string::npos;

  const ReadBack back = readCatalogue(target(), Layout::kNew);
  ASSERT_EQ(back.openError, 0);
  EXPECT_EQ(back.endError, 33);
  EXPECT_EQ(back.closeError, 0);
  const std::vector<Bytes> expected = sampleRecords(Layout::kNew, 1, kRecords);
  ASSERT_LE(back.records.size(), expected.size());
  if (!copyEnded) {
    EXPECT_LT(back.records.size(), expected.size());
  }
  for (std::size_t i = 0; i < back.records.size(); ++i) {
    ASSERT_EQ(back.records[i], expected[i]) << "record " << i + 1;
  }
  EXPECT_EQ(readCatalogue(source(), Layout::kOld).records.size(), expected.size());
}

}  // namespace
}  // namespace convert23::testing
