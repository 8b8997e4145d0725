// TableMemos: the memos and blobs of one open table. Each value is kept as a
// run of memo chunks that belong to the record by its number:
//   key  table number (4), 0xFC, record number (4, MSB first), memo number
//        (1, the memo's place in the memo list), chunk number (u16, MSB first)
//   data at most 256 bytes of the value; chunk 0 of a blob starts with the
//        blob's total length (u32, LSB first) before its first 256 bytes.
// A memo's value is its buffer without trailing spaces; a blob's value is a
// movable global memory block that this object owns. Tables with the OEM
// attribute store memos and blobs without BINARY in the OEM code page.
// The table calls this layer through MemoHooks once it is attached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/global_memory.h"
#include "qbx/records/format.h"
#include "qbx/records/memo_hooks.h"
#include "qbx/store/cursor.h"

namespace qbx::records {

class QbxTable;
struct QbxMemoDef;

// Bytes of the blob length that open chunk 0 of a blob.
inline constexpr std::size_t kBlobLengthSize = 4;
// Chunk numbers are 16 bits: 65536 chunks of 256 bytes, less the length
// prefix, is the largest blob the format can hold.
inline constexpr std::size_t kMaxBlobSize = 65536 * kMemoChunkSize - kBlobLengthSize;
// A blob larger than kMaxBlobSize is refused with this ("Insufficient
// Memory"), before anything is written.
inline constexpr int kErrBlobTooLarge = 8;

class TableMemos final : public MemoHooks {
 public:
  // Attaches itself to the table's memo hooks; the table must outlive it.
  explicit TableMemos(QbxTable& table);
  // Detaches from the table and frees the blob blocks it owns.
  ~TableMemos() override;
  TableMemos(const TableMemos&) = delete;
  TableMemos& operator=(const TableMemos&) = delete;

  // MemoHooks.
  [[nodiscard]] int check() override;
  [[nodiscard]] int load(std::uint32_t recordNumber) override;
  void watch(std::uint32_t recordNumber) override;
  bool changedSinceWatch(std::uint32_t recordNumber) override;
  [[nodiscard]] int write(std::uint32_t recordNumber) override;
  void remove(std::uint32_t recordNumber) override;

  // --- Blobs (memo i must be a blob) ----------------------------------------
  // The blob's block (0: empty value, no block).
  platform::GlobalHandle blobHandle(std::size_t i) const { return states_[i].blob; }
  // Makes h the blob's value, freeing the block it had; the blob owns h from
  // now on. 0 empties the blob. A handle the platform table does not know
  // changes nothing and gives 6; one above kMaxBlobSize gives kErrBlobTooLarge.
  [[nodiscard]] int takeBlob(std::size_t i, platform::GlobalHandle h);
  // Hands the blob's block to the caller (the blob becomes empty).
  platform::GlobalHandle yieldBlob(std::size_t i);
  // The blob's size in bytes (0 when empty).
  std::size_t blobSize(std::size_t i) const;
  // Set by the blob operations, cleared by the record operations.
  bool blobChanged(std::size_t i) const { return states_[i].changed; }
  void markBlobChanged(std::size_t i) { states_[i].changed = true; }

 private:
  struct MemoState {
    platform::GlobalHandle blob = 0;
    // WATCH: the stored bytes of a memo at the fetch (never of a blob).
    std::vector<std::uint8_t> watched;
    bool changed = false;  // a blob operation changed the value since the last record operation
  };

  bool converts(const QbxMemoDef& memo) const;
  [[nodiscard]] int loadMemo(std::uint32_t n, std::size_t i);
  [[nodiscard]] int loadBlob(std::uint32_t n, std::size_t i);
  // Writes value (program form) as the chunks of memo i, leaving chunks
  // that are already stored as they are.
  void writeValue(std::uint32_t n, std::size_t i, std::span<const std::uint8_t> value, bool blob);
  // The stored bytes of memo i of record n, appended to out up to limit.
  void readStored(std::uint32_t n, std::size_t i, std::size_t limit, std::vector<std::uint8_t>& out);
  void freeBlob(std::size_t i);
  void clearChanged();

  QbxTable& table_;
  std::vector<MemoState> states_;
  store::QbxCursor insertCursor_;
  std::vector<std::uint8_t> scratch_;  // one value while it is written
};

}  // namespace qbx::records
