// RANROT W generator: 17 pairs of 32-bit words, two lagged indices, rotations
// by 19 and 27 bits. One process-wide instance shared by the main thread (the
// start-up draw and the animation tick) and the music thread (sync callback).
#include "support/random.h"

#include <bit>
#include <mutex>

#include "platform/clock.h"

namespace {

constexpr int RandomPairs = 17;
constexpr uint32_t RandomSeedMultiplier = 2891336453u;  // 0xAC564B05
constexpr int RandomSeedWarmUpSteps = 31;

// Generator state. Guarded by RandomLock: a draw is seed-if-needed plus one
// step, and the two threads must never interleave inside it (a torn step
// would rewrite a pair half from one state and half from another).
RandomState Generator{};
std::mutex RandomLock;

uint64_t StepLocked() {
  uint32_t* p1 = Generator.Buffer[Generator.P1];
  const uint32_t* p2 = Generator.Buffer[Generator.P2];
  const uint32_t z = std::rotl(p1[0], 19) + p2[0];
  const uint32_t y = std::rotl(p1[1], 27) + p2[1];
  // Stored crosswise: word0 takes y, word1 takes z.
  p1[0] = y;
  p1[1] = z;
  Generator.P1 = Generator.P1 == 0 ? RandomPairs - 1 : Generator.P1 - 1;
  Generator.P2 = Generator.P2 == 0 ? RandomPairs - 1 : Generator.P2 - 1;
  return (static_cast<uint64_t>(z) << 32) | y;
}

void SeedLocked(uint32_t seed) {
  Generator.Seeded = true;
  // Linear congruential fill, pair by pair, word0 first; the first word is
  // already seed * multiplier + 1, never the seed itself.
  uint32_t s = seed;
  for (auto& pair : Generator.Buffer) {
    for (uint32_t& word : pair) {
      s = s * RandomSeedMultiplier + 1u;
      word = s;
    }
  }
  Generator.P1 = 0;
  Generator.P2 = 10;
  for (int i = 0; i < RandomSeedWarmUpSteps; ++i) StepLocked();
}

}  // namespace

void RandomSeed(uint32_t seed) {
  std::lock_guard<std::mutex> hold(RandomLock);
  SeedLocked(seed);
}

uint64_t RandomStep() {
  std::lock_guard<std::mutex> hold(RandomLock);
  return StepLocked();
}

int32_t Random(int32_t max) {
  uint64_t r;
  {
    // Seeding and the step share one hold, so two first draws racing from the
    // two threads seed once and then take two consecutive steps.
    std::lock_guard<std::mutex> hold(RandomLock);
    if (!Generator.Seeded) SeedLocked(PlatformTickCount());
    r = StepLocked();
  }
  if (max < 0) return INT32_MIN;  // the step was still taken
  // floor(R * n / 2^64) with n = max + 1 in 1..2^31: the high 64 bits of the
  // 128-bit product, which is below n, so it fits max's range.
  const uint64_t n = static_cast<uint64_t>(max) + 1u;
  const unsigned __int128 product = static_cast<unsigned __int128>(r) * n;
  return static_cast<int32_t>(static_cast<uint64_t>(product >> 64));
}

RandomState RandomGetState() {
  std::lock_guard<std::mutex> hold(RandomLock);
  return Generator;
}

void RandomSetState(const RandomState& state) {
  std::lock_guard<std::mutex> hold(RandomLock);
  Generator = state;
}
