#include "convert23/conversion.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "convert23/catalogue.h"
#include "convert23/same_table.h"
#include "fileaccess/call.h"
#include "fileaccess/declarations.h"
#include "fileaccess/driver_op.h"
#include "fileaccess/error_state.h"

namespace convert23 {

using fileaccess::Call;
using fileaccess::DriverOp;
using fileaccess::ERRORCODE;

namespace {

// Assigns a chosen name to a name variable, space padded. The dialogs never
// choose a name longer than the variable.
void assignName(char (&variable)[kNameLength], const std::string& name) {
  std::fill(std::begin(variable), std::end(variable), ' ');
  std::copy_n(name.begin(), std::min(name.size(), kNameLength), std::begin(variable));
}

std::string_view nameOf(const char (&variable)[kNameLength]) {
  const std::string_view name(variable, kNameLength);
  const std::size_t end = name.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : name.substr(0, end + 1);
}

}  // namespace

ConversionRun::ConversionRun(platform::TerminalUi& ui, std::FILE* messages,
                             ConversionOptions options)
    : ui_(ui), messages_(messages), options_(std::move(options)) {}

int ConversionRun::CheckError() {
  const int code = ERRORCODE();
  if (code == 0) return 0;
  const std::string text(fileaccess::ERROR());
  {
    // Showing the message changes nothing of the error state.
    fileaccess::ErrorStateGuard keep;
    ui_.showError(text);
  }
  return code;
}

bool ConversionRun::chooseNames() {
  // 1. The open-file dialog. Cancel leaves SOURCENAME blank; OPEN then
  // reports the blank name.
  const platform::DialogResult source =
      ui_.openFileDialog(kSourceDialogTitle, kDialogFilter, options_.source);
  if (source.status == platform::kDialogUsageError) {
    result_ = RunResult{RunEnd::kUsageError, source.message};
    return false;
  }
  if (source.status == platform::kDialogOk) assignName(SOURCENAME, source.name);

  // 2. The save-file dialog. CREATE would empty the table being converted,
  // so the source itself is refused as the target: a name from the command
  // line ends the run before anything is opened, an answer at the prompt is
  // asked for again.
  std::string given = options_.target;
  for (;;) {
    const platform::DialogResult target =
        ui_.saveFileDialog(kTargetDialogTitle, kDialogFilter, given, options_.force);
    if (target.status == platform::kDialogUsageError) {
      result_ = RunResult{RunEnd::kUsageError, target.message};
      return false;
    }
    if (target.status != platform::kDialogOk) return true;  // TARGETNAME stays as it was
    if (!sameTable(nameOf(SOURCENAME), target.name)) {
      assignName(TARGETNAME, target.name);
      return true;
    }
    std::string refusal(1, '"');
    refusal += platform::printable(target.name);
    refusal += "\" is the file being converted; the converted file needs a name of its own";
    if (!given.empty() || !ui_.canAsk()) {
      result_ = RunResult{RunEnd::kUsageError, refusal};
      return false;
    }
    std::fputs((refusal + ".\n").c_str(), messages_);
    std::fflush(messages_);
    given.clear();
  }
}

void ConversionRun::openProgressWindow() {
  std::optional<std::uint64_t> total;
  if (!options_.quiet && ui_.canDraw()) {
    // The total beside the count. RECORDS posts when it fails; the run's
    // error state is kept as it was.
    fileaccess::ErrorStateGuard keep;
    fileaccess::clearError();
    const int records = Call(DriverOp::kRecordsFile, REELCATALOG1);
    if (ERRORCODE() == 0) total = static_cast<std::uint32_t>(records);
  }
  ui_.openProgress(kProgressPrompt, total, options_.quiet);
}

RunResult ConversionRun::run() {
  result_ = RunResult{};
  const RunResult errorShown{RunEnd::kErrorShown, {}};

  if (!chooseNames()) return result_;

  // 3. The source, read and write, others may read but not write.
  static_cast<void>(Call(DriverOp::kOpen, REELCATALOG1, kAccessReadWriteDenyWrite));
  if (CheckError() != 0) return errorShown;
  // 4. Record-number order from the first record. When this fails the first
  // NEXT reports it.
  static_cast<void>(Call(DriverOp::kSetFile, REELCATALOG1));
  // 5, 6. The target: created (replacing the table of an existing file),
  // then opened like the source.
  static_cast<void>(Call(DriverOp::kCreate, REELCATALOG2));
  if (CheckError() != 0) return errorShown;
  static_cast<void>(Call(DriverOp::kOpen, REELCATALOG2, kAccessReadWriteDenyWrite));
  if (CheckError() != 0) return errorShown;
  // 7. Both streamed: pages are committed in batches and at FLUSH. Without
  // streaming the run goes on committing every operation.
  static_cast<void>(Call(DriverOp::kStream, REELCATALOG1));
  static_cast<void>(Call(DriverOp::kStream, REELCATALOG2));
  // 8.
  openProgressWindow();

  // 9. The copy loop, until NEXT reaches the end of the sequence. A NEXT
  // that fails otherwise leaves no record in the buffer: the run ends with
  // the error shown, and program end closes the target with the records
  // appended so far.
  for (;;) {
    static_cast<void>(Call(DriverOp::kNext, REELCATALOG1));
    const int read = ERRORCODE();
    if (read == kRecordNotAvailable) break;
    if (read != 0) {
      static_cast<void>(CheckError());
      return errorShown;
    }
    AssignRecord();
    static_cast<void>(Call(DriverOp::kAppend, REELCATALOG2));
    if (CheckError() != 0) return errorShown;
    ++COUNT;
    ui_.updateProgress(COUNT);
  }
  ui_.finishProgress();

  // 10 to 12. A failure of the target here would lose records or keys
  // without a word, so each is checked; the source's are not, since it is
  // only read.
  static_cast<void>(Call(DriverOp::kFlush, REELCATALOG1));
  static_cast<void>(Call(DriverOp::kFlush, REELCATALOG2));
  if (CheckError() != 0) return errorShown;
  static_cast<void>(Call(DriverOp::kBuildFile, REELCATALOG2));
  if (CheckError() != 0) return errorShown;
  static_cast<void>(Call(DriverOp::kClose, REELCATALOG1));
  static_cast<void>(Call(DriverOp::kClose, REELCATALOG2));
  if (CheckError() != 0) return errorShown;
  // 13.
  return result_;
}

}  // namespace convert23
