#include "qbx/inspector/command_line.h"

#include <charconv>
#include <vector>

namespace qbx::inspector {
namespace {

struct CommandName {
  std::string_view name;
  Action action;
};

constexpr CommandName kCommands[] = {
    {"info", Action::kInfo}, {"tables", Action::kTables}, {"schema", Action::kSchema},
    {"dump", Action::kDump}, {"check", Action::kCheck},   {"sample", Action::kSample},
};

// Options and the subcommands that take them.
struct OptionSpec {
  std::string_view name;
  bool takesValue;
  std::vector<Action> commands;
};

const std::vector<OptionSpec>& optionSpecs() {
  static const std::vector<OptionSpec> knownOptions = {
      {"--password",
       true,
       {Action::kInfo, Action::kTables, Action::kSchema, Action::kDump, Action::kCheck}},
      {"--json", false, {Action::kInfo, Action::kTables}},
      {"--key", true, {Action::kDump}},
      {"--format", true, {Action::kDump}},
      {"--limit", true, {Action::kDump}},
      {"--records", true, {Action::kSample}},
      {"--seed", true, {Action::kSample}},
      {"--layout", true, {Action::kSample}},
      {"--force", false, {Action::kSample}},
  };
  return knownOptions;
}

Command usageError(std::string message) {
  Command c;
  c.action = Action::kUsageError;
  c.message = std::move(message);
  return c;
}

template <typename T>
bool parseNumber(std::string_view text, T* out) {
  if (text.empty()) return false;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

std::string_view commandName(Action a) {
  for (const CommandName& c : kCommands) {
    if (c.action == a) return c.name;
  }
  return "qbx";
}

// Takes the value of one option into the command; false with a message.
bool applyOption(Command& c, std::string_view name, std::string_view value) {
  if (name == "--password") {
    c.password = std::string(value);
  } else if (name == "--json") {
    c.json = true;
  } else if (name == "--key") {
    c.key = std::string(value);
  } else if (name == "--format") {
    if (value == "csv") {
      c.format = DumpFormat::kCsv;
    } else if (value == "jsonl") {
      c.format = DumpFormat::kJsonl;
    } else {
      c.message = "--format takes csv or jsonl, not \"" + std::string(value) + "\"";
      return false;
    }
  } else if (name == "--limit") {
    std::uint64_t n = 0;
    if (!parseNumber(value, &n)) {
      c.message = "--limit takes a number of records, not \"" + std::string(value) + "\"";
      return false;
    }
    c.limit = n;
  } else if (name == "--records") {
    std::uint32_t n = 0;
    if (!parseNumber(value, &n)) {
      c.message = "--records takes a number of records, not \"" + std::string(value) + "\"";
      return false;
    }
    c.records = n;
  } else if (name == "--seed") {
    if (!parseNumber(value, &c.seed)) {
      c.message = "--seed takes a number, not \"" + std::string(value) + "\"";
      return false;
    }
  } else if (name == "--layout") {
    if (value == "old") {
      c.layout = convert23::Layout::kOld;
    } else if (value == "new") {
      c.layout = convert23::Layout::kNew;
    } else {
      c.message = "--layout takes old or new, not \"" + std::string(value) + "\"";
      return false;
    }
  } else if (name == "--force") {
    c.force = true;
  }
  return true;
}

}  // namespace

Command parseCommand(std::span<const std::string_view> args) {
  if (args.empty())
    return usageError("a command is missing (info, tables, schema, dump, check, sample)");
  const std::string_view first = args[0];
  if (first == "--help" || first == "-h" || first == "help") {
    Command c;
    c.action = Action::kHelp;
    if (first == "help" && args.size() > 1) {
      for (const CommandName& n : kCommands) {
        if (n.name == args[1]) c.helpFor = n.action;
      }
    }
    return c;
  }
  if (first == "--version") {
    Command c;
    c.action = Action::kVersion;
    return c;
  }
  Command c;
  bool known = false;
  for (const CommandName& n : kCommands) {
    if (n.name == first) {
      c.action = n.action;
      known = true;
    }
  }
  if (!known) return usageError("unknown command \"" + std::string(first) + "\"");

  std::vector<std::string_view> positional;
  bool optionsEnd = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!optionsEnd && arg == "--") {
      optionsEnd = true;
      continue;
    }
    if (optionsEnd || arg.size() < 2 || arg.substr(0, 2) != "--") {
      if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
        return usageError("unknown option \"" + std::string(arg) + "\"");
      }
      positional.push_back(arg);
      continue;
    }
    if (arg == "--help") {
      Command h;
      h.action = Action::kHelp;
      h.helpFor = c.action;
      return h;
    }
    const std::size_t eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const OptionSpec* matched = nullptr;
    for (const OptionSpec& s : optionSpecs()) {
      if (s.name == name) matched = &s;
    }
    if (matched == nullptr) return usageError("unknown option \"" + std::string(name) + "\"");
    bool forThis = false;
    for (Action a : matched->commands) forThis = forThis || a == c.action;
    if (!forThis) {
      return usageError(std::string(commandName(c.action)) + " takes no option " +
                        std::string(name));
    }
    std::string_view value;
    if (matched->takesValue) {
      if (eq != std::string_view::npos) {
        value = arg.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return usageError(std::string(name) + " needs a value");
      }
    } else if (eq != std::string_view::npos) {
      return usageError(std::string(name) + " takes no value");
    }
    if (!applyOption(c, name, value)) return usageError(c.message);
  }

  const std::size_t most = c.action == Action::kSchema || c.action == Action::kDump ? 2 : 1;
  if (positional.empty())
    return usageError(std::string(commandName(c.action)) + ": FILE is missing");
  if (positional.size() > most) {
    return usageError(std::string(commandName(c.action)) + ": unexpected argument \"" +
                      std::string(positional[most]) + "\"");
  }
  c.file = std::string(positional[0]);
  if (positional.size() > 1) c.table = std::string(positional[1]);
  if (c.action == Action::kSample && !c.records) {
    return usageError("sample: --records N is missing");
  }
  return c;
}

