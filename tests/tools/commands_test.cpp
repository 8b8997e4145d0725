// qbx run as a user runs it on files written through the driver: the
// command line, info, tables, schema and dump.
#include <gtest/gtest.h>

#include <filesystem>

#include "people_file.h"
#include "qbx_run.h"
#include "support/temp_dir.h"

namespace qbx::inspector::testing {
namespace {

struct UsageCase {
  std::vector<std::string> args;
  std::string message;
};

// Every usage error exits with 2, says why on standard error and writes
// nothing on standard output (and no file).
TEST(QbxCommandLine, UsageErrorsExitWithTwoAndWriteNothing) {
  support::TempDir dir;
  const UsageCase cases[] = {
      {{}, "a command is missing"},
      {{"frobnicate", "x.qbx"}, "unknown command"},
      {{"info"}, "FILE is missing"},
      {{"info", "a.qbx", "b.qbx"}, "unexpected argument"},
      {{"info", "a.qbx", "--bogus"}, "unknown option"},
      {{"info", "a.qbx", "--key", "K"}, "info takes no option --key"},
      {{"dump", "a.qbx", "--format", "xml"}, "--format takes csv or jsonl"},
      {{"dump", "a.qbx", "--limit", "ten"}, "--limit takes a number"},
      {{"dump", "a.qbx", "--limit"}, "--limit needs a value"},
      {{"tables", "a.qbx", "--json=yes"}, "--json takes no value"},
      {{"sample", "s.qbx"}, "--records N is missing"},
      {{"sample", "s.qbx", "--records", "5", "--layout", "mid"}, "--layout takes old or new"},
  };
  for (const UsageCase& c : cases) {
    const QbxRun run = runQbx(c.args, dir.path());
    EXPECT_TRUE(run.status.exitedWith(2)) << c.message << ": " << run.status.describe();
    EXPECT_TRUE(contains(run.err, c.message));
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("s.qbx")));
}

TEST(QbxCommandLine, HelpAndVersion) {
  support::TempDir dir;
  const QbxRun help = runQbx({"--help"}, dir.path());
  EXPECT_TRUE(help.status.exitedWith(0));
  for (const char* command : {"info", "tables", "schema", "dump", "check", "sample"}) {
    EXPECT_TRUE(contains(help.out, command));
  }
  const QbxRun dumpHelp = runQbx({"dump", "--help"}, dir.path());
  EXPECT_TRUE(dumpHelp.status.exitedWith(0));
  EXPECT_TRUE(contains(dumpHelp.out, "--format csv|jsonl"));
  const QbxRun version = runQbx({"--version"}, dir.path());
  EXPECT_TRUE(version.status.exitedWith(0));
  EXPECT_TRUE(contains(version.out, "qbx "));
}

TEST(QbxCommandLine, FilesThatCannotBeOpened) {
  support::TempDir dir;
  writeBytes(dir.file("junk.qbx"), std::vector<std::uint8_t>(700, 'x'));
  struct Case {
    std::string file;
    int status;
    std::string error;
  };
  const Case cases[] = {
      {"missing.qbx", 2, "error 2 "},
      {"nodir/missing.qbx", 2, "error 3 "},
      {"junk.qbx", 1, "error 36 "},
  };
  for (const Case& c : cases) {
    for (const char* command : {"info", "tables", "schema", "dump", "check"}) {
      const QbxRun run = runQbx({command, c.file}, dir.path());
      if (std::string(command) == "check" && c.status == 1) {
        // The check reports a refused header as a problem it found.
        EXPECT_TRUE(run.status.exitedWith(1)) << command << " " << c.file;
        EXPECT_TRUE(contains(run.out, "error 36 "));
        continue;
      }
      EXPECT_TRUE(run.status.exitedWith(c.status))
          << command << " " << c.file << ": " << run.status.describe() << " " << run.err;
      EXPECT_TRUE(contains(run.err, c.error)) << command << " " << c.file;
    }
  }
}

// A file with two tables: the people, and a second table of two of them.
class PeopleFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("people.qbx");
    ASSERT_EQ(writePeople(path_, samplePeople()), 0);
  }
  QbxRun qbx(std::vector<std::string> args) { return runQbx(std::move(args), dir_.path()); }

  support::TempDir dir_;
  std::string path_;
};

