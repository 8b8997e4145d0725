// The points at which the record engine hands a record's memos and blobs to
// the memo layer. A table without hooks has no memo work to do.
#pragma once

#include <cstdint>

namespace qbx::records {

class MemoHooks {
 public:
  virtual ~MemoHooks() = default;
  // A fetch for the program without NOMEMO: read the record's memos into
  // their buffers.
  virtual void load(std::uint32_t recordNumber) = 0;
  // A fetch with WATCH: keep what is needed to tell at the next replace
  // whether the stored memos changed meanwhile.
  virtual void watch(std::uint32_t recordNumber) = 0;
  // Replace under WATCH: whether the stored memos differ from what watch kept.
  virtual bool changedSinceWatch(std::uint32_t recordNumber) = 0;
  // Add, and replace with the memos loaded: write the memo buffers as the
  // record's memo chunks. 0 or an error code.
  [[nodiscard]] virtual int write(std::uint32_t recordNumber) = 0;
  // Remove: delete the record's memo chunks.
  virtual void remove(std::uint32_t recordNumber) = 0;
};

}  // namespace qbx::records
