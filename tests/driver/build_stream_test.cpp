// Streaming, flushing, building and locking through the driver entry: what a
// crash leaves of a streamed file, the operation count after which a streamed
// file commits, the BUILD family with its rules and deferred builds run from
// the message queue, and the table lock against another program.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "platform/clock.h"
#include "platform/message_queue.h"
#include "qbx/driver/file_state.h"
#include "qbx/driver/qbx_file.h"
#include "qbx/store/store.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace qbx::driver {
namespace {

using namespace std::chrono_literals;
using enum fileaccess::DriverOp;
using fileaccess::ERRORCODE;
using testing::kReadOnlyDenyNone;
using testing::kReadWriteDenyNone;
using testing::kReadWriteDenyWrite;
using testing::TestFile;

constexpr auto kWait = 20s;

class BuildStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileaccess::clearError();
    fileaccess::stringStack().clear();
    platform::clearMessages();
    platform::setEventHandler({});
    name_ = temp_.file("BULK");
  }
  void TearDown() override {
    platform::clearMessages();
    platform::setEventHandler({});
  }

  // CREATE, then OPEN with the mode; ERRORCODE is checked by the caller.
  void createAndOpen(TestFile& file, std::int32_t mode) {
    file.setName(name_);
    file.call(kCreate);
    ASSERT_EQ(ERRORCODE(), 0);
    file.call(kOpen, mode);
    ASSERT_EQ(ERRORCODE(), 0);
  }
  // Appends records "R<i>", codes by i % 7.
  static void appendRecords(TestFile& file, int from, int count) {
    for (int i = from; i < from + count; ++i) {
      file.setFields("R" + std::to_string(i), i, "C" + std::to_string(i % 7));
      file.call(kAppend);
      ASSERT_EQ(ERRORCODE(), 0) << "record " << i;
    }
  }
  // The records another FileBlock of this program counts in the file.
  int countRecords() { return countRecords(name_); }
  static int countRecords(const std::string& name) {
    TestFile reader;
    reader.setName(name);
    reader.call(kOpen, kReadOnlyDenyNone);
    if (ERRORCODE() != 0) return -ERRORCODE();
    const int n = reader.call(kRecordsFile);
    reader.call(kClose);
    return n;
  }
  static QbxFile& stateOf(TestFile& file) { return *static_cast<QbxFile*>(file.block().driverState); }

  // Another program that counts the committed records of the file whenever
  // asked (another FileBlock of this program would share the store and see
  // what is not committed yet). Made before this process opens anything.
  class CommittedCounter {
   public:
    explicit CommittedCounter(BuildStreamTest& test)
        : child_([&test](support::ChildChannel& channel) {
            for (;;) {
              char order = 0;
              if (!channel.receive(&order, kWait) || order != 'c') return 0;
              const int n = test.countRecords();
              if (!channel.send(static_cast<char>(n))) return 1;
            }
          }) {}
    ~CommittedCounter() {
      child_.channel().send('q');
      EXPECT_TRUE(child_.wait(kWait).exitedWith(0));
    }
    int operator()() {
      char answer = 0;
      EXPECT_TRUE(child_.channel().send('c'));
      EXPECT_TRUE(child_.channel().receive(&answer, kWait));
      return static_cast<unsigned char>(answer);
    }

   private:
    support::ChildProcess child_;
  };

  support::TempDir temp_;
  std::string name_;
};

// ---- STREAM and the post-operation flush ------------------------------------------

