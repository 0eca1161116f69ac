// Animation tick: one fixed step of the animation values per 40 ms timer
// message. Every float operation is done in single precision and stored to
// its field before the next operation reads it, so the values (and the ticks
// on which modes switch) are those of 32-bit arithmetic; the module is built
// without FMA contraction or excess precision for the same reason.
//
// Shared fields are atomics: the music thread's sync callback writes
// SceneMode, CaptionFade, MorphFrame and BeatZoom at any time. Each
// read-modify-write of a value here is a plain load, compute, store; a
// callback write landing in between is lost or overwritten, which only
// shifts an animation value that the next tick or sync carries on from. The
// scene mode is different: a scene the callback starts (the cube's sync
// fires once only) would never come back, so the tick's own turns of the
// mode are made only while it still holds the mode the tick read.
#include "choreo/tick.h"

#include "core/demo_globals.h"
#include "support/random.h"

namespace {

constexpr float CaptionFadeInStep = 0.04f;   // alpha per tick, mode 1
constexpr float CaptionFadeOutStep = -0.1f;  // alpha per tick, mode 2 (no lower limit)
constexpr float CaptionFadeLimit = 1.0f;     // mode 1 -> 2 when exceeded
constexpr float MorphAngleStep = 5.0f;       // degrees per tick, modes 4 and 8
constexpr float MorphAngleWrap = 2880.0f;    // eight full turns
constexpr float BeatZoomDecay = 1.25f;       // BeatZoom is divided by this every cube tick
constexpr float CubeSpinStep = 6.0f;         // degrees per tick
constexpr int32_t FloorFlipDraw = 20;        // a draw of exactly 20 (of 0..100) flips a step
constexpr float FloorDepthNear = -10.0f;     // the floor turns back beyond these depths
constexpr float FloorDepthFar = -50.0f;

// field += delta, as one load and one store of a 32-bit float.
void AddTo(std::atomic<float>& field, float delta) {
  const float value = field.load();
  field.store(value + delta);
}

void Negate(std::atomic<float>& field) { field.store(-field.load()); }

// SceneMode from -> to, unless the callback has stored another mode since.
void Turn(std::atomic<int8_t>& mode, int8_t from, int8_t to) { mode.compare_exchange_strong(from, to); }

}  // namespace

void TickAnimation() {
  DemoGlobalsRecord& g = DemoGlobals;

  // 1. Caption fades in; past full alpha it starts to fade out.
  if (g.SceneMode.load() == SceneModeCaptionIn) {
    AddTo(g.CaptionFade, CaptionFadeInStep);
    if (g.CaptionFade.load() > CaptionFadeLimit) Turn(g.SceneMode, SceneModeCaptionIn, SceneModeCaptionOut);
  }
  // 2. Caption fades out, into negative alpha for as long as the mode lasts.
  if (g.SceneMode.load() == SceneModeCaptionOut) AddTo(g.CaptionFade, CaptionFadeOutStep);

  // 3. Morph frames rising; at 50 the direction turns (and step 4 of this same
  //    call steps straight back to 49, so frame 50 is never drawn).
  if (g.SceneMode.load() == SceneModeMorphRising) {
    g.MorphFrame.store(g.MorphFrame.load() + 1);
    AddTo(g.MorphAngle, MorphAngleStep);
    if (g.MorphFrame.load() == MorphListCount) Turn(g.SceneMode, SceneModeMorphRising, SceneModeMorphFalling);
  }
  // 4. Morph frames falling; at 0 the direction turns for the next call.
  if (g.SceneMode.load() == SceneModeMorphFalling) {
    g.MorphFrame.store(g.MorphFrame.load() - 1);
    AddTo(g.MorphAngle, MorphAngleStep);
    if (g.MorphFrame.load() == 0) Turn(g.SceneMode, SceneModeMorphFalling, SceneModeMorphRising);
  }

  // 5. Cube and floor. Both draws are made on every cube tick, whatever they
  //    give, so the generator advances by two per tick in this mode only.
  if (g.SceneMode.load() == SceneModeCube) {
    g.BeatZoom.store(g.BeatZoom.load() / BeatZoomDecay);
    AddTo(g.CubeSpin, CubeSpinStep);
    if (Random(100) == FloorFlipDraw) Negate(g.FloorSpinStep);
    if (Random(100) == FloorFlipDraw) Negate(g.FloorDepthStep);
    AddTo(g.FloorSpin, g.FloorSpinStep.load());
    AddTo(g.FloorDepth, g.FloorDepthStep.load());
    // The bounds turn the step back after the move, so the depth may pass a
    // bound by up to one step before it returns.
    if (g.FloorDepth.load() < FloorDepthFar) Negate(g.FloorDepthStep);
    if (g.FloorDepth.load() > FloorDepthNear) Negate(g.FloorDepthStep);
  }

  // 6. In every mode, the morph angle is kept within eight turns.
  if (g.MorphAngle.load() > MorphAngleWrap) AddTo(g.MorphAngle, -MorphAngleWrap);
}
