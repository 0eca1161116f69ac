// The scene director through the music binding and a fake sound library:
// the sync table, every user value's effect, the cue count and the end of the
// demo, and a scripted run of the whole song.
#include <gtest/gtest.h>

#include <tuple>

#include "choreo/choreo_test_util.h"
#include "choreo/director.h"
#include "choreo/fake_bassmod_control.h"
#include "choreo/tick.h"

namespace {

using Reg = std::tuple<uint32_t, uint32_t, uint32_t>;  // type, parameter, user value

constexpr uint32_t Pos(uint32_t order, uint32_t row) { return order | row << 16; }
constexpr uint32_t Inst(uint32_t instrument) { return instrument | 0xFFFFu << 16; }

class Director : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDemoForChoreo(SceneModeCaptionIn);
    RandomSeed(3);
    ASSERT_TRUE(OpenFakeBassmod(&fake_)) << FAKE_BASSMOD_PATH;
  }
  void TearDown() override {
    CloseFakeBassmod(&fake_);
    ClearDemoGlobals();
  }

  std::vector<Reg> Registrations() {
    std::vector<Reg> regs;
    for (int32_t i = 0; i < fake_.SyncCount(); ++i) {
      FakeSync sync{};
      fake_.GetSync(i, &sync);
      EXPECT_EQ(sync.proc, &OnMusicSync) << "registration " << i + 1;
      regs.emplace_back(sync.type, sync.param, sync.user);
    }
    return regs;
  }

  FakeBassmod fake_;
};

TEST_F(Director, StartUpRegistersTheEightSyncsInOrder) {
  RegisterMusicSyncs();
  const std::vector<Reg> expected = {
      {0, Pos(0, 9), 1},  {0, Pos(0, 11), 1}, {0, Pos(1, 0), 2},  {1, Inst(5), 3},
      {0, Pos(5, 0), 4},  {0, Pos(5, 9), 1},  {0, Pos(5, 11), 1}, {0x80000000u, Pos(6, 0), 5},
  };
  EXPECT_EQ(Registrations(), expected);
  EXPECT_EQ(fake_.RegistrationCalls(), 8);
  // Registering touches no animation value.
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionIn);
  EXPECT_EQ(DemoGlobals.CaptionFade.load(), 0.0f);
}

TEST_F(Director, CubeStartSetsModeAndRegistersBeatAndCuesOnce) {
  RegisterMusicSyncs();
  DemoGlobals.SceneMode.store(SceneModeCaptionOut);
  fake_.Position(6, 0);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCube);
  std::vector<Reg> regs = Registrations();
  ASSERT_EQ(regs.size(), 13u);
  const std::vector<Reg> later(regs.begin() + 8, regs.end());
  const std::vector<Reg> expected = {
      {1, Inst(4), 6}, {0, Pos(6, 0), 7}, {0, Pos(7, 0), 7}, {0, Pos(8, 0), 7}, {0, Pos(9, 0), 7},
  };
  EXPECT_EQ(later, expected);
  // The once-only sync is gone: the next arrival at order 6 is one cue only.
  DemoGlobals.SceneMode.store(SceneModeMorphRising);
  fake_.Position(6, 0);
  EXPECT_EQ(fake_.RegistrationCalls(), 13);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeMorphRising);
  EXPECT_EQ(DemoGlobals.CueCount.load(), 1);
}

TEST_F(Director, CaptionFlashRestartsFromHalfInAnyMode) {
  for (int8_t mode : {SceneModeCaptionIn, SceneModeCaptionOut, SceneModeMorphRising, SceneModeCube}) {
    DemoGlobals.SceneMode.store(mode);
    DemoGlobals.CaptionFade.store(0.92f);
    OnMusicSync(0, 0, 1);
    EXPECT_EQ(DemoGlobals.CaptionFade.load(), 0.5f);
    EXPECT_EQ(DemoGlobals.SceneMode.load(), mode);
  }
}

TEST_F(Director, MorphStartFromEveryMode) {
  for (int8_t mode : {SceneModeCaptionIn, SceneModeCaptionOut, SceneModeMorphFalling, SceneModeCube}) {
    DemoGlobals.SceneMode.store(mode);
    DemoGlobals.CaptionFade.store(0.3f);
    OnMusicSync(0, 0, 2);
    EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeMorphRising);
    EXPECT_EQ(DemoGlobals.CaptionFade.load(), 0.3f);
    EXPECT_EQ(DemoGlobals.MorphFrame.load(), 0);
  }
}

