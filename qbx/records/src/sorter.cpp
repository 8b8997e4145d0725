#include "qbx/records/sorter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "platform/endian.h"
#include "platform/errors.h"
#include "qbx/records/result_codes.h"

namespace qbx::records {

namespace {

std::uint64_t prefixOf(const std::uint8_t* item, std::size_t size) {
  if (size >= 8) {
    const std::span<const std::uint8_t> bytes(item, 8);
    return (static_cast<std::uint64_t>(platform::loadBe32(bytes, 0)) << 32) |
           platform::loadBe32(bytes, 4);
  }
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < size; ++i) prefix = (prefix << 8) | item[i];
  return prefix << (8 * (8 - size));
}

}  // namespace

Sorter::Sorter(std::size_t itemSize) : itemSize_(itemSize) {
  if (itemSize_ == 0 || itemSize_ > kSortMemoryLimit) {
    // No item can be added; every call reports the misuse.
    state_ = State::kFailed;
    error_ = platform::kErrorInvalidParameter;
    return;
  }
  capacity_ = (kSortMemoryLimit + itemSize_ - 1) / itemSize_;
  if (capacity_ > kSortMaxItems) capacity_ = kSortMaxItems;
  // Whole items per reader buffer, and always room for one.
  readBufferSize_ = std::max<std::size_t>(1, kRunReadBufferSize / itemSize_) * itemSize_;
}

Sorter::~Sorter() { release(); }

int Sorter::fail(int error) {
  release();
  state_ = State::kFailed;
  error_ = error;
  return error_;
}

void Sorter::release() {
  items_.reset();
  entries_.reset();
  count_ = 0;
  served_ = 0;
  runStarts_.clear();
  runStarts_.shrink_to_fit();
  readers_.clear();
  readers_.shrink_to_fit();
  readBuffers_.reset();
  heap_.clear();
  heap_.shrink_to_fit();
  advancePending_ = false;
  store_.close();  // closing the temporary file deletes it
}

void Sorter::discard() {
  release();
  state_ = State::kDiscarded;
  error_ = 0;
}

int Sorter::reserveMemory() {
  items_.reset(new (std::nothrow) std::uint8_t[capacity_ * itemSize_]);
  entries_.reset(new (std::nothrow) Entry[capacity_]);
  if (!items_ || !entries_) return fail(kErrInsufficientMemory);
  return 0;
}

int Sorter::add(std::span<const std::uint8_t> item) {
  if (state_ != State::kAdding) {
    return state_ == State::kFailed ? error_ : platform::kErrorInvalidParameter;
  }
  if (item.size() != itemSize_) return platform::kErrorInvalidParameter;
  if (!items_) {
    if (const int result = reserveMemory(); result != 0) return result;
  }
  if (count_ >= capacity_) {
    if (const int result = writeRun(); result != 0) return result;
  }
  std::uint8_t* slot = items_.get() + count_ * itemSize_;
  std::memcpy(slot, item.data(), itemSize_);
  entries_[count_] = Entry{prefixOf(slot, itemSize_), slot};
  ++count_;
  return 0;
}

// The items leave memory all at once (as a run or at the end of the input),
// so one sort of the batch gives the order a heap would, at less cost.
void Sorter::sortMemory() {
  const std::size_t tail = itemSize_ > 8 ? itemSize_ - 8 : 0;
  std::sort(entries_.get(), entries_.get() + count_, [tail](const Entry& a, const Entry& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return tail != 0 && std::memcmp(a.item + 8, b.item + 8, tail) < 0;
  });
}

int Sorter::writeRun() {
  if (runCount_ >= kSortMaxItems) return fail(kErrInsufficientMemory);
  sortMemory();
  std::array<std::uint8_t, kRunHeaderSize> header{};
  // At most capacity_ items of at most kSortMemoryLimit bytes each: below 2^32.
  platform::storeLe32(header, 0, static_cast<std::uint32_t>(count_ * itemSize_));
  runStarts_.push_back(store_.size());
  if (const int result = store_.write(header); result != 0) return fail(result);
  for (std::size_t i = 0; i < count_; ++i) {
    const int result = store_.write(std::span<const std::uint8_t>(entries_[i].item, itemSize_));
    if (result != 0) return fail(result);
  }
  ++runCount_;
  count_ = 0;
  return 0;
}