TEST_F(PeopleFileTest, InfoShowsHeaderPagesAndTables) {
  const QbxRun run = qbx({"info", "people.qbx"});
  ASSERT_TRUE(run.status.exitedWith(0)) << run.err;
  EXPECT_TRUE(contains(run.out, "file            " + path_ + "\n"));
  EXPECT_TRUE(contains(run.out, "record counter  6\n"));  // table 1, records 2 to 6
  EXPECT_TRUE(contains(run.out, "pending log     none\n"));
  EXPECT_TRUE(contains(run.out, "tree depth      1\n"));
  EXPECT_TRUE(contains(run.out, "pages           1 (class "));
  EXPECT_TRUE(contains(run.out, "UNNAMED: number 1, 5 records, record length 76, 3 keys\n"));

  const QbxRun json = qbx({"info", "people.qbx", "--json"});
  ASSERT_TRUE(json.status.exitedWith(0)) << json.err;
  EXPECT_TRUE(contains(json.out, "\"recordCounter\":6,"));
  EXPECT_TRUE(contains(json.out, "\"pendingLog\":\"none\""));
  EXPECT_TRUE(contains(json.out, "\"treeDepth\":1,"));
  EXPECT_TRUE(contains(json.out,
                       "\"tables\":[{\"name\":\"UNNAMED\",\"number\":1,\"records\":5,"
                       "\"recordLength\":76,\"keys\":3,\"memos\":0}]}\n"));
}

TEST_F(PeopleFileTest, TablesListsEveryTableOfTheFile) {
  std::vector<Person> two = samplePeople();
  two.resize(2);
  ASSERT_EQ(writePeople(path_ + "\\!friends", two), 0);
  const QbxRun run = qbx({"tables", "people.qbx"});
  ASSERT_TRUE(run.status.exitedWith(0)) << run.err;
  // Name order; the second table took number 7 from the file's counter.
  EXPECT_EQ(run.out, "FRIENDS\t7\t2\nUNNAMED\t1\t5\n");
  const QbxRun json = qbx({"tables", "people.qbx", "--json"});
  EXPECT_EQ(json.out,
            "[{\"name\":\"FRIENDS\",\"number\":7,\"records\":2},"
            "{\"name\":\"UNNAMED\",\"number\":1,\"records\":5}]\n");

  const QbxRun check = qbx({"check", "people.qbx"});
  EXPECT_TRUE(check.status.exitedWith(0)) << check.out;
  EXPECT_TRUE(contains(check.out, "2 tables, 7 records, 21 key entries)"));

  // With two tables, dump needs to be told which one (UNNAMED is the default).
  const QbxRun dump = qbx({"dump", "people.qbx", "friends", "--format", "jsonl"});
  ASSERT_TRUE(dump.status.exitedWith(0)) << dump.err;
  EXPECT_EQ(linesOf(dump.out).size(), 2u);
  const QbxRun missing = qbx({"dump", "people.qbx", "nobody"});
  EXPECT_TRUE(missing.status.exitedWith(2));
  EXPECT_TRUE(contains(missing.err, "error 2 "));
}

