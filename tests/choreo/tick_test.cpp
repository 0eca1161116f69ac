// The animation tick: mode transitions on the exact tick single-precision
// arithmetic gives, the morph bounce, the cube and floor step with its two
// random draws, and the angle wrap in every mode.
#include <gtest/gtest.h>

#include "choreo/choreo_test_util.h"
#include "choreo/tick.h"

namespace {

// Cube mode as start-up leaves it, seeded so that the next tick's two draws
// satisfy pred(first, second); returns the seed.
template <typename Pred>
uint32_t StartCubeWithDraws(Pred pred) {
  const uint32_t seed = FindSeed(pred);
  ResetDemoForChoreo(SceneModeCube);
  RandomSeed(seed);
  return seed;
}
constexpr auto NoFlip = [](int a, int b) { return a != 20 && b != 20; };

class Tick : public ::testing::Test {
 protected:
  void SetUp() override { RandomSeed(1); }
  void TearDown() override { ClearDemoGlobals(); }
};

TEST_F(Tick, CaptionFromZeroSwitchesOnTwentyFifthTick) {
  ResetDemoForChoreo(SceneModeCaptionIn);
  for (int i = 1; i <= 24; ++i) {
    TickAnimation();
    ASSERT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionIn) << "tick " << i;
  }
  // 24 float steps of 0.04 stay at or below 1.0; the 25th gives 1.0000001,
  // switches to mode 2, and step 2 of the same call takes 0.1 off.
  EXPECT_LE(DemoGlobals.CaptionFade.load(), 1.0f);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionOut);
  EXPECT_EQ(DemoGlobals.CaptionFade.load(), 0.9000001f);
  EXPECT_NE(DemoGlobals.CaptionFade.load(), 0.9f);
}

TEST_F(Tick, CaptionFlashPassesOneOnThirteenthTick) {
  ResetDemoForChoreo(SceneModeCaptionIn);
  DemoGlobals.CaptionFade.store(0.5f);
  for (int i = 1; i <= 12; ++i) {
    TickAnimation();
    ASSERT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionIn) << "tick " << i;
  }
  EXPECT_EQ(DemoGlobals.CaptionFade.load(), 0.98000026f);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionOut);
  EXPECT_EQ(DemoGlobals.CaptionFade.load(), 1.0200002f + -0.1f);
}

TEST_F(Tick, CaptionExactlyOneDoesNotSwitch) {
  ResetDemoForChoreo(SceneModeCaptionIn);
  DemoGlobals.CaptionFade.store(0.96f);  // + 0.04f is exactly 1.0f
  TickAnimation();
  EXPECT_EQ(DemoGlobals.CaptionFade.load(), 1.0f);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionIn);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionOut);
}

TEST_F(Tick, FadeOutHasNoLowerLimitAndNoExit) {
  ResetDemoForChoreo(SceneModeCaptionOut);
  DemoGlobals.CaptionFade.store(0.2f);
  for (int i = 0; i < 30; ++i) TickAnimation();
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCaptionOut);
  EXPECT_LT(DemoGlobals.CaptionFade.load(), -2.7f);
  EXPECT_GT(DemoGlobals.CaptionFade.load(), -2.9f);
}

TEST_F(Tick, CaptionModesLeaveMorphAndCubeAlone) {
  for (int8_t mode : {SceneModeCaptionIn, SceneModeCaptionOut}) {
    ResetDemoForChoreo(mode);
    DemoGlobals.MorphFrame.store(7);
    DemoGlobals.MorphAngle.store(100.0f);
    DemoGlobals.BeatZoom.store(1.6f);
    TickAnimation();
    EXPECT_EQ(DemoGlobals.MorphFrame.load(), 7);
    EXPECT_EQ(DemoGlobals.MorphAngle.load(), 100.0f);
    EXPECT_EQ(DemoGlobals.BeatZoom.load(), 1.6f);
    EXPECT_EQ(DemoGlobals.CubeSpin.load(), 0.0f);
    EXPECT_EQ(DemoGlobals.FloorDepth.load(), -20.0f);
  }
}

