// The random source: reference sequences, the draw's edge cases, seeding from
// the tick count, and steps from two threads that must never interleave.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "support/random.h"

namespace {

RandomState StateAfterSeed(uint32_t seed, int steps) {
  RandomSeed(seed);
  for (int i = 0; i < steps; ++i) RandomStep();
  return RandomGetState();
}

void Unseed() {
  RandomState blank{};
  RandomSetState(blank);
}

TEST(Random, ReferenceSequences) {
  RandomSeed(0);
  std::vector<int32_t> got;
  for (int i = 0; i < 10; ++i) got.push_back(Random(100));
  EXPECT_EQ(got, (std::vector<int32_t>{55, 79, 66, 38, 23, 63, 64, 42, 26, 47}));

  RandomSeed(12345);
  got.clear();
  for (int i = 0; i < 10; ++i) got.push_back(Random(6));
  EXPECT_EQ(got, (std::vector<int32_t>{1, 4, 4, 2, 4, 1, 2, 4, 1, 5}));
}

TEST(Random, SeedFillsByCongruenceAndLeavesIndicesAt3And13) {
  for (uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
    RandomSeed(seed);
    const RandomState s = RandomGetState();
    EXPECT_TRUE(s.Seeded);
    EXPECT_EQ(s.P1, 3) << seed;
    EXPECT_EQ(s.P2, 13) << seed;
  }
  // The fill and the 31 warm-up steps, rebuilt independently: the first word
  // is seed * 0xAC564B05 + 1, the indices start at 0 and 10.
  RandomSeed(7);
  const RandomState got = RandomGetState();
  uint32_t w[17][2];
  uint32_t s = 7;
  for (auto& pair : w)
    for (uint32_t& word : pair) word = s = s * 0xAC564B05u + 1u;
  int p1 = 0, p2 = 10;
  for (int i = 0; i < 31; ++i) {
    const uint32_t z = ((w[p1][0] << 19) | (w[p1][0] >> 13)) + w[p2][0];
    const uint32_t y = ((w[p1][1] << 27) | (w[p1][1] >> 5)) + w[p2][1];
    w[p1][0] = y;
    w[p1][1] = z;
    p1 = (p1 + 16) % 17;
    p2 = (p2 + 16) % 17;
  }
  EXPECT_EQ(std::memcmp(got.Buffer, w, sizeof w), 0);
}

TEST(Random, StepReturnsZHighYLowAndStoresCrosswise) {
  RandomSeed(99);
  const RandomState before = RandomGetState();
  const uint64_t r = RandomStep();
  const RandomState after = RandomGetState();
  const uint32_t* p1 = before.Buffer[3];
  const uint32_t* p2 = before.Buffer[13];
  const uint32_t z = ((p1[0] << 19) | (p1[0] >> 13)) + p2[0];
  const uint32_t y = ((p1[1] << 27) | (p1[1] >> 5)) + p2[1];
  EXPECT_EQ(r, (uint64_t{z} << 32) | y);
  EXPECT_EQ(after.Buffer[3][0], y);
  EXPECT_EQ(after.Buffer[3][1], z);
  EXPECT_EQ(after.P1, 2);
  EXPECT_EQ(after.P2, 12);
  // Indices wrap from 0 to 16.
  for (int i = 0; i < 3; ++i) RandomStep();
  EXPECT_EQ(RandomGetState().P1, 16);
  EXPECT_EQ(RandomGetState().P2, 9);
}

TEST(Random, ZeroAndNegativeBoundsStillAdvance) {
  const RandomState oneStep = StateAfterSeed(4242, 1);
  RandomSeed(4242);
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(RandomGetState(), oneStep);

  RandomSeed(4242);
  EXPECT_EQ(Random(-1), INT32_MIN);
  EXPECT_EQ(RandomGetState(), oneStep);
  RandomSeed(4242);
  EXPECT_EQ(Random(INT32_MIN), INT32_MIN);
  EXPECT_EQ(RandomGetState(), oneStep);
}

TEST(Random, ResultIsExactHighPartOfProduct) {
  // floor(R * (max + 1) / 2^64) for the widest and some odd bounds, checked
  // against the carry formulation on the raw step.
  for (int32_t max : {1, 6, 48, 100, 1000003, INT32_MAX}) {
    RandomSeed(static_cast<uint32_t>(max) * 31u + 5u);
    for (int i = 0; i < 200; ++i) {
      const RandomState s = RandomGetState();
      const uint64_t r = RandomStep();
      RandomSetState(s);
      const uint64_t n = uint64_t(uint32_t(max)) + 1u;
      const uint64_t zn = (r >> 32) * n, yn = (r & 0xFFFFFFFFu) * n;
      const uint64_t carry = ((zn & 0xFFFFFFFFu) + (yn >> 32)) >> 32;
      const int32_t got = Random(max);
      EXPECT_EQ(uint64_t(uint32_t(got)), (zn >> 32) + carry);
      EXPECT_GE(got, 0);
      EXPECT_LE(got, max);
    }
  }
}

TEST(Random, FullRangeReachesHighAndLowHalves) {
  RandomSeed(2024);
  int32_t lo = INT32_MAX, hi = 0;
  for (int i = 0; i < 2000; ++i) {
    const int32_t v = Random(INT32_MAX);
    ASSERT_GE(v, 0);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  EXPECT_LT(lo, 1 << 24);
  EXPECT_GT(hi, INT32_MAX - (1 << 24));
}

TEST(Random, EveryValueOfSmallBoundAppearsIncludingTheTop) {
  RandomSeed(1);
  std::vector<int> hits(101, 0);
  for (int i = 0; i < 101 * 200; ++i) ++hits.at(Random(100));
  for (int v = 0; v <= 100; ++v) {
    EXPECT_GT(hits[v], 120) << v;  // expected 200 each
    EXPECT_LT(hits[v], 290) << v;
  }
}

TEST(Random, SameSeedSameSequence) {
  RandomSeed(777);
  std::vector<uint64_t> a;
  for (int i = 0; i < 100; ++i) a.push_back(RandomStep());
  RandomSeed(777);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(RandomStep(), a[i]) << i;
}

TEST(Random, FirstDrawSeedsFromTickCountEvenWhenNegative) {
  for (int32_t max : {-1, 6}) {
    Unseed();
    const uint32_t t0 = PlatformTickCount();
    const int32_t got = Random(max);
    const uint32_t t1 = PlatformTickCount();
    const RandomState drawn = RandomGetState();
    ASSERT_TRUE(drawn.Seeded);
    if (max < 0) {
      EXPECT_EQ(got, INT32_MIN);
    }
    bool matched = false;
    for (uint32_t t = t0; t != t1 + 1u && !matched; ++t)
      matched = StateAfterSeed(t, 1) == drawn;
    EXPECT_TRUE(matched) << "state is not tick-count seed + one step, max " << max;
  }
  // Once seeded, a draw does not seed again.
  RandomSeed(5);
  const RandomState twoSteps = StateAfterSeed(5, 2);
  RandomSeed(5);
  Random(3);
  Random(-7);
  EXPECT_EQ(RandomGetState(), twoSteps);
}

// Two threads step the generator at once. Serialised steps mean each thread's
// results are a subsequence of the one-thread sequence and together they are
// all of it, each value once; an interleaved step would produce values that
// are in no single-thread sequence at all.
TEST(RandomThreads, StepsFromTwoThreadsNeverInterleave) {
  constexpr int PerThread = 20000;
  RandomSeed(31337);
  std::unordered_map<uint64_t, int> order;
  for (int i = 0; i < 2 * PerThread; ++i) order.emplace(RandomStep(), i);
  ASSERT_EQ(order.size(), size_t(2 * PerThread));
  const RandomState endState = RandomGetState();

  RandomSeed(31337);
  std::vector<uint64_t> a(PerThread), b(PerThread);
  auto run = [](std::vector<uint64_t>* out) {
    for (auto& v : *out) v = RandomStep();
  };
  std::thread ta(run, &a), tb(run, &b);
  ta.join();
  tb.join();

  std::vector<char> seen(2 * PerThread, 0);
  for (const auto* seq : {&a, &b}) {
    int last = -1;
    for (uint64_t v : *seq) {
      auto it = order.find(v);
      ASSERT_NE(it, order.end()) << "a step produced a value outside the sequence";
      ASSERT_GT(it->second, last);
      last = it->second;
      ASSERT_EQ(seen[it->second]++, 0);
    }
  }
  EXPECT_EQ(RandomGetState(), endState);
}

// The program's own use: two threads making first draws on an unseeded
// generator (the start-up and the music thread). They seed once and take
// exactly one step each, through Random with mixed bounds.
TEST(RandomThreads, RacingFirstDrawsSeedOnceAndStepOnceEach) {
  constexpr int PerThread = 5000;
  Unseed();
  const uint32_t t0 = PlatformTickCount();
  auto run = [](int32_t max) {
    for (int i = 0; i < PerThread; ++i) {
      const int32_t v = Random(max);
      if (max >= 0 && (v < 0 || v > max)) ADD_FAILURE() << v;
    }
  };
  std::thread ta(run, 100), tb(run, -1);
  ta.join();
  tb.join();
  const uint32_t t1 = PlatformTickCount();
  const RandomState got = RandomGetState();
  bool matched = false;
  for (uint32_t t = t0; t != t1 + 1u && !matched; ++t)
    matched = StateAfterSeed(t, 2 * PerThread) == got;
  EXPECT_TRUE(matched);
}

}  // namespace
