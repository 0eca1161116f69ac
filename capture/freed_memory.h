// Machine-specific tuning: glibc's allocator told to keep the memory a
// capture frees. The GL driver frees and allocates blocks of the same sizes
// every frame (its per-frame working memory); by default glibc maps the
// largest on their own and hands the top of a heap back to the kernel once a
// little is free, so every frame faults the same pages in again, and on a
// multi-threaded process each unmapping also interrupts the other cores to
// flush their address caches. With these settings the render-only run of the
// whole demo takes 19,000 page faults instead of 300,000 and is a fifth
// faster (docs/capture.md has the measurements).
#pragma once

// Blocks below this many bytes come from the heaps, never a mapping of
// their own (glibc's largest threshold on 64-bit systems: half a heap).
inline constexpr long KeptMapThreshold = 32L << 20;
// Free memory a heap keeps at its top before giving any back.
inline constexpr long KeptTrimThreshold = 64L << 20;

// Applies both to this process, unless the user's own GLIBC_TUNABLES
// already tunes the allocator (glibc has applied those at start-up, and
// they stand). False when they stand, when glibc refused either setting,
// or when this is not glibc.
bool KeepFreedMemory();
