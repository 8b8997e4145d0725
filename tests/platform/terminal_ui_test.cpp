#include "platform/terminal_ui.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/pty.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using platform::DialogResult;
using platform::TerminalUi;
using support::PtyOptions;
using support::PtyProcess;

constexpr const char* kOpenTitle = "Select File to Convert";
constexpr const char* kSaveTitle = "Select Coverted File Name";
constexpr const char* kFilter = "Reelcatalog|*.rcx|ALL|*.*";
constexpr const char* kPrompt = "Converting Record #:";

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Writes straight to a descriptor of the child: its stdio buffers belong to
// the parent's idea of the streams.
void report(int fd, const std::string& text) {
  std::string_view rest(text);
  while (!rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string outcome(const DialogResult& r) {
  return "[[" + std::to_string(r.status) + ":" + r.name + "]]";
}

// ---------------------------------------------------------------------------
// Texts

TEST(TerminalUiText, CountDisplayIsEightWideGroupedAndFullWhenLonger) {
  const struct {
    std::uint64_t value;
    const char* shown;
  } cases[] = {
      {0, "       0"},
      {7, "       7"},
      {999, "     999"},
      {1'234, "   1,234"},
      {999'999, " 999,999"},
      {1'000'000, "1,000,000"},
      {12'345'678, "12,345,678"},
      {123'456'789, "123,456,789"},
      {4'294'967'295, "4,294,967,295"},
      {UINT64_MAX, "18,446,744,073,709,551,615"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::formatCount(c.value), c.shown) << c.value;
  }
}

TEST(TerminalUiText, ProgressLineShowsTotalAndFlooredPercentage) {
  const struct {
    std::uint64_t count;
    std::optional<std::uint64_t> total;
    const char* line;
  } cases[] = {
      {0, std::nullopt, "Converting Record #:        0"},
      {1'234, std::nullopt, "Converting Record #:    1,234"},
      {0, 10'000, "Converting Record #:        0 of 10,000 (0%)"},
      {1'999, 10'000, "Converting Record #:    1,999 of 10,000 (19%)"},
      {10'000, 10'000, "Converting Record #:   10,000 of 10,000 (100%)"},
      {0, 0, "Converting Record #:        0 of 0 (100%)"},
      // A total that was too low never shows more than done.
      {12, 10, "Converting Record #:       12 of 10 (100%)"},
      // Counts so large that count * 100 overflows.
      {UINT64_MAX - 1, UINT64_MAX,
       "Converting Record #: 18,446,744,073,709,551,614 of 18,446,744,073,709,551,615 (99%)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::progressText(kPrompt, c.count, c.total), c.line) << c.count;
  }
}

TEST(TerminalUiText, FilterHintPairsDescriptionsWithPatterns) {
  EXPECT_EQ(platform::filterHint(kFilter), "(Reelcatalog *.rcx, ALL *.*)");
  EXPECT_EQ(platform::filterHint(""), "");
  EXPECT_EQ(platform::filterHint("Data"), "(Data)");
}

// ---------------------------------------------------------------------------
// Dialogs without a terminal: the input and the error output are pipes.

TEST(TerminalUiDialog, WithoutTerminalNamesAreTakenAsGivenOrAreUsageErrors) {
  support::TempDir dir;
  writeText(dir.file("old.rcx"), "x");
  const std::string existing = dir.file("old.rcx");
  const std::string missing = dir.file("missing.rcx");
  const std::string tooLong = dir.path() + "/" + std::string(platform::kMaxDialogName, 'n');
  const std::string hostile = dir.file("a\x1b[2Jb");
  writeText(hostile, "x");

  const struct {
    const char* what;
    bool save;
    std::string given;
    bool force;
    int status;
    const char* messagePart;
  } cases[] = {
      {"open without a name", false, "", false, platform::kDialogUsageError, "no terminal"},
      {"open takes a missing name as given", false, missing, false, platform::kDialogOk, ""},
      {"open refuses an over-long name", false, tooLong, false, platform::kDialogUsageError, "260"},
      {"save without a name", true, "", false, platform::kDialogUsageError, "no terminal"},
      {"save of a new name", true, missing, false, platform::kDialogOk, ""},
      {"save over an existing file", true, existing, false, platform::kDialogUsageError,
       "already exists"},
      {"save over an existing file with force", true, existing, true, platform::kDialogOk, ""},
      {"save refuses an over-long name", true, tooLong, true, platform::kDialogUsageError, "260"},
      // The name is shown, but not as terminal control sequences.
      {"save message shows a name safely", true, hostile, false, platform::kDialogUsageError,
       "a?[2Jb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The input is at its end: a dialog that wrongly asks reads nothing and
    // cancels instead of hanging.
    int in[2];
    int err[2];
    ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(err, O_CLOEXEC | O_NONBLOCK), 0);
    ::close(in[1]);
    DialogResult result;
    {
      TerminalUi ui(in[0], err[1]);
      EXPECT_FALSE(ui.canAsk());
      result = c.save ? ui.saveFileDialog(kSaveTitle, kFilter, c.given, c.force)
                      : ui.openFileDialog(kOpenTitle, kFilter, c.given);
    }
    EXPECT_EQ(result.status, c.status);
    if (c.status == platform::kDialogOk) {
      EXPECT_EQ(result.name, c.given);
    } else {
      EXPECT_EQ(result.name, "");
      EXPECT_NE(result.message.find(c.messagePart), std::string::npos) << result.message;
      EXPECT_EQ(result.message.find('\n'), std::string::npos);
      EXPECT_EQ(result.message.find('\x1b'), std::string::npos);
    }
    char buffer[64];
    EXPECT_LT(::read(err[0], buffer, sizeof buffer), 0) << "nothing is written without a terminal";
    for (int fd : {in[0], err[0], err[1]}) ::close(fd);
  }
}

// ---------------------------------------------------------------------------
// Dialogs on a pseudo-terminal: a child runs one dialog in the test's
// directory and prints its outcome; the parent answers the prompts.

struct Step {
  std::string await;  // text the terminal must show (this many times, see below)
  std::string reply;  // then typed
  std::size_t times = 1;
};

struct DialogCase {
  const char* what;
  bool save;
  const char* given;
  bool force;
  std::vector<Step> steps;
  int status;
  std::string name;  // "{dir}" stands for the test directory
};

std::string expandDir(std::string text, const std::string& dir) {
  const std::size_t at = text.find("{dir}");
  if (at != std::string::npos) text.replace(at, 5, dir);
  return text;
}

TEST(TerminalUiDialog, OnTerminalPromptsAreAnsweredCheckedAndCancelled) {
  const std::string openPrompt = "Select File to Convert (Reelcatalog *.rcx, ALL *.*): ";
  const std::string savePrompt = "Select Coverted File Name (Reelcatalog *.rcx, ALL *.*): ";
  const std::string replace = "\"old.rcx\" already exists. Replace it? [y/N] ";
  const std::string longName(platform::kMaxDialogName + 1, 'n');
  // clang-format off
  const DialogCase cases[] = {
      {"open: an answer names the file", false, "", false, {{openPrompt, "old.rcx\n"}},
       platform::kDialogOk, "old.rcx"},
      {"open: blanks around the answer are dropped", false, "", false,
       {{openPrompt, "  old.rcx \n"}}, platform::kDialogOk, "old.rcx"},
      {"open: an empty answer cancels", false, "", false, {{openPrompt, "\n"}},
       platform::kDialogCancelled, ""},
      {"open: end of input cancels", false, "", false, {{openPrompt, "\x04"}},
       platform::kDialogCancelled, ""},
      {"open: a missing file is asked again", false, "", false,
       {{openPrompt, "missing.rcx\n"}, {"File not found", ""}, {openPrompt, "old.rcx\n", 2}},
       platform::kDialogOk, "old.rcx"},
      {"open: a directory is asked again", false, "", false,
       {{openPrompt, "sub\n"}, {"is a directory", ""}, {openPrompt, "\n", 2}},
       platform::kDialogCancelled, ""},
      {"open: an over-long name is asked again", false, "", false,
       {{openPrompt, longName + "\n"}, {"at most 260 characters", ""}, {openPrompt, "\n", 2}},
       platform::kDialogCancelled, ""},
      {"open: home directory", false, "", false, {{openPrompt, "~/old.rcx\n"}},
       platform::kDialogOk, "{dir}/old.rcx"},
      {"save: a new name needs no question", true, "", false, {{savePrompt, "new.rcx\n"}},
       platform::kDialogOk, "new.rcx"},
      {"save: yes replaces a given file", true, "old.rcx", false, {{replace, "y\n"}},
       platform::kDialogOk, "old.rcx"},
      {"save: no asks for another name", true, "old.rcx", false,
       {{replace, "n\n"}, {savePrompt, "new.rcx\n"}}, platform::kDialogOk, "new.rcx"},
      {"save: the question is asked again until answered", true, "old.rcx", false,
       {{replace, "maybe\n"}, {"answer y or n", ""}, {replace, "yes\n", 2}},
       platform::kDialogOk, "old.rcx"},
      {"save: an answered name is confirmed too; no by default", true, "", false,
       {{savePrompt, "old.rcx\n"}, {replace, "\n"}, {savePrompt, "\n", 2}},
       platform::kDialogCancelled, ""},
      {"save: end of input at the question is no", true, "old.rcx", false,
       {{replace, "\x04"}, {savePrompt, "\n"}}, platform::kDialogCancelled, ""},
      {"save: force answers the question", true, "", true, {{savePrompt, "old.rcx\n"}},
       platform::kDialogOk, "old.rcx"},
      {"open: a given name is not asked for", false, "missing.rcx", false, {},
       platform::kDialogOk, "missing.rcx"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    support::TempDir dir;
    writeText(dir.file("old.rcx"), "x");
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0700), 0);
    PtyProcess child([&] {
      if (::chdir(dir.path().c_str()) != 0) return 3;
      ::setenv("HOME", dir.path().c_str(), 1);
      TerminalUi ui(STDIN_FILENO, STDERR_FILENO);
      if (!ui.canAsk()) return 4;
      const DialogResult r = c.save ? ui.saveFileDialog(kSaveTitle, kFilter, c.given, c.force)
                                    : ui.openFileDialog(kOpenTitle, kFilter, c.given);
      report(STDOUT_FILENO, outcome(r));
      return 0;
    });
    for (const Step& step : c.steps) {
      ASSERT_TRUE(child.waitFor(step.await, 10s, step.times))
          << "waiting for " << step.await << " in:\n"
          << child.output();
      if (!step.reply.empty()) {
        ASSERT_TRUE(child.send(step.reply));
      }
    }
    const DialogResult expected{c.status, expandDir(c.name, dir.path()), ""};
    EXPECT_TRUE(child.waitFor(outcome(expected))) << child.output();
    EXPECT_TRUE(child.wait().exitedWith(0));
    if (c.steps.empty()) {
      EXPECT_EQ(child.output(), outcome(expected));
    }
  }
}

// ---------------------------------------------------------------------------
// Progress line

constexpr std::uint64_t kRecords = 3'000'000;

TEST(TerminalUiProgress, DrawnInPlaceOnTerminalRateLimitedAndEndedWithNewline) {
  PtyProcess child([] {
    TerminalUi ui(STDIN_FILENO, STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    ui.openProgress(kPrompt, kRecords, false);
    for (std::uint64_t n = 1; n <= kRecords; ++n) ui.updateProgress(n);
    ui.finishProgress();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    report(STDOUT_FILENO, "[[" + std::to_string(elapsed.count()) + "ms]]");
    return 0;
  });
  ASSERT_TRUE(child.wait().exitedWith(0)) << child.output();
  const std::string& out = child.output();
  // The line appears at once with 0, and the final redraw shows the last
  // count, followed by the line end (which the terminal gives as "\r\n").
  EXPECT_EQ(out.rfind("\rConverting Record #:        0 of 3,000,000 (0%)", 0), 0u) << out;
  EXPECT_NE(out.find("\rConverting Record #: 3,000,000 of 3,000,000 (100%)\r\n[["),
            std::string::npos)
      << out;
  // At most five redraws a second, plus the first and the last.
  const std::size_t open = out.rfind("[[");
  const long elapsedMs = std::stol(out.substr(open + 2));
  const std::size_t draws = child.count("\rConverting Record #:");
  EXPECT_LE(draws, static_cast<std::size_t>(elapsedMs / 200 + 3)) << out;
}

TEST(TerminalUiProgress, NarrowTerminalGetsALineThatDoesNotWrap) {
  PtyOptions options;
  options.columns = 30;
  PtyProcess child(
      [] {
        TerminalUi ui(STDIN_FILENO, STDERR_FILENO);
        ui.openProgress(kPrompt, 5'000, false);
        ui.updateProgress(1'234);
        ui.finishProgress();
        return 0;
      },
      options);
  ASSERT_TRUE(child.wait().exitedWith(0));
  EXPECT_EQ(child.output(), "\rConverting Record #:        0\rConverting Record #:    1,234\r\n");
}

TEST(TerminalUiProgress, NothingDrawnWhenQuietOrErrorOutputIsNoTerminal) {
  const struct {
    const char* what;
    bool quiet;
    bool stderrIsTerminal;
  } cases[] = {
      {"quiet on a terminal", true, true},
      {"error output is a pipe", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyOptions options;
    options.stderrIsTerminal = c.stderrIsTerminal;
    PtyProcess child(
        [&] {
          TerminalUi ui(STDIN_FILENO, STDERR_FILENO);
          ui.openProgress(kPrompt, 10, c.quiet);
          for (std::uint64_t n = 1; n <= 10; ++n) ui.updateProgress(n);
          ui.finishProgress();
          return 0;
        },
        options);
    ASSERT_TRUE(child.wait().exitedWith(0));
    EXPECT_EQ(child.output(), "");
    EXPECT_EQ(child.pipedStderr(), "");
  }
}

// ---------------------------------------------------------------------------
// Message box

TEST(TerminalUiMessage, OnTerminalWaitsForEnterOrEndOfInput) {
  const struct {
    const char* what;
    const char* key;
  } cases[] = {
      {"Enter", "\n"},
      {"other keys, then Enter", "\x1bxyz\n"},
      {"end of input", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyProcess child([] {
      TerminalUi ui(STDIN_FILENO, STDERR_FILENO);
      ui.showError("Record Not Available" + std::string(60, ' '));
      report(STDOUT_FILENO, "[[returned]]");
      return 0;
    });
    ASSERT_TRUE(child.waitFor("Press Enter")) << child.output();
    EXPECT_EQ(child.output().rfind("Error: Record Not Available\r\n", 0), 0u) << child.output();
    EXPECT_TRUE(child.stillRunningAfter(300ms)) << "the message box must wait";
    EXPECT_EQ(child.count("[[returned]]"), 0u);
    if (c.key != nullptr) {
      ASSERT_TRUE(child.send(c.key));
    } else {
      child.sendEndOfInput();
    }
    EXPECT_TRUE(child.waitFor("[[returned]]")) << child.output();
    EXPECT_TRUE(child.wait().exitedWith(0));
  }
}

TEST(TerminalUiMessage, WithoutTerminalInputReturnsAtOnce) {
  PtyOptions options;
  options.stdinIsTerminal = false;  // a pipe that stays open and empty
  PtyProcess child(
      [] {
        TerminalUi ui(STDIN_FILENO, STDERR_FILENO);
        ui.showError("File Not Found");
        report(STDOUT_FILENO, "[[returned]]");
        return 0;
      },
      options);
  EXPECT_TRUE(child.wait(10s).exitedWith(0)) << child.output();
  EXPECT_EQ(child.output(), "Error: File Not Found\r\n[[returned]]");
}

TEST(TerminalUiMessage, StartsOnItsOwnLineAfterTheProgressLine) {
  PtyOptions options;
  options.stdinIsTerminal = false;
  PtyProcess child(
      [] {
        TerminalUi ui(STDIN_FILENO, STDERR_FILENO);
        ui.openProgress(kPrompt, std::nullopt, false);
        ui.updateProgress(5);
        ui.showError("Handle Disk Full");
        ui.finishProgress();  // the count shown stands: no second line
        return 0;
      },
      options);
  ASSERT_TRUE(child.wait(10s).exitedWith(0));
  EXPECT_EQ(child.output(),
            "\rConverting Record #:        0\rConverting Record #:        5\r\n"
            "Error: Handle Disk Full\r\n");
}

}  // namespace
