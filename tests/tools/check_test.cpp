// qbx check run on real files: sound ones, ones damaged by flipping bytes,
// one another process has open, and one left by a commit cut short; and
// that no command ever crashes on a damaged file or changes any file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "fileaccess/call.h"
#include "fileaccess/declarations.h"
#include "people_file.h"
#include "qbx/database.h"
#include "qbx_run.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace qbx::inspector::testing {
namespace {

class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("people.qbx");
    ASSERT_EQ(writePeople(path_, samplePeople()), 0);
  }
  QbxRun check(const std::string& file = "people.qbx") {
    return runQbx({"check", file}, dir_.path());
  }
  // A copy of the file with one byte changed.
  std::string damaged(const std::string& name, std::size_t at, std::uint8_t value) {
    std::vector<std::uint8_t> bytes = readBytes(path_);
    EXPECT_LT(at, bytes.size());
    bytes[at] = value;
    const std::string file = dir_.file(name);
    writeBytes(file, bytes);
    return name;
  }

  support::TempDir dir_;
  std::string path_;
};

TEST_F(CheckTest, SoundFilePasses) {
  const QbxRun run = check();
  ASSERT_TRUE(run.status.exitedWith(0)) << run.out << run.err;
  EXPECT_EQ(run.out,
            "people.qbx: 0 problems (1 page, 28 entries, 1 table, 5 records, 15 key entries)\n");
}

TEST_F(CheckTest, AHeaderThatIsNoQbxHeader) {
  const QbxRun magic = check(damaged("magic.qbx", 14, 'Q'));
  EXPECT_TRUE(magic.status.exitedWith(1));
  EXPECT_TRUE(contains(magic.out, "header: the file is refused: error 36 Invalid Data File"));
  EXPECT_TRUE(contains(magic.out, "\"QUiL\", not \"qUiL\""));
  EXPECT_TRUE(contains(magic.out, "magic.qbx: 2 problems"));

  // Region 1 no longer starting at page 0.
  const QbxRun region = check(damaged("region.qbx", 32 + 4, 1));
  EXPECT_TRUE(region.status.exitedWith(1));
  EXPECT_TRUE(contains(region.out, "header: region 1 starts at page 1, not at page 0"));
}

TEST_F(CheckTest, ARecordChangedBehindItsKeys) {
  // The name of a record changed in its data record only: its key entries
  // still hold the old name.
  const std::vector<std::size_t> at = findAll(readBytes(path_), "Carl");
  ASSERT_EQ(at.size(), 2u) << "the data record and its name key entry";
  // Key entries come first in the tree (kind 0 before 0xF3).
  const QbxRun run = check(damaged("renamed.qbx", at[1], 'K'));
  EXPECT_TRUE(run.status.exitedWith(1)) << run.out;
  EXPECT_TRUE(contains(run.out,
                       "key P:NAMEKEY: its entries are not those its records form "
                       "(5 held, 5 formed)"));
  EXPECT_TRUE(contains(run.out, "key P:NAMEKEY: record 6 has no entry for its value"));
  EXPECT_TRUE(contains(run.out,
                       "key P:NAMEKEY: an entry names record 6, whose record does not "
                       "form it"));
  EXPECT_TRUE(contains(run.out, "key P:CITYKEY: record 6 has no entry"));
  EXPECT_EQ(run.out.find("P:VALUEKEY"), std::string::npos) << "the value key is untouched";
}

TEST_F(CheckTest, APageThatCannotBeDecoded) {
  // The entry count of the only page: its entries no longer end where the
  // page says.
  const QbxRun run = check(damaged("count.qbx", 512 + 10, 0xFF));
  EXPECT_TRUE(run.status.exitedWith(1)) << run.out;
  EXPECT_TRUE(contains(run.out, "internal error"));
  EXPECT_TRUE(contains(run.out, "count.qbx: "));
  // The commands that read the tree say so with the error and its internal
  // number.
  for (const char* command : {"tables", "dump"}) {
    const QbxRun other = runQbx({command, "count.qbx"}, dir_.path());
    EXPECT_TRUE(other.status.exitedWith(1)) << command << ": " << other.status.describe();
    EXPECT_TRUE(contains(other.err, "error 90 File System Error (internal error ")) << command;
  }
}

TEST_F(CheckTest, AFileCutShort) {
  std::vector<std::uint8_t> bytes = readBytes(path_);
  bytes.resize(600);
  writeBytes(dir_.file("short.qbx"), bytes);
  const QbxRun run = check("short.qbx");
  EXPECT_TRUE(run.status.exitedWith(1)) << run.out;
  EXPECT_TRUE(contains(run.out, "the file ends at 600, before its logical end"));
}

