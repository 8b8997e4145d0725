// The run store of the key-building sort: one byte stream that the sorter
// writes its sorted runs into and then reads them back from.
//
// The stream lives in a 16384-byte memory buffer while it fits. The first
// write that would grow it past the buffer moves it to a temporary file (made
// in the system's temporary directory with the prefix "TMP", nameless while
// open, so it is gone when it is closed or the process dies); from then on the
// buffer collects small writes for the file, and a write larger than the
// buffer goes straight to the file. Reads are positioned and come from the
// buffer or the file.
//
// Layout of the stream, a sequence of runs (temporary, never kept):
//
//   offset  size  content
//   ------  ----  -------------------------------------------------------
//      0      4   run length in bytes (u32, least significant byte first)
//      4      n   the run's items, ascending, n a multiple of the item size
//    4+n    ...   the next run, in the same form
//
// A failed transfer is sticky: the store stops, keeps the error (the layer's
// number for the operating system's error, or 5 for a transfer that moved
// fewer bytes than asked), and every later call returns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/temp_file.h"

namespace qbx::records {

inline constexpr std::size_t kRunStoreBufferSize = 16384;
inline constexpr std::size_t kRunHeaderSize = 4;

class RunStore {
 public:
  RunStore() = default;
  ~RunStore() = default;
  RunStore(const RunStore&) = delete;
  RunStore& operator=(const RunStore&) = delete;

  // Appends data to the stream.
  [[nodiscard]] int write(std::span<const std::uint8_t> data);
  // Ends writing: bytes still in the buffer reach the file. Reads need it.
  [[nodiscard]] int finishWriting();
  // Reads exactly buffer.size() bytes at offset; 5 when the stream holds
  // fewer, 87 before finishWriting.
  [[nodiscard]] int read(std::uint64_t offset, std::span<std::uint8_t> buffer);

  // Bytes written so far.
  std::uint64_t size() const { return fileBytes_ + buffered_; }
  bool onFile() const { return file_.isOpen(); }
  int error() const { return error_; }

  // Frees the buffer and closes the file, which deletes it. The store can be
  // written again from offset 0.
  void close();

 private:
  int fail(int error);
  int moveToFile();
  int flushBuffer();

  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t buffered_ = 0;     // bytes in buffer_ (the whole stream while in memory)
  std::uint64_t fileBytes_ = 0;  // bytes on the file
  platform::TempFile file_;
  bool finished_ = false;
  int error_ = 0;
};

}  // namespace qbx::records
