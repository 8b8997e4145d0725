#include "platform/global_memory.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/errors.h"

namespace platform {

namespace {

struct Block {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size = 0;
  int locks = 0;
};

struct Table {
  std::mutex mutex;
  std::unordered_map<GlobalHandle, Block> blocks;
  GlobalHandle next = 1;
};

Table& table() {
  static Table* t = new Table;  // lives to the very end; blobs may be freed late
  return *t;
}

std::unique_ptr<std::uint8_t[]> zeroed(std::size_t size) {
  // At least one byte, so that even an empty block has an address.
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]());
}

}  // namespace

int globalAlloc(std::size_t size, GlobalHandle* handle) {
  *handle = 0;
  if (size > kMaxGlobalSize) return kErrorNotEnoughMemory;
  std::unique_ptr<std::uint8_t[]> data = zeroed(size);
  if (data == nullptr) return kErrorNotEnoughMemory;
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  // Handles count up, skipping 0 and any still in use after a wrap.
  GlobalHandle h = t.next;
  while (h == 0 || t.blocks.count(h) != 0) ++h;
  try {
    t.blocks.emplace(h, Block{std::move(data), size, 0});
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  t.next = h + 1;
  *handle = h;
  return 0;
}

int globalReAlloc(GlobalHandle handle, std::size_t size) {
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  if (it == t.blocks.end()) return kErrorInvalidHandle;
  Block& b = it->second;
  if (b.locks > 0) return kErrorAccessDenied;
  if (size > kMaxGlobalSize) return kErrorNotEnoughMemory;
  std::unique_ptr<std::uint8_t[]> data = zeroed(size);
  if (data == nullptr) return kErrorNotEnoughMemory;
  std::memcpy(data.get(), b.data.get(), size < b.size ? size : b.size);
  b.data = std::move(data);
  b.size = size;
  return 0;
}

std::uint8_t* globalLock(GlobalHandle handle) {
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  if (it == t.blocks.end()) return nullptr;
  ++it->second.locks;
  return it->second.data.get();
}

int globalUnlock(GlobalHandle handle) {
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  if (it == t.blocks.end()) return kErrorInvalidHandle;
  if (it->second.locks == 0) return kErrorNotLocked;
  --it->second.locks;
  return 0;
}

std::size_t globalSize(GlobalHandle handle) {
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  return it == t.blocks.end() ? 0 : it->second.size;
}

int globalFree(GlobalHandle handle) {
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  return t.blocks.erase(handle) == 1 ? 0 : kErrorInvalidHandle;
}

}  // namespace platform
