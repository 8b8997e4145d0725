// A child process makes a sequence of commits on a real file and is killed
// with SIGKILL at each of its writes (before the write, or after half of it)
// and flushes, and at random times. Whatever the moment, a reader must then
// find exactly the state before or after the interrupted commit, leaving the
// file as it is; a writer must find the same state, with the log cleared
// (log start = log end = logical end) and the tree intact; and the recovered
// file must take further commits.
//
// QBX_LONG_TESTS=1 runs a much longer campaign of random kills.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>

#include "qbx/store/entry_tree.h"
#include "store_state.h"
#include "store_test_util.h"
#include "support/child_process.h"
#include "support/fault_file.h"
#include "write_trace.h"

namespace qbx::store {
namespace {

using namespace test;
using namespace std::chrono_literals;

constexpr unsigned kSharedRead = 0x40;
constexpr unsigned kSharedReadWrite = 0x42;
// Inserted by the check after recovery, above every key of the steps.
constexpr std::uint32_t kMarkerKey = 900000;

bool longTests() {
  const char* v = std::getenv("QBX_LONG_TESTS");
  return v != nullptr && *v != '\0' && *v != '0';
}

const ChangeStep kStartStep = {insertKeys(1, 120, 60)};

// Commits of different shapes: pages written behind the old data, a page
// growing into a larger class, pages giving up their slots so that regions
// close up, a change of one page and the header, a small mixed change.
const std::vector<ChangeStep>& commitSteps() {
  static const std::vector<ChangeStep> kSteps = {
      {insertKeys(1000, 1039, 150)},
      {deleteKeys(50, 50), insertKeys(50, 50, 700)},
      {deleteKeys(1, 45)},
      {raiseCounter(), raiseCounter(), deleteKeys(100, 100)},
      {insertKeys(3000, 3003, 10), deleteKeys(1039, 1039)},
  };
  return kSteps;
}

// Opens the file shared, and for each step announces its number (1, 2 ...),
// makes its changes and commits. 0 when every commit succeeded, 1 when the
// open failed, 10 + k when commit k failed.
int runSteps(const std::string& path, const std::function<void(int)>& onStep) {
  QbxStore store;
  if (store.open(path, kSharedReadWrite, "") != 0) return 1;
  store.enterWriterMode();
  const std::vector<ChangeStep>& steps = commitSteps();
  for (std::size_t k = 1; k <= steps.size(); ++k) {
    onStep(static_cast<int>(k));
    applyStep(store, steps[k - 1]);
    if (store.commit() != 0) return 10 + static_cast<int>(k);
  }
  store.close();
  return 0;
}

// The writes and flushes of a run in the order they happen, and where each
// step began among them.
struct Trace {
  std::vector<WriteTrace::Event> events;
  std::vector<std::size_t> stepStart;  // index of the first event of step k + 1
};

Trace traceRun(const std::string& path) {
  Trace trace;
  WriteTrace recording(path);
  const int result =
      runSteps(path, [&](int) { trace.stepStart.push_back(recording.events().size()); });
  EXPECT_EQ(result, 0);
  for (const std::string& v : recording.violations()) ADD_FAILURE() << v;
  trace.events = recording.events();
  return trace;
}

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("crash.QBX");
    {
      auto store = openWriter(path_, kCreateExclusive);
      applyStep(*store, kStartStep);
      ASSERT_EQ(store->commit(), 0);
      store->truncate();
    }
    start_ = fileBytes(path_);
    StoreState empty;
    applyStep(empty, kStartStep);
    states_ = statesOf(empty, commitSteps());
  }

  // Opens the file as a reader, then as a writer, and checks that both find
  // one of the allowed states (the same one), that the reader changed no
  // byte, that the writer's recovery cleared the log, that the tree is
  // intact, and that the recovered file takes a further commit.
  void expectRecovered(const std::vector<const StoreState*>& allowed) {
    const Bytes before = fileBytes(path_);
    StoreState seen;
    {
      QbxStore reader;
      ASSERT_EQ(reader.open(path_, kSharedRead, ""), 0);
      seen = readState(reader);
      EXPECT_EQ(consistencyProblems(reader), "") << "reader";
    }
    bool isAllowed = false;
    for (const StoreState* s : allowed) isAllowed = isAllowed || seen == *s;
    EXPECT_TRUE(isAllowed) << "the reader found " << ::testing::PrintToString(seen) << "; expected "
                           << ::testing::PrintToString(*allowed.front())
                           << (allowed.size() > 1
                                   ? " or " + ::testing::PrintToString(*allowed.back())
                                   : "");
    EXPECT_EQ(fileBytes(path_), before) << "a reader leaves the file as it is";
    {
      QbxStore writer;
      ASSERT_EQ(writer.open(path_, kSharedReadWrite, ""), 0);
      writer.enterWriterMode();
      EXPECT_EQ(readState(writer), seen) << "the writer finds what the reader found";
      const FileHeader h = diskHeader(path_);
      EXPECT_EQ(h.logStart(), h.logEnd()) << "the writer's recovery clears the log";
      EXPECT_EQ(h.logStart(), h.logicalEnd());
      EXPECT_EQ(consistencyProblems(writer), "") << "writer";
      insert(writer, numberedEntry(kMarkerKey));
      ASSERT_EQ(writer.commit(), 0);
    }
    seen.entries[bigEndianKey(kMarkerKey)] = {};
    QbxStore reader;
    ASSERT_EQ(reader.open(path_, kSharedRead, ""), 0);
    EXPECT_EQ(readState(reader), seen) << "after a further commit";
    EXPECT_EQ(consistencyProblems(reader), "");
  }