TEST_F(Director, MorphNoteDrawsThreeComponentsThenFrame) {
  for (uint32_t seed = 0; seed < 400; ++seed) {
    RandomSeed(seed);
    const int32_t r = Random(100), gr = Random(100), b = Random(100), f = Random(48);
    RandomSeed(seed);
    const int8_t mode = seed % 2 ? SceneModeCube : SceneModeCaptionIn;
    DemoGlobals.SceneMode.store(mode);
    OnMusicSync(0, 0, 3);
    ASSERT_EQ(DemoGlobals.MorphRed.load(), static_cast<float>(r / 100.0));
    ASSERT_EQ(DemoGlobals.MorphGreen.load(), static_cast<float>(gr / 100.0));
    ASSERT_EQ(DemoGlobals.MorphBlue.load(), static_cast<float>(b / 100.0));
    ASSERT_EQ(DemoGlobals.MorphFrame.load(), f + 1);
    ASSERT_GE(f + 1, 1);
    ASSERT_LE(f + 1, 49);
    ASSERT_EQ(DemoGlobals.SceneMode.load(), mode);
  }
  // Exactly four steps of the generator per note.
  RandomSeed(9);
  for (int i = 0; i < 4; ++i) RandomStep();
  const RandomState fourSteps = RandomGetState();
  RandomSeed(9);
  OnMusicSync(0, 0, 3);
  EXPECT_EQ(RandomGetState(), fourSteps);
}

TEST_F(Director, SecondCaptionStartsTransparent) {
  for (int8_t mode : {SceneModeMorphRising, SceneModeMorphFalling, SceneModeCaptionOut}) {
    DemoGlobals.SceneMode.store(mode);
    DemoGlobals.CaptionFade.store(-2.5f);
    DemoGlobals.UseCaptionB.store(0);
    OnMusicSync(0, 0, 4);
    EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionIn);
    EXPECT_EQ(DemoGlobals.CaptionFade.load(), 0.0f);
    EXPECT_EQ(DemoGlobals.UseCaptionB.load(), 1);
  }
  // Nothing clears the flag again.
  for (uint32_t user = 0; user <= 8; ++user) OnMusicSync(0, 0, user);
  EXPECT_EQ(DemoGlobals.UseCaptionB.load(), 1);
}

TEST_F(Director, BeatKicksOnlyInCubeMode) {
  for (int8_t mode : {SceneModeStartUp, SceneModeCaptionIn, SceneModeCaptionOut, SceneModeMorphRising,
                      SceneModeMorphFalling}) {
    DemoGlobals.SceneMode.store(mode);
    DemoGlobals.BeatZoom.store(0.25f);
    OnMusicSync(0, 0, 6);
    EXPECT_EQ(DemoGlobals.BeatZoom.load(), 0.25f) << int(mode);
  }
  DemoGlobals.SceneMode.store(SceneModeCube);
  DemoGlobals.BeatZoom.store(0.0f);
  OnMusicSync(0, 0, 6);
  EXPECT_EQ(DemoGlobals.BeatZoom.load(), 1.6f);
  OnMusicSync(0, 0, 6);
  EXPECT_EQ(DemoGlobals.BeatZoom.load(), 3.2f);
  // The next tick shrinks the kick: 1.6 -> 1.28.
  DemoGlobals.BeatZoom.store(0.0f);
  OnMusicSync(0, 0, 6);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.BeatZoom.load(), 1.28f);
}

TEST_F(Director, CuesCycleTheTextureIndexFromAnyStart) {
  for (int8_t start = 0; start <= 6; ++start) {
    DemoGlobals.ObjectTextureIndex.store(start);
    DemoGlobals.CueCount.store(0);
    for (int cue = 1; cue <= 15; ++cue) {
      OnMusicSync(0, 0, 7);
      ASSERT_EQ(DemoGlobals.ObjectTextureIndex.load(), (start + cue) % 7);
      ASSERT_EQ(DemoGlobals.CueCount.load(), cue);
    }
  }
}

TEST_F(Director, DemoDoneAtExactlyTheEleventhCueAndNeverCleared) {
  for (int cue = 1; cue <= 10; ++cue) {
    OnMusicSync(0, 0, 7);
    ASSERT_EQ(DemoGlobals.DemoDone.load(), 0) << cue;
  }
  OnMusicSync(0, 0, 7);
  EXPECT_EQ(DemoGlobals.CueCount.load(), 11);
  EXPECT_EQ(DemoGlobals.DemoDone.load(), 1);
  for (uint32_t user : {7u, 1u, 2u, 4u, 5u, 6u, 7u, 0u}) {
    OnMusicSync(0, 0, user);
    EXPECT_EQ(DemoGlobals.DemoDone.load(), 1);
  }
  EXPECT_EQ(DemoGlobals.CueCount.load(), 13);
}

TEST_F(Director, EveryCallTestsTheCueCount) {
  // Step 8 runs on every call, whatever the user value.
  DemoGlobals.CueCount.store(11);
  OnMusicSync(0, 0, 99);
  EXPECT_EQ(DemoGlobals.DemoDone.load(), 1);
}

