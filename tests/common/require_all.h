// Skips for want of a program or module the install script puts on the
// machine (ffmpeg, ffprobe, Pillow). scripts/test.sh sets
// ZEPHYRA_REQUIRE_ALL=1 after installing them: there such a skip would hide
// a broken install behind a pass, so it fails instead. Skips that depend on
// the platform itself (a kernel feature, the allocator in use) stay skips and
// do not use this.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

inline bool ZephyraRequireAll() {
  const char* v = std::getenv("ZEPHYRA_REQUIRE_ALL");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

// Use as a statement in a test body: ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
#define ZEPHYRA_SKIP_WITHOUT(why)                                                              \
  do {                                                                                         \
    if (ZephyraRequireAll()) FAIL() << (why) << " (ZEPHYRA_REQUIRE_ALL=1: the install should have put it there)"; \
    GTEST_SKIP() << (why);                                                                     \
  } while (0)
