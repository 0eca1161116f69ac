// The music operations: what they pass to the library and what they do with
// its answers (fake library), then the real bassmod.so through the binding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "music/music.h"
#include "tests/common/xm_builder.h"
#include "tests/music/fake_soundlib.h"

namespace {

void NoSync(uint32_t, uint32_t, uint32_t) {}

class MusicOps : public ::testing::Test {
 protected:
  void SetUp() override { CreateDynLibTable(); }
  void TearDown() override { DynLibCloseAll(); }
};

TEST_F(MusicOps, InitOpensTheLibraryAndPassesItsArguments) {
  EXPECT_EQ(MusicInit(1, "./fake_soundlib_a" ZEPHYRA_LIBRARY_SUFFIX, -1, 44100, 0), 1u);
  FakeState* s = FakeStateIn(1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->initCalls, 1);
  EXPECT_EQ(s->initDevice, -1);
  EXPECT_EQ(s->initFreq, 44100u);
  EXPECT_EQ(s->initFlags, 0u);
  // The library's refusal is passed on; the library stays loaded.
  s->initResult = 0;
  EXPECT_EQ(MusicInit(1, "./fake_soundlib_a" ZEPHYRA_LIBRARY_SUFFIX, 3, 22050, 9), 0u);
  EXPECT_EQ(FakeStateIn(1)->initCalls, 2);
  EXPECT_EQ(FakeStateIn(1)->initDevice, 3);
}

TEST_F(MusicOps, InitWithoutALibraryCallsNothingAndLaterCallsYieldZero) {
  EXPECT_EQ(MusicInit(1, "./no_such_library.so", -1, 44100, 0), 0u);
  EXPECT_EQ(MusicInit(1, "", -1, 44100, 0), 0u);
  EXPECT_EQ(DynLibTable[1], nullptr);
  static const uint8_t module[16] = {};
  EXPECT_EQ(MusicLoad(1, 1, module, 0, sizeof module, 0x204), 0u);
  EXPECT_EQ(MusicSetSync(1, 0, MusicPos(1, 0), NoSync, 2), 0u);
  EXPECT_EQ(MusicPlay(1), 0u);
  EXPECT_EQ(MusicFree(1), 0u);
  EXPECT_STREQ(MusicErrorText(1), "All is OK");
}

TEST_F(MusicOps, LoadPassesItsFiveValuesAndFetchesTheErrorOnlyOnFailure) {
  ASSERT_EQ(MusicInit(1, "./fake_soundlib_a" ZEPHYRA_LIBRARY_SUFFIX, -1, 44100, 0), 1u);
  FakeState* s = FakeStateIn(1);
  static const uint8_t module[32] = {1, 2, 3};
  EXPECT_EQ(MusicLoad(1, 1, module, 4, 28, 516), 1u);
  EXPECT_EQ(s->loadMem, 1u);
  EXPECT_EQ(s->loadData, module);
  EXPECT_EQ(s->loadOffset, 4u);
  EXPECT_EQ(s->loadLength, 28u);
  EXPECT_EQ(s->loadFlags, 516u);
  EXPECT_EQ(s->errorCalls, 0);
  s->loadResult = 0;
  s->errorCode = 6;
  EXPECT_EQ(MusicLoad(1, 1, module, 0, 32, 516), 0u);
  EXPECT_EQ(s->errorCalls, 1);
}

TEST_F(MusicOps, SetSyncPassesCallbackAndUserValueAndFetchesTheErrorOnFailure) {
  ASSERT_EQ(MusicInit(1, "./fake_soundlib_b" ZEPHYRA_LIBRARY_SUFFIX, -1, 44100, 0), 1u);
  FakeState* s = FakeStateIn(1);
  s->setSyncResult = 42;
  EXPECT_EQ(MusicSetSync(1, 0x80000000u, MusicPos(6, 0), NoSync, 5), 42u);
  EXPECT_EQ(s->syncType, 0x80000000u);
  EXPECT_EQ(s->syncParam, 6u);
  EXPECT_EQ(s->syncProc, &NoSync);
  EXPECT_EQ(s->syncUser, 5u);
  EXPECT_EQ(s->errorCalls, 0);
  s->setSyncResult = 0;
  EXPECT_EQ(MusicSetSync(1, 1, MusicPos(4, 0xFFFF), NoSync, 6), 0u);
  EXPECT_EQ(s->syncParam, 0xFFFF0004u);
  EXPECT_EQ(s->errorCalls, 1);
}

TEST_F(MusicOps, PlayReachesTheLibraryUnlessItLacksTheFunction) {
  ASSERT_EQ(MusicInit(1, "./fake_soundlib_a" ZEPHYRA_LIBRARY_SUFFIX, -1, 44100, 0), 1u);
  FakeStateIn(1)->playResult = 9;
  EXPECT_EQ(MusicPlay(1), 9u);
  EXPECT_EQ(FakeStateIn(1)->playCalls, 1);
  ASSERT_EQ(MusicInit(1, "./fake_soundlib_noplay" ZEPHYRA_LIBRARY_SUFFIX, -1, 44100, 0), 1u);
  EXPECT_EQ(FakeStateIn(1)->id, 4);
  EXPECT_EQ(MusicPlay(1), 0u);
  EXPECT_EQ(FakeStateIn(1)->playCalls, 0);
}

TEST_F(MusicOps, ErrorTextFollowsTheTableWordForWord) {
  ASSERT_EQ(MusicInit(1, "./fake_soundlib_c" ZEPHYRA_LIBRARY_SUFFIX, -1, 44100, 0), 1u);
  const struct {
    int32_t code;
    const char* text;
  } table[] = {
      {0, "All is OK"},
      {1, "Memory Error"},
      {2, "Can't Open the File"},
      {3, "Can't Find a Free Sound Driver"},
      {5, "Invalid Handle"},
      {6, "Unsupported Format"},
      {7, "Invalid Playback Position"},
      {8, "BASS_Init Has Not Been Successfully Called"},
      {14, "Already Initialized"},
      {16, "Not Paused"},
      {19, "An Illegal Type Was Specified"},
      {20, "An Illegal Parameter Was Specified"},
      {23, "Illegal Device Number"},
      {24, "Not Playing"},
      {28, "No Music"},
      {30, "No Sync Avaliable"},
      {-1, "Some Other Mystery Error"},
      {4, "Some Other Mystery Error with no code"},
      {9, "Some Other Mystery Error with no code"},
      {31, "Some Other Mystery Error with no code"},
      {-2, "Some Other Mystery Error with no code"},
  };
  for (const auto& row : table) {
    FakeStateIn(1)->errorCode = row.code;
    EXPECT_STREQ(MusicErrorText(1), row.text) << row.code;
  }
  // An empty slot yields code 0.
  EXPECT_STREQ(MusicErrorText(2), "All is OK");
}

// The real library through the binding, in decode mode: load, syncs with
// their user values, and its error codes turned into texts.
std::vector<uint32_t> g_users;
void Collect(uint32_t, uint32_t, uint32_t user) { g_users.push_back(user); }

TEST_F(MusicOps, TheRealLibraryPlaysThroughTheBinding) {
  ASSERT_EQ(MusicInit(MusicLibrarySlot, MusicLibraryPath, 0, 44100, 0), 1u) << "needs ./bassmod.so";
  XmSong song;
  song.speed = 1;
  AddPattern(song, 4).At(1, 0) = XmCell{XmNoteC4, 2};
  song.instruments = {XmSquareInstrument(), XmSquareInstrument()};
  song.orders = {0, 0};
  std::vector<uint8_t> bytes = BuildXm(song);
  std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 1);
  EXPECT_EQ(MusicLoad(MusicLibrarySlot, 1, cut.data(), 0, static_cast<uint32_t>(cut.size()), 0x204), 0u);
  EXPECT_STREQ(MusicErrorText(MusicLibrarySlot), "Unsupported Format");
  EXPECT_EQ(MusicSetSync(MusicLibrarySlot, 0, MusicPos(1, 0), Collect, 1), 0u);
  EXPECT_STREQ(MusicErrorText(MusicLibrarySlot), "No Music");

