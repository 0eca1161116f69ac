// glibc's allocator settings for a capture: keep freed memory, for this
// process (mallopt) and for children (GLIBC_TUNABLES).
#include "tools/capture/freed_memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

bool KeepFreedMemory() {
#if defined(__GLIBC__)
  // The map threshold first: setting it also stops glibc from raising the
  // thresholds on its own, which would otherwise undo the trim threshold.
  return mallopt(M_MMAP_THRESHOLD, static_cast<int>(KeptMapThreshold)) == 1 &&
         mallopt(M_TRIM_THRESHOLD, static_cast<int>(KeptTrimThreshold)) == 1;
#else
  return false;
#endif
}

std::string KeepFreedMemoryTunables() {
  return "glibc.malloc.mmap_threshold=" + std::to_string(KeptMapThreshold) +
         ":glibc.malloc.trim_threshold=" + std::to_string(KeptTrimThreshold);
}