TEST_F(PeopleFileTest, SchemaIsTheDeclarationOfTheStoredDefinition) {
  const QbxRun run = qbx({"schema", "people.qbx"});
  ASSERT_TRUE(run.status.exitedWith(0)) << run.err;
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  const std::vector<std::string> lines = linesOf(run.out);
  ASSERT_GE(lines.size(), 18u);
  EXPECT_EQ(lines[0], "UNNAMED           FILE,DRIVER('QUILLBOX'),NAME('" + path_ + "')");
  EXPECT_EQ(lines[1], "P:NAMEKEY           KEY(+P:NAME)");
  EXPECT_EQ(lines[2], "P:CITYKEY           KEY(+P:CITY,+P:NAME),DUP,OPT,NOCASE");
  EXPECT_EQ(lines[3], "P:VALUEKEY          KEY(-P:VALUE),DUP");
  EXPECT_EQ(lines[4], "                    RECORD");
  EXPECT_EQ(lines[5], "P:NAME                STRING(20)");
  EXPECT_EQ(lines[7], "P:VALUE               DECIMAL(7,2)");
  EXPECT_EQ(lines[8], "P:BORN                GROUP");
  EXPECT_EQ(lines[9], "P:YEAR                  SHORT");
  EXPECT_EQ(lines[12], "                      END");
  EXPECT_EQ(lines[13], "P:SCORES              LONG, DIM(3)");
}

TEST_F(PeopleFileTest, DumpCsvDecodesEveryField) {
  const QbxRun run = qbx({"dump", "people.qbx"});
  ASSERT_TRUE(run.status.exitedWith(0)) << run.err;
  const std::vector<std::string> lines = linesOf(run.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0],
            "P:NAME,P:CITY,P:VALUE,P:YEAR,P:DAY,P:MONTH,P:SCORES[1],P:SCORES[2],P:SCORES[3],"
            "P:NOTE,P:TAG,P:RATIO");
  EXPECT_EQ(lines[1], "Ada Lovelace,London,1234.00,1815,10,12,3,1,4,math,A1,0.5");
  EXPECT_EQ(lines[2], "\"Smith, John\",paris,-5.00,1970,1,1,-1,0,1,\"a\"\"q\",x,-2.25");
  EXPECT_EQ(lines[3], "Zoe,,0.00,2001,31,12,0,0,0,,,0");
  EXPECT_EQ(lines[4], "Bob,London,99999.00,1950,5,6,100,200,300,nine char,TAGGY,1e+10");
}

TEST_F(PeopleFileTest, DumpJsonlInKeyOrderWithALimit) {
  const QbxRun run =
      qbx({"dump", "people.qbx", "--key", "p:valuekey", "--format=jsonl", "--limit", "2"});
  ASSERT_TRUE(run.status.exitedWith(0)) << run.err;
  const std::vector<std::string> lines = linesOf(run.out);
  ASSERT_EQ(lines.size(), 2u);
  // Descending value: Bob, then Ada.
  EXPECT_EQ(lines[0],
            "{\"P:NAME\":\"Bob\",\"P:CITY\":\"London\",\"P:VALUE\":99999.00,\"P:YEAR\":1950,"
            "\"P:DAY\":5,\"P:MONTH\":6,\"P:SCORES\":[100,200,300],\"P:NOTE\":\"nine char\","
            "\"P:TAG\":\"TAGGY\",\"P:RATIO\":1e+10}");
  EXPECT_TRUE(contains(lines[1], "\"P:NAME\":\"Ada Lovelace\""));

  // NOCASE order on city then name; Zoe, blank in the OPT key's city, is
  // only left out when every component is blank, which her name is not.
  const QbxRun city = qbx({"dump", "people.qbx", "--key", "P:CITYKEY"});
  ASSERT_TRUE(city.status.exitedWith(0)) << city.err;
  const std::vector<std::string> rows = linesOf(city.out);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[1].substr(0, 4), "Zoe,");
  EXPECT_EQ(rows[2].substr(0, 7), "Carl,Be");
  EXPECT_EQ(rows[3].substr(0, 11), "Ada Lovelac");
  EXPECT_EQ(rows[4].substr(0, 4), "Bob,");
  EXPECT_EQ(rows[5].substr(0, 7), "\"Smith,");

  const QbxRun noKey = qbx({"dump", "people.qbx", "--key", "P:NOSUCH"});
  EXPECT_TRUE(noKey.status.exitedWith(2));
  EXPECT_TRUE(contains(noKey.err, "has no key P:NOSUCH; its keys: P:NAMEKEY P:CITYKEY P:VALUEKEY"));
}

}  // namespace
}  // namespace qbx::inspector::testing
