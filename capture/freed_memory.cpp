// Machine-specific tuning: glibc's allocator told to keep freed memory.
#include "capture/freed_memory.h"

#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

bool KeepFreedMemory() {
#if defined(__GLIBC__)
  const char* users = std::getenv("GLIBC_TUNABLES");
  if (users && std::strstr(users, "glibc.malloc.")) return false;
  // The map threshold first: setting it also stops glibc from raising the
  // thresholds on its own, which would otherwise undo the trim threshold.
  return mallopt(M_MMAP_THRESHOLD, static_cast<int>(KeptMapThreshold)) == 1 &&
         mallopt(M_TRIM_THRESHOLD, static_cast<int>(KeptTrimThreshold)) == 1;
#else
  return false;
#endif
}
