#include "qbx/records/sorter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "platform/endian.h"
#include "platform/errors.h"
#include "qbx/records/run_store.h"
#include "support/fault_file.h"
#include "support/temp_dir.h"

namespace {

using qbx::records::RunStore;
using qbx::records::Sorter;

using Item = std::vector<std::uint8_t>;

std::size_t openDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

bool directoryEmpty(const std::string& path) {
  return std::filesystem::is_empty(std::filesystem::path(path));
}

// Points the system's temporary directory at a fresh directory for one test,
// so that whatever the sorter leaves there can be seen.
class TempDirectoryScope {
 public:
  TempDirectoryScope() {
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) {
      saved_ = old;
      hadOld_ = true;
    }
    ::setenv("TMPDIR", dir_.path().c_str(), 1);
  }
  ~TempDirectoryScope() {
    if (hadOld_) {
      ::setenv("TMPDIR", saved_.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  const std::string& path() const { return dir_.path(); }

 private:
  support::TempDir dir_;
  std::string saved_;
  bool hadOld_ = false;
};

// Sort items of a build: key values drawn from a few bytes, so that equal
// keys are common, then the record number (most significant byte first),
// counting up from 1 as a build reads them.
std::vector<Item> makeItems(std::size_t itemSize, std::size_t count, unsigned seed) {
  static const std::uint8_t kBytes[] = {0x00, 0x01, 0x20, 0x41, 0x7F, 0x80, 0xFE, 0xFF};
  std::mt19937 random(seed);
  std::vector<Item> items(count, Item(itemSize));
  const std::size_t keyLength = itemSize >= 4 ? itemSize - 4 : itemSize;
  for (std::size_t i = 0; i < count; ++i) {
    Item& it = items[i];
    // Short keys repeat a lot; long ones share a long common prefix.
    for (std::size_t k = 0; k < keyLength; ++k) {
      it[k] = k + 2 < keyLength && k > 1 ? 0x41 : kBytes[random() % std::size(kBytes)];
    }
    if (itemSize >= 4) {
      platform::storeBe32(it, keyLength, static_cast<std::uint32_t>(i + 1));
    }
  }
  return items;
}

// Feeds every item and takes the output back; the first failure stops it.
struct Outcome {
  int error = 0;
  std::vector<Item> out;
};

Outcome runSort(Sorter& sorter, const std::vector<Item>& items) {
  Outcome o;
  for (const Item& it : items) {
    o.error = sorter.add(it);
    if (o.error != 0) return o;
  }
  o.error = sorter.endInput();
  if (o.error != 0) return o;
  for (;;) {
    std::span<const std::uint8_t> item;
    o.error = sorter.next(&item);
    if (o.error != 0 || item.empty()) return o;
    o.out.emplace_back(item.begin(), item.end());
  }
}

std::vector<Item> sorted(std::vector<Item> items) {
  std::sort(items.begin(), items.end());  // lexicographic over unsigned bytes
  return items;
}

struct SortCase {
  std::size_t itemSize;
  std::size_t count;
  std::uint64_t runs;  // runs the sort must write
};

TEST(Sorter, SortsInMemoryBelowTheRunLimit) {
  const SortCase cases[] = {
      {5, 0, 0},       {5, 1, 0},
      {12, 1000, 0},   {1, 5000, 0},  // items shorter than the 8-byte prefix
      {8, 5000, 0},                   // exactly the prefix
      {9, 5000, 0},                   // one byte past it
      {40, 25000, 0},                 // 1000000 bytes: the limit is reached, not passed
      {1000, 1000, 0},
  };
  TempDirectoryScope tmp;
  const std::size_t fds = openDescriptors();
  for (const SortCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "item size " << c.itemSize << ", " << c.count << " items");
    const std::vector<Item> items = makeItems(c.itemSize, c.count, 11);
    Sorter sorter(c.itemSize);
    const Outcome o = runSort(sorter, items);
    ASSERT_EQ(o.error, 0);
    EXPECT_EQ(sorter.runCount(), c.runs);
    EXPECT_FALSE(sorter.usesFile());
    EXPECT_EQ(o.out, sorted(items));
    EXPECT_EQ(openDescriptors(), fds);
  }
  EXPECT_TRUE(directoryEmpty(tmp.path()));
}

// Three times the run limit in items: three runs written to a temporary file
// and merged, equal keys by record number, and no file left afterwards.
TEST(Sorter, SpillsRunsToATemporaryFileAndMergesThem) {
  const SortCase cases[] = {
      {24, 3 * 41667, 3},  // 41667 items of 24 bytes reach 1000000 bytes
      {5, 3 * 200000, 3},
      {600, 3 * 1667 - 1, 3},  // items larger than a reader's 500-byte buffer
      {13, 76924 + 1, 2},      // a last run of one item
  };
  TempDirectoryScope tmp;
  const std::size_t fds = openDescriptors();
  for (const SortCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "item size " << c.itemSize << ", " << c.count << " items");
    const std::vector<Item> items = makeItems(c.itemSize, c.count, 29);
    Sorter sorter(c.itemSize);
    for (const Item& it : items) ASSERT_EQ(sorter.add(it), 0);
    ASSERT_EQ(sorter.endInput(), 0);
    EXPECT_EQ(sorter.runCount(), c.runs);
    EXPECT_TRUE(sorter.usesFile());
    EXPECT_EQ(openDescriptors(), fds + 1);    // the run file is open ...
    EXPECT_TRUE(directoryEmpty(tmp.path()));  // ... and has no name

    std::vector<Item> out;
    std::span<const std::uint8_t> item;
    for (;;) {
      ASSERT_EQ(sorter.next(&item), 0);
      if (item.empty()) break;
      out.emplace_back(item.begin(), item.end());
    }
    EXPECT_EQ(out, sorted(items));
    EXPECT_FALSE(sorter.usesFile());
    EXPECT_EQ(openDescriptors(), fds);
    // Served out: later calls keep answering the end.
    ASSERT_EQ(sorter.next(&item), 0);
    EXPECT_TRUE(item.empty());
  }
  EXPECT_TRUE(directoryEmpty(tmp.path()));
}

TEST(Sorter, EqualKeysComeOutByRecordNumber) {
  // Every item has the same key; record numbers were added out of order,
  // with bytes that sort differently as signed and as unsigned values.
  const std::uint32_t numbers[] = {0x80000001u, 7, 0xFFFFFFFFu, 0x00000100u, 1, 0x7FFFFFFFu};
  Sorter sorter(6);
  for (std::uint32_t n : numbers) {
    Item it = {'A', 'B', 0, 0, 0, 0};
    platform::storeBe32(it, 2, n);
    ASSERT_EQ(sorter.add(it), 0);
  }
  ASSERT_EQ(sorter.endInput(), 0);
  std::vector<std::uint32_t> got;
  std::span<const std::uint8_t> item;
  while (sorter.next(&item) == 0 && !item.empty()) got.push_back(platform::loadBe32(item, 2));
  EXPECT_EQ(got, (std::vector<std::uint32_t>{1, 7, 0x100, 0x7FFFFFFF, 0x80000001u, 0xFFFFFFFFu}));
}

TEST(Sorter, RandomizedAgainstStdSort) {
  TempDirectoryScope tmp;
  std::mt19937 random(2024);
  for (int round = 0; round < 12; ++round) {
    const std::size_t itemSize = 1 + random() % 64;
    // Up to about four runs' worth of items.
    const std::size_t count = random() % (4 * (1000000 / itemSize) / (round % 3 == 0 ? 1 : 20));
    SCOPED_TRACE(testing::Message() << "item size " << itemSize << ", " << count << " items");
    std::vector<Item> items(count, Item(itemSize));
    for (Item& it : items) {
      for (auto& b : it) b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : 0x55);
    }
    Sorter sorter(itemSize);
    const Outcome o = runSort(sorter, items);
    ASSERT_EQ(o.error, 0);
    EXPECT_EQ(o.out, sorted(items));
  }
  EXPECT_TRUE(directoryEmpty(tmp.path()));
}