  // The step numbers a child announced before it died.
  static int lastStep(support::ChildChannel& channel) {
    int last = 0;
    char c = 0;
    while (channel.receive(&c, 2s)) last = c;
    return last;
  }

  support::TempDir dir_;
  std::string path_;
  Bytes start_;
  std::vector<StoreState> states_;  // [0] the start, [k] after commit k
};

enum class Kill { kAtWrite, kAtWriteTorn, kAtFlush };

struct KillPlan {
  Kill kill;
  int n;              // the n-th write or flush of the run, from 1
  std::size_t event;  // its place among all events
};

std::string describe(const KillPlan& plan) {
  const char* what = plan.kill == Kill::kAtWrite       ? "write"
                     : plan.kill == Kill::kAtWriteTorn ? "torn write"
                                                       : "flush";
  return std::string("killed at ") + what + " " + std::to_string(plan.n);
}

TEST_F(CrashTest, EveryWriteAndFlushOfSeveralCommits) {
  writeFileBytes(dir_.file("dry.QBX"), start_);
  const Trace trace = traceRun(dir_.file("dry.QBX"));
  ASSERT_EQ(trace.stepStart.size(), commitSteps().size());

  // Every write is cut off before it stores a byte, and again after half
  // of its bytes: the header at offset 0 then holds the new header in its
  // first part and the old one in the rest.
  std::vector<KillPlan> plans;
  int writes = 0;
  int flushes = 0;
  for (std::size_t e = 0; e < trace.events.size(); ++e) {
    if (trace.events[e].flush) {
      plans.push_back({Kill::kAtFlush, ++flushes, e});
      continue;
    }
    plans.push_back({Kill::kAtWrite, ++writes, e});
    plans.push_back({Kill::kAtWriteTorn, writes, e});
  }
  ASSERT_GT(writes, 20);
  ASSERT_GT(flushes, 10);

  for (const KillPlan& plan : plans) {
    SCOPED_TRACE(describe(plan));
    // The commit in progress at the event, and whether the header at offset
    // 0 had already been pointed at its log (the moment it takes effect).
    std::size_t step = 0;
    while (step < trace.stepStart.size() && trace.stepStart[step] <= plan.event) ++step;
    bool pointed = false;
    // A torn write at offset 0 has stored the log bounds, in its first part.
    const std::size_t through = plan.event + (plan.kill == Kill::kAtWriteTorn ? 1 : 0);
    for (std::size_t e = trace.stepStart[step - 1]; e < through; ++e) {
      pointed = pointed || (!trace.events[e].flush && trace.events[e].offset == 0);
    }

    writeFileBytes(path_, start_);
    support::ChildProcess child([&](support::ChildChannel& channel) {
      support::FaultFile faults;
      switch (plan.kill) {
        case Kill::kAtWrite:
          faults.killAtWrite(plan.n);
          break;
        case Kill::kAtWriteTorn:
          faults.killAtWrite(plan.n, true);
          break;
        case Kill::kAtFlush:
          faults.killAtFlush(plan.n);
          break;
      }
      return runSteps(path_, [&](int k) { channel.send(static_cast<char>(k)); });
    });
    const support::ChildStatus status = child.wait();
    ASSERT_TRUE(status.killedBy(SIGKILL)) << status.describe();
    ASSERT_EQ(lastStep(child.channel()), static_cast<int>(step));
    expectRecovered({&states_[pointed ? step : step - 1]});
    if (HasFailure()) break;  // one plan's failures tell the story
  }

  // Without a kill the run commits every step, with the same writes and
  // flushes as the recorded run.
  writeFileBytes(path_, start_);
  support::ChildProcess child([&](support::ChildChannel&) {
    support::FaultFile faults;
    const int result = runSteps(path_, [](int) {});
    if (result != 0) return result;
    return faults.writes() == writes && faults.flushes() == flushes ? 0 : 2;
  });
  ASSERT_TRUE(child.wait().exitedWith(0));
  expectRecovered({&states_.back()});
}

TEST_F(CrashTest, RandomTimes) {
  // How long an undisturbed run takes: the kills fall within it.
  writeFileBytes(path_, start_);
  const auto began = std::chrono::steady_clock::now();
  {
    support::ChildProcess child(
        [&](support::ChildChannel&) { return runSteps(path_, [](int) {}); });
    ASSERT_TRUE(child.wait().exitedWith(0));
  }
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - began);

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::int64_t> delay(0, span.count());
  const int runs = longTests() ? 1000 : 25;
  for (int i = 0; i < runs; ++i) {
    writeFileBytes(path_, start_);
    support::ChildProcess child([&](support::ChildChannel& channel) {
      return runSteps(path_, [&](int k) { channel.send(static_cast<char>(k)); });
    });
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    child.kill(SIGKILL);
    const support::ChildStatus status = child.wait();
    ASSERT_TRUE(status.killedBy(SIGKILL) || status.exitedWith(0)) << status.describe();
    const int step = lastStep(child.channel());
    if (status.exitedWith(0)) {
      expectRecovered({&states_.back()});
    } else if (step == 0) {
      expectRecovered({&states_[0]});
    } else {
      expectRecovered({&states_[step - 1], &states_[step]});
    }
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace qbx::store
