// Tests of the run-and-literal deflate coder: zlib's inflate must give back
// every input exactly, the output must fit the stated bound, runs must
// actually shrink, and noise must never grow beyond stored blocks.
#include "capture/run_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// Compresses into a buffer of exactly RunDeflateBound bytes (so that
// AddressSanitizer sees any write past it) and inflates the result.
struct Coded {
  std::vector<uint8_t> stream;
  std::vector<uint8_t> decoded;
  int inflateResult = Z_DATA_ERROR;
};

Coded Code(const std::vector<uint8_t>& in) {
  Coded c;
  c.stream.resize(RunDeflateBound(in.size()));
  const size_t size = RunDeflateZlib(in.data(), in.size(), c.stream.data(), c.stream.size());
  c.stream.resize(size);
  if (size == 0) return c;
  c.decoded.resize(in.size() + 1);  // one spare byte: a longer result shows as a mismatch
  uLongf decodedSize = c.decoded.size();
  c.inflateResult = uncompress(c.decoded.data(), &decodedSize, c.stream.data(), c.stream.size());
  c.decoded.resize(decodedSize);
  return c;
}

// Stored blocks: the zlib header, 5 bytes per block of up to 65,535, Adler-32.
size_t StoredStream(size_t n) { return 2 + n + 5 * std::max<size_t>(1, (n + 65534) / 65535) + 4; }

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(random());
  return v;
}

// Filtered-frame-like bytes: mostly zeros in runs of varied length, with
// small differences between them.
std::vector<uint8_t> FrameLike(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> v;
  while (v.size() < n) {
    v.insert(v.end(), random() % 300, 0);
    for (uint32_t k = random() % 40; k > 0; --k) v.push_back(static_cast<uint8_t>(random() % 7 - 3));
  }
  v.resize(n);
  return v;
}

// The edges of the coder: run detection works on 8-byte words (a run is at
// least 9 bytes), matches are 3-258 bytes and a tail of 1-2 bytes goes as
// literals, the histogram samples inputs of 16 KiB and more, and a run may
// touch the start or end of the input or another run.
TEST(RunDeflate, EveryInputComesBackExactlyThroughZlib) {
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases = {{"empty", {}}, {"one byte", {42}}};
  for (size_t run : {8, 9, 10, 15, 16, 17, 258, 259, 260, 261, 262, 517, 518, 519}) {
    std::vector<uint8_t> alone(run, 0);
    cases.push_back({"run of " + std::to_string(run) + " alone", alone});
    std::vector<uint8_t> framed = {1, 2, 3};
    framed.insert(framed.end(), run, 0xFF);
    framed.insert(framed.end(), {4, 5});
    cases.push_back({"run of " + std::to_string(run) + " between literals", framed});
  }
  for (size_t offset = 0; offset < 8; ++offset) {  // the run starts at every place in a word
    std::vector<uint8_t> v = Noise(40, static_cast<uint32_t>(offset));
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(offset), 12, 7);
    cases.push_back({"run at offset " + std::to_string(offset), v});
  }
  std::vector<uint8_t> adjacent(20, 5);  // two runs of different bytes, touching
  adjacent.insert(adjacent.end(), 30, 6);
  cases.push_back({"adjacent runs", adjacent});
  std::vector<uint8_t> beforeRun = {9, 9, 9, 9, 9, 9, 9, 1};  // 7 equal bytes, one off, then a run
  beforeRun.insert(beforeRun.end(), 50, 9);
  cases.push_back({"near-run before a run", beforeRun});
  cases.push_back({"long zeros", std::vector<uint8_t>(1 << 20, 0)});
  cases.push_back({"frame-like, short", FrameLike(5000, 1)});
  cases.push_back({"frame-like, sampled", FrameLike(921'600, 2)});
  cases.push_back({"noise, short", Noise(1000, 3)});
  cases.push_back({"noise, several stored blocks", Noise(200'000, 4)});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Coded coded = Code(c.bytes);
    ASSERT_FALSE(coded.stream.empty());
    EXPECT_EQ(coded.inflateResult, Z_OK);
    EXPECT_EQ(coded.decoded, c.bytes);
    EXPECT_LE(coded.stream.size(), StoredStream(c.bytes.size()));  // never larger than stored
  }
}

// The histogram is taken from one 64-byte block in four. Bytes that occur
// only outside the sample, and a distribution steep enough that an
// unlimited Huffman code would need over 15 bits, must still be coded.
TEST(RunDeflate, BytesOutsideTheSampleAndSteepCountsAreStillCoded) {
  std::vector<uint8_t> unsampled = FrameLike(100'000, 5);
  for (size_t at = 64; at + 64 <= unsampled.size(); at += 256) unsampled[at + 10] = 0xAB;  // never sampled
  const Coded a = Code(unsampled);
  EXPECT_EQ(a.inflateResult, Z_OK);
  EXPECT_EQ(a.decoded, unsampled);

  // Byte k occurs fib(k) times, shuffled: a Huffman tree of these counts is
  // about 25 levels deep.
  std::vector<uint8_t> steep;
  uint64_t f0 = 1, f1 = 1;
  for (int k = 0; k < 26; ++k) {
    steep.insert(steep.end(), f0, static_cast<uint8_t>(k * 9 + 1));
    const uint64_t next = f0 + f1;
    f0 = f1;
    f1 = next;
  }
  std::shuffle(steep.begin(), steep.end(), std::mt19937(6));
  for (const std::vector<uint8_t>& v : {steep, std::vector<uint8_t>(steep.begin(), steep.begin() + 10'000)}) {
    const Coded b = Code(v);
    EXPECT_EQ(b.inflateResult, Z_OK);
    EXPECT_EQ(b.decoded, v);
  }
}

// What the coder is for: a frame-like input shrinks to a fraction, a run
// costs a few bits per 258 bytes, and noise falls back to stored blocks.
TEST(RunDeflate, RunsShrinkAndNoiseStaysStored) {
  const std::vector<uint8_t> frame = FrameLike(921'600, 7);
  EXPECT_LT(Code(frame).stream.size(), frame.size() / 4);
  const std::vector<uint8_t> zeros(1 << 20, 0);
  EXPECT_LT(Code(zeros).stream.size(), zeros.size() / 500);
  const std::vector<uint8_t> noise = Noise(300'000, 8);
  EXPECT_EQ(Code(noise).stream.size(), StoredStream(noise.size()));
}

TEST(RunDeflate, RefusesTooLittleRoom) {
  const std::vector<uint8_t> in = FrameLike(10'000, 9);
  std::vector<uint8_t> out(RunDeflateBound(in.size()) - 1);
  EXPECT_EQ(RunDeflateZlib(in.data(), in.size(), out.data(), out.size()), 0u);
}

}  // namespace
