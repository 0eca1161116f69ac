// Millisecond tick count and sleep on the POSIX monotonic clock (clock_gettime, nanosleep).
#include <ctime>

#include "platform/clock.h"

uint32_t PlatformTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Truncation to 32 bits wraps like a 32-bit millisecond counter.
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void PlatformSleep(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}
