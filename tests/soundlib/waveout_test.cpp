// The sound library in real time on Windows: winmm waveOut (under Wine an
// ALSA null sink, which is not paced in real time, so nothing here is timed)
// or, when no device opens, the silent clock. Syncs must arrive in order, at
// their exact frames, on the library's thread, and stop with Free.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "soundlib/bassmod.h"
#include "tests/common/xm_builder.h"

namespace {

constexpr uint32_t Freq = 44100;
constexpr uint64_t RowFrames = 3 * 882;  // speed 3 at BPM 125

std::vector<uint8_t> LoopSong() {
  XmSong s;
  s.speed = 3;
  s.bpm = 125;
  XmPattern& p = AddPattern(s, 16);
  for (int r = 0; r < 16; r += 4) p.At(r, 0) = XmCell{XmNoteC4, 1};
  s.instruments = {XmSquareInstrument(32)};
  s.orders = {0};
  return BuildXm(s);
}

struct Arrival {
  uint32_t data, user;
  uint64_t frame;
  std::thread::id thread;
};
std::mutex g_lock;
std::vector<Arrival> g_arrivals;

void BASSMOD_CALLBACK Record(uint32_t, uint32_t data, uint32_t user) {
  Arrival a{data, user, BASSMOD_MusicGetSample(), std::this_thread::get_id()};
  std::lock_guard<std::mutex> lock(g_lock);
  g_arrivals.push_back(a);
}

std::vector<Arrival> Arrivals() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_arrivals;
}

// Waits (up to 20 s of wall time) for `count` arrivals.
bool WaitForArrivals(size_t count) {
  for (int i = 0; i < 2000; ++i) {
    if (Arrivals().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class WaveOut : public ::testing::Test {
 protected:
  void SetUp() override {
    BASSMOD_Free();
    std::lock_guard<std::mutex> lock(g_lock);
    g_arrivals.clear();
  }
  void TearDown() override { BASSMOD_Free(); }
};

TEST_F(WaveOut, RowSyncsArriveInOrderAtTheirFramesThenStopWithFree) {
  // 1 with a device; 0 and "no driver" on the silent clock. Both play.
  const uint32_t init = BASSMOD_Init(-1, Freq, 0);
  if (init == 0) {
    EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_DRIVER);
  }
  std::printf("output: %s\n", init ? "waveOut device" : "silent clock (no device)");
  std::vector<uint8_t> song = LoopSong();
  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0xFFFF0000u, Record, 1), 0u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, 0xFFFF0001u, Record, 2), 0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  ASSERT_TRUE(WaitForArrivals(40)) << "only " << Arrivals().size() << " syncs arrived";
  // The syncs delivered so far, then the position heard: a sync may still
  // arrive between reading the position and the Free below.
  const std::vector<Arrival> beforeHeard = Arrivals();
  const uint64_t heard = BASSMOD_MusicGetSample();
  ASSERT_EQ(BASSMOD_Free(), 1u);
  std::vector<Arrival> got = Arrivals();

  uint64_t row = 0;
  uint64_t lastFrame = 0;
  for (const Arrival& a : got) {
    SCOPED_TRACE(testing::Message() << "row " << row << " user " << a.user);
    EXPECT_NE(a.thread, std::this_thread::get_id());
    EXPECT_EQ(a.thread, got[0].thread);
    EXPECT_GE(a.frame, lastFrame);
    lastFrame = a.frame;
    if (a.user == 1) {
      EXPECT_EQ(a.frame, row * RowFrames);
      EXPECT_EQ(a.data, static_cast<uint32_t>((row % 16) << 16));
      ++row;
    } else {
      // Notes on every fourth row, in the same delivery as their row start.
      ASSERT_GE(row, 1u);
      EXPECT_EQ((row - 1) % 4, 0u);
      EXPECT_EQ(a.frame, (row - 1) * RowFrames);
      EXPECT_EQ(a.data, (uint32_t{XmNoteC4} << 16) | 1u);
    }
  }
  // A sync is delivered once its frame is heard, so the position read after
  // a delivery is at or past its frame.
  ASSERT_FALSE(beforeHeard.empty());
  EXPECT_GE(heard, beforeHeard.back().frame);

  const size_t after = Arrivals().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Arrivals().size(), after);
}

TEST_F(WaveOut, PlayAgainAfterReloadStartsAtFrameZero) {
  BASSMOD_Init(-1, Freq, 0);
  std::vector<uint8_t> song = LoopSong();
  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0x00030000u, Record, 1), 0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  ASSERT_TRUE(WaitForArrivals(1));
  // A second load stops the first music and drops its syncs; the new one's
  // clock starts again from 0 on the same (restarted) output.
  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0x00020000u, Record, 2), 0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  ASSERT_TRUE(WaitForArrivals(2));
  ASSERT_EQ(BASSMOD_Free(), 1u);
  std::vector<Arrival> got = Arrivals();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].user, 1u);
  EXPECT_EQ(got[0].frame, 3 * RowFrames);
  EXPECT_EQ(got[1].user, 2u);
  EXPECT_EQ(got[1].frame, 2 * RowFrames);
}

}  // namespace
