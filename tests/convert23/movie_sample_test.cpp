#include "qbx/sample/movie_sample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalogue_reader.h"
#include "convert23/catalogue.h"
#include "convert23/catalogue_file.h"
#include "fileaccess/declarations.h"
#include "platform/endian.h"
#include "qbx/sample/sample_program.h"

namespace qbx::sample {
namespace {

using Bytes = std::vector<std::uint8_t>;
using convert23::CatalogueFile;
using convert23::Layout;

std::vector<Bytes> makeRecords(Layout layout, std::uint64_t seed, int count) {
  return convert23::testing::sampleRecords(layout, seed, count);
}

std::string text(const CatalogueFile& file, const Bytes& record, std::string_view name) {
  const fileaccess::FieldEntry* entry = file.field(name);
  std::string value(record.begin() + entry->offset, record.begin() + entry->offset + entry->size);
  value.erase(value.find_last_not_of(' ') + 1);
  return value;
}

TEST(MovieSample, SameSeedSameRecordsOtherSeedOthers) {
  const auto first = makeRecords(Layout::kOld, 7, 50);
  EXPECT_EQ(makeRecords(Layout::kOld, 7, 50), first);
  const auto other = makeRecords(Layout::kOld, 8, 50);
  EXPECT_NE(other, first);
}

// The new layout's sample is the old one's converted: the same records but
// for the value, stored as a DECIMAL.
TEST(MovieSample, NewLayoutIsTheOldOneConverted) {
  const auto old = makeRecords(Layout::kOld, 3, 300);
  const auto converted = makeRecords(Layout::kNew, 3, 300);
  for (std::size_t i = 0; i < old.size(); ++i) {
    SCOPED_TRACE(i);
    std::copy(old[i].begin(), old[i].end(), convert23::sourceRecord().begin());
    convert23::AssignRecord();
    ASSERT_EQ(Bytes(convert23::targetRecord().begin(), convert23::targetRecord().end()),
              converted[i]);
  }
}

// What makes the sample a fair test of a conversion and its keys: repeated
// titles, titles differing only in case, blank optional fields and values
// that the new layout's five integer digits hold.
TEST(MovieSample, LooksLikeARealCatalogue) {
  CatalogueFile file(Layout::kOld, 0);
  const auto records = makeRecords(Layout::kOld, 1, 3000);
  std::map<std::string, int> titles;
  std::set<std::string> folded;
  std::map<std::string, int> blanks;
  int caseOnlyDifferences = 0;
  const fileaccess::FieldEntry* value = file.field("VALUE");
  int zeroValues = 0;
  for (const Bytes& record : records) {
    const std::string title = text(file, record, "TITLE");
    ASSERT_FALSE(title.empty());
    if (++titles[title] == 1) {
      std::string key = title;
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (!folded.insert(key).second) ++caseOnlyDifferences;
    }
    for (const char* field : {"STAR2", "STAR3", "LENTTO", "REVIEW", "CUSTOM2", "CATEGORY"}) {
      if (text(file, record, field).empty()) ++blanks[field];
    }
    const auto v = static_cast<std::int32_t>(platform::loadLe32(record, value->offset));
    EXPECT_GE(v, 0);
    EXPECT_LT(v, 100000);
    if (v == 0) ++zeroValues;
  }
  const auto repeated = std::count_if(titles.begin(), titles.end(),
                                      [](const auto& entry) { return entry.second > 1; });
  EXPECT_GT(repeated, 100);
  EXPECT_GT(caseOnlyDifferences, 5);
  for (const auto& [field, count] : blanks) {
    SCOPED_TRACE(field);
    EXPECT_GT(count, 0);
    EXPECT_LT(count, 3000);
  }
  EXPECT_EQ(blanks.size(), 6u);
  EXPECT_GT(zeroValues, 0);
}

TEST(SampleCommand, Arguments) {
  using Action = SampleCommand::Action;
  struct Case {
    std::vector<std::string_view> args;
    Action action;
    std::uint32_t records;
    std::uint64_t seed;
    Layout layout;
  };
  const std::vector<Case> cases = {
      {{"c.rcx", "--records", "20000"}, Action::kWrite, 20000, 1, Layout::kOld},
      {{"--records=5", "--seed", "42", "c.rcx", "--layout", "new"},
       Action::kWrite,
       5,
       42,
       Layout::kNew},
      {{"c.rcx", "--records", "0", "--layout=old"}, Action::kWrite, 0, 1, Layout::kOld},
      {{"--count", "a.rcx", "b.rcx"}, Action::kCount, 0, 1, Layout::kOld},
      {{"--help", "--records"}, Action::kHelp, 0, 1, Layout::kOld},
      {{"--version"}, Action::kVersion, 0, 1, Layout::kOld},
      {{"c.rcx"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"--records", "5"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"a", "b", "--records", "5"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"c.rcx", "--records"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"c.rcx", "--records", "-1"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"c.rcx", "--records", "12x"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"c.rcx", "--records", "4294967296"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"c.rcx", "--records", "1", "--layout", "middle"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"c.rcx", "--records", "1", "--bogus"}, Action::kUsageError, 0, 1, Layout::kOld},
      {{"--count"}, Action::kUsageError, 0, 1, Layout::kOld},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto arg : c.args) shown += std::string(arg) + " ";
    SCOPED_TRACE(shown);
    const SampleCommand command = parseSampleCommand(c.args);
    EXPECT_EQ(command.action, c.action);
    if (c.action == Action::kUsageError) {
      EXPECT_FALSE(command.message.empty());
    } else if (c.action == Action::kWrite) {
      EXPECT_EQ(command.options.records, c.records);
      EXPECT_EQ(command.options.seed, c.seed);
      EXPECT_EQ(command.options.layout, c.layout);
      EXPECT_EQ(command.files.size(), 1u);
    }
  }
}

}  // namespace
}  // namespace qbx::sample
