// QbxDiskFile: the operating-system file under a store. Every transfer is a
// whole number of 64-byte units at an exact offset; a file with an owner
// password holds the enciphered form of every block. Write failures are
// remembered, not raised: the commit reports them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "qbx/store/cipher.h"

namespace qbx::store {

// The lock bytes above the data (offsets from 0x80000000): a reader slot,
// the writer byte, or the whole reader area.
enum class AccessLock { kWriterByte = 0, kReaderSlot = 1, kReaderArea = 2 };

class QbxDiskFile {
 public:
  // No handle; the reader slot starts from the clock.
  QbxDiskFile();

  // Opens the file. 0 or the platform's error.
  [[nodiscard]] int open(const std::string& path, const platform::OpenOptions& options);
  // Builds the cipher key from a non-empty password.
  void setPassword(std::string_view password);
  void setPath(std::string path) { path_ = std::move(path); }
  const std::string& path() const { return path_; }
  bool hasHandle() const { return file_.isOpen(); }
  // Closes the handle (releasing every lock it holds) and forgets the key and
  // the path.
  void close();

  // Reads up to buffer.size() bytes at offset and returns how many were
  // read; without a handle nothing. A length that is not a multiple of 64 is
  // internal error 2272, an offset the file cannot reach 2341, a failed read
  // 2277. A complete read is deciphered.
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> buffer);
  // As read; fewer bytes than asked is internal error 2172.
  void readExact(std::uint64_t offset, std::span<std::uint8_t> buffer);
  // Writes the buffer (enciphered when there is a key; the caller's bytes
  // stay as they are). A length that is not a multiple of 64 is internal
  // error 2286. A failure becomes the pending write error; while one is
  // pending, writes are skipped.
  void write(std::uint64_t offset, std::span<const std::uint8_t> buffer);
  // Flushes the handle. A failed flush may have lost written data, so it is
  // remembered like a failed write.
  void flush();
  // The file's length becomes offset; errors are ignored.
  void setEnd(std::uint64_t offset);

  int pendingWriteError() const { return pendingWriteError_; }
  void clearPendingWriteError() { pendingWriteError_ = 0; }
  // The pending write error, cleared: once a commit has reported it, later
  // writes (a recovery, the next commit) must not be skipped for it.
  int takePendingWriteError() {
    const int error = pendingWriteError_;
    pendingWriteError_ = 0;
    return error;
  }
  // Records a failure found before anything was written (the first one stays).
  void recordWriteError(int error) {
    if (pendingWriteError_ == 0) pendingWriteError_ = error;
  }

  // The reader slot tried first by the next reader lock, 0 to 1022.
  int readerSlot() const { return readerSlot_; }
  void advanceReaderSlot();

  // Takes an access lock; with wait, retries until it is had (reader slots
  // move on to the next slot after every refusal). 0 or the platform's error;
  // without a handle always 0.
  [[nodiscard]] int lock(AccessLock kind, bool wait);
  void unlock(AccessLock kind);
  // The lock byte of a record or table number, never waiting.
  [[nodiscard]] int lockRecord(std::uint32_t number);
  void unlockRecord(std::uint32_t number);

  platform::File& file() { return file_; }

 private:
  platform::File file_;
  int pendingWriteError_ = 0;
  std::string path_;
  int readerSlot_;
  int heldReaderSlot_ = -1;  // the slot a reader lock holds
  std::optional<CipherKey> key_;
  std::vector<std::uint8_t> scratch_;  // enciphered copy of a block being written
};

}  // namespace qbx::store
