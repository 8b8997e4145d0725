// Every write of a commit made to fail in turn (an I/O error, a full disk, a
// disk that stays full, a write that stops short) and every flush made to
// fail. A failure before the header at offset 0 points at the new log must
// leave the old state; one after it, during finish, leaves the complete log
// for the next writer, so the new state. Either way the commit reports the
// error, the store forgets its changes, reads the file again, and goes on
// committing; nothing committed before is lost.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "qbx/store/entry_tree.h"
#include "store_state.h"
#include "store_test_util.h"
#include "support/fault_file.h"

namespace qbx::store {
namespace {

using namespace test;

constexpr unsigned kSharedReadWrite = 0x42;
constexpr std::uint32_t kMarkerKey = 900000;

const ChangeStep kStartStep = {insertKeys(1, 120, 60)};
// One commit that writes pages into the log and at home, moves pages as
// regions close up, grows a page into a larger class and raises the counter.
const ChangeStep kChange = {deleteKeys(1, 45), insertKeys(1000, 1039, 150), deleteKeys(50, 50),
                            insertKeys(50, 50, 700), raiseCounter()};

struct Fault {
  const char* name;
  bool flush;  // counts flushes, else writes
  int error;   // what the commit reports
  std::function<void(support::FaultFile&, int)> plan;
};

class CommitFault : public ::testing::TestWithParam<Fault> {
 protected:
  void SetUp() override {
    path_ = dir_.file("fault.QBX");
    {
      auto store = openWriter(path_, kCreateExclusive);
      applyStep(*store, kStartStep);
      ASSERT_EQ(store->commit(), 0);
      store->truncate();
    }
    start_ = fileBytes(path_);
    applyStep(old_, kStartStep);
    new_ = old_;
    applyStep(new_, kChange);
  }

  // A store holding the change, not yet committed.
  std::unique_ptr<QbxStore> changedStore() {
    writeFileBytes(path_, start_);
    auto store = openWriter(path_, kSharedReadWrite);
    applyStep(*store, kChange);
    return store;
  }

  // Commits the change with the fault planned at n, then checks the store
  // and the file.
  void checkFaultAt(const Fault& fault, int n, const StoreState& expected) {
    auto store = changedStore();
    {
      support::FaultFile faults;
      fault.plan(faults, n);
      EXPECT_EQ(store->commit(), fault.error);
    }
    EXPECT_FALSE(store->changed());
    EXPECT_FALSE(store->readerAreaHeld());
    // The same store reads the file again at its next access.
    EXPECT_EQ(readState(*store), expected);
    EXPECT_EQ(consistencyProblems(*store), "");
    insert(*store, numberedEntry(kMarkerKey));
    ASSERT_EQ(store->commit(), 0);
    store.reset();

    QbxStore reader;
    ASSERT_EQ(reader.open(path_, 0x40, ""), 0);
    StoreState withMarker = expected;
    withMarker.entries[bigEndianKey(kMarkerKey)] = {};
    EXPECT_EQ(readState(reader), withMarker);
    EXPECT_EQ(consistencyProblems(reader), "");
    const FileHeader h = diskHeader(path_);
    EXPECT_EQ(h.logStart(), h.logEnd());
  }

