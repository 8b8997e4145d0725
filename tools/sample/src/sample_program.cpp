#include "qbx/sample/sample_program.h"

#include <charconv>
#include <cstdio>
#include <optional>

#include "platform/paths.h"

namespace qbx::sample {

namespace {

SampleCommand usageError(std::string message) {
  SampleCommand command;
  command.action = SampleCommand::Action::kUsageError;
  command.message = std::move(message);
  return command;
}

template <typename T>
std::optional<T> parseNumber(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

std::string_view layoutName(convert23::Layout layout) {
  return layout == convert23::Layout::kNew ? "new layout" : "old layout";
}

}  // namespace

SampleCommand parseSampleCommand(std::span<const std::string_view> args) {
  SampleCommand command;
  bool count = false;
  bool recordsGiven = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      command.files.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      command.action = SampleCommand::Action::kHelp;
      return command;
    }
    if (arg == "--version" || arg == "-V") {
      command.action = SampleCommand::Action::kVersion;
      continue;
    }
    if (arg == "--count") {
      count = true;
      continue;
    }
    if (arg == "--force" || arg == "-f") {
      command.force = true;
      continue;
    }
    // Options with a value.
    std::string_view name = arg;
    std::optional<std::string_view> value;
    if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name != "--records" && name != "--seed" && name != "--layout") {
      return usageError("unknown option " + std::string(name));
    }
    if (!value) {
      if (i + 1 >= args.size()) return usageError(std::string(name) + " needs a value");
      value = args[++i];
    }
    if (name == "--records") {
      const auto records = parseNumber<std::uint32_t>(*value);
      if (!records) return usageError("--records wants a number from 0 to 4294967295");
      command.options.records = *records;
      recordsGiven = true;
    } else if (name == "--seed") {
      const auto seed = parseNumber<std::uint64_t>(*value);
      if (!seed) return usageError("--seed wants a whole number");
      command.options.seed = *seed;
    } else if (*value == "old") {
      command.options.layout = convert23::Layout::kOld;
    } else if (*value == "new") {
      command.options.layout = convert23::Layout::kNew;
    } else {
      return usageError("--layout is old or new");
    }
  }
  if (command.action == SampleCommand::Action::kVersion) return command;
  if (count) {
    if (command.files.empty()) return usageError("--count needs at least one FILE");
    command.action = SampleCommand::Action::kCount;
    return command;
  }
  if (command.files.size() != 1) return usageError("give exactly one FILE to write");
  if (!recordsGiven) return usageError("--records N is needed");
  return command;
}

std::string_view sampleHelpText() {
  return "Usage: qbx-sample FILE --records N [--seed S] [--layout old|new] [--force]\n"
         "       qbx-sample --count FILE...\n"
         "Writes a sample Reelcatalog movie catalogue of N records to FILE, with its\n"
         "keys built: titles in mixed case with duplicates and sequels, genres, stars,\n"
         "directors, values, and the blank fields a real catalogue has. The same seed\n"
         "and size always give the same records.\n"
         "\n"
         "  --records N       the number of movies\n"
         "  --seed S          the seed of the sample (default 1)\n"
         "  --layout old|new  the record layout: old (value a whole number, the\n"
         "                    default) or new (value a decimal with two places)\n"
         "  -f, --force       replace FILE when it exists\n"
         "  --count           show the number of records of each FILE and its layout\n"
         "  -h, --help        show this help and exit\n"
         "  -V, --version     show the version and exit\n"
         "\n"
         "Exit status: 0 on success, 1 when a file operation failed, 2 for a usage\n"
         "error.\n";
}

int runSampleProgram(std::span<const char* const> argv, fileaccess::DriverEntryFn entry) {
  std::vector<std::string_view> args;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] != nullptr) args.emplace_back(argv[i]);
  }
  const SampleCommand command = parseSampleCommand(args);
  switch (command.action) {
    case SampleCommand::Action::kHelp:
      std::fputs(sampleHelpText().data(), stdout);
      return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    case SampleCommand::Action::kVersion:
#ifdef QBX_VERSION
      std::fputs("qbx-sample (QBX) " QBX_VERSION "\n", stdout);
#else
      std::fputs("qbx-sample (QBX)\n", stdout);
#endif
      return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    case SampleCommand::Action::kUsageError:
      std::fprintf(stderr, "qbx-sample: %s (see qbx-sample --help)\n", command.message.c_str());
      return kExitUsage;
    case SampleCommand::Action::kCount: {
      int status = kExitOk;
      for (const std::string& file : command.files) {
        convert23::Layout layout = convert23::Layout::kOld;
        const SampleResult result = countRecords(file, entry, &layout);
        if (result.error != 0) {
          std::fprintf(stderr, "qbx-sample: %s: Error: %s\n", file.c_str(),
                       result.errorText.c_str());
          status = kExitFailed;
          continue;
        }
        std::printf("%s: %u records (%s)\n", file.c_str(), result.records,
                    layoutName(layout).data());
      }
      return std::fflush(stdout) == 0 ? status : kExitFailed;
    }
    case SampleCommand::Action::kWrite:
      break;
  }

  const std::string& file = command.files.front();
  if (!command.force && platform::exists(file)) {
    std::fprintf(stderr,
                 "qbx-sample: %s exists and is replaced only with --force (see qbx-sample "
                 "--help)\n",
                 file.c_str());
    return kExitUsage;
  }
  const SampleResult result = writeSample(file, command.options, entry);
  if (result.error != 0) {
    std::fprintf(stderr, "qbx-sample: %s: Error: %s (after %u records)\n", file.c_str(),
                 result.errorText.c_str(), result.records);
    return kExitFailed;
  }
  std::printf("%s: %u records written (%s, seed %llu)\n", file.c_str(), result.records,
              layoutName(command.options.layout).data(),
              static_cast<unsigned long long>(command.options.seed));
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

}  // namespace qbx::sample
