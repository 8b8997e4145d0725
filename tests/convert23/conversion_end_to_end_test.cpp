// The whole conversion in this process through the file access layer with the
// two catalogue declarations: a sample source of N records, the conversion
// procedure (OPEN, CREATE, STREAM, the copy loop, FLUSH, BUILD, CLOSE), and
// the target read straight from its entries: every record equal to its
// source but for the value, every KEY complete with exactly the entries its
// records must have, and the two dynamic indexes untouched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalogue_reader.h"
#include "convert23/catalogue.h"
#include "convert23/catalogue_file.h"
#include "convert23/conversion.h"
#include "fileaccess/error_state.h"
#include "fileaccess/program_end.h"
#include "platform/endian.h"
#include "platform/terminal_ui.h"
#include "qbx/driver/driver_entry.h"
#include "qbx/records/format.h"
#include "qbx/records/key_value.h"
#include "qbx/records/qbx_table.h"
#include "qbx/records/table_def_builder.h"
#include "qbx/sample/movie_sample.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"
#include "support/temp_dir.h"

namespace convert23 {
namespace {

using testing::Bytes;

constexpr std::uint64_t kSeed = 23;

// Builds with the address sanitizer run the engine many times slower: there
// the largest source is left to the ordinary build, the smaller ones cover
// the same paths.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
constexpr int kLargestSanitizedSource = 1000;
constexpr unsigned kReadDenyNone = 0x40;

// Runs the conversion procedure without a terminal: the names given, the
// target replaced, no progress line. What it shows goes to a file of its own.
struct Conversion {
  RunEnd end = RunEnd::kFinished;
  std::string shown;
};

Conversion convert(const std::string& source, const std::string& target, const std::string& dir) {
  Conversion result;
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const std::string shownPath = dir + "/shown.txt";
  const int err = ::open(shownPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::FILE* messages = std::tmpfile();
  EXPECT_GE(in, 0);
  EXPECT_GE(err, 0);
  EXPECT_NE(messages, nullptr);
  fileaccess::clearError();
  clearProgramData();
  setDriverEntry(&qbx::driver::DriverEntry);
  {
    platform::TerminalUi ui(in, err);
    ConversionOptions options;
    options.source = source;
    options.target = target;
    options.force = true;
    options.quiet = true;
    ConversionRun run(ui, messages, options);
    result.end = run.run().end;
    fileaccess::programEnd();
  }
  char buffer[4096];
  const ssize_t n = ::pread(err, buffer, sizeof buffer, 0);
  if (n > 0) result.shown.assign(buffer, static_cast<std::size_t>(n));
  ::close(in);
  ::close(err);
  std::fclose(messages);
  return result;
}

// One key entry as its key part and data part.
using EntryBytes = std::pair<Bytes, Bytes>;

// What the target holds, read from its entries with the record layer alone.
struct TargetContents {
  std::vector<std::pair<std::uint32_t, Bytes>> records;        // in record-number order
  std::map<std::uint8_t, std::vector<EntryBytes>> keyEntries;  // in tree order
  std::map<std::uint8_t, qbx::records::StatusCounters> status;
};

TargetContents readTarget(qbx::store::QbxStore& s, std::uint32_t table) {
  TargetContents c;
  Bytes prefix(4);
  platform::storeBe32(prefix, 0, table);
  qbx::store::EntryPtr at = qbx::store::makeEntry(prefix);
  for (const qbx::store::QbxEntry* e = qbx::store::next(s, *at);
       e != nullptr && e->keyLength >= 5 && platform::loadBe32(e->key(), 0) == table;
       e = qbx::store::next(s, *at)) {
    const Bytes key(e->key().begin(), e->key().end());
    const Bytes data(e->data().begin(), e->data().end());
    const std::uint8_t kind = key[4];
    if (kind <= qbx::records::kKindLastKey) {
      c.keyEntries[kind].emplace_back(key, data);
    } else if (kind == qbx::records::kKindDataRecord && key.size() == 9) {
      c.records.emplace_back(platform::loadBe32(key, 5), data);
    } else if (kind == qbx::records::kKindStatus && key.size() == 6 && data.size() == 8) {
      c.status[key[5]] = {platform::loadLe32(data, 0), platform::loadLe32(data, 4)};
    }
    at = qbx::store::copyKey(*e);
  }
  return c;
}

class ConversionEndToEnd : public ::testing::TestWithParam<int> {};

TEST_P(ConversionEndToEnd, TargetHoldsTheConvertedRecordsAndCompleteKeys) {
  const int count = GetParam();
  if (kSanitized && count > kLargestSanitizedSource) GTEST_SKIP() << "too slow under the sanitizer";
  support::TempDir dir;
  const std::string source = dir.file("movies.rcx");
  const std::string target = dir.file("converted.rcx");
  qbx::sample::SampleOptions options;
  options.records = static_cast<std::uint32_t>(count);
  options.seed = kSeed;
  const qbx::sample::SampleResult written =
      qbx::sample::writeSample(source, options, &qbx::driver::DriverEntry);
  ASSERT_EQ(written.error, 0) << written.errorText;

  const Conversion run = convert(source, target, dir.path());
  ASSERT_EQ(run.end, RunEnd::kFinished) << run.shown;
  EXPECT_EQ(run.shown, "");

  CatalogueFile declaration(Layout::kNew, 0);
  std::unique_ptr<qbx::records::QbxTableDef> def;
  ASSERT_EQ(qbx::records::buildTableDef(declaration.block(), def), 0);
  std::unique_ptr<qbx::records::QbxTable> table;
  ASSERT_EQ(qbx::records::QbxTable::open(*def, std::filesystem::canonical(target).string(),
                                         "UNNAMED", kReadDenyNone, {}, &table),
            0);
  const TargetContents contents = readTarget(table->store(), table->tableNumber());

  // The records, in order: the sample's converted, which is the source's
  // but for the four value bytes.
  ASSERT_EQ(contents.records.size(), static_cast<std::size_t>(count));
  CatalogueFile old(Layout::kOld, 0);
  CatalogueFile converted(Layout::kNew, 0);
  qbx::sample::MovieSample oldSample(kSeed);
  qbx::sample::MovieSample newSample(kSeed);
  std::map<std::uint8_t, std::vector<EntryBytes>> expected;
  std::vector<std::uint8_t> entry;
  for (const auto& [number, image] : contents.records) {
    oldSample.fillNext(old);
    newSample.fillNext(converted);
    const Bytes wanted(converted.record().begin(), converted.record().end());
    ASSERT_EQ(image, wanted) << "record " << number;
    const auto valueAt = static_cast<std::ptrdiff_t>(kValueOffset);
    const auto valueEnd = valueAt + kValueSize;
    ASSERT_TRUE(std::equal(image.begin(), image.begin() + valueAt, old.record().begin()))
        << "record " << number << " differs from its source before the value";
    ASSERT_TRUE(std::equal(image.begin() + valueEnd, image.end(), old.record().begin() + valueEnd))
        << "record " << number << " differs from its source after the value";
    for (const qbx::records::QbxKeyDef& key : def->keys) {
      if (key.isIndex() || qbx::records::blankForOpt(*def, key, image)) continue;
      entry.assign(key.valueLength + qbx::records::kKeyEntryOverhead, 0);
      qbx::records::formKeyEntry(*def, key, image, number, entry);
      const auto split = entry.begin() + key.entryKeyLength();
      expected[key.keyNumber].emplace_back(Bytes(entry.begin(), split), Bytes(split, entry.end()));
    }
  }
  EXPECT_EQ(contents.status.at(qbx::records::kStatusTableSelector).counter1,
            static_cast<std::uint32_t>(count));

  // Every KEY: complete, counted, and exactly the entries of its records.
  int keys = 0;
  for (const qbx::records::QbxKeyDef& key : def->keys) {
    if (key.isIndex()) continue;
    ++keys;
    SCOPED_TRACE(key.label.value_or("?"));
    std::vector<EntryBytes>& want = expected[key.keyNumber];
    std::sort(want.begin(), want.end());
    const auto found = contents.keyEntries.find(key.keyNumber);
    const std::vector<EntryBytes> none;
    const std::vector<EntryBytes>& have = found == contents.keyEntries.end() ? none : found->second;
    EXPECT_TRUE(have == want) << have.size() << " entries, " << want.size() << " expected";
    ASSERT_EQ(contents.status.count(key.keyNumber), 1u);
    EXPECT_EQ(contents.status.at(key.keyNumber).counter1, want.size());
    EXPECT_EQ(contents.status.at(key.keyNumber).counter2, 0u);
  }
  EXPECT_EQ(keys, 20);
  // The dynamic indexes were never given components: nothing of them is in
  // the file.
  for (const qbx::records::QbxKeyDef& key : def->keys) {
    if (!key.isDynamic()) continue;
    EXPECT_EQ(contents.keyEntries.count(key.keyNumber), 0u);
    EXPECT_EQ(contents.status.count(key.keyNumber), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Records, ConversionEndToEnd, ::testing::Values(0, 1, 1000, 20000));

}  // namespace
}  // namespace convert23
