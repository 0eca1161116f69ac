// The library table and the call-by-name mechanism, against fake libraries
// that record what they are asked and report when they are unloaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "music/music.h"
#include "platform/dynlib.h"
#include "tests/music/fake_soundlib.h"

namespace {

const char* const FakeA = "./fake_soundlib_a" ZEPHYRA_LIBRARY_SUFFIX;
const char* const FakeB = "./fake_soundlib_b" ZEPHYRA_LIBRARY_SUFFIX;
const char* const FakeC = "./fake_soundlib_c" ZEPHYRA_LIBRARY_SUFFIX;
const char* const FakeNoPlay = "./fake_soundlib_noplay" ZEPHYRA_LIBRARY_SUFFIX;

std::vector<int32_t> g_unloaded;
void OnUnload(int32_t id) { g_unloaded.push_back(id); }

// Opens path into slot and arranges to hear of its unloading.
ModuleHandle OpenWatched(int32_t slot, const char* path) {
  ModuleHandle h = DynLibOpen(slot, path);
  if (h) reinterpret_cast<FakeSetUnloadHookFn>(DynLibFindFunction(slot, "FakeSetUnloadHook"))(OnUnload);
  return h;
}

class Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDynLibTable();
    g_unloaded.clear();
  }
  void TearDown() override { DynLibCloseAll(); }
};

TEST_F(Binding, TableStartsWithTenEmptySlotsAndGrowsToSlotPlusThirty) {
  EXPECT_EQ(DynLibTable.size(), 10u);
  for (ModuleHandle h : DynLibTable) EXPECT_EQ(h, nullptr);
  ASSERT_NE(DynLibOpen(9, FakeA), nullptr);
  EXPECT_EQ(DynLibTable.size(), 10u);
  ASSERT_NE(DynLibOpen(10, FakeB), nullptr);
  EXPECT_EQ(DynLibTable.size(), 40u);
  EXPECT_EQ(FakeStateIn(10)->id, 2);
  EXPECT_EQ(FakeStateIn(9)->id, 1);
  // Growth comes first, even when the load then fails.
  EXPECT_EQ(DynLibOpen(57, "./no_such_library.so"), nullptr);
  EXPECT_EQ(DynLibTable.size(), 87u);
  for (size_t i = 11; i < DynLibTable.size(); ++i) EXPECT_EQ(DynLibTable[i], nullptr) << i;
}

TEST_F(Binding, EmptyPathOrNegativeSlotOpensNothing) {
  EXPECT_EQ(DynLibOpen(1, ""), nullptr);
  EXPECT_EQ(DynLibOpen(1, nullptr), nullptr);
  EXPECT_EQ(DynLibOpen(-1, FakeA), nullptr);
  EXPECT_EQ(DynLibTable.size(), 10u);
  for (ModuleHandle h : DynLibTable) EXPECT_EQ(h, nullptr);
}

TEST_F(Binding, CallByNamePassesArgumentsInOrderAndYieldsTheResult) {
  ASSERT_NE(DynLibOpen(1, FakeA), nullptr);
  EXPECT_EQ(DynLibCallByName(1, "FakeMix", 1u, 2u, 3u, 4u, 5u, 6u), 123456u);
  FakeStateIn(1)->initResult = 0xCAFEF00D;
  EXPECT_EQ(DynLibCallByName(1, "BASSMOD_Init", int32_t{-1}, 44100u, 7u), 0xCAFEF00Du);
  EXPECT_EQ(FakeStateIn(1)->initDevice, -1);
  EXPECT_EQ(FakeStateIn(1)->initFreq, 44100u);
  EXPECT_EQ(FakeStateIn(1)->initFlags, 7u);
}

