#include "catalogue_reader.h"

#include "fileaccess/call.h"
#include "fileaccess/driver_op.h"
#include "fileaccess/error_state.h"
#include "qbx/driver/driver_entry.h"
#include "qbx/sample/movie_sample.h"

namespace convert23::testing {

using fileaccess::Call;
using fileaccess::DriverOp;

ReadBack readCatalogue(const std::string& path, Layout layout) {
  constexpr std::int32_t kReadDenyNone = 0x40;
  ReadBack back;
  CatalogueFile file(layout, 0);
  file.block().driverEntry = &qbx::driver::DriverEntry;
  if (!file.setName(path)) {
    back.openError = 45;
    return back;
  }
  fileaccess::clearError();
  static_cast<void>(Call(DriverOp::kOpen, file.block(), kReadDenyNone));
  back.openError = fileaccess::ERRORCODE();
  if (back.openError != 0) return back;
  static_cast<void>(Call(DriverOp::kSetFile, file.block()));
  for (;;) {
    static_cast<void>(Call(DriverOp::kNext, file.block()));
    back.endError = fileaccess::ERRORCODE();
    if (back.endError != 0) break;
    back.records.emplace_back(file.record().begin(), file.record().end());
    // A file that keeps answering cannot make the test run for ever.
    if (back.records.size() > 10'000'000) break;
  }
  for (std::uint8_t i = 0; i < file.block().keyCount; ++i) {
    fileaccess::KeyDesc* key = file.block().keyTable[i];
    if (key->componentCount == 0) continue;
    back.keyEntries.push_back(Call(DriverOp::kRecordsKey, file.block(), key));
  }
  fileaccess::clearError();
  static_cast<void>(Call(DriverOp::kClose, file.block()));
  back.closeError = fileaccess::ERRORCODE();
  return back;
}

std::vector<Bytes> sampleRecords(Layout layout, std::uint64_t seed, int count) {
  CatalogueFile file(layout, 0);
  qbx::sample::MovieSample sample(seed);
  std::vector<Bytes> records;
  for (int i = 0; i < count; ++i) {
    sample.fillNext(file);
    records.emplace_back(file.record().begin(), file.record().end());
  }
  return records;
}

}  // namespace convert23::testing