  support::TempDir dir_;
  std::string path_;
  Bytes start_;
  StoreState old_;
  StoreState new_;
};

TEST_P(CommitFault, AtEveryWriteOrFlushOfACommit) {
  const Fault& fault = GetParam();
  int inPrepare = 0;
  int total = 0;
  {
    auto store = changedStore();
    support::FaultFile counting;
    ASSERT_EQ(store->prepare(), 0);
    inPrepare = fault.flush ? counting.flushes() : counting.writes();
    ASSERT_EQ(store->finish(), 0);
    total = fault.flush ? counting.flushes() : counting.writes();
  }
  ASSERT_GT(inPrepare, 0);
  ASSERT_GT(total, inPrepare);

  for (int n = 1; n <= total; ++n) {
    const bool beforePointing = n <= inPrepare;
    SCOPED_TRACE(std::string(fault.name) + " at " + std::to_string(n) + " of " +
                 std::to_string(total) + (beforePointing ? " (prepare)" : " (finish)"));
    const StoreState& expected = beforePointing ? old_ : new_;
    EXPECT_EQ(internalErrorOf([&] { checkFaultAt(fault, n, expected); }), 0);
    if (HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CommitFault,
    ::testing::Values(
        Fault{"WriteEIO", false, 29, [](support::FaultFile& f, int n) { f.failWrite(n, EIO); }},
        Fault{"WriteENOSPC", false, 39,
              [](support::FaultFile& f, int n) { f.failWrite(n, ENOSPC); }},
        Fault{"DiskStaysFull", false, 39,
              [](support::FaultFile& f, int n) { f.failWrite(n, ENOSPC, true); }},
        Fault{"ShortWrite", false, 5, [](support::FaultFile& f, int n) { f.shortWrite(n); }},
        Fault{"FlushEIO", true, 29, [](support::FaultFile& f, int n) { f.failFlush(n, EIO); }}),
    [](const auto& param) { return std::string(param.param.name); });

// The same faults during a writer's recovery of a pending log: the store
// reads the new state through the log meanwhile, and once the disk works
// again the same store rolls the log forward and goes on committing.
class RecoveryFault : public CommitFault {
 protected:
  void SetUp() override {
    CommitFault::SetUp();
    // The file as a program that died right after prepare leaves it.
    auto store = changedStore();
    ASSERT_EQ(store->prepare(), 0);
    pending_ = fileBytes(path_);
    ASSERT_NE(diskHeader(path_).logStart(), diskHeader(path_).logEnd());
  }

  std::unique_ptr<QbxStore> pendingStore() {
    writeFileBytes(path_, pending_);
    auto store = std::make_unique<QbxStore>();
    EXPECT_EQ(store->open(path_, kSharedReadWrite, ""), 0);
    store->enterWriterMode();
    return store;
  }

  void checkFaultAt(const Fault& fault, int n) {
    auto store = pendingStore();
    {
      support::FaultFile faults;
      fault.plan(faults, n);
      EXPECT_EQ(readState(*store), new_);
    }
    // The driver enters writer mode before every change.
    store->enterWriterMode();
    EXPECT_EQ(readState(*store), new_);
    insert(*store, numberedEntry(kMarkerKey));
    ASSERT_EQ(store->commit(), 0);
    store.reset();

    QbxStore reader;
    ASSERT_EQ(reader.open(path_, 0x40, ""), 0);
    StoreState withMarker = new_;
    withMarker.entries[bigEndianKey(kMarkerKey)] = {};
    EXPECT_EQ(readState(reader), withMarker);
    EXPECT_EQ(consistencyProblems(reader), "");
    const FileHeader h = diskHeader(path_);
    EXPECT_EQ(h.logStart(), h.logEnd());
  }

  Bytes pending_;
};

TEST_P(RecoveryFault, AtEveryWriteOrFlushOfARollForward) {
  const Fault& fault = GetParam();
  int total = 0;
  {
    auto store = pendingStore();
    support::FaultFile counting;
    ASSERT_EQ(readState(*store), new_);
    total = fault.flush ? counting.flushes() : counting.writes();
  }
  ASSERT_GT(total, 0);
  for (int n = 1; n <= total; ++n) {
    SCOPED_TRACE(std::string(fault.name) + " at " + std::to_string(n) + " of " +
                 std::to_string(total));
    EXPECT_EQ(internalErrorOf([&] { checkFaultAt(fault, n); }), 0);
    if (HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RecoveryFault,
    ::testing::Values(
        Fault{"WriteEIO", false, 29, [](support::FaultFile& f, int n) { f.failWrite(n, EIO); }},
        Fault{"DiskStaysFull", false, 39,
              [](support::FaultFile& f, int n) { f.failWrite(n, ENOSPC, true); }},
        Fault{"ShortWrite", false, 5, [](support::FaultFile& f, int n) { f.shortWrite(n); }},
        Fault{"FlushEIO", true, 29, [](support::FaultFile& f, int n) { f.failFlush(n, EIO); }}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace qbx::store