TEST_F(BuildStreamTest, AKillBeforeFlushLosesTheStreamedRecordsOnly) {
  struct Case {
    const char* what;
    bool streamed;
    int expected;
  };
  for (const Case c : {Case{"streamed", true, 0}, Case{"not streamed", false, 40}}) {
    SCOPED_TRACE(c.what);
    support::ChildProcess child([&](support::ChildChannel&) {
      TestFile file;
      file.setName(name_);
      file.call(kCreate);
      file.call(kOpen, kReadWriteDenyWrite);
      if (c.streamed) file.call(kStream);
      for (int i = 0; i < 40; ++i) {
        file.setFields("R" + std::to_string(i), i, "C");
        file.call(kAppend);
        if (ERRORCODE() != 0) return 1;
      }
      ::kill(::getpid(), SIGKILL);
      return 2;
    });
    const support::ChildStatus status = child.wait(kWait);
    ASSERT_TRUE(status.killedBy(SIGKILL)) << status.describe();
    EXPECT_EQ(countRecords(), c.expected);
  }
}

TEST_F(BuildStreamTest, AStreamedFileCommitsAfter5000DeferredOperations) {
  CommittedCounter committed(*this);
  TestFile file;
  createAndOpen(file, kReadWriteDenyNone);
  file.call(kStream);
  appendRecords(file, 0, 1);  // deferred operation 1
  file.call(kSetFile);        // 2
  for (int i = 3; i <= 5000; ++i) file.call(kNext);
  EXPECT_EQ(committed(), 0);
  EXPECT_EQ(stateOf(file).deferredFlushes, 5000u);
  file.call(kNext);  // the 5001st operation commits
  EXPECT_EQ(committed(), 1);
  EXPECT_EQ(stateOf(file).deferredFlushes, 0u);
  EXPECT_TRUE(stateOf(file).table->store().readerMode());
}

TEST_F(BuildStreamTest, FlushEndsStreamingAndASecondStreamIsSilent) {
  CommittedCounter committed(*this);
  TestFile file;
  createAndOpen(file, kReadWriteDenyNone);
  file.call(kFlush);  // on a file that is not streamed
  EXPECT_EQ(ERRORCODE(), 0);
  file.call(kStream);
  appendRecords(file, 0, 10);
  EXPECT_EQ(committed(), 0);
  file.call(kGetFilePtr, 999);  // fails: 35
  ASSERT_EQ(ERRORCODE(), 35);
  file.call(kStream);
  EXPECT_EQ(ERRORCODE(), 35);  // refused without a word
  file.call(kFlush);
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(committed(), 10);
  EXPECT_EQ(stateOf(file).state & flag::streamed, 0u);
}

// ---- BUILD --------------------------------------------------------------------------

TEST_F(BuildStreamTest, BuildAfterAppendCompletesTheKeysOfOpenAndClosedFiles) {
  for (const bool closedFirst : {false, true}) {
    SCOPED_TRACE(closedFirst ? "closed file" : "open file");
    TestFile file;
    createAndOpen(file, kReadWriteDenyWrite);
    file.call(kStream);
    appendRecords(file, 0, 300);
    file.call(kFlush);
    EXPECT_EQ(file.call(kRecordsKey, file.nameKey()), 0);
    if (closedFirst) file.call(kClose);
    file.call(kBuildFile);
    EXPECT_EQ(ERRORCODE(), 0);
    if (closedFirst) file.call(kOpen, kReadWriteDenyWrite);
    EXPECT_EQ(file.call(kRecordsKey, file.nameKey()), 300);
    EXPECT_EQ(file.call(kRecordsKey, file.codeKey()), 300);
    // Key order: R0, R1, R10, R100, ...
    file.call(kSetKey, file.nameKey());
    file.call(kNext);
    EXPECT_EQ(file.name(), "R0");
    file.call(kNext);
    EXPECT_EQ(file.name(), "R1");
    file.call(kNext);
    EXPECT_EQ(file.name(), "R10");
    file.call(kClose);
  }
}

TEST_F(BuildStreamTest, BuildNeedsExclusiveAccessWhichALockGivesForGood) {
  TestFile file;
  createAndOpen(file, kReadWriteDenyNone);
  appendRecords(file, 0, 5);
  file.call(kBuildFile);
  EXPECT_EQ(ERRORCODE(), 63);
  file.call(kLockFile);
  ASSERT_EQ(ERRORCODE(), 0);
  file.call(kUnlock);
  ASSERT_EQ(ERRORCODE(), 0);
  // exclusive stays after UNLOCK.
  file.call(kBuildFile);
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(file.call(kRecordsKey, file.nameKey()), 5);
}

