// Tests of the allocator settings.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>
#include "core/demo_globals.h"
#include "capture/capture_options.h"
#include "capture/contact_sheet.h"
#include "capture/frame_clock.h"
#include "capture/frame_writer.h"
#include "capture/scheduler_tuning.h"
#include "capture/freed_memory.h"
#include "capture/png_io.h"
#include "capture/timeline.h"
#include "capture/video_writer.h"
#include "tests/capture/support/programs.h"
#include "capture/wav_writer.h"
#include "tests/capture/support/png_read.h"
#include "tests/capture/support/wav_read.h"
#include "tests/capture/capture_io_util.h"

// With the capture's settings, a block far above glibc's default map
// threshold (24 MiB) comes from the heap, and freeing it leaves it there for
// the next frame instead of unmapping it. The sanitizers bring allocators of
// their own, which neither take these settings nor report to mallinfo2.
TEST(FreedMemory, LargeBlocksComeFromTheHeapAndStayThereWhenFreed) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's allocator is in use";
#elif !defined(__GLIBC__)
  GTEST_SKIP() << "not glibc";
#else
  // Allocator tunables of the user's own stand: nothing is applied.
  const char* users = std::getenv("GLIBC_TUNABLES");
  const std::string saved = users ? users : "";
  setenv("GLIBC_TUNABLES", "glibc.malloc.perturb=0", 1);
  EXPECT_FALSE(KeepFreedMemory());
  if (users) setenv("GLIBC_TUNABLES", saved.c_str(), 1);
  else unsetenv("GLIBC_TUNABLES");
  if (saved.find("glibc.malloc.") != std::string::npos) GTEST_SKIP() << "this run tunes the allocator itself";

  ASSERT_TRUE(KeepFreedMemory());
  constexpr size_t Bytes = size_t{24} << 20;
  const struct mallinfo2 before = mallinfo2();
  auto* block = static_cast<volatile uint8_t*>(std::malloc(Bytes));
  ASSERT_NE(block, nullptr);
  block[0] = 1;
  block[Bytes - 1] = 1;
  const struct mallinfo2 holding = mallinfo2();
  EXPECT_EQ(holding.hblks, before.hblks);  // no mapping of its own
  std::free(const_cast<uint8_t*>(block));
  const struct mallinfo2 after = mallinfo2();
  EXPECT_GE(after.arena, Bytes);     // still part of the heap...
  EXPECT_GE(after.fordblks, Bytes);  // ...as free space
#endif
}