TEST(Sorter, DiscardDeletesTheFileAndEndsTheSort) {
  TempDirectoryScope tmp;
  const std::size_t fds = openDescriptors();
  const std::vector<Item> items = makeItems(24, 2 * 41667 + 10, 5);
  {
    Sorter sorter(24);
    for (const Item& it : items) ASSERT_EQ(sorter.add(it), 0);
    ASSERT_EQ(sorter.endInput(), 0);
    std::span<const std::uint8_t> item;
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(sorter.next(&item), 0);
    ASSERT_EQ(openDescriptors(), fds + 1);
    sorter.discard();  // a cancelled build
    EXPECT_EQ(openDescriptors(), fds);
    EXPECT_EQ(sorter.next(&item), platform::kErrorInvalidParameter);
    EXPECT_TRUE(item.empty());
    EXPECT_EQ(sorter.add(items[0]), platform::kErrorInvalidParameter);
  }
  {
    // A sorter destroyed in the middle of its input lets its file go too.
    Sorter sorter(24);
    for (const Item& it : items) ASSERT_EQ(sorter.add(it), 0);
    ASSERT_EQ(openDescriptors(), fds + 1);
  }
  EXPECT_EQ(openDescriptors(), fds);
  EXPECT_TRUE(directoryEmpty(tmp.path()));
}

TEST(Sorter, RefusesMisuse) {
  Sorter sorter(8);
  std::span<const std::uint8_t> item;
  EXPECT_EQ(sorter.next(&item), platform::kErrorInvalidParameter);  // input not ended
  EXPECT_EQ(sorter.add(Item(7)), platform::kErrorInvalidParameter);
  EXPECT_EQ(sorter.add(Item(9)), platform::kErrorInvalidParameter);
  ASSERT_EQ(sorter.add(Item(8, 3)), 0);
  ASSERT_EQ(sorter.endInput(), 0);
  EXPECT_EQ(sorter.add(Item(8)), platform::kErrorInvalidParameter);
  EXPECT_EQ(sorter.endInput(), platform::kErrorInvalidParameter);
  ASSERT_EQ(sorter.next(&item), 0);
  EXPECT_EQ(item.size(), 8u);

  Sorter empty(0);
  EXPECT_EQ(empty.add({}), platform::kErrorInvalidParameter);
  EXPECT_EQ(empty.endInput(), platform::kErrorInvalidParameter);
}

