#include "platform/clock.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

std::int64_t monotonicNanos() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Taken during static initialisation, which is program start for this layer.
const std::int64_t programStart = monotonicNanos();

}  // namespace

std::int64_t tickCount() { return (monotonicNanos() - programStart) / 10'000'000; }

LocalDateTime localDateTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  LocalDateTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.hundredths = static_cast<int>(now.tv_nsec / 10'000'000);
  return t;
}

std::uint32_t localTimeSeconds() {
  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  // tm_gmtoff: the local zone's offset east of UTC, daylight saving included.
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(now) + local.tm_gmtoff);
}

int firstReaderSlot() {
  const std::int64_t spread = tickCount() + static_cast<std::int64_t>(::getpid());
  return static_cast<int>(spread % 1023);
}

void sleepMillis(unsigned ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