TEST_F(CheckTest, AnEncryptedFileNeedsItsPassword) {
  ASSERT_EQ(writePeople(dir_.file("secret.qbx"), samplePeople(), "Sesame"), 0);
  EXPECT_TRUE(findAll(readBytes(dir_.file("secret.qbx")), "Lovelace").empty());
  const QbxRun run = runQbx({"check", "secret.qbx", "--password", "Sesame"}, dir_.path());
  EXPECT_TRUE(run.status.exitedWith(0)) << run.out << run.err;
  EXPECT_TRUE(contains(run.out, "0 problems"));
  const QbxRun dump = runQbx({"dump", "secret.qbx", "--password=Sesame"}, dir_.path());
  EXPECT_TRUE(dump.status.exitedWith(0)) << dump.err;
  EXPECT_TRUE(contains(dump.out, "\nAda Lovelace,"));
  const QbxRun schema = runQbx({"schema", "secret.qbx", "--password=Sesame"}, dir_.path());
  EXPECT_TRUE(contains(schema.out, "FILE,DRIVER('QUILLBOX'),OWNER(******),NAME("));
  EXPECT_FALSE(contains(schema.out, "Sesame"));

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"check", "secret.qbx"},
        std::vector<std::string>{"check", "secret.qbx", "--password", "sesame"}}) {
    const QbxRun refused = runQbx(args, dir_.path());
    EXPECT_TRUE(refused.status.exitedWith(1)) << refused.out;
    EXPECT_TRUE(contains(refused.out, "error 36 Invalid Data File"));
    EXPECT_TRUE(contains(
        refused.out, args.size() == 2 ? "or one that needs a password" : "or not this password's"));
  }
  const QbxRun info = runQbx({"info", "secret.qbx"}, dir_.path());
  EXPECT_TRUE(info.status.exitedWith(1));
  EXPECT_TRUE(contains(info.err, "error 36 Invalid Data File"));
}

// Every byte of the file flipped in turn, in a copy: no command crashes or
// hangs, each reports what it found with one of its exit statuses, and the
// damaged copy is left exactly as it was.
TEST_F(CheckTest, NoCommandCrashesOnAFlippedByte) {
  const std::vector<std::uint8_t> sound = readBytes(path_);
  std::mt19937 random(7);
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < 32; ++i) positions.push_back(i * 16);  // the header
  for (int i = 0; i < 32; ++i) positions.push_back(512 + random() % (sound.size() - 512));
  for (std::size_t at : positions) {
    std::vector<std::uint8_t> bytes = sound;
    bytes[at] = static_cast<std::uint8_t>(bytes[at] ^ (1u << (at % 8)));
    writeBytes(dir_.file("flip.qbx"), bytes);
    for (const char* command : {"check", "info", "tables", "schema", "dump"}) {
      const QbxRun run = runQbx({command, "flip.qbx"}, dir_.path());
      EXPECT_EQ(run.status.kind, support::ChildStatus::Kind::kExited)
          << command << " at " << at << ": " << run.status.describe();
      EXPECT_LE(run.status.value, 2) << command << " at " << at;
    }
    EXPECT_EQ(readBytes(dir_.file("flip.qbx")), bytes) << "at " << at;
  }
}

TEST_F(CheckTest, RunsWhileAnotherProcessReadsTheFile) {
  support::ChildProcess reader([this](support::ChildChannel& channel) {
    Database db;
    if (db.open(path_) != 0) return 1;
    std::unique_ptr<RecordReader> r;
    if (db.openReader("UNNAMED", &r) != 0 || r->startFileOrder() != 0 || r->next() != 0) return 2;
    channel.send('r');
    char c = 0;
    channel.receive(&c, std::chrono::seconds(60));
    return 0;
  });
  ASSERT_TRUE(reader.channel().expect('r', std::chrono::seconds(30)));
  const std::vector<std::uint8_t> before = readBytes(path_);
  const QbxRun run = check();
  EXPECT_TRUE(run.status.exitedWith(0)) << run.out << run.err;
  EXPECT_EQ(readBytes(path_), before);
  reader.channel().send('q');
  EXPECT_TRUE(reader.wait().exitedWith(0));
}

// A program died between the two halves of a commit: readers read the new
// state through the log, and neither info nor check touches the file (a
// writer's open would roll the log forward).
TEST_F(CheckTest, AFileWithAPendingLogIsReadThroughAndLeftAsItIs) {
  support::ChildProcess writer([this](support::ChildChannel&) {
    return addPeopleWithoutFinishing(path_,
                                     {{"Dora", "Rome", 7, 1999, 9, 9, {1, 2, 3}, "", "", 1}});
  });
  const support::ChildStatus died = writer.wait();
  ASSERT_TRUE(died.exitedWith(0)) << died.describe();
  const std::vector<std::uint8_t> before = readBytes(path_);
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);

  const QbxRun info = runQbx({"info", "people.qbx"}, dir_.path());
  EXPECT_TRUE(info.status.exitedWith(0)) << info.err;
  EXPECT_TRUE(contains(info.out, "pending log     complete, read through"));
  EXPECT_TRUE(contains(info.out, "UNNAMED: number 1, 6 records"));
  const QbxRun run = check();
  EXPECT_TRUE(run.status.exitedWith(0)) << run.out << run.err;
  EXPECT_TRUE(contains(run.out, "0 problems"));
  EXPECT_TRUE(contains(run.out, "6 records, 18 key entries"));
  EXPECT_TRUE(contains(run.err, "note: a commit was cut short after its log was complete"));
  const QbxRun dump = runQbx({"dump", "people.qbx", "--key", "P:NAMEKEY"}, dir_.path());
  EXPECT_TRUE(dump.status.exitedWith(0)) << dump.err;
  EXPECT_TRUE(contains(dump.out, "\nDora,Rome,7.00,"));

  EXPECT_EQ(readBytes(path_), before);
  struct stat after {};
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, st.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, st.st_mtim.tv_nsec);
}

}  // namespace
}  // namespace qbx::inspector::testing
