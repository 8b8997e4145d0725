// qbx check: problems on standard output, one a line, then the summary line;
// notes on standard error.
#include "commands.h"
#include "qbx/inspector/integrity_check.h"
#include "text_output.h"

namespace qbx::inspector {
namespace {

class PrintingSink final : public CheckSink {
 public:
  PrintingSink(Output& out, std::FILE* err) : out_(out), err_(err) {}
  void problem(std::string_view text) override { out_ << text << "\n"; }
  void note(std::string_view text) override {
    std::fputs(("qbx: note: " + std::string(text) + "\n").c_str(), err_);
  }

 private:
  Output& out_;
  std::FILE* err_;
};

std::string plural(std::uint64_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace

int runCheck(const Command& command, std::FILE* outStream, std::FILE* err) {
  Output out(outStream);
  PrintingSink sink(out, err);
  CheckSummary summary;
  if (const int result = checkFile(command.file, command.password, sink, &summary); result != 0) {
    out.flush();
    reportError(err, command.file, result);
    return kExitUsage;
  }
  out << printable(command.file) << ": " << plural(summary.problems, "problem", "problems") << " ("
      << plural(summary.pages, "page", "pages") << ", "
      << plural(summary.entries, "entry", "entries") << ", "
      << plural(summary.tables, "table", "tables") << ", "
      << plural(summary.records, "record", "records") << ", "
      << plural(summary.keyEntries, "key entry", "key entries") << ")\n";
  if (!out.flush()) return kExitUsage;
  return summary.problems == 0 ? kExitOk : kExitDamaged;
}

}  // namespace qbx::inspector