TEST_F(Tick, RisingTurnAtFiftyLeavesFortyNineAndTenDegrees) {
  ResetDemoForChoreo(SceneModeMorphRising);
  DemoGlobals.MorphFrame.store(48);
  DemoGlobals.MorphAngle.store(20.0f);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.MorphFrame.load(), 49);
  EXPECT_EQ(DemoGlobals.MorphAngle.load(), 25.0f);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeMorphRising);
  TickAnimation();  // 50 -> mode 8 -> straight back to 49 in the same call
  EXPECT_EQ(DemoGlobals.MorphFrame.load(), 49);
  EXPECT_EQ(DemoGlobals.MorphAngle.load(), 35.0f);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeMorphFalling);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.MorphFrame.load(), 48);
}

TEST_F(Tick, FallingTurnAtZeroWaitsForNextCall) {
  ResetDemoForChoreo(SceneModeMorphFalling);
  DemoGlobals.MorphFrame.store(1);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.MorphFrame.load(), 0);
  EXPECT_EQ(DemoGlobals.MorphAngle.load(), 5.0f);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeMorphRising);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.MorphFrame.load(), 1);
  EXPECT_EQ(DemoGlobals.MorphAngle.load(), 10.0f);
}

TEST_F(Tick, BounceStaysWithinDrawableFramesWithPeriodNinetyNine) {
  ResetDemoForChoreo(SceneModeMorphRising);
  std::vector<int32_t> frames;
  for (int i = 0; i < 300; ++i) {
    TickAnimation();
    const int32_t f = DemoGlobals.MorphFrame.load();
    ASSERT_GE(f, 0);
    ASSERT_LE(f, 49);
    frames.push_back(f);
  }
  // Up 1..49 (49 ticks), the turn (49 again), down 48..1, the tick to 0
  // that turns back up: one cycle is 99 ticks.
  EXPECT_EQ(frames[0], 1);
  EXPECT_EQ(frames[48], 49);
  EXPECT_EQ(frames[49], 49);
  EXPECT_EQ(frames[97], 1);
  EXPECT_EQ(frames[98], 0);
  for (int i = 0; i + 99 < 300; ++i) ASSERT_EQ(frames[i], frames[i + 99]) << i;
}

TEST_F(Tick, AngleWrapsAboveEightTurnsInEveryMode) {
  for (int8_t mode : {SceneModeStartUp, SceneModeCaptionIn, SceneModeCaptionOut, SceneModeCube}) {
    ResetDemoForChoreo(mode);
    DemoGlobals.MorphAngle.store(2880.0f);
    TickAnimation();
    EXPECT_EQ(DemoGlobals.MorphAngle.load(), 2880.0f) << int(mode);
    DemoGlobals.MorphAngle.store(2885.0f);
    TickAnimation();
    EXPECT_EQ(DemoGlobals.MorphAngle.load(), 5.0f) << int(mode);
  }
  // In the morph modes the step lands first: 2878 + 5 = 2883 -> 3.
  for (int8_t mode : {SceneModeMorphRising, SceneModeMorphFalling}) {
    ResetDemoForChoreo(mode);
    DemoGlobals.MorphFrame.store(20);
    DemoGlobals.MorphAngle.store(2875.0f);
    TickAnimation();
    EXPECT_EQ(DemoGlobals.MorphAngle.load(), 2880.0f);
    TickAnimation();
    EXPECT_EQ(DemoGlobals.MorphAngle.load(), 5.0f);
  }
}

TEST_F(Tick, BeatZoomDecaysByOneAndAQuarterPerTick) {
  ResetDemoForChoreo(SceneModeCube);
  DemoGlobals.BeatZoom.store(1.6f);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.BeatZoom.load(), 1.28f);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.BeatZoom.load(), 1.0239999f);  // 1.024 in single precision
  for (int i = 0; i < 200; ++i) TickAnimation();
  EXPECT_GE(DemoGlobals.BeatZoom.load(), 0.0f);
  EXPECT_LT(DemoGlobals.BeatZoom.load(), 1e-18f);
}

