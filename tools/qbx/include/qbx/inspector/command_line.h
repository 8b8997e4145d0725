// The qbx command line: a subcommand, its file and table, and its options.
//
//   qbx info FILE [--password P] [--json]
//   qbx tables FILE [--password P] [--json]
//   qbx schema FILE [TABLE] [--password P]
//   qbx dump FILE [TABLE] [--key LABEL] [--format csv|jsonl] [--limit N] [--password P]
//   qbx check FILE [--password P]
//   qbx sample FILE --records N [--seed S] [--layout old|new] [--force]
//   qbx --help | --version | COMMAND --help
//
// Options take their value as the next argument or after "=" (--limit=10).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "convert23/catalogue_file.h"

namespace qbx::inspector {

enum class Action { kInfo, kTables, kSchema, kDump, kCheck, kSample, kHelp, kVersion, kUsageError };
enum class DumpFormat { kCsv, kJsonl };

struct Command {
  Action action = Action::kUsageError;
  // kHelp: the subcommand whose help was asked for (kHelp for the whole program).
  Action helpFor = Action::kHelp;
  std::string file;
  std::optional<std::string> table;
  std::string password;
  bool json = false;
  std::optional<std::string> key;
  DumpFormat format = DumpFormat::kCsv;
  std::optional<std::uint64_t> limit;
  std::optional<std::uint32_t> records;
  std::uint64_t seed = 1;
  convert23::Layout layout = convert23::Layout::kOld;
  bool force = false;
  std::string message;  // kUsageError: one line without a line end
};

// Parses the arguments after the program name.
Command parseCommand(std::span<const std::string_view> args);

// The help text of the program, or of one subcommand.
std::string_view helpText(Action action);

}  // namespace qbx::inspector
