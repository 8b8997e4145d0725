// The converter's own declarations, REELCATALOG1 and REELCATALOG2, driven
// through the file access layer the way the conversion drives them: CREATE
// the target, OPEN both with 22h, SET the source, NEXT until 33 with an
// APPEND per record, CLOSE both; then the target read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalogue_reader.h"
#include "convert23/catalogue.h"
#include "convert23/catalogue_file.h"
#include "fileaccess/call.h"
#include "fileaccess/error_state.h"
#include "fileaccess/files_in_use.h"
#include "qbx/driver/driver_entry.h"
#include "support/temp_dir.h"

namespace convert23 {
namespace {

using fileaccess::Call;
using fileaccess::DriverOp;
using testing::Bytes;

constexpr std::int32_t kReadWriteDenyWrite = 0x22;
constexpr int kRecords = 25;
constexpr std::uint64_t kSeed = 11;

void setNameVariable(char (&variable)[kNameLength], const std::string& name) {
  std::fill(std::begin(variable), std::end(variable), ' ');
  std::copy_n(name.begin(), std::min(name.size(), kNameLength), variable);
}

// A source catalogue in the old layout, written through a declaration of its
// own with the CREATE attribute.
void writeSource(const std::string& path, const std::vector<Bytes>& records) {
  CatalogueFile file(Layout::kOld, fileaccess::kAttrCreate);
  file.block().driverEntry = &qbx::driver::DriverEntry;
  ASSERT_TRUE(file.setName(path));
  static_cast<void>(Call(DriverOp::kCreate, file.block()));
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  static_cast<void>(Call(DriverOp::kOpen, file.block(), kReadWriteDenyWrite));
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  for (const Bytes& record : records) {
    std::copy(record.begin(), record.end(), file.record().begin());
    static_cast<void>(Call(DriverOp::kAppend, file.block()));
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  }
  static_cast<void>(Call(DriverOp::kClose, file.block()));
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
}

TEST(DriverCatalogue, CopyLoopThroughTheFileAccessLayer) {
  support::TempDir temp;
  const std::string source = temp.file("movies.rcx");
  const std::string target = temp.file("converted.rcx");
  writeSource(source, testing::sampleRecords(Layout::kOld, kSeed, kRecords));

  fileaccess::clearError();
  clearProgramData();
  setDriverEntry(&qbx::driver::DriverEntry);
  setNameVariable(SOURCENAME, source);
  setNameVariable(TARGETNAME, target);

  static_cast<void>(Call(DriverOp::kCreate, REELCATALOG2));
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  static_cast<void>(Call(DriverOp::kOpen, REELCATALOG1, kReadWriteDenyWrite));
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  static_cast<void>(Call(DriverOp::kOpen, REELCATALOG2, kReadWriteDenyWrite));
  ASSERT_EQ(fileaccess::ERRORCODE(), 0);
  // Both are in use, the source entered first.
  const auto inUse = fileaccess::filesInUse();
  ASSERT_EQ(inUse.size(), 2u);
  EXPECT_EQ(inUse[0].file, &REELCATALOG1);
  EXPECT_EQ(inUse[0].accessMode, kReadWriteDenyWrite);

  static_cast<void>(Call(DriverOp::kSetFile, REELCATALOG1));
  int copied = 0;
  for (;;) {
    static_cast<void>(Call(DriverOp::kNext, REELCATALOG1));
    if (fileaccess::ERRORCODE() != 0) break;
    AssignRecord();
    static_cast<void>(Call(DriverOp::kAppend, REELCATALOG2));
    ASSERT_EQ(fileaccess::ERRORCODE(), 0);
    ++copied;
  }
  EXPECT_EQ(fileaccess::ERRORCODE(), 33);
  EXPECT_EQ(copied, kRecords);
  static_cast<void>(Call(DriverOp::kClose, REELCATALOG2));
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  static_cast<void>(Call(DriverOp::kClose, REELCATALOG1));
  EXPECT_EQ(fileaccess::ERRORCODE(), 0);
  EXPECT_TRUE(fileaccess::filesInUse().empty());

  const testing::ReadBack back = testing::readCatalogue(target, Layout::kNew);
  ASSERT_EQ(back.openError, 0);
  EXPECT_EQ(back.endError, 33);
  EXPECT_EQ(back.records, testing::sampleRecords(Layout::kNew, kSeed, kRecords));
  // APPEND leaves the keys to a later BUILD.
  for (const std::int32_t entries : back.keyEntries) EXPECT_EQ(entries, 0);
}

}  // namespace
}  // namespace convert23