TEST_F(Tick, CubeAndFloorStepWithoutFlips) {
  StartCubeWithDraws(NoFlip);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.CubeSpin.load(), 6.0f);
  EXPECT_EQ(DemoGlobals.FloorSpin.load(), 8.0f);
  EXPECT_EQ(DemoGlobals.FloorSpinStep.load(), 8.0f);
  EXPECT_EQ(DemoGlobals.FloorDepth.load(), -20.0f + 0.3f);
  EXPECT_EQ(DemoGlobals.FloorDepthStep.load(), 0.3f);
  EXPECT_EQ(DemoGlobals.SceneMode.load(), SceneModeCube);
}

TEST_F(Tick, FloorTurnsBackAfterPassingFarBound) {
  StartCubeWithDraws(NoFlip);
  DemoGlobals.FloorDepth.store(-49.9f);
  DemoGlobals.FloorDepthStep.store(-0.3f);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.FloorDepth.load(), -50.2f);
  EXPECT_EQ(DemoGlobals.FloorDepthStep.load(), 0.3f);
}

TEST_F(Tick, FloorTurnsBackAfterPassingNearBound) {
  const uint32_t seed = StartCubeWithDraws(NoFlip);
  DemoGlobals.FloorDepth.store(-10.1f);
  TickAnimation();
  EXPECT_GT(DemoGlobals.FloorDepth.load(), -10.0f);
  EXPECT_EQ(DemoGlobals.FloorDepthStep.load(), -0.3f);
  // Exactly -10 after the move is not beyond the bound.
  DemoGlobals.FloorDepth.store(-10.0f);
  DemoGlobals.FloorDepthStep.store(0.0f);
  RandomSeed(seed);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.FloorDepthStep.load(), 0.0f);
}

TEST_F(Tick, DrawOfTwentyFlipsTheMatchingStep) {
  // First draw 20: the spin step turns before it is added.
  StartCubeWithDraws([](int a, int b) { return a == 20 && b != 20; });
  TickAnimation();
  EXPECT_EQ(DemoGlobals.FloorSpinStep.load(), -8.0f);
  EXPECT_EQ(DemoGlobals.FloorSpin.load(), -8.0f);
  EXPECT_EQ(DemoGlobals.FloorDepthStep.load(), 0.3f);

  // Second draw 20: the depth step turns before it is added.
  StartCubeWithDraws([](int a, int b) { return a != 20 && b == 20; });
  TickAnimation();
  EXPECT_EQ(DemoGlobals.FloorSpinStep.load(), 8.0f);
  EXPECT_EQ(DemoGlobals.FloorDepthStep.load(), -0.3f);
  EXPECT_EQ(DemoGlobals.FloorDepth.load(), -20.0f - 0.3f);
}

TEST_F(Tick, TwoDrawsOnEveryCubeTickAndNoneInOtherModes) {
  for (int8_t mode : {SceneModeStartUp, SceneModeCaptionIn, SceneModeCaptionOut, SceneModeMorphRising,
                      SceneModeMorphFalling, int8_t{3}, int8_t{-1}}) {
    ResetDemoForChoreo(mode);
    RandomSeed(55);
    const RandomState before = RandomGetState();
    for (int i = 0; i < 120; ++i) TickAnimation();
    EXPECT_EQ(RandomGetState(), before) << "mode " << int(mode);
  }
  ResetDemoForChoreo(SceneModeCube);
  RandomSeed(55);
  for (int i = 0; i < 2 * 50; ++i) RandomStep();
  const RandomState expected = RandomGetState();
  RandomSeed(55);
  for (int i = 0; i < 50; ++i) TickAnimation();
  EXPECT_EQ(RandomGetState(), expected);
}

TEST_F(Tick, UnknownModeChangesNothingButTheWrap) {
  ResetDemoForChoreo(3);
  DemoGlobals.CaptionFade.store(0.3f);
  DemoGlobals.MorphFrame.store(10);
  DemoGlobals.MorphAngle.store(2900.0f);
  TickAnimation();
  EXPECT_EQ(DemoGlobals.SceneMode.load(), 3);
  EXPECT_EQ(DemoGlobals.CaptionFade.load(), 0.3f);
  EXPECT_EQ(DemoGlobals.MorphFrame.load(), 10);
  EXPECT_EQ(DemoGlobals.MorphAngle.load(), 20.0f);
}

}  // namespace
