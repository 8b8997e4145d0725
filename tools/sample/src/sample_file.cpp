// Writing and counting catalogue files through the file access layer.
#include <string>

#include "fileaccess/call.h"
#include "fileaccess/driver_op.h"
#include "fileaccess/error_state.h"
#include "qbx/sample/movie_sample.h"

namespace qbx::sample {

using fileaccess::Call;
using fileaccess::DriverOp;

namespace {

// Access modes: read and write denying others all access while the sample
// is written; read only, others free, for counting.
constexpr std::int32_t kWriteDenyAll = 0x12;
constexpr std::int32_t kReadDenyNone = 0x40;
constexpr int kInvalidFilename = 45;
constexpr int kInvalidRecordDeclaration = 47;

// The error posted by the last operation, when there is one, as the result.
bool failed(SampleResult& result) {
  const int code = fileaccess::ERRORCODE();
  if (code == 0) return false;
  result.error = code;
  const std::string_view text = fileaccess::ERROR();
  const std::size_t end = text.find_last_not_of(' ');
  result.errorText = end == std::string_view::npos ? "" : std::string(text.substr(0, end + 1));
  return true;
}

SampleResult badName() {
  SampleResult result;
  result.error = kInvalidFilename;
  result.errorText = fileaccess::errorText(kInvalidFilename);
  return result;
}

// Closes an open file on the way out of an error, keeping the first error.
void closeAfterError(convert23::CatalogueFile& file) {
  fileaccess::ErrorStateGuard keep;
  static_cast<void>(Call(DriverOp::kClose, file.block()));
}

}  // namespace

SampleResult writeSample(const std::string& path, const SampleOptions& options,
                         fileaccess::DriverEntryFn entry) {
  convert23::CatalogueFile file(options.layout, fileaccess::kAttrCreate);
  file.block().driverEntry = entry;
  if (!file.setName(path)) return badName();
  fileaccess::clearError();

  SampleResult result;
  static_cast<void>(Call(DriverOp::kCreate, file.block()));
  if (failed(result)) return result;
  static_cast<void>(Call(DriverOp::kOpen, file.block(), kWriteDenyAll));
  if (failed(result)) return result;
  static_cast<void>(Call(DriverOp::kStream, file.block()));
  MovieSample movies(options.seed);
  for (std::uint32_t i = 0; i < options.records; ++i) {
    movies.fillNext(file);
    static_cast<void>(Call(DriverOp::kAppend, file.block()));
    if (failed(result)) {
      closeAfterError(file);
      return result;
    }
    ++result.records;
  }
  static_cast<void>(Call(DriverOp::kFlush, file.block()));
  if (!failed(result)) static_cast<void>(Call(DriverOp::kBuildFile, file.block()));
  if (failed(result)) {
    closeAfterError(file);
    return result;
  }
  static_cast<void>(Call(DriverOp::kClose, file.block()));
  static_cast<void>(failed(result));
  return result;
}

SampleResult countRecords(const std::string& path, fileaccess::DriverEntryFn entry,
                          convert23::Layout* layout) {
  SampleResult result;
  for (const convert23::Layout tried : {convert23::Layout::kOld, convert23::Layout::kNew}) {
    convert23::CatalogueFile file(tried, 0);
    file.block().driverEntry = entry;
    if (!file.setName(path)) return badName();
    fileaccess::clearError();
    result = SampleResult{};
    static_cast<void>(Call(DriverOp::kOpen, file.block(), kReadDenyNone));
    if (failed(result)) {
      // The other layout's stored definition differs from this one.
      if (result.error == kInvalidRecordDeclaration) continue;
      return result;
    }
    const int records = Call(DriverOp::kRecordsFile, file.block());
    if (failed(result)) {
      closeAfterError(file);
      return result;
    }
    result.records = static_cast<std::uint32_t>(records);
    static_cast<void>(Call(DriverOp::kClose, file.block()));
    static_cast<void>(failed(result));
    *layout = tried;
    return result;
  }
  return result;
}

}  // namespace qbx::sample