std::string_view helpText(Action action) {
  switch (action) {
    case Action::kInfo:
      return "usage: qbx info FILE [--password P] [--json]\n"
             "Shows the file header (length, logical end, change count, record number\n"
             "counter, root page, pending log), the pages of each size class, the depth\n"
             "of the entry tree, and per table its name, number, record count, record\n"
             "length and number of keys.\n";
    case Action::kTables:
      return "usage: qbx tables FILE [--password P] [--json]\n"
             "One line per table: its name, number and record count.\n";
    case Action::kSchema:
      return "usage: qbx schema FILE [TABLE] [--password P]\n"
             "The stored definition of the table (of every table when none is named)\n"
             "in the declaration language.\n";
    case Action::kDump:
      return "usage: qbx dump FILE [TABLE] [--key LABEL] [--format csv|jsonl] [--limit N]\n"
             "                [--password P]\n"
             "The records of the table in record-number order, or in the order of the\n"
             "key LABEL, with their fields decoded by the stored definition: CSV with a\n"
             "header row (the default) or one JSON object per line. TABLE may be left\n"
             "out when the file has one table, or a table UNNAMED.\n";
    case Action::kCheck:
      return "usage: qbx check FILE [--password P]\n"
             "Reads every page of the file and checks the header and the page regions,\n"
             "every page image, the order and separators of the entry tree, every\n"
             "table's definition, the record and key counts, and for every complete key\n"
             "that its entries are exactly those its records form. One line per problem\n"
             "and a summary line; exit status 1 when there are problems. The file is\n"
             "opened for reading only, others sharing it.\n";
    case Action::kSample:
      return "usage: qbx sample FILE --records N [--seed S] [--layout old|new] [--force]\n"
             "Writes a sample movie catalogue of N records (old layout unless asked),\n"
             "the same file for the same seed. An existing FILE is replaced only with\n"
             "--force.\n";
    default:
      return "usage: qbx COMMAND FILE [options]\n"
             "Looks into, dumps, checks and generates QBX files.\n"
             "\n"
             "commands:\n"
             "  info FILE [--password P] [--json]        header, pages and tables\n"
             "  tables FILE [--password P] [--json]      name, number and records of each table\n"
             "  schema FILE [TABLE] [--password P]       stored definitions as declarations\n"
             "  dump FILE [TABLE] [--key LABEL] [--format csv|jsonl] [--limit N]\n"
             "                                           the records of a table\n"
             "  check FILE [--password P]                a full integrity check\n"
             "  sample FILE --records N [--seed S] [--layout old|new] [--force]\n"
             "                                           a sample movie catalogue\n"
             "\n"
             "qbx COMMAND --help shows a command's help. Exit status: 0 success, 1 the\n"
             "file is damaged (check found problems, or a command met damage), 2 a usage\n"
             "error or a file that cannot be opened.\n";
  }
}

}  // namespace qbx::inspector