// A failed transfer of the run store ends the sort with the error: the
// output never just stops short, and the file is gone.
struct FaultCase {
  const char* name;
  // Plans the fault, knowing how many writes and reads the sort makes.
  void (*plan)(support::FaultFile&, int writes, int reads);
  int error;
};

TEST(Sorter, RunStoreFaultsEndTheSortWithTheError) {
  const FaultCase cases[] = {
      {"the first write fails", [](support::FaultFile& f, int, int) { f.failWrite(1, EIO); }, 29},
      {"the disk fills up in the second run",
       [](support::FaultFile& f, int w, int) { f.failWrite(w / 2, ENOSPC, true); }, 39},
      {"the last write, at the end of the input, fails",
       [](support::FaultFile& f, int w, int) { f.failWrite(w, EIO); }, 29},
      {"a write stops short", [](support::FaultFile& f, int, int) { f.shortWrite(3); }, 5},
      {"the first read fails", [](support::FaultFile& f, int, int) { f.failRead(1); }, 30},
      {"a read in the merge fails", [](support::FaultFile& f, int, int r) { f.failRead(r / 2); },
       30},
      {"the last read fails", [](support::FaultFile& f, int, int r) { f.failRead(r); }, 30},
  };
  TempDirectoryScope tmp;
  const std::vector<Item> items = makeItems(24, 3 * 41667, 3);
  const std::size_t fds = openDescriptors();
  int writes = 0;
  int reads = 0;
  {
    // The fault-free sort, to know where the plans land.
    support::FaultFile faults;
    Sorter sorter(24);
    ASSERT_EQ(runSort(sorter, items).out.size(), items.size());
    writes = faults.writes();
    reads = faults.reads();
    ASSERT_GT(writes, 100);
    ASSERT_GT(reads, 1000);
  }
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    support::FaultFile faults;
    c.plan(faults, writes, reads);
    Sorter sorter(24);
    const Outcome o = runSort(sorter, items);
    EXPECT_EQ(o.error, c.error);
    EXPECT_LT(o.out.size(), items.size());
    std::span<const std::uint8_t> item;
    EXPECT_EQ(sorter.next(&item), c.error);  // and it stays failed
    EXPECT_TRUE(item.empty());
    EXPECT_FALSE(sorter.usesFile());
    EXPECT_EQ(openDescriptors(), fds);
  }
  EXPECT_TRUE(directoryEmpty(tmp.path()));
}

// The store keeps its bytes in memory up to 16384 and then moves to the
// file, collecting small writes and passing larger ones straight through.
struct StoreCase {
  std::vector<std::size_t> writes;
  bool onFile;
  int fileWrites;  // transfers to the file, including finishWriting's
};

TEST(RunStore, MovesToTheFileWhenTheBufferWouldOverflow) {
  const StoreCase cases[] = {
      {{100, 16284}, false, 0},
      {{16384}, false, 0},
      {{16384, 1}, true, 2},    // the buffer on the move, then the one byte
      {{100, 16385}, true, 2},  // the buffered 100, then the large write itself
      {{16385}, true, 1},
      {{16000, 500, 500}, true, 2},  // 16000 on the move; 1000 at the end
      {{10000, 10000, 10000, 40000}, true, 4},
  };
  TempDirectoryScope tmp;
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "first write " << c.writes[0] << " of " << c.writes.size());
    support::FaultFile faults;
    RunStore store;
    std::vector<std::uint8_t> all;
    for (std::size_t n : c.writes) {
      std::vector<std::uint8_t> data(n);
      for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>((all.size() + i) * 7);
      all.insert(all.end(), data.begin(), data.end());
      ASSERT_EQ(store.write(data), 0);
    }
    ASSERT_EQ(store.finishWriting(), 0);
    EXPECT_EQ(store.onFile(), c.onFile);
    EXPECT_EQ(faults.writes(), c.fileWrites);
    EXPECT_EQ(store.size(), all.size());

    std::vector<std::uint8_t> back(all.size());
    ASSERT_EQ(store.read(0, back), 0);
    EXPECT_EQ(back, all);
    std::vector<std::uint8_t> tail(10);
    ASSERT_EQ(store.read(all.size() - 10, tail), 0);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), all.end() - 10));
    // Past the end is a short transfer, and the store stays failed.
    std::vector<std::uint8_t> past(11);
    EXPECT_EQ(store.read(all.size() - 10, past), 5);
    EXPECT_EQ(store.read(0, tail), 5);
    store.close();
  }
  EXPECT_TRUE(directoryEmpty(tmp.path()));
}

}  // namespace
