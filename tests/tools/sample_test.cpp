// qbx sample writes real catalogues; the inspector reads, dumps and checks
// them as they are, and after a byte of a record changed behind its keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "qbx_run.h"
#include "support/temp_dir.h"

namespace qbx::inspector::testing {
namespace {

class SampleTest : public ::testing::Test {
 protected:
  QbxRun qbx(std::vector<std::string> args) { return runQbx(std::move(args), dir_.path()); }

  support::TempDir dir_;
};

TEST_F(SampleTest, SameSeedSameFileAndNoReplacingWithoutForce) {
  const QbxRun first = qbx({"sample", "a.rcx", "--records", "40", "--seed", "3"});
  ASSERT_TRUE(first.status.exitedWith(0)) << first.err;
  EXPECT_EQ(first.out, "a.rcx: 40 records written (old layout, seed 3)\n");
  ASSERT_TRUE(qbx({"sample", "b.rcx", "--records", "40", "--seed", "3"}).status.exitedWith(0));
  const std::vector<std::uint8_t> a = readBytes(dir_.file("a.rcx"));
  EXPECT_EQ(a, readBytes(dir_.file("b.rcx")));

  const QbxRun again = qbx({"sample", "a.rcx", "--records", "5"});
  EXPECT_TRUE(again.status.exitedWith(2));
  EXPECT_TRUE(contains(again.err, "a.rcx exists and is replaced only with --force"));
  EXPECT_EQ(readBytes(dir_.file("a.rcx")), a);
  const QbxRun forced = qbx({"sample", "a.rcx", "--records", "5", "--force"});
  EXPECT_TRUE(forced.status.exitedWith(0)) << forced.err;
  // The catalogue table is replaced within the file: a new table number from
  // the file's counter (41 numbers were taken), five records.
  EXPECT_EQ(qbx({"tables", "a.rcx"}).out, "UNNAMED\t42\t5\n");
}

TEST_F(SampleTest, CatalogueChecksCleanAndDumpsInKeyOrder) {
  ASSERT_TRUE(
      qbx({"sample", "cat.rcx", "--records", "300", "--layout", "new"}).status.exitedWith(0));
  const QbxRun check = qbx({"check", "cat.rcx"});
  EXPECT_TRUE(check.status.exitedWith(0)) << check.out;
  EXPECT_TRUE(contains(check.out, "cat.rcx: 0 problems ("));
  EXPECT_TRUE(contains(check.out, " 1 table, 300 records, "));

  const QbxRun info = qbx({"info", "cat.rcx"});
  EXPECT_TRUE(contains(info.out, "UNNAMED: number 1, 300 records, record length 14422, 22 keys\n"));
  const QbxRun schema = qbx({"schema", "cat.rcx"});
  EXPECT_TRUE(contains(schema.out, "\nMOV:VALUE             DECIMAL(7,2)\n"));

  const QbxRun dump = qbx({"dump", "cat.rcx", "--key", "MOV:TITLEKEYKEY"});
  ASSERT_TRUE(dump.status.exitedWith(0)) << dump.err;
  const std::vector<std::string> lines = linesOf(dump.out);
  ASSERT_EQ(lines.size(), 301u);
  ASSERT_EQ(lines[0].substr(0, 30), "MOV:TITLE,MOV:CATEGORY,MOV:STA");
  // The title key is NOCASE: titles ascend as upper-case texts.
  std::vector<std::string> titles;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string title = lines[i].substr(0, lines[i].find(','));
    std::transform(title.begin(), title.end(), title.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    titles.push_back(title);
  }
  EXPECT_TRUE(std::is_sorted(titles.begin(), titles.end()));
}

TEST_F(SampleTest, ARenamedMovieIsFoundInEveryKeyOnItsTitle) {
  ASSERT_TRUE(qbx({"sample", "cat.rcx", "--records", "50"}).status.exitedWith(0));
  std::vector<std::uint8_t> bytes = readBytes(dir_.file("cat.rcx"));
  // The first movie's title, in mixed case, is held by its data record only
  // (the keys hold it upper-cased).
  const std::vector<std::size_t> at = findAll(bytes, "The Secret Letter");
  ASSERT_EQ(at.size(), 1u);
  bytes[at[0] + 4] = 'T';  // "The Tecret Letter"
  writeBytes(dir_.file("renamed.rcx"), bytes);
  const QbxRun run = qbx({"check", "renamed.rcx"});
  EXPECT_TRUE(run.status.exitedWith(1)) << run.out;
  for (const char* key : {"IN:TITLEKEYKEY", "IN:STAR1KEY", "IN:CATEGORYKEY", "IN:VALUEKEY"}) {
    EXPECT_TRUE(
        contains(run.out, std::string("key ") + key + ": record 2 has no entry for its value"));
  }
  EXPECT_FALSE(contains(run.out, "IN:CREATEDKEY")) << "a key without the title stays sound";
}

}  // namespace
}  // namespace qbx::inspector::testing
