// Private heaps: zero fill, ownership checks, maximum, destroy-all.
#include "platform/heap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

TEST(Heap, BlocksAreZeroFilledAlignedAndOwned) {
  HeapHandle heap = PlatformHeapCreate(4000);
  ASSERT_NE(heap, nullptr);
  // Free a dirtied block first so the allocator is likely to hand back
  // recycled memory: the zero fill must not depend on fresh pages.
  void* dirty = PlatformHeapAlloc(heap, 196608);
  ASSERT_NE(dirty, nullptr);
  std::memset(dirty, 0xAB, 196608);
  ASSERT_TRUE(PlatformHeapFree(heap, dirty));
  void* pixels = PlatformHeapAlloc(heap, 196608);
  void* keys = PlatformHeapAlloc(heap, 256);
  ASSERT_NE(pixels, nullptr);
  ASSERT_NE(keys, nullptr);
  EXPECT_TRUE(AllZero(pixels, 196608));
  EXPECT_TRUE(AllZero(keys, 256));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pixels) % alignof(std::max_align_t), 0u);
  EXPECT_EQ(PlatformHeapSize(heap, keys), 256u);
  // A block of another heap, a stack address and a double free are refused.
  HeapHandle other = PlatformHeapCreate(1024);
  void* foreign = PlatformHeapAlloc(other, 16);
  int local = 0;
  EXPECT_FALSE(PlatformHeapFree(heap, foreign));
  EXPECT_FALSE(PlatformHeapFree(heap, &local));
  EXPECT_EQ(PlatformHeapSize(heap, foreign), 0u);
  EXPECT_TRUE(PlatformHeapFree(heap, keys));
  EXPECT_FALSE(PlatformHeapFree(heap, keys));
  EXPECT_TRUE(PlatformHeapFree(other, foreign));
  EXPECT_TRUE(PlatformHeapDestroy(other));
  // Destroy releases what is still allocated (ASan's leak check sees it).
  EXPECT_TRUE(PlatformHeapDestroy(heap));
}

TEST(Heap, NullHeapAndZeroSize) {
  EXPECT_EQ(PlatformHeapAlloc(nullptr, 8), nullptr);
  EXPECT_FALSE(PlatformHeapFree(nullptr, nullptr));
  EXPECT_FALSE(PlatformHeapDestroy(nullptr));
  HeapHandle heap = PlatformHeapCreate(0);
  void* a = PlatformHeapAlloc(heap, 0);
  void* b = PlatformHeapAlloc(heap, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);
  EXPECT_FALSE(PlatformHeapFree(heap, nullptr));
  PlatformHeapDestroy(heap);
}

TEST(Heap, ReAllocKeepsContentsAndZeroesGrowth) {
  HeapHandle heap = PlatformHeapCreate(64);
  auto* table = static_cast<uint8_t*>(PlatformHeapAlloc(heap, 10));
  std::memset(table, 7, 10);
  table = static_cast<uint8_t*>(PlatformHeapReAlloc(heap, table, 4000));
  ASSERT_NE(table, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(table[i], 7);
  EXPECT_TRUE(AllZero(table + 10, 3990));
  EXPECT_EQ(PlatformHeapSize(heap, table), 4000u);
  table = static_cast<uint8_t*>(PlatformHeapReAlloc(heap, table, 4));
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table[3], 7);
  // A block the heap does not own is not resized.
  int local = 0;
  EXPECT_EQ(PlatformHeapReAlloc(heap, &local, 8), nullptr);
  // A null block allocates.
  void* fresh = PlatformHeapReAlloc(heap, nullptr, 12);
  EXPECT_EQ(PlatformHeapSize(heap, fresh), 12u);
  PlatformHeapDestroy(heap);
}

TEST(Heap, MaximumCapsLiveBytes) {
  HeapHandle heap = PlatformHeapCreate(0, 100);
  void* a = PlatformHeapAlloc(heap, 60);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(PlatformHeapAlloc(heap, 41), nullptr);
  void* b = PlatformHeapAlloc(heap, 40);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PlatformHeapReAlloc(heap, b, 41), nullptr);
  EXPECT_EQ(PlatformHeapSize(heap, b), 40u);  // left as it was
  PlatformHeapFree(heap, a);
  EXPECT_NE(PlatformHeapReAlloc(heap, b, 100), nullptr);
  PlatformHeapDestroy(heap);
}

// Two threads allocate and free on one heap at once; run under TSan.
TEST(Heap, ConcurrentUseIsSerialised) {
  HeapHandle heap = PlatformHeapCreate(1024);
  auto work = [heap] {
    std::vector<void*> mine;
    for (int i = 0; i < 2000; ++i) {
      mine.push_back(PlatformHeapAlloc(heap, 24));
      if (i % 3 == 0) {
        EXPECT_TRUE(PlatformHeapFree(heap, mine.back()));
        mine.pop_back();
      }
    }
    for (void* p : mine) EXPECT_EQ(PlatformHeapSize(heap, p), 24u);
  };
  std::thread other(work);
  work();
  other.join();
  PlatformHeapDestroy(heap);
}

}  // namespace
