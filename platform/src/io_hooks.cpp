#include "platform/io_hooks.h"

#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

const IoHooks kRealCalls = {
    ::pread,
    ::pwrite,
    ::fdatasync,
    ::ftruncate,
};

std::atomic<const IoHooks*> installed{&kRealCalls};

}  // namespace

void setIoHooks(const IoHooks* hooks) {
  installed.store(hooks != nullptr ? hooks : &kRealCalls, std::memory_order_release);
}

const IoHooks& ioHooks() { return *installed.load(std::memory_order_acquire); }

}  // namespace platform