TEST_F(Binding, MissingFunctionEmptySlotOrEmptyNameYieldZeroWithoutACall) {
  ASSERT_NE(DynLibOpen(1, FakeNoPlay), nullptr);
  FakeState* s = FakeStateIn(1);
  EXPECT_EQ(DynLibCallByName(1, "BASSMOD_MusicPlay"), 0u);
  EXPECT_EQ(DynLibCallByName(1, ""), 0u);
  EXPECT_EQ(DynLibCallByName(1, nullptr), 0u);
  EXPECT_EQ(DynLibCallByName(2, "BASSMOD_Init", int32_t{-1}, 44100u, 0u), 0u);   // empty slot
  EXPECT_EQ(DynLibCallByName(500, "BASSMOD_Init", int32_t{-1}, 44100u, 0u), 0u); // beyond the table
  EXPECT_EQ(DynLibCallByName(-3, "BASSMOD_Init", int32_t{-1}, 44100u, 0u), 0u);
  EXPECT_EQ(s->initCalls + s->playCalls + s->loadCalls + s->setSyncCalls + s->errorCalls, 0);
  EXPECT_EQ(DynLibTable.size(), 10u);  // calls never grow the table
}

// Nothing is cached: after the slot is reopened, the same name reaches the
// new library (a cached address would point into the unloaded one).
TEST_F(Binding, ReopeningASlotFreesTheOldLibraryAndCallsReachTheNewOne) {
  ASSERT_NE(OpenWatched(1, FakeA), nullptr);
  EXPECT_EQ(DynLibCallByName(1, "BASSMOD_ErrorGetCode"), 0u);
  ASSERT_NE(OpenWatched(1, FakeB), nullptr);
  EXPECT_EQ(g_unloaded, std::vector<int32_t>{1});  // A freed, by the time B is in
  FakeStateIn(1)->errorCode = 77;
  EXPECT_EQ(DynLibCallByName(1, "BASSMOD_ErrorGetCode"), 77u);
  EXPECT_EQ(FakeStateIn(1)->id, 2);
}

TEST_F(Binding, AFailedOpenKeepsTheLibraryInTheSlot) {
  ModuleHandle a = OpenWatched(1, FakeA);
  ASSERT_NE(a, nullptr);
  FakeStateIn(1)->errorCode = 5;
  EXPECT_EQ(DynLibOpen(1, "./no_such_library.so"), nullptr);
  EXPECT_EQ(DynLibTable[1], a);
  EXPECT_TRUE(g_unloaded.empty());
  EXPECT_EQ(DynLibCallByName(1, "BASSMOD_ErrorGetCode"), 5u);
}

TEST_F(Binding, CloseEmptiesTheSlotAndCloseAllGoesFromTheHighestSlotDown) {
  ASSERT_NE(OpenWatched(12, FakeA), nullptr);
  ASSERT_NE(OpenWatched(0, FakeB), nullptr);
  ASSERT_NE(OpenWatched(3, FakeC), nullptr);
  DynLibClose(5);   // empty: nothing happens
  DynLibClose(99);  // beyond the table: nothing happens
  EXPECT_TRUE(g_unloaded.empty());
  DynLibCloseAll();
  EXPECT_EQ(g_unloaded, (std::vector<int32_t>{1, 3, 2}));  // slots 12, 3, 0
  for (ModuleHandle h : DynLibTable) EXPECT_EQ(h, nullptr);
  EXPECT_EQ(DynLibCallByName(3, "BASSMOD_ErrorGetCode"), 0u);

  ASSERT_NE(OpenWatched(2, FakeA), nullptr);
  DynLibClose(2);
  EXPECT_EQ(DynLibTable[2], nullptr);
  EXPECT_EQ(g_unloaded.back(), 1);
}

TEST(MusicPos, PacksOrderLowAndRowHigh) {
  EXPECT_EQ(MusicPos(0, 9), 9u << 16);
  EXPECT_EQ(MusicPos(5, static_cast<uint32_t>(-1)), 0xFFFF0005u);
  EXPECT_EQ(MusicPos(6, 0), 6u);
  EXPECT_EQ(MusicPos(4, 0xFFFF), 0xFFFF0004u);
  EXPECT_EQ(MusicPos(0x12345, 0x10002), 0x00022345u);  // each half keeps 16 bits
}

}  // namespace
