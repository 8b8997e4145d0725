#include "qbx/inspector/program.h"

#include <string>
#include <vector>

#include "commands.h"
#include "text_output.h"

#ifndef QBX_VERSION
#define QBX_VERSION "unknown"
#endif

namespace qbx::inspector {

bool Output::flush() {
  if (!buffer_.empty() && !failed_) {
    failed_ = std::fwrite(buffer_.data(), 1, buffer_.size(), stream_) != buffer_.size();
  }
  buffer_.clear();
  if (!failed_) failed_ = std::fflush(stream_) != 0;
  return !failed_;
}

int exitStatusOf(int code) {
  switch (code) {
    case kErrInvalidDataFile:
    case kErrInvalidRecordDeclaration:
    case kErrFileSystemError:
      return kExitDamaged;
    default:
      return code == 0 ? kExitOk : kExitUsage;
  }
}

void reportError(std::FILE* err, const std::string& file, int code, int internalError) {
  std::string line =
      "qbx: " + printable(file) + ": error " + std::to_string(code) + " " + errorText(code);
  if (internalError != 0) line += " (internal error " + std::to_string(internalError) + ")";
  line += "\n";
  std::fputs(line.c_str(), err);
}

bool openDatabase(const Command& command, Database& db, std::FILE* err, int* status) {
  const int result = db.open(command.file, command.password);
  if (result == 0) return true;
  reportError(err, command.file, result, db.internalError());
  *status = exitStatusOf(result);
  return false;
}

bool chooseTable(const Command& command, Database& db, std::FILE* err, std::string* table,
                 int* status) {
  if (command.table) {
    *table = *command.table;
    return true;
  }
  if (const int result = db.defaultTable(table); result != 0) {
    reportError(err, command.file, result, db.internalError());
    *status = exitStatusOf(result);
    return false;
  }
  if (!table->empty()) return true;
  std::vector<TableInfo> tables;
  static_cast<void>(db.tables(&tables));
  std::string line = "qbx: " + printable(command.file) + ": name a table:";
  for (const TableInfo& t : tables) line += " " + printable(t.name);
  line += "\n";
  std::fputs(line.c_str(), err);
  *status = kExitUsage;
  return false;
}

int runInspector(std::span<const char* const> argv, std::FILE* out, std::FILE* err) {
  std::vector<std::string_view> args;
  for (std::size_t i = 1; i < argv.size(); ++i) args.emplace_back(argv[i]);
  const Command command = parseCommand(args);
  switch (command.action) {
    case Action::kUsageError:
      std::fputs(("qbx: " + command.message + "\n").c_str(), err);
      std::fputs("Try 'qbx --help'.\n", err);
      return kExitUsage;
    case Action::kHelp:
      std::fputs(std::string(helpText(command.helpFor)).c_str(), out);
      return std::fflush(out) == 0 ? kExitOk : kExitUsage;
    case Action::kVersion:
      std::fputs("qbx " QBX_VERSION "\n", out);
      return std::fflush(out) == 0 ? kExitOk : kExitUsage;
    case Action::kInfo:
      return runInfo(command, out, err);
    case Action::kTables:
      return runTables(command, out, err);
    case Action::kSchema:
      return runSchema(command, out, err);
    case Action::kDump:
      return runDump(command, out, err);
    case Action::kCheck:
      return runCheck(command, out, err);
    case Action::kSample:
      return runSample(command, out, err);
  }
  return kExitUsage;
}

}  // namespace qbx::inspector