TEST_F(BuildStreamTest, DynamicIndexTakesItsComponentsAndOrdersReading) {
  TestFile file;
  createAndOpen(file, kReadWriteDenyWrite);
  const std::vector<std::pair<std::string, int>> rows = {{"B", 3}, {"A", 3}, {"C", 1}, {"D", 2}};
  for (const auto& [name, number] : rows) {
    file.setFields(name, number, "X");
    file.call(kAdd);
  }
  // Not built yet: reading by it is refused.
  file.call(kSetKey, file.dynamicIndex());
  EXPECT_EQ(ERRORCODE(), 46);
  file.callWithText(kBuildDyn, "-t:number,T:NAME", file.dynamicIndex());
  ASSERT_EQ(ERRORCODE(), 0);
  file.call(kSetKey, file.dynamicIndex());
  std::string order;
  for (file.call(kNext); ERRORCODE() == 0; file.call(kNext)) order += file.name();
  EXPECT_EQ(order, "ABDC");

  // The filter keeps the records it holds for.
  fileaccess::stringStack().push("T:NUMBER >= 2");
  fileaccess::stringStack().push("T:NAME");
  file.call(kBuildDynFilter, file.dynamicIndex());
  ASSERT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(file.call(kRecordsKey, file.dynamicIndex()), 3);

  file.callWithText(kBuildDyn, "T:NAMES", file.dynamicIndex());
  EXPECT_EQ(ERRORCODE(), 76);
  // A declared key keeps its own components.
  file.callWithText(kBuildDyn, "T:NUMBER", file.nameKey());
  EXPECT_EQ(ERRORCODE(), 76);
}

// ---- Deferred builds ---------------------------------------------------------------

struct EventLog {
  std::vector<std::uint32_t> events;
  int progressAnswer = 0;
  int doneAnswer = 0;
};

class DeferredBuildTest : public BuildStreamTest {
 protected:
  void SetUp() override {
    BuildStreamTest::SetUp();
    createAndOpen(file_, kReadWriteDenyWrite);
    file_.call(kStream);
    appendRecords(file_, 0, 300);
    file_.call(kFlush);
    ASSERT_EQ(ERRORCODE(), 0);
  }
  void answerEvents(EventLog& log) {
    platform::setEventHandler([this, &log](std::uint32_t event, std::intptr_t argument) {
      EXPECT_EQ(argument, reinterpret_cast<std::intptr_t>(&file_.block()));
      log.events.push_back(event);
      return event == platform::kBuildDoneEvent ? log.doneAnswer : log.progressAnswer;
    });
  }
  // The next BUILD is deferred, as the property that asks for it does.
  void buildLater() { stateOf(file_).state |= flag::buildLater; }

  TestFile file_;
};

TEST_F(DeferredBuildTest, TheBuildRunsWhenTheMessageLoopDeliversIt) {
  EventLog log;
  answerEvents(log);
  buildLater();
  file_.call(kBuildFile);
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(file_.call(kRecordsKey, file_.nameKey()), 0);  // nothing built yet
  EXPECT_TRUE(log.events.empty());

  EXPECT_EQ(platform::pumpMessages(), 1u);
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(file_.call(kRecordsKey, file_.nameKey()), 300);
  EXPECT_EQ(file_.call(kRecordsKey, file_.codeKey()), 300);
  // Two keys of 300 records: progress at the 128th and 256th record of
  // each, then the end.
  const std::uint32_t p = platform::kBuildProgressEvent;
  EXPECT_EQ(log.events, (std::vector<std::uint32_t>{p, p, p, p, platform::kBuildDoneEvent}));
  // The deferral was used up: the next BUILD runs at once.
  log.events.clear();
  file_.call(kBuildFile);
  EXPECT_EQ(platform::pendingMessages(), 0u);
  EXPECT_TRUE(log.events.empty());
}

