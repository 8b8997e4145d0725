// The external merge sort of key building. A build gives the sorter one sort
// item per record (the key value followed by the record number, most
// significant byte first, so every item of a build has the same size) and
// then takes them back in ascending unsigned byte order over the whole item:
// equal key values come out by record number.
//
// Items collect in memory until they total 1000000 bytes; then they are
// written, sorted, as one run to the run store (see run_store.h) and the
// memory is reused. When the input ends, a sort that never wrote a run serves
// its items straight from memory; otherwise the rest is written as the last
// run and the runs are merged, each through a reader with a 500-byte buffer,
// the readers kept in a heap by their current items.
//
// A failure of the run store (or of memory) ends the sort with that error:
// add, endInput and next return it, and next never serves another item, so a
// build can tell a failed sort from a short one. The sort's temporary file is
// deleted when the last item has been served, when the sort fails and when the
// sorter is discarded or destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "qbx/records/run_store.h"

namespace qbx::records {

// Items in memory are written out as a run once they total this many bytes.
inline constexpr std::size_t kSortMemoryLimit = 1000000;
// The most items memory holds, and the most runs a sort may write.
inline constexpr std::uint32_t kSortMaxItems = 1073741798;
// The read buffer of each run reader during the merge.
inline constexpr std::size_t kRunReadBufferSize = 500;

class Sorter {
 public:
  // itemSize is the size of every item (key value length + 4), at least 1.
  explicit Sorter(std::size_t itemSize);
  ~Sorter();
  Sorter(const Sorter&) = delete;
  Sorter& operator=(const Sorter&) = delete;

  // Adds one item (itemSize bytes; any other size gives 87). 0, or the error
  // that ended the sort.
  [[nodiscard]] int add(std::span<const std::uint8_t> item);
  // Ends the input and readies the output. 0, or the error that ended the sort.
  [[nodiscard]] int endInput();
  // The next item in ascending order into *item, valid until the next call;
  // an empty *item (and 0) once all items have been served. On a failure the
  // error, and *item empty.
  [[nodiscard]] int next(std::span<const std::uint8_t>* item);

  // Frees every item and deletes the temporary file; the sort is over (a
  // later call gives 87). Used when a build is cancelled.
  void discard();

  std::size_t itemSize() const { return itemSize_; }
  // Runs written so far.
  std::uint64_t runCount() const { return runCount_; }
  // True while the run store lives in its temporary file.
  bool usesFile() const { return store_.onFile(); }

 private:
  // An item in memory: its first 8 bytes as a big-endian number (zeros past
  // a short item's end), which decides most comparisons without touching the
  // item, and the item itself.
  struct Entry {
    std::uint64_t prefix;
    const std::uint8_t* item;
  };
  struct Reader {
    std::uint64_t position;  // next byte of the run to read into the buffer
    std::uint64_t end;       // end of the run
    std::size_t at;          // current item's offset in the buffer
    std::size_t filled;      // bytes in the buffer
  };
  enum class State { kAdding, kServingMemory, kMerging, kDone, kFailed, kDiscarded };

  int fail(int error);
  int reserveMemory();
  void sortMemory();
  int writeRun();
  int startMerge();
  int refill(std::size_t reader);
  const std::uint8_t* current(std::size_t reader) const;
  bool readerLess(std::uint32_t a, std::uint32_t b) const;
  void siftDown(std::size_t hole);
  void release();

  std::size_t itemSize_;
  std::size_t capacity_ = 0;  // items memory can hold before a run is written
  std::unique_ptr<std::uint8_t[]> items_;
  std::unique_ptr<Entry[]> entries_;
  std::size_t count_ = 0;   // items in memory
  std::size_t served_ = 0;  // of them, served straight from memory
  std::uint64_t runCount_ = 0;
  std::vector<std::uint64_t> runStarts_;  // offset of each run's header in the store
  RunStore store_;

  std::vector<Reader> readers_;
  std::unique_ptr<std::uint8_t[]> readBuffers_;
  std::size_t readBufferSize_ = 0;   // per reader: whole items, at least one
  std::vector<std::uint32_t> heap_;  // reader numbers, smallest current item first
  bool advancePending_ = false;      // the top reader's item was served last

  State state_ = State::kAdding;
  int error_ = 0;
};

}  // namespace qbx::records
