// Machine-specific tuning: scheduler slices and nice values for the
// renderer's and the writers' threads, measured on the 2-core build machine
// with Mesa's llvmpipe (docs/capture.md has the measurements).
#pragma once
#include <cstdint>

// Adds `niceness` (when > 0) to the calling thread's nice value, up to 19,
// and gives it the kernel's default scheduler slice again (see
// RequestShortSlice). Linux keeps a nice value and a slice per thread, and a
// thread's children inherit both. A failure leaves the priority as it was.
void LowerThreadPriority(int niceness);

// The renderer's scheduler slice: the shortest the kernel takes, 0.1 ms
// (its default is 0.7 ms times 1 + log2 of the CPU count, up to 4 times).
inline constexpr uint64_t RendererSliceNs = 100'000;

// Gives the calling thread, and every thread it starts afterwards (the GL
// driver's rasterisers), a scheduler slice of RendererSliceNs. On Linux
// 6.12 and later a waking thread with a shorter slice than the running one
// takes its core at once; without that, a rasteriser waking on a writer's
// core waits out the writer's slice while the other core may sit idle.
// Call it before the GL context is made. False when the kernel refused;
// kernels before 6.12 accept the slice and ignore it.
bool RequestShortSlice();

