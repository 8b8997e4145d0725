#include "platform/temp_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "io_loops.h"
#include "platform/errors.h"
#include "platform/paths.h"

namespace platform {

TempFile::~TempFile() { close(); }

TempFile::TempFile(TempFile&& other) noexcept : fd_(other.fd_), position_(other.position_) {
  other.fd_ = -1;
  other.position_ = 0;
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    position_ = other.position_;
    other.fd_ = -1;
    other.position_ = 0;
  }
  return *this;
}

int TempFile::create() { return create(temporaryDirectory()); }

int TempFile::create(const std::string& directory) {
  close();
  if (directory.find('\0') != std::string::npos) return kErrorInvalidName;
  std::string name = (directory.empty() ? std::string(".") : directory) + "/TMPXXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return err == ENOENT ? kErrorPathNotFound : errorFromErrno(err, IoDirection::kWrite);
  }
  ::unlink(name.c_str());
  fd_ = fd;
  position_ = 0;
  return 0;
}

int TempFile::write(std::span<const std::uint8_t> data) {
  const int result = writeAt(position_, data);
  if (result == 0) position_ += data.size();
  return result;
}

int TempFile::read(std::span<std::uint8_t> buffer, std::size_t* bytesRead) {
  std::size_t got = 0;
  const int result = readAt(position_, buffer, &got);
  position_ += got;
  if (bytesRead != nullptr) *bytesRead = got;
  return result;
}

int TempFile::seek(std::uint64_t offset) {
  if (fd_ < 0) return kErrorInvalidHandle;
  if (offset > detail::kMaxFileOffset) return kErrorInvalidParameter;
  position_ = offset;
  return 0;
}

int TempFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
  if (fd_ < 0) return kErrorInvalidHandle;
  return detail::writeFully(fd_, offset, data);
}

int TempFile::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer, std::size_t* bytesRead) {
  if (fd_ < 0) {
    if (bytesRead != nullptr) *bytesRead = 0;
    return kErrorInvalidHandle;
  }
  return detail::readFully(fd_, offset, buffer, bytesRead);
}

int TempFile::size(std::uint64_t* length) const {
  if (fd_ < 0) return kErrorInvalidHandle;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return errorFromErrno(errno);
  *length = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

void TempFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  position_ = 0;
}

}  // namespace platform
