#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "convert23/program.h"

namespace convert23 {
namespace {

using Action = CommandLine::Action;

struct Case {
  std::vector<std::string_view> args;
  Action action;
  std::string source;
  std::string target;
  bool force;
  bool quiet;
};

TEST(CommandLine, OptionsAndNames) {
  const std::vector<Case> cases = {
      {{}, Action::kConvert, "", "", false, false},
      {{"old.rcx"}, Action::kConvert, "old.rcx", "", false, false},
      {{"old.rcx", "new.rcx"}, Action::kConvert, "old.rcx", "new.rcx", false, false},
      {{"--force", "a", "b"}, Action::kConvert, "a", "b", true, false},
      {{"a", "--quiet", "b", "-f"}, Action::kConvert, "a", "b", true, true},
      {{"-fq", "a"}, Action::kConvert, "a", "", true, true},
      // After "--" every argument is a name, also one that looks like an option.
      {{"--", "-f", "--quiet"}, Action::kConvert, "-f", "--quiet", false, false},
      // A lone "-" is a name.
      {{"-", "b"}, Action::kConvert, "-", "b", false, false},
      {{"--help", "a", "b", "c"}, Action::kHelp, "", "", false, false},
      {{"-h"}, Action::kHelp, "", "", false, false},
      {{"--version"}, Action::kVersion, "", "", false, false},
      {{"-V", "--help"}, Action::kHelp, "", "", false, false},
      {{"--help", "-V"}, Action::kHelp, "", "", false, false},
      {{"--frce"}, Action::kUsageError, "", "", false, false},
      {{"-x"}, Action::kUsageError, "", "", false, false},
      {{"-fx"}, Action::kUsageError, "", "", false, false},
      {{"a", "b", "c"}, Action::kUsageError, "", "", false, false},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto arg : c.args) shown += std::string(arg) + " ";
    SCOPED_TRACE(shown);
    const CommandLine line = parseCommandLine(c.args);
    EXPECT_EQ(line.action, c.action);
    if (c.action == Action::kUsageError) {
      EXPECT_FALSE(line.message.empty());
      EXPECT_EQ(line.message.find('\n'), std::string::npos);
      continue;
    }
    if (c.action != Action::kConvert) continue;
    EXPECT_EQ(line.options.source, c.source);
    EXPECT_EQ(line.options.target, c.target);
    EXPECT_EQ(line.options.force, c.force);
    EXPECT_EQ(line.options.quiet, c.quiet);
  }
}

}  // namespace
}  // namespace convert23