  ASSERT_EQ(MusicLoad(MusicLibrarySlot, 1, bytes.data(), 0, static_cast<uint32_t>(bytes.size()), 0x204), 1u);
  EXPECT_STREQ(MusicErrorText(MusicLibrarySlot), "All is OK");
  EXPECT_NE(MusicSetSync(MusicLibrarySlot, 0, MusicPos(1, 0), Collect, 7), 0u);
  EXPECT_NE(MusicSetSync(MusicLibrarySlot, 0x80000000u, MusicPos(0, 3), Collect, 5), 0u);
  EXPECT_NE(MusicSetSync(MusicLibrarySlot, 1, MusicPos(2, 0xFFFF), Collect, 6), 0u);
  EXPECT_EQ(MusicSetSync(MusicLibrarySlot, 7, 0, Collect, 1), 0u);
  EXPECT_STREQ(MusicErrorText(MusicLibrarySlot), "An Illegal Type Was Specified");
  EXPECT_EQ(MusicPlay(MusicLibrarySlot), 1u);
  // Three passes of orders 0 and 1: four rows of one tick each, 882 frames a tick.
  std::vector<int16_t> audio(2 * 882 * 4 * 6);
  EXPECT_EQ(DynLibCallByName(MusicLibrarySlot, "BASSMOD_MusicDecode", static_cast<void*>(audio.data()),
                             uint32_t{882 * 4 * 6}),
            882u * 4 * 6);
  EXPECT_EQ(g_users, (std::vector<uint32_t>{6, 5, 7, 6, 6, 7, 6, 6, 7, 6}));
  // Freed once: a second free finds nothing initialised, and the library,
  // still loaded, no longer knows the music.
  EXPECT_EQ(MusicFree(MusicLibrarySlot), 1u);
  EXPECT_EQ(MusicFree(MusicLibrarySlot), 0u);
  EXPECT_STREQ(MusicErrorText(MusicLibrarySlot), "BASS_Init Has Not Been Successfully Called");
  EXPECT_NE(DynLibTable[MusicLibrarySlot], nullptr);
}

// The real library lacking one export: the binding still initialises and
// loads through it, and the missing call yields 0 without effect.
TEST_F(MusicOps, TheRealLibraryWithoutPlayStillLoads) {
  ASSERT_EQ(MusicInit(MusicLibrarySlot, "./bassmod_without_play" ZEPHYRA_LIBRARY_SUFFIX, 0, 44100, 0), 1u);
  XmSong song;
  AddPattern(song, 4);
  song.orders = {0};
  std::vector<uint8_t> bytes = BuildXm(song);
  EXPECT_EQ(MusicLoad(MusicLibrarySlot, 1, bytes.data(), 0, static_cast<uint32_t>(bytes.size()), 0x204), 1u);
  EXPECT_NE(MusicSetSync(MusicLibrarySlot, 0, MusicPos(0, 0), Collect, 1), 0u);
  EXPECT_EQ(DynLibFindFunction(MusicLibrarySlot, "BASSMOD_MusicPlay"), nullptr);
  EXPECT_EQ(MusicPlay(MusicLibrarySlot), 0u);
  EXPECT_EQ(DynLibCallByName(MusicLibrarySlot, "BASSMOD_Free"), 1u);
}

}  // namespace
