// Process-wide pseudo-random integers (lagged Fibonacci with rotations, RANROT W).
#pragma once
#include <cstdint>

// An integer from 0 to max inclusive, uniformly; INT32_MIN when max < 0.
// Every call advances the generator by one step. The first call seeds the
// generator from the millisecond tick count. Safe to call from any thread:
// steps are serialised so two never interleave.
int32_t Random(int32_t max);
// Restarts the generator from seed; a fixed seed gives a reproducible sequence.
void RandomSeed(uint32_t seed);
// One raw step: z in the high 32 bits, y in the low 32 bits.
uint64_t RandomStep();

// A copy of the whole generator state, taken or put back under the same lock
// as the steps. For tests: to compare states, to check that something drew no
// number, or to return the generator to "never seeded".
struct RandomState {
  uint32_t Buffer[17][2];  // 17 pairs (word0, word1)
  int32_t P1;              // pair the next step rewrites, 0..16
  int32_t P2;              // lagged pair the next step adds, 0..16
  bool Seeded;             // false until the first seeding
  bool operator==(const RandomState&) const = default;
};
RandomState RandomGetState();
void RandomSetState(const RandomState& state);