TEST_F(Director, UnknownUserValuesChangeNothing) {
  DemoGlobals.CaptionFade.store(0.7f);
  DemoGlobals.BeatZoom.store(0.5f);
  DemoGlobals.ObjectTextureIndex.store(3);
  const RandomState before = RandomGetState();
  for (uint32_t user : {0u, 8u, 16u, 0xFFFFFFFFu}) OnMusicSync(0, 0, user);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionIn);
  EXPECT_EQ(DemoGlobals.CaptionFade.load(), 0.7f);
  EXPECT_EQ(DemoGlobals.BeatZoom.load(), 0.5f);
  EXPECT_EQ(DemoGlobals.ObjectTextureIndex.load(), 3);
  EXPECT_EQ(DemoGlobals.CueCount.load(), 0);
  EXPECT_EQ(DemoGlobals.DemoDone.load(), 0);
  EXPECT_EQ(fake_.RegistrationCalls(), 0);
  EXPECT_EQ(RandomGetState(), before);
}

TEST_F(Director, RefusedRegistrationsAreNotRetriedAndTheSceneGoesOn) {
  fake_.State->setSyncResult = 0;
  RegisterMusicSyncs();
  EXPECT_EQ(fake_.RegistrationCalls(), 8);
  EXPECT_EQ(fake_.SyncCount(), 0);
  OnMusicSync(0, 0, 5);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCube);
  EXPECT_EQ(fake_.RegistrationCalls(), 13);
}

TEST(DirectorWithoutLibrary, NothingFiresAndStartUpGoesOn) {
  ResetDemoForChoreo(SceneModeCaptionIn);
  CreateDynLibTable();
  EXPECT_EQ(MusicInit(MusicLibrarySlot, "./no-such-sound-library.so", -1, 44100, 0), 0u);
  RegisterMusicSyncs();
  OnMusicSync(0, 0, 5);  // a registration through the empty slot is a silent 0
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCube);
  // Without syncs the caption fades in, out, and stays in mode 2.
  ResetDemoForChoreo(SceneModeCaptionIn);
  for (int i = 0; i < 500; ++i) TickAnimation();
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionOut);
  DynLibCloseAll();
  ClearDemoGlobals();
}

// The song as the module shapes it, event by event, with the tick run after
// every row: the scene order, one cue per order start from order 6 on, the
// five later registrations once, and the end at the eleventh cue, at order 9
// of the third pass through orders 6..9 (this library does not fire a sync
// for the event during which it was registered).
TEST_F(Director, ScriptedSongRunsTheScenesInOrderAndEndsAtTheEleventhCue) {
  RegisterMusicSyncs();
  const std::vector<SongEvent> song = ScriptedSong(4);
  std::vector<int8_t> modesAtOrderStart;
  int pass = 0, doneOrder = -1, donePass = -1;
  int32_t lastCue = 0;
  uint32_t lastOrder = 99;
  for (const SongEvent& e : song) {
    PlayEvent(fake_, e);
    if (!e.Note && e.Second == 0) {
      if (e.First == 6) ++pass;
      modesAtOrderStart.push_back(DemoGlobals.SceneMode.load());
      const int32_t cue = DemoGlobals.CueCount.load();
      const bool cueOrder = pass >= 1 && !(pass == 1 && e.First == 6);
      ASSERT_EQ(cue, lastCue + (cueOrder ? 1 : 0)) << "order " << e.First << " pass " << pass;
      lastCue = cue;
      lastOrder = e.First;
    }
    if (!e.Note) {
      ASSERT_EQ(DemoGlobals.CueCount.load(), lastCue) << "a cue off an order start";
      TickAnimation();
    }
    if (DemoGlobals.DemoDone.load() && doneOrder < 0) {
      doneOrder = static_cast<int>(lastOrder);
      donePass = pass;
      EXPECT_EQ(DemoGlobals.CueCount.load(), 11);
    }
  }
  EXPECT_EQ(doneOrder, 9);
  EXPECT_EQ(donePass, 3);
  EXPECT_EQ(fake_.RegistrationCalls(), 13);
  // Mode at each order start: caption (faded out by order 0's end), morph for
  // orders 1..4, the second caption at 5, the cube from 6 on.
  ASSERT_GE(modesAtOrderStart.size(), 10u);
  EXPECT_EQ(modesAtOrderStart[0], 1);
  for (int o = 1; o <= 4; ++o) EXPECT_TRUE(modesAtOrderStart[o] == 4 || modesAtOrderStart[o] == 8) << o;
  EXPECT_EQ(modesAtOrderStart[5], 1);
  for (size_t i = 6; i < modesAtOrderStart.size(); ++i) EXPECT_EQ(modesAtOrderStart[i], 16);
  EXPECT_EQ(DemoGlobals.UseCaptionB.load(), 1);
}

}  // namespace
