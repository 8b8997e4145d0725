// The system calls through which every disk file does its I/O. Tests install
// replacements to fail, shorten or kill at the n-th write or flush; programs
// never touch them. With no hooks installed the real calls are used.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace platform {

struct IoHooks {
  ssize_t (*pread)(int fd, void* buffer, std::size_t length, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buffer, std::size_t length, off_t offset);
  int (*fdatasync)(int fd);
  int (*ftruncate)(int fd, off_t length);
};

// Installs hooks for the whole process (nullptr restores the real calls).
// Every member must be set.
void setIoHooks(const IoHooks* hooks);
const IoHooks& ioHooks();

}  // namespace platform
