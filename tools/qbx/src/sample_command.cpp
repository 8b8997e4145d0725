// qbx sample: a sample movie catalogue, written by the sample generator
// through the driver as any program writes a catalogue.
#include "commands.h"
#include "platform/paths.h"
#include "qbx/driver/driver_entry.h"
#include "qbx/sample/movie_sample.h"
#include "text_output.h"

namespace qbx::inspector {

int runSample(const Command& command, std::FILE* outStream, std::FILE* err) {
  if (!command.force && platform::exists(command.file)) {
    std::fputs(
        ("qbx: " + printable(command.file) + " exists and is replaced only with --force\n").c_str(),
        err);
    return kExitUsage;
  }
  sample::SampleOptions options;
  options.records = command.records.value_or(0);
  options.seed = command.seed;
  options.layout = command.layout;
  const sample::SampleResult result =
      sample::writeSample(command.file, options, &driver::DriverEntry);
  if (result.error != 0) {
    std::fputs(
        ("qbx: " + printable(command.file) + ": error " + std::to_string(result.error) + " " +
         result.errorText + " (after " + std::to_string(result.records) + " records)\n")
            .c_str(),
        err);
    return exitStatusOf(result.error);
  }
  Output out(outStream);
  out << printable(command.file) << ": " << std::to_string(result.records) << " records written ("
      << (command.layout == convert23::Layout::kOld ? "old layout" : "new layout") << ", seed "
      << std::to_string(command.seed) << ")\n";
  return out.flush() ? kExitOk : kExitUsage;
}

}  // namespace qbx::inspector
