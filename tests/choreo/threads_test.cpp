// The sync callback fired from a second thread (as the sound library does)
// while the main thread ticks and reads the shared values. Run under
// ThreadSanitizer: no data race may be reported, and no reader may see a
// value outside its range (an object texture index of 7, an unknown mode).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "choreo/choreo_test_util.h"
#include "choreo/director.h"
#include "choreo/fake_bassmod_control.h"
#include "choreo/tick.h"

namespace {

TEST(ChoreoThreads, CallbackOnSecondThreadWhileMainThreadTicksAndReads) {
  ResetDemoForChoreo(SceneModeCaptionIn);
  RandomSeed(11);
  FakeBassmod fake;
  ASSERT_TRUE(OpenFakeBassmod(&fake));
  RegisterMusicSyncs();

  const std::vector<SongEvent> song = ScriptedSong(12);
  constexpr int ExtraCues = 100000;
  int songCues = 0;
  bool seenSix = false;
  for (const SongEvent& e : song) {
    if (e.Note || e.Second != 0 || e.First < 6) continue;
    if (seenSix) ++songCues;  // no cue for the arrival that registers them
    seenSix = true;
  }

  std::atomic<bool> finished{false};
  std::thread music([&] {
    for (const SongEvent& e : song) PlayEvent(fake, e);
    // Then a burst of order cues and morph notes, to race the texture index
    // and the generator against the main thread's reads and draws.
    for (int i = 0; i < ExtraCues; ++i) {
      fake.Position(7, 0);
      if (i % 4 == 0) fake.Note(5, 61);
      if (i % 3 == 0) fake.Note(4, 49);
    }
    finished.store(true);
  });

  // Failures are counted, not asserted, so the music thread is always joined.
  long ticks = 0, badMode = 0, badIndex = 0, badColour = 0;
  while (!finished.load()) {
    TickAnimation();
    ++ticks;
    const int8_t mode = DemoGlobals.SceneMode.load();
    if (!(mode == SceneModeCaptionIn || mode == SceneModeCaptionOut || mode == SceneModeMorphRising ||
          mode == SceneModeMorphFalling || mode == SceneModeCube))
      ++badMode;
    // The renderer's read of the texture index, many times per tick so that
    // a transient 7 between the cue's writes would be caught.
    for (int i = 0; i < 64; ++i) {
      const int8_t index = DemoGlobals.ObjectTextureIndex.load();
      if (index < 0 || index > 6) ++badIndex;
    }
    const float red = DemoGlobals.MorphRed.load();
    if (!(red >= 0.0f && red <= 1.0f)) ++badColour;
    (void)DemoGlobals.BeatZoom.load();
    (void)DemoGlobals.CaptionFade.load();
    (void)DemoGlobals.MorphFrame.load();
    (void)DemoGlobals.UseCaptionB.load();
    (void)DemoGlobals.DemoDone.load();
    (void)Random(6);  // the main thread's own draws, as at start-up
  }
  music.join();

  // Only the callback writes these, so nothing was lost.
  EXPECT_EQ(DemoGlobals.CueCount.load(), songCues + ExtraCues);
  EXPECT_EQ(DemoGlobals.DemoDone.load(), 1);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCube);
  EXPECT_EQ(fake.RegistrationCalls(), 13);
  EXPECT_EQ(badMode, 0);
  EXPECT_EQ(badIndex, 0);
  EXPECT_EQ(badColour, 0);
  EXPECT_GT(ticks, 0);
  RecordProperty("ticks", static_cast<int>(ticks));
  CloseFakeBassmod(&fake);
  ClearDemoGlobals();
}

// A scene the callback starts while a tick is turning the scene it read
// (the second caption's fade-in passing full alpha) must survive the turn:
// the cube's sync fires once only, so a lost cube scene never comes back.
// A second thread stores the cube mode at a varying moment around each tick.
TEST(ChoreoThreads, SceneTheCallbackStartsIsNeverUndoneByATicksTurn) {
  constexpr int Rounds = 20000;
  std::atomic<int> go{0}, done{0};
  // Both sides wait by spinning (a yield now and then, for a shared core)
  // and then spin a delay of their own that varies by round, so the store
  // lands at offsets from well before to well after the tick's turn.
  auto waitFor = [](const std::atomic<int>& value, int round) {
    for (int n = 1; value.load() != round; ++n)
      if (n % 4096 == 0) std::this_thread::yield();
  };
  auto delay = [](int steps) {
    std::atomic<int> spin{steps};
    while (spin.fetch_sub(1) > 0) {
    }
  };
  std::thread callback([&] {
    for (int round = 1; round <= Rounds; ++round) {
      waitFor(go, round);
      delay(round % 61);
      DemoGlobals.SceneMode.store(SceneModeCube);
      done.store(round);
    }
  });
  int lost = 0;
  for (int round = 1; round <= Rounds; ++round) {
    ResetDemoForChoreo(SceneModeCaptionIn);
    DemoGlobals.CaptionFade.store(0.99f);  // this tick passes full alpha and turns to fading out
    go.store(round);
    delay(round % 53);
    TickAnimation();
    waitFor(done, round);
    if (DemoGlobals.SceneMode.load() != SceneModeCube) ++lost;
  }
  callback.join();
  EXPECT_EQ(lost, 0) << "of " << Rounds << " rounds";
  ClearDemoGlobals();
}

}  // namespace