TEST_F(DeferredBuildTest, AnswersCancelTheBuild) {
  struct Case {
    const char* what;
    bool handler;
    int progressAnswer;
    int doneAnswer;
    int expectedKeys;  // entries of the name key afterwards
  };
  const Case cases[] = {
      {"no window answers", false, 0, 0, 0},
      {"progress cancelled", true, 1, 0, 0},
      // The keys are built, but the end's answer reports a cancel.
      {"end answered non-zero", true, 0, 7, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EventLog log;
    log.progressAnswer = c.progressAnswer;
    log.doneAnswer = c.doneAnswer;
    if (c.handler) {
      answerEvents(log);
    } else {
      platform::setEventHandler({});
    }
    file_.call(kEmpty);
    ASSERT_EQ(ERRORCODE(), 0);
    file_.call(kStream);
    appendRecords(file_, 0, 300);
    file_.call(kFlush);
    buildLater();
    file_.call(kBuildFile);
    ASSERT_EQ(platform::pumpMessages(), 1u);
    EXPECT_EQ(ERRORCODE(), 93);
    EXPECT_EQ(file_.call(kRecordsKey, file_.nameKey()), c.expectedKeys);
  }
}

TEST_F(DeferredBuildTest, OperationsFromTheEventsAreRefusedButClose) {
  EventLog log;
  std::vector<int> fromEvent;
  platform::setEventHandler([&](std::uint32_t event, std::intptr_t) {
    log.events.push_back(event);
    if (log.events.size() == 1) {
      file_.call(kSetFile);
      fromEvent.push_back(ERRORCODE());
      file_.call(kClose);
      fromEvent.push_back(ERRORCODE());
    }
    return 0;
  });
  buildLater();
  file_.call(kBuildKey, file_.nameKey());
  ASSERT_EQ(platform::pumpMessages(), 1u);
  EXPECT_EQ(fromEvent, (std::vector<int>{92, 0}));
  // The build could not go on without its table.
  EXPECT_EQ(ERRORCODE(), 90);
  EXPECT_FALSE(file_.attached());
  // The file is whole: it opens again and the key is built.
  file_.call(kOpen, kReadWriteDenyWrite);
  ASSERT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(file_.call(kRecordsFile), 300);
  file_.call(kBuildKey, file_.nameKey());
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(file_.call(kRecordsKey, file_.nameKey()), 300);
}

// ---- The table lock ----------------------------------------------------------------

TEST_F(BuildStreamTest, LockFileSecGivesUpAfterItsSecondsAgainstAnotherProgram) {
  support::ChildProcess locker([&](support::ChildChannel& channel) {
    if (!channel.expect('l', kWait)) return 1;
    TestFile file;
    file.setName(name_);
    file.call(kOpen, kReadWriteDenyNone);
    file.call(kLockFile);
    if (ERRORCODE() != 0) return 2;
    channel.send('L');
    // 'u': unlock at once; 'd': half way through the other's wait.
    char order = 0;
    if (!channel.receive(&order, kWait)) return 3;
    if (order == 'd') platform::sleepMillis(1500);
    file.call(kUnlock);
    if (ERRORCODE() != 0) return 4;
    channel.send('U');
    return channel.expect('q', kWait) ? 0 : 5;
  });
  TestFile file;
  createAndOpen(file, kReadWriteDenyNone);
  file.call(kClose);
  locker.channel().send('l');
  ASSERT_TRUE(locker.channel().expect('L', kWait));
  file.call(kOpen, kReadWriteDenyNone);
  ASSERT_EQ(ERRORCODE(), 0);

  std::int64_t start = platform::tickCount();
  file.call(kLockFileSec, 3);
  const std::int64_t waited = platform::tickCount() - start;
  EXPECT_EQ(ERRORCODE(), 32);
  // Three or four attempts one second apart.
  EXPECT_GE(waited, 290);
  EXPECT_LT(waited, 500);

  locker.channel().send('d');
  start = platform::tickCount();
  file.call(kLockFileSec, 10);
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_LT(platform::tickCount() - start, 500);
  ASSERT_TRUE(locker.channel().expect('U', kWait));
  // A second LOCK while locked is refused without a word.
  fileaccess::clearError();
  file.call(kGetFilePtr, 999);
  file.call(kLockFile);
  EXPECT_EQ(ERRORCODE(), 35);
  file.call(kUnlock);
  EXPECT_EQ(ERRORCODE(), 0);
  locker.channel().send('q');
  EXPECT_TRUE(locker.wait(kWait).exitedWith(0));
}

TEST_F(BuildStreamTest, TwoTablesOfOneProgramShareTheLock) {
  TestFile first;
  createAndOpen(first, kReadWriteDenyNone);
  TestFile second;
  second.setName(name_);
  second.call(kOpen, kReadWriteDenyNone);
  ASSERT_EQ(ERRORCODE(), 0);
  first.call(kLockFile);
  ASSERT_EQ(ERRORCODE(), 0);
  second.call(kLockFileSec, 1);
  EXPECT_EQ(ERRORCODE(), 32);
  first.call(kUnlock);
  second.call(kLockFile);
  EXPECT_EQ(ERRORCODE(), 0);
  // CLOSE lets go of the lock as UNLOCK does.
  second.call(kClose);
  first.call(kLockFileSec, 1);
  EXPECT_EQ(ERRORCODE(), 0);
}

// ---- LOGOUT, COMMIT and ROLLBACK ------------------------------------------------------

TEST_F(BuildStreamTest, LoggedOutFilesCommitOrRollBackTogether) {
  const std::string otherName = temp_.file("OTHER");
  TestFile a;
  createAndOpen(a, kReadWriteDenyWrite);
  TestFile b;
  b.setName(otherName);
  b.call(kCreate);
  b.call(kOpen, kReadWriteDenyWrite);
  ASSERT_EQ(ERRORCODE(), 0);
  auto addTo = [](TestFile& file, const std::string& name) {
    file.setFields(name, 1, "C");
    file.call(kAdd);
    ASSERT_EQ(ERRORCODE(), 0);
  };
  addTo(a, "A0");
  addTo(b, "B0");

  a.call(kLogout);
  b.call(kLogout);
  ASSERT_EQ(ERRORCODE(), 0);
  a.call(kLogout);
  EXPECT_EQ(ERRORCODE(), 56);
  addTo(a, "A1");
  addTo(b, "B1");
  // A file in the transaction cannot be closed.
  a.call(kClose);
  EXPECT_EQ(ERRORCODE(), 56);
  EXPECT_EQ(a.call(kRecordsFile), 2);
  a.call(kRollback);
  EXPECT_EQ(ERRORCODE(), 0);
  // Both members lost their changes.
  EXPECT_EQ(a.call(kRecordsFile), 1);
  EXPECT_EQ(b.call(kRecordsFile), 1);
  b.call(kRollback);  // b still counts as logged out until its own ROLLBACK
  EXPECT_EQ(ERRORCODE(), 0);

  a.call(kLogout);
  b.call(kLogout);
  addTo(a, "A2");
  addTo(b, "B2");
  a.call(kCommit);
  EXPECT_EQ(ERRORCODE(), 0);
  b.call(kCommit);
  EXPECT_EQ(ERRORCODE(), 0);
  a.call(kClose);
  b.call(kClose);
  ASSERT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(countRecords(name_), 2);
  EXPECT_EQ(countRecords(otherName), 2);
  // COMMIT and ROLLBACK without LOGOUT are refused without a word.
  a.call(kOpen, kReadWriteDenyWrite);
  a.call(kGetFilePtr, 999);
  a.call(kCommit);
  a.call(kRollback);
  EXPECT_EQ(ERRORCODE(), 35);
}

}  // namespace
}  // namespace qbx::driver