int Sorter::endInput() {
  if (state_ != State::kAdding) {
    return state_ == State::kFailed ? error_ : platform::kErrorInvalidParameter;
  }
  if (runCount_ == 0) {
    sortMemory();
    served_ = 0;
    state_ = State::kServingMemory;
    return 0;
  }
  if (count_ > 0) {
    if (const int result = writeRun(); result != 0) return result;
  }
  // The merge reads from the store alone: the memory of the items goes.
  items_.reset();
  entries_.reset();
  return startMerge();
}

int Sorter::startMerge() {
  if (const int result = store_.finishWriting(); result != 0) return fail(result);
  const std::size_t runs = runStarts_.size();
  readers_.resize(runs);
  readBuffers_.reset(new (std::nothrow) std::uint8_t[runs * readBufferSize_]);
  if (!readBuffers_) return fail(kErrInsufficientMemory);
  heap_.clear();
  heap_.reserve(runs);
  for (std::size_t r = 0; r < runs; ++r) {
    const std::uint64_t end = r + 1 < runs ? runStarts_[r + 1] : store_.size();
    readers_[r] = Reader{runStarts_[r] + kRunHeaderSize, end, 0, 0};
    if (const int result = refill(r); result != 0) return result;
    if (readers_[r].filled != 0) heap_.push_back(static_cast<std::uint32_t>(r));
  }
  for (std::size_t i = heap_.size() / 2; i-- > 0;) siftDown(i);
  advancePending_ = false;
  state_ = State::kMerging;
  return 0;
}

int Sorter::refill(std::size_t reader) {
  Reader& r = readers_[reader];
  r.at = 0;
  r.filled = 0;
  if (r.position >= r.end) return 0;  // the run is used up
  const std::size_t n =
      static_cast<std::size_t>(std::min<std::uint64_t>(readBufferSize_, r.end - r.position));
  const int result = store_.read(
      r.position, std::span<std::uint8_t>(readBuffers_.get() + reader * readBufferSize_, n));
  if (result != 0) return fail(result);
  r.position += n;
  r.filled = n;
  return 0;
}

const std::uint8_t* Sorter::current(std::size_t reader) const {
  return readBuffers_.get() + reader * readBufferSize_ + readers_[reader].at;
}

bool Sorter::readerLess(std::uint32_t a, std::uint32_t b) const {
  return std::memcmp(current(a), current(b), itemSize_) < 0;
}

void Sorter::siftDown(std::size_t hole) {
  const std::size_t n = heap_.size();
  const std::uint32_t moving = heap_[hole];
  for (;;) {
    std::size_t child = 2 * hole + 1;
    if (child >= n) break;
    if (child + 1 < n && readerLess(heap_[child + 1], heap_[child])) ++child;
    if (!readerLess(heap_[child], moving)) break;
    heap_[hole] = heap_[child];
    hole = child;
  }
  heap_[hole] = moving;
}

int Sorter::next(std::span<const std::uint8_t>* item) {
  *item = {};
  switch (state_) {
    case State::kAdding:
    case State::kDiscarded:
      return platform::kErrorInvalidParameter;
    case State::kFailed:
      return error_;
    case State::kDone:
      return 0;
    case State::kServingMemory:
      if (served_ < count_) {
        *item = std::span<const std::uint8_t>(entries_[served_++].item, itemSize_);
        return 0;
      }
      release();
      state_ = State::kDone;
      return 0;
    case State::kMerging:
      break;
  }
  if (advancePending_) {
    // The item served last stays valid until now: only now does its reader
    // move on, refilling its buffer when it has used it up.
    advancePending_ = false;
    const std::uint32_t top = heap_[0];
    Reader& r = readers_[top];
    r.at += itemSize_;
    if (r.at >= r.filled) {
      if (const int result = refill(top); result != 0) return result;
      if (readers_[top].filled == 0) {
        heap_[0] = heap_.back();
        heap_.pop_back();
      }
    }
    if (!heap_.empty()) siftDown(0);
  }
  if (heap_.empty()) {
    release();
    state_ = State::kDone;
    return 0;
  }
  *item = std::span<const std::uint8_t>(current(heap_[0]), itemSize_);
  advancePending_ = true;
  return 0;
}

}  // namespace qbx::records
