// The conversion run: the procedure that asks for the catalogue to convert
// and for the converted file's name, opens the old file under REELCATALOG1,
// creates and opens the new one under REELCATALOG2, copies every record in
// record-number order through AssignRecord while the progress line counts
// them, flushes both files, builds the new file's keys and closes both.
//
// All file work goes through the file access layer (fileaccess::Call) on the
// two FileBlocks; a failed operation at a checked point is shown through
// CheckError ("Error: " and the error's text) and ends the procedure. Files
// still open then are closed by program end (fileaccess::programEnd), which
// the caller runs after the procedure returns.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/terminal_ui.h"

namespace convert23 {

inline constexpr std::string_view kSourceDialogTitle = "Select File to Convert";
inline constexpr std::string_view kTargetDialogTitle = "Select Coverted File Name";
inline constexpr std::string_view kDialogFilter = "Reelcatalog|*.rcx|ALL|*.*";
inline constexpr std::string_view kProgressPrompt = "Converting Record #:";

// OPEN's access mode for both files: read and write, others may read but not
// write.
inline constexpr std::int32_t kAccessReadWriteDenyWrite = 0x22;
// NEXT's end of the sequence: "Record Not Available".
inline constexpr std::int32_t kRecordNotAvailable = 33;

struct ConversionOptions {
  std::string source;  // from the command line; empty: ask
  std::string target;
  bool force = false;  // replace an existing target without asking
  bool quiet = false;  // no progress line
};

enum class RunEnd {
  kFinished,    // the procedure ran to its end
  kErrorShown,  // an error was shown through CheckError
  kUsageError,  // the names could not be had; nothing was opened or created
};

struct RunResult {
  RunEnd end = RunEnd::kFinished;
  std::string usageMessage;  // for kUsageError: one line without a line end
};

class ConversionRun {
 public:
  // messages is the stream the UI writes to (the error output), for the
  // lines the run adds to the dialogs.
  ConversionRun(platform::TerminalUi& ui, std::FILE* messages, ConversionOptions options);

  // The procedure, steps 1 to 13. The driver entry of both FileBlocks must
  // be set and the program data cleared before it runs.
  RunResult run();

  // 0 when ERRORCODE is 0; otherwise shows "Error: " and ERROR (trailing
  // spaces cut), waits for the OK when someone can press it, and returns
  // ERRORCODE. The error state is the same afterwards as before.
  int CheckError();

 private:
  // Steps 1 and 2: the two dialogs, assigning the names chosen. Returns
  // false with result_ set for a usage error.
  bool chooseNames();
  // Opens the progress line, with the source's record count as its total
  // when the line is drawn at all.
  void openProgressWindow();

  platform::TerminalUi& ui_;
  std::FILE* messages_;
  ConversionOptions options_;
  RunResult result_;
};

}  // namespace convert23
