// Shared set-up for the choreography tests: the global record as start-up
// leaves it, and seeds with chosen first draws.
#pragma once
#include "core/demo_globals.h"
#include "support/random.h"

inline void ResetDemoForChoreo(int8_t mode) {
  ClearDemoGlobals();
  DemoGlobals.MorphRed.store(1.0f);
  DemoGlobals.MorphGreen.store(0.4f);
  DemoGlobals.MorphBlue.store(1.0f);
  DemoGlobals.FloorSpinStep.store(8.0f);
  DemoGlobals.FloorDepth.store(-20.0f);
  DemoGlobals.FloorDepthStep.store(0.3f);
  DemoGlobals.SceneMode.store(mode);
}

// A seed whose next two Random(100) draws satisfy pred(first, second).
template <typename Pred>
uint32_t FindSeed(Pred pred) {
  for (uint32_t seed = 1;; ++seed) {
    RandomSeed(seed);
    const int32_t a = Random(100);
    const int32_t b = Random(100);
    if (pred(a, b)) return seed;
  }
}
