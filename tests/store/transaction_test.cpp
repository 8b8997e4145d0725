// Multi-file transactions on real files: which control files LOGOUT
// records, what a commit writes into data and control files, commits killed
// at chosen steps in a child process, failures of control files and of
// members, and recovery consulting markers (also crafted ones).
#include "qbx/store/transaction.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/endian.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/internal_errors.h"
#include "store_test_util.h"
#include "support/child_process.h"
#include "support/fault_file.h"
#include "support/temp_dir.h"

namespace qbx::store {
namespace {

using namespace test;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// Create if missing, read and write, deny none: the way programs share data
// files, so every access and commit takes its locks.
constexpr unsigned kShared = 0x142;

Bytes bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::unique_ptr<QbxStore> openStore(const std::string& path, unsigned flags = kShared) {
  auto store = std::make_unique<QbxStore>();
  const int result = store->open(path, flags, "");
  EXPECT_EQ(result, 0) << path;
  return store;
}

void put(QbxStore& store, std::string_view key, std::string_view value) {
  const Bytes k = bytesOf(key);
  if (QbxEntry* old = find(store, *makeEntry(k))) deleteEntry(store, old);
  insert(store, makeEntry(k, bytesOf(value)));
}

std::optional<std::string> valueOf(QbxStore& store, std::string_view key) {
  const QbxEntry* e = find(store, *makeEntry(bytesOf(key)));
  if (e == nullptr) return std::nullopt;
  return std::string(e->data().begin(), e->data().end());
}

std::optional<Bytes> markerOf(QbxStore& store) {
  const QbxEntry* e = findMarker(store);
  if (e == nullptr) return std::nullopt;
  return Bytes(e->data().begin(), e->data().end());
}

// A data file holding k = "old".
void makeDataFile(const std::string& path) {
  auto store = openStore(path);
  store->enterWriterMode();
  put(*store, "k", "old");
  ASSERT_EQ(store->commit(), 0);
}

// The numbers a control file lists, in key order (none for a missing file).
std::vector<std::uint32_t> listedNumbers(const std::string& path) {
  std::vector<std::uint32_t> numbers;
  if (!fs::exists(path)) return numbers;
  QbxStore store;
  EXPECT_EQ(store.open(path, kControlConsultOpenFlags, ""), 0) << path;
  EntryPtr at = makeEntry({});
  for (QbxEntry* e = next(store, *at); e != nullptr; e = next(store, *at)) {
    EXPECT_EQ(e->keyLength, 4u) << "a control file holds transaction numbers only";
    if (e->keyLength == 4) numbers.push_back(platform::loadLe32(e->key(), 0));
    at = copyKey(*e);
  }
  return numbers;
}

void listNumbers(const std::string& path, std::uint32_t first, std::uint32_t count) {
  auto store = openStore(path);
  store->enterWriterMode();
  for (std::uint32_t n = first; n != first + count; ++n) {
    Bytes key(4);
    platform::storeLe32(key, 0, n);
    insert(*store, makeEntry(key));
  }
  ASSERT_EQ(store->commit(), 0);
}

FileHeader headerOnDisk(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  FileHeader h;
  in.read(reinterpret_cast<char*>(h.bytes().data()), 512);
  return h;
}

// The value of k as a reader sees it, then as a writer, after a commit of
// the writer, and in the file opened afresh.
void expectValue(const std::string& path, const std::string& expected) {
  SCOPED_TRACE(path);
  {
    auto store = openStore(path);
    EXPECT_EQ(valueOf(*store, "k"), expected) << "reader";
    store->enterWriterMode();
    EXPECT_EQ(valueOf(*store, "k"), expected) << "writer";
    put(*store, "later", "commit");
    EXPECT_EQ(store->commit(), 0);
    EXPECT_EQ(valueOf(*store, "k"), expected) << "after a commit";
  }
  const FileHeader h = headerOnDisk(path);
  EXPECT_EQ(h.logStart(), h.logEnd()) << "a commit settles the log";
  auto again = openStore(path);
  EXPECT_EQ(valueOf(*again, "k"), expected) << "opened again";
}

// ---------------------------------------------------------------------------
// Joining: the control files recorded.

struct JoinCase {
  const char* name;
  const char* first;  // data files, relative to the test directory
  const char* second;
  std::vector<const char*> recorded;  // control files, relative to it
};

class JoinRecords : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinRecords, EachDirectoryOnce) {
  support::TempDir dir;
  for (const char* sub : {"a", "b", "A"}) fs::create_directory(dir.file(sub));
  fs::create_directory_symlink(dir.file("a"), dir.file("link"));
  const std::string root = fs::canonical(dir.path()).string();
  auto one = openStore(dir.file(GetParam().first));
  auto two = openStore(dir.file(GetParam().second));
  QbxTransaction transaction;
  transaction.join(*one);
  transaction.join(*two);
  transaction.join(*one);  // a second join changes nothing
  std::vector<std::string> expected;
  for (const char* r : GetParam().recorded) expected.push_back(root + "/" + r);
  EXPECT_EQ(transaction.defaultControlPaths(), expected);
  EXPECT_EQ(transaction.memberCount(), 2u);
  EXPECT_TRUE(one->inTransaction());
  transaction.endTransaction();
  EXPECT_FALSE(one->inTransaction());
  EXPECT_TRUE(transaction.defaultControlPaths().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, JoinRecords,
    ::testing::Values(
        JoinCase{"OneDirectory", "a/one.QBX", "a/two.QBX", {"a/quillbox.tcf"}},
        JoinCase{"TwoDirectories", "a/one.QBX", "b/two.QBX", {"a/quillbox.tcf", "b/quillbox.tcf"}},
        JoinCase{"DotInPath", "a/one.QBX", "a/./two.QBX", {"a/quillbox.tcf"}},
        JoinCase{"LinkedDirectory", "a/one.QBX", "link/two.QBX", {"a/quillbox.tcf"}},
        JoinCase{"CaseMakesAnotherDirectory",
                 "a/one.QBX",
                 "A/two.QBX",
                 {"a/quillbox.tcf", "A/quillbox.tcf"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Join, SetControlFileRecordsNoDefaults) {
  support::TempDir dir;
  auto one = openStore(dir.file("one.QBX"));
  QbxTransaction transaction;
  transaction.setControlFilePath(dir.file("first.tcf"));
  transaction.setControlFilePath(dir.file("second.tcf"));
  EXPECT_EQ(transaction.controlFilePath(), dir.file("second.tcf"));
  EXPECT_EQ(transaction.previousControlFilePath(), dir.file("first.tcf"));
  transaction.join(*one);
  EXPECT_TRUE(transaction.defaultControlPaths().empty());
  EXPECT_TRUE(transaction.isMember(*one));
  transaction.endTransaction();
}

TEST(Join, HundredDirectoriesAtMost) {
  support::TempDir dir;
  std::vector<std::unique_ptr<QbxStore>> stores;
  QbxTransaction transaction;
  for (int i = 0; i <= 100; ++i) {
    const std::string sub = dir.file("d" + std::to_string(i));
    fs::create_directory(sub);
    stores.push_back(openStore(sub + "/f.QBX"));
  }
  for (int i = 0; i < 100; ++i) transaction.join(*stores[static_cast<std::size_t>(i)]);
  EXPECT_EQ(transaction.defaultControlPaths().size(), 100u);
  // Another file of a recorded directory still joins.
  auto more = openStore(dir.file("d7/g.QBX"));
  transaction.join(*more);
  EXPECT_TRUE(transaction.isMember(*more));
  // A 101st directory does not, and its store stays out.
  EXPECT_EQ(internalErrorOf([&] { transaction.join(*stores[100]); }), kErrJoinTransactionFull);
  EXPECT_FALSE(transaction.isMember(*stores[100]));
  EXPECT_FALSE(stores[100]->inTransaction());
  EXPECT_EQ(transaction.memberCount(), 101u);
  transaction.endTransaction();
}

// ---------------------------------------------------------------------------
// Commits that run to their end.

class TwoFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir_.file("a"));
    fs::create_directory(dir_.file("b"));
    root_ = fs::canonical(dir_.path()).string();
  }

  // Opens the data files (made with k = "old" when new), joins them and
  // changes them.
  void begin(QbxTransaction& transaction, const std::string& first, const std::string& second) {
    paths_ = {dir_.file(first), dir_.file(second)};
    stores_.clear();
    for (const std::string& p : paths_) {
      if (!fs::exists(p)) makeDataFile(p);
      stores_.push_back(openStore(p));
      transaction.join(*stores_.back());
      stores_.back()->enterWriterMode();
      put(*stores_.back(), "k", "new");
    }
  }

  void closeAll() { stores_.clear(); }

  support::TempDir dir_;
  std::string root_;
  std::vector<std::string> paths_;
  std::vector<std::unique_ptr<QbxStore>> stores_;
};

TEST_F(TwoFiles, NothingOrOneChangedTouchesNoControlFile) {
  QbxTransaction transaction;
  begin(transaction, "a/one.QBX", "a/two.QBX");
  stores_[1]->abandon();  // only the first file keeps a change
  transaction.join(*stores_[1]);
  EXPECT_EQ(transaction.commitAll(), 0);
  EXPECT_FALSE(transaction.running());
  EXPECT_FALSE(fs::exists(dir_.file("a/quillbox.tcf")));
  for (auto& s : stores_) EXPECT_FALSE(markerOf(*s).has_value());
  closeAll();
  expectValue(paths_[0], "new");
  expectValue(paths_[1], "old");

  auto store = openStore(paths_[0]);
  transaction.join(*store);
  EXPECT_EQ(transaction.commitAll(), 0);
  EXPECT_FALSE(fs::exists(dir_.file("a/quillbox.tcf")));
}

TEST_F(TwoFiles, BothChangedTakeMarkersAndLeaveTheControlFileEmpty) {
  QbxTransaction transaction;
  begin(transaction, "a/one.QBX", "a/two.QBX");
  const std::uint32_t before = platform::localTimeSeconds();
  ASSERT_EQ(transaction.commitAll(), 0);
  const std::uint32_t after = platform::localTimeSeconds();
  EXPECT_FALSE(transaction.running());
  std::optional<std::uint32_t> number;
  for (auto& s : stores_) {
    EXPECT_FALSE(s->inTransaction());
    EXPECT_FALSE(s->changed());
    const std::optional<Bytes> marker = markerOf(*s);
    ASSERT_TRUE(marker.has_value());
    ASSERT_EQ(marker->size(), 4u + 15u + 1u);
    const std::uint32_t n = platform::loadLe32(*marker, 0);
    EXPECT_TRUE(n >= before && n <= after) << n;
    if (number) {
      EXPECT_EQ(n, *number) << "one number for the whole commit";
    }
    number = n;
    EXPECT_EQ(std::string(marker->begin() + 4, marker->end()), std::string("C:\\quillbox.TCF", 16));
  }
  EXPECT_TRUE(fs::exists(dir_.file("a/quillbox.tcf")));
  EXPECT_TRUE(listedNumbers(dir_.file("a/quillbox.tcf")).empty());
  closeAll();
  expectValue(paths_[0], "new");
  expectValue(paths_[1], "new");
}

TEST_F(TwoFiles, SetControlFileServesBothDirectoriesAndIsNamedInTheMarkers) {
  QbxTransaction transaction;
  const std::string control = dir_.file("ctl.tcf");
  transaction.setControlFilePath(control);
  begin(transaction, "a/one.QBX", "b/two.QBX");
  ASSERT_EQ(transaction.commitAll(), 0);
  const std::string full = root_ + "/ctl.tcf";
  for (auto& s : stores_) {
    const std::optional<Bytes> marker = markerOf(*s);
    ASSERT_TRUE(marker.has_value());
    EXPECT_EQ(std::string(marker->begin() + 4, marker->end()), full + std::string(1, '\0'));
  }
  EXPECT_TRUE(fs::exists(control));
  EXPECT_FALSE(fs::exists(dir_.file("a/quillbox.tcf")));
  EXPECT_FALSE(fs::exists(dir_.file("b/quillbox.tcf")));
}

TEST_F(TwoFiles, ClearedControlFileFallsBackToTheMembersDirectories) {
  QbxTransaction transaction;
  transaction.setControlFilePath(dir_.file("ctl.tcf"));
  begin(transaction, "a/one.QBX", "b/two.QBX");
  transaction.setControlFilePath("");
  ASSERT_EQ(transaction.commitAll(), 0);
  EXPECT_TRUE(fs::exists(dir_.file("a/quillbox.tcf")));
  EXPECT_TRUE(fs::exists(dir_.file("b/quillbox.tcf")));
  EXPECT_FALSE(fs::exists(dir_.file("ctl.tcf")));
}

TEST_F(TwoFiles, ListedNumbersMakeTheCommitTakeTheNextFree) {
  // Numbers left by dead programs in the second control file only: the
  // commit lists each in the first file, finds it taken in the second, and
  // must take it out of the first again.
  const std::uint32_t now = platform::localTimeSeconds();
  constexpr std::uint32_t kTaken = 5;
  listNumbers(dir_.file("b/quillbox.tcf"), now, kTaken);
  QbxTransaction transaction;
  begin(transaction, "a/one.QBX", "b/two.QBX");
  ASSERT_EQ(transaction.commitAll(), 0);
  const std::optional<Bytes> marker = markerOf(*stores_[0]);
  ASSERT_TRUE(marker.has_value());
  EXPECT_EQ(platform::loadLe32(*marker, 0), now + kTaken);
  EXPECT_TRUE(listedNumbers(dir_.file("a/quillbox.tcf")).empty());
  const std::vector<std::uint32_t> left = listedNumbers(dir_.file("b/quillbox.tcf"));
  ASSERT_EQ(left.size(), kTaken) << "other programs' numbers stay";
  EXPECT_EQ(left.front(), now);
  EXPECT_EQ(left.back(), now + kTaken - 1);
}

TEST_F(TwoFiles, RollBackLosesChangesMadeBeforeAndAfterJoining) {
  makeDataFile(dir_.file("a/one.QBX"));
  auto early = openStore(dir_.file("a/one.QBX"));
  early->enterWriterMode();
  put(*early, "before", "joining");
  QbxTransaction transaction;
  transaction.join(*early);
  put(*early, "k", "new");
  EXPECT_EQ(transaction.rollBack(), 0);
  EXPECT_FALSE(transaction.running());
  EXPECT_FALSE(early->inTransaction());
  EXPECT_FALSE(early->changed());
  EXPECT_EQ(valueOf(*early, "before"), std::nullopt);
  early.reset();
  expectValue(dir_.file("a/one.QBX"), "old");
}

TEST_F(TwoFiles, ProgramEndCommitsTheDriversTransaction) {
  QbxTransaction& transaction = driverTransaction();
  begin(transaction, "a/one.QBX", "a/two.QBX");
  commitRunningTransaction();
  EXPECT_FALSE(transaction.running());
  closeAll();
  expectValue(paths_[0], "new");
  expectValue(paths_[1], "new");
  commitRunningTransaction();  // nothing running: nothing happens
}

// ---------------------------------------------------------------------------
// Commits that fail.

support::FaultFile* activeFaults = nullptr;
CommitStep faultStep = CommitStep::kNumberListed;
void (*faultPlan)(support::FaultFile&) = nullptr;

// Arms the planned faults when commit all reaches the chosen step.
void armFaultsAtStep(CommitStep step) {
  if (step != faultStep || activeFaults == nullptr || faultPlan == nullptr) return;
  activeFaults->reset();
  faultPlan(*activeFaults);
}

struct StepHookScope {
  explicit StepHookScope(CommitStepHook hook) { setCommitStepHook(hook); }
  ~StepHookScope() { setCommitStepHook(nullptr); }
};

TEST_F(TwoFiles, UnopenableControlFileChangesNoDataFile) {
  fs::create_directory(dir_.file("ctl.tcf"));  // a directory is no file to open
  QbxTransaction transaction;
  transaction.setControlFilePath(dir_.file("ctl.tcf"));
  begin(transaction, "a/one.QBX", "a/two.QBX");
  EXPECT_EQ(transaction.commitAll(), 5);
  EXPECT_FALSE(transaction.running());
  for (auto& s : stores_) {
    EXPECT_FALSE(s->changed());
    EXPECT_FALSE(s->inTransaction());
  }
  closeAll();
  expectValue(paths_[0], "old");
  expectValue(paths_[1], "old");
}

TEST_F(TwoFiles, FailedPrepareTakesTheMembersPreparedBeforeItBack) {
  QbxTransaction transaction;
  begin(transaction, "a/one.QBX", "a/two.QBX");
  {
    support::FaultFile faults;
    activeFaults = &faults;
    faultStep = CommitStep::kNumberListed;
    // Every prepare flushes twice: the third flush is the second member's.
    faultPlan = [](support::FaultFile& f) { f.failFlush(3, EIO); };
    const StepHookScope hook(armFaultsAtStep);
    EXPECT_EQ(transaction.commitAll(), 29);
    activeFaults = nullptr;
  }
  EXPECT_FALSE(transaction.running());
  for (const std::string& p : paths_) {
    const FileHeader h = headerOnDisk(p);
    EXPECT_EQ(h.logStart(), h.logEnd()) << p << ": no log may stay pending";
  }
  EXPECT_TRUE(listedNumbers(dir_.file("a/quillbox.tcf")).empty());
  closeAll();
  expectValue(paths_[0], "old");
  expectValue(paths_[1], "old");
}

TEST_F(TwoFiles, FailedRemovalsGiveTheFirstErrorAndTheOldState) {
  QbxTransaction transaction;
  begin(transaction, "a/one.QBX", "b/two.QBX");
  {
    support::FaultFile faults;
    activeFaults = &faults;
    faultStep = CommitStep::kMembersPrepared;
    // The first control file's removal writes its page and header into its
    // log (writes 1 and 2), then fails at its flush with EIO (29); the
    // second one's first write finds the disk full (39). Combined as bits
    // the two would read 63.
    faultPlan = [](support::FaultFile& f) {
      f.failFlush(1, EIO);
      f.failWrite(3, ENOSPC, true);
    };
    const StepHookScope hook(armFaultsAtStep);
    EXPECT_EQ(transaction.commitAll(), 29);
    activeFaults = nullptr;
  }
  EXPECT_FALSE(transaction.running());
  closeAll();
  // Every member was prepared, but its number stays listed: recovery drops
  // the logs.
  EXPECT_EQ(listedNumbers(dir_.file("a/quillbox.tcf")).size(), 1u);
  EXPECT_EQ(listedNumbers(dir_.file("b/quillbox.tcf")).size(), 1u);
  expectValue(paths_[0], "old");
  expectValue(paths_[1], "old");
}

// ---------------------------------------------------------------------------
// Commits killed at a chosen step, in a child process.

enum class Layout { kOneDefault, kTwoDefaults, kSetPath };
enum class Kill { kNow, kAtWrite, kAtTornWrite, kAtFlush };

struct KillCase {
  const char* name;
  Layout layout;
  CommitStep step;  // where the kill is armed
  Kill how;
  int n;                    // the write or flush that kills, counted from the step
  bool removeControlFiles;  // after the kill
  const char* first;        // k of the first joined file afterwards
  const char* second;       // k of the second
};

const KillCase* killCase = nullptr;
support::FaultFile* killFaults = nullptr;

void killAtStep(CommitStep step) {
  if (killCase == nullptr || step != killCase->step) return;
  switch (killCase->how) {
    case Kill::kNow:
      ::kill(::getpid(), SIGKILL);
      break;
    case Kill::kAtWrite:
    case Kill::kAtTornWrite:
      killFaults->reset();
      killFaults->killAtWrite(killCase->n, killCase->how == Kill::kAtTornWrite);
      break;
    case Kill::kAtFlush:
      killFaults->reset();
      killFaults->killAtFlush(killCase->n);
      break;
  }
}

class KilledCommit : public TwoFiles, public ::testing::WithParamInterface<KillCase> {};

TEST_P(KilledCommit, LeavesEveryFileInOneState) {
  const KillCase& c = GetParam();
  const std::string second = c.layout == Layout::kOneDefault ? "a/two.QBX" : "b/two.QBX";
  paths_ = {dir_.file("a/one.QBX"), dir_.file(second)};
  for (const std::string& p : paths_) makeDataFile(p);
  support::ChildProcess child([&](support::ChildChannel&) {
    // Never destroyed: the child dies in the commit.
    auto& transaction = *new QbxTransaction;
    if (c.layout == Layout::kSetPath) transaction.setControlFilePath(dir_.file("ctl.tcf"));
    for (const std::string& p : paths_) {
      auto& store = *new QbxStore;
      if (store.open(p, kShared, "") != 0) return 1;
      transaction.join(store);
      store.enterWriterMode();
      put(store, "k", "new");
      put(store, "added", "x");
    }
    killFaults = new support::FaultFile;
    killCase = &c;
    setCommitStepHook(killAtStep);
    return 10 + transaction.commitAll();  // not reached when the kill works
  });
  const support::ChildStatus status = child.wait();
  ASSERT_TRUE(status.killedBy(SIGKILL)) << status.describe();
  if (c.removeControlFiles) {
    for (const char* tcf : {"a/quillbox.tcf", "b/quillbox.tcf", "ctl.tcf"})
      fs::remove(dir_.file(tcf));
  }
  expectValue(paths_[0], c.first);
  expectValue(paths_[1], c.second);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, KilledCommit,
    ::testing::Values(
        // Every prepare flushes twice: the third flush is the second member's.
        KillCase{"InSecondPrepare", Layout::kOneDefault, CommitStep::kNumberListed, Kill::kAtFlush,
                 3, false, "old", "old"},
        KillCase{"AfterPrepare", Layout::kOneDefault, CommitStep::kMembersPrepared, Kill::kNow, 0,
                 false, "old", "old"},
        KillCase{"AfterPrepareSetPath", Layout::kSetPath, CommitStep::kMembersPrepared, Kill::kNow,
                 0, false, "old", "old"},
        KillCase{"AtFirstWriteOfRemoval", Layout::kOneDefault, CommitStep::kMembersPrepared,
                 Kill::kAtWrite, 1, false, "old", "old"},
        // The removal is prepared (flushes 1 and 2) and dies clearing its
        // log: recovery of the control file finds the number gone.
        KillCase{"RemovalPreparedNotFinished", Layout::kOneDefault, CommitStep::kMembersPrepared,
                 Kill::kAtFlush, 3, false, "new", "new"},
        // Between the removals from two control files: the file of the
        // directory done first keeps its new state, the other does not.
        KillCase{"BetweenTwoControlFiles", Layout::kTwoDefaults, CommitStep::kMembersPrepared,
                 Kill::kAtFlush, 3, false, "new", "old"},
        KillCase{"AfterRemoval", Layout::kOneDefault, CommitStep::kNumberRemoved, Kill::kNow, 0,
                 false, "new", "new"},
        KillCase{"AfterRemovalSetPath", Layout::kSetPath, CommitStep::kNumberRemoved, Kill::kNow, 0,
                 false, "new", "new"},
        KillCase{"TornWriteInFinish", Layout::kTwoDefaults, CommitStep::kNumberRemoved,
                 Kill::kAtTornWrite, 2, false, "new", "new"},
        // A marker whose control file no longer exists: the old state.
        KillCase{"ControlFileGone", Layout::kOneDefault, CommitStep::kNumberRemoved, Kill::kNow, 0,
                 true, "old", "old"}),
    [](const auto& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------
// Recovery of a pending log whose new state holds a given marker.

class PendingMarker : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kNumber = 0x01020304;

  void SetUp() override {
    data_ = dir_.file("data.QBX");
    makeDataFile(data_);
  }

  // A child changes k to "new", writes the marker data and dies after
  // prepare: the file's new state is complete in its pending log.
  void leavePendingLog(const Bytes& markerData) {
    support::ChildProcess child([&](support::ChildChannel&) {
      auto& store = *new QbxStore;  // never closed: that would finish
      if (store.open(data_, kShared, "") != 0) return 1;
      store.enterWriterMode();
      put(store, "k", "new");
      const Bytes key = {kMarkerKey};
      insert(store, makeEntry(key, markerData));
      return store.prepare() == 0 ? 0 : 2;
    });
    ASSERT_TRUE(child.wait().exitedWith(0));
    const FileHeader h = headerOnDisk(data_);
    ASSERT_NE(h.logStart(), h.logEnd());
  }

  static Bytes marker(std::uint32_t number, std::string_view path, bool terminated = true) {
    Bytes data = encodeMarker(number, path);
    if (!terminated) data.pop_back();
    return data;
  }

  support::TempDir dir_;
  std::string data_;
};

struct MarkerCase {
  const char* name;
  enum { kNone, kEmpty, kListing, kDirectory } control;  // what stands at the control file's path
  // "" the default's text, "~" that text in other letter case, "-" an empty
  // text, "!" the data file itself, else a name in the directory.
  const char* path;
  bool terminated;
  std::size_t cut;  // marker data cut to this many bytes (0: whole)
  const char* expected;
};

class CraftedMarker : public PendingMarker, public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(CraftedMarker, DecidesTheState) {
  const MarkerCase& c = GetParam();
  const std::string given = c.path;
  std::string path = dir_.file(given);
  std::string control = dir_.file(given);
  if (given.empty() || given == "~" || given == "-") {
    path = given.empty() ? std::string(kDefaultMarkerPath) : given == "~" ? "c:\\quillbox.tcf" : "";
    control = dir_.file("quillbox.tcf");
  } else if (given == "!") {
    path = data_;
  }
  switch (c.control) {
    case MarkerCase::kNone:
      break;
    case MarkerCase::kEmpty:
      listNumbers(control, kNumber + 1, 1);
      break;
    case MarkerCase::kListing:
      listNumbers(control, kNumber, 1);
      break;
    case MarkerCase::kDirectory:
      fs::create_directory(control);
      break;
  }
  Bytes data = marker(kNumber, path, c.terminated);
  if (c.cut != 0) data.resize(c.cut);
  leavePendingLog(data);
  expectValue(data_, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, CraftedMarker,
    ::testing::Values(
        MarkerCase{"DefaultNotListed", MarkerCase::kEmpty, "", true, 0, "new"},
        MarkerCase{"DefaultListed", MarkerCase::kListing, "", true, 0, "old"},
        MarkerCase{"DefaultMissing", MarkerCase::kNone, "", true, 0, "old"},
        MarkerCase{"NamedNotListed", MarkerCase::kEmpty, "x.tcf", true, 0, "new"},
        MarkerCase{"NamedListed", MarkerCase::kListing, "x.tcf", true, 0, "old"},
        MarkerCase{"NoTerminatorNotListed", MarkerCase::kEmpty, "x.tcf", false, 0, "new"},
        MarkerCase{"NoTerminatorListed", MarkerCase::kListing, "x.tcf", false, 0, "old"},
        // Letter case matters in the default's text: this names a file
        // "c:\quillbox.tcf", which does not exist.
        MarkerCase{"DefaultTextInOtherCase", MarkerCase::kEmpty, "~", true, 0, "old"},
        MarkerCase{"ControlFileIsADirectory", MarkerCase::kDirectory, "x.tcf", true, 0, "old"},
        MarkerCase{"ShorterThanItsNumber", MarkerCase::kEmpty, "", true, 3, "old"},
        MarkerCase{"EmptyPath", MarkerCase::kEmpty, "-", true, 0, "old"},
        MarkerCase{"NamesTheDataFileItself", MarkerCase::kNone, "!", true, 0, "old"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(PendingMarker, RefusedByRightsDoesNotHang) {
  const std::string control = dir_.file("quillbox.tcf");
  listNumbers(control, kNumber + 1, 1);
  leavePendingLog(marker(kNumber, kDefaultMarkerPath));
  fs::permissions(control, fs::perms::none);
  fs::permissions(dir_.path(), fs::perms::all);
  fs::permissions(data_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                             fs::perms::group_write | fs::perms::others_read |
                             fs::perms::others_write);
  // Rights do not stop root: the child runs as nobody when it can.
  support::ChildProcess child([&](support::ChildChannel&) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 3;
    QbxStore store;
    if (store.open(data_, kShared, "") != 0) return 1;
    const std::optional<std::string> k = valueOf(store, "k");
    return k == "old" ? 0 : 2;
  });
  const support::ChildStatus status = child.wait(20s);
  EXPECT_TRUE(status.exitedWith(0)) << status.describe();
}

TEST_F(PendingMarker, SharingConflictIsWaitedOut) {
  const std::string control = dir_.file("quillbox.tcf");
  listNumbers(control, kNumber + 1, 1);
  leavePendingLog(marker(kNumber, kDefaultMarkerPath));
  // Another program holds the control file denying everything for a while.
  support::ChildProcess holder([&](support::ChildChannel& channel) {
    QbxStore store;
    if (store.open(control, 0x12, "") != 0) return 1;
    channel.send('h');
    platform::sleepMillis(300);
    return 0;
  });
  ASSERT_TRUE(holder.channel().expect('h', 10s));
  {
    QbxStore probe;
    EXPECT_EQ(probe.open(control, kControlConsultOpenFlags, ""), 5)
        << "the holder must exclude readers";
  }
  // Had the refusal counted as a failed open, the log would be dropped.
  auto store = openStore(data_);
  EXPECT_EQ(valueOf(*store, "k"), "new");
  EXPECT_TRUE(holder.wait().exitedWith(0));
}

TEST(Marker, DecodingKeepsToItsBytes) {
  const Bytes full = encodeMarker(0xA1B2C3D4, "ab");
  EXPECT_EQ(full, (Bytes{0xD4, 0xC3, 0xB2, 0xA1, 'a', 'b', 0}));
  for (std::size_t length = 0; length <= full.size(); ++length) {
    const std::optional<TransactionMarker> m = decodeMarker(std::span(full).first(length));
    if (length < 4) {
      EXPECT_FALSE(m.has_value()) << length;
      continue;
    }
    ASSERT_TRUE(m.has_value()) << length;
    EXPECT_EQ(m->number, 0xA1B2C3D4u);
    EXPECT_EQ(m->path, std::string("ab").substr(0, length - 4));
  }
  const Bytes inner = {1, 0, 0, 0, 'x', 0, 'y'};
  EXPECT_EQ(decodeMarker(inner)->path, "x");
}

}  // namespace
}  // namespace qbx::store
