// Clocks: the tick count in hundredths of a second since the program started
// (CLOCK_MONOTONIC, so it never jumps with the wall clock), the local date and
// time, and short sleeps.
#pragma once

#include <cstdint>

namespace platform {

// Hundredths of a second since the program started; never decreases.
std::int64_t tickCount();

struct LocalDateTime {
  int year = 0;    // e.g. 2024
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
  int second = 0;  // 0 to 60 (leap second)
  int hundredths = 0;
};

LocalDateTime localDateTime();

// The local date and time as a count of seconds since 1970-01-01 00:00 local
// time, taken modulo 2^32: the start value of transaction numbers.
std::uint32_t localTimeSeconds();

// The first reader slot of a disk file, 0 to 1022: spread by the ticks since
// program start and by the process id, so that programs starting at the same
// moment still rarely meet in one slot.
int firstReaderSlot();

// Sleeps at least ms milliseconds (resumed after signals).
void sleepMillis(unsigned ms);

}  // namespace platform
