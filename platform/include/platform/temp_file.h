// Temporary run files (the sorter's overflow): made with mkostemp on
// "TMPXXXXXX" in $TMPDIR (else /tmp) and unlinked at once, so the file has no
// name while it is used and a crash leaves nothing behind. Transfers go
// through the I/O hooks. Results are the layer's error numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace platform {

class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Makes a new empty file in temporaryDirectory() (closing any open one).
  [[nodiscard]] int create();
  // Makes it in the given directory: 3 when the directory is missing.
  [[nodiscard]] int create(const std::string& directory);
  bool isOpen() const { return fd_ >= 0; }

  // At the current position, which they move past the bytes transferred.
  [[nodiscard]] int write(std::span<const std::uint8_t> data);
  [[nodiscard]] int read(std::span<std::uint8_t> buffer, std::size_t* bytesRead);
  [[nodiscard]] int seek(std::uint64_t offset);
  std::uint64_t position() const { return position_; }

  // At an offset; the current position stays.
  [[nodiscard]] int writeAt(std::uint64_t offset, std::span<const std::uint8_t> data);
  [[nodiscard]] int readAt(std::uint64_t offset, std::span<std::uint8_t> buffer,
                           std::size_t* bytesRead);
  [[nodiscard]] int size(std::uint64_t* length) const;

  // Closes the file; its space is given back.
  void close();

 private:
  int fd_ = -1;
  std::uint64_t position_ = 0;
};

}  // namespace platform
