// Millisecond clock and sleep.
#pragma once
#include <cstdint>

// Milliseconds since an arbitrary fixed point (the system's boot on Linux),
// wrapping at 2^32 like a 32-bit tick count.
uint32_t PlatformTickCount();
// Yields the processor for at least ms milliseconds.
void PlatformSleep(uint32_t ms);
