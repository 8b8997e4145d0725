// The points at which the record engine hands a record's memos and blobs to
// the memo layer. A table without hooks has no memo work to do.
#pragma once

#include <cstdint>

namespace qbx::records {

class MemoHooks {
 public:
  virtual ~MemoHooks() = default;
  // Before an add or a replace changes anything: 0, or the error that
  // refuses the memo values as they stand (a blob too large to store).
  [[nodiscard]] virtual int check() = 0;
  // A fetch for the program without NOMEMO: read the record's memos into
  // their buffers. 0, or 8 when a blob's block cannot be had.
  [[nodiscard]] virtual int load(std::uint32_t recordNumber) = 0;
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
