// The sound library in real time, on SDL's dummy driver (set by CTest) and on
// the silent clock it falls back to when no device opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "soundlib/bassmod.h"
#include "tests/common/xm_builder.h"
#include "tests/soundlib/wake_probe.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t Freq = 44100;
// Sanitizer builds wake the output and sync threads later (ThreadSanitizer
// most), so their lateness bounds get this much more room, in ms.
#ifdef ZEPHYRA_SANITIZED
constexpr double SanitizerSlackMs = 15.0;
#else
constexpr double SanitizerSlackMs = 0.0;
#endif
// Speed 3 at BPM 125: a row is 3 x 882 frames, 60 ms.
constexpr uint64_t RowFrames = 3 * 882;

// One 16-row pattern played over and over (the song restarts at its end),
// a note of instrument 1 every fourth row.
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
  Clock::time_point time;
  std::thread::id thread;
};
std::mutex g_lock;
std::vector<Arrival> g_arrivals;

void Record(uint32_t, uint32_t data, uint32_t user) {
  Arrival a{data, user, BASSMOD_MusicGetSample(), Clock::now(), std::this_thread::get_id()};
  std::lock_guard<std::mutex> lock(g_lock);
  g_arrivals.push_back(a);
}

std::vector<Arrival> Arrivals() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_arrivals;
}

class RealTime : public ::testing::Test {
 protected:
  void SetUp() override {
    BASSMOD_Free();
    std::lock_guard<std::mutex> lock(g_lock);
    g_arrivals.clear();
  }
  void TearDown() override {
    BASSMOD_Free();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }

  // Plays for `seconds`, recording every row start of order 0; checks that
  // the syncs came in order, each at its row's frame, on one thread other
  // than ours, and, on our silent clock, when its sound was due.
  // On the silent clock the sound is due at play start + frame / 44100
  // exactly: that clock is the library's own. On a device the sound is due
  // when the device takes it, at the device's pace; SDL's dummy device
  // paces itself with whole-millisecond sleeps and runs slow by an amount
  // that depends on the machine's load (0.2% idle, 3.6% seen with both
  // cores busy several times over), so a line fitted to its arrivals says
  // more about the machine than the library. Timing on a device is measured
  // at the output itself, on SDL's disk driver (output_timing_test.cpp).
  // Lateness is judged as a whole, not sync by sync: a busy machine wakes
  // any one thread late now and then, and that says nothing about when the
  // library fires. None may come early (before its sound is due), the
  // median must sit on the line, and nine in ten within 25 ms of it, each
  // bound widened by the machine's own wake-up delay meanwhile
  // (wake_probe.h): firing as the audio is rendered (a buffer ahead) or a
  // buffer late moves them all.
  void PlayAndCheck(double seconds, bool silentClock) {
    std::vector<uint8_t> song = LoopSong();
    ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
    ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0xFFFF0000u, Record, 1), 0u);
    WakeProbe wake;
    Clock::time_point start = Clock::now();
    ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    ASSERT_EQ(BASSMOD_Free(), 1u);
    const double wakeMedian = wake.Stop(0.5), wakeNinety = wake.Quantile(0.9);
    std::vector<Arrival> got = Arrivals();

    // Rows the music held in the time played: the syncs of all of them
    // except those whose sound was still on its way (a busy machine makes
    // the output fall behind the wall clock, never ahead).
    size_t rows = static_cast<size_t>(seconds * Freq / RowFrames);
    ASSERT_GE(got.size(), rows * 3 / 4);
    ASSERT_LE(got.size(), rows + 1);
    std::vector<double> late;  // ms after the row's sound was due on the silent clock
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].frame, i * RowFrames);
      EXPECT_EQ(got[i].data, static_cast<uint32_t>((i % 16) << 16));
      EXPECT_NE(got[i].thread, std::this_thread::get_id());
      EXPECT_EQ(got[i].thread, got[0].thread);
      if (i) {
        EXPECT_GE(got[i].time, got[i - 1].time);
      }
      const double due = 1000.0 * static_cast<double>(got[i].frame) / Freq;
      late.push_back(std::chrono::duration<double, std::milli>(got[i].time - start).count() - due);
    }
    if (!silentClock) return;
    for (size_t i = 0; i < late.size(); ++i)
      EXPECT_GE(late[i], -2.0) << "row sync " << i << " came before its sound was due";
    std::sort(late.begin(), late.end());
    EXPECT_LE(late[late.size() / 2], 5.0 + SanitizerSlackMs + wakeMedian)
        << "median lateness; threads woke " << wakeMedian << " ms late (median)";
    EXPECT_LE(late[late.size() * 9 / 10], 25.0 + SanitizerSlackMs + wakeNinety)
        << "lateness of nine syncs in ten; threads woke " << wakeNinety << " ms late (nine in ten)";
  }
};

TEST_F(RealTime, SyncsArriveInOrderOnTheLibrarysThread) {
  ASSERT_EQ(BASSMOD_Init(-1, Freq, 0), 1u);
  PlayAndCheck(2.5, false);
}

// No device at all: Init reports "no free sound driver" but keeps time on a
// silent clock, so the whole timeline still runs.
TEST_F(RealTime, WithoutADeviceASilentClockKeepsTheTimeline) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_EQ(BASSMOD_Init(-1, Freq, 0), 0u);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_DRIVER);
  EXPECT_EQ(BASSMOD_Init(-1, Freq, 0), 0u);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_ALREADY);
  PlayAndCheck(2.0, true);
}

// The director's pattern on the library's thread: a once sync registers more
// syncs from its callback; no deadlock, and the new ones fire from the next
// row on. After Free returns, nothing fires any more.
std::atomic<uint32_t> g_registeredHandle{0};
void RegisterFromCallback(uint32_t, uint32_t data, uint32_t user) {
  Record(0, data, user);
  g_registeredHandle = BASSMOD_MusicSetSync(BASS_SYNC_POS, 0xFFFF0000u, Record, 2);
  BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, 0xFFFF0001u, Record, 3);
}

TEST_F(RealTime, CallbackRegistersSyncsAndFreeStopsThem) {
  ASSERT_EQ(BASSMOD_Init(-1, Freq, 0), 1u);
  std::vector<uint8_t> song = LoopSong();
  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS | BASS_SYNC_ONETIME, 0x00040000u, RegisterFromCallback, 1), 0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  EXPECT_EQ(BASSMOD_MusicPlay(), 1u);  // already playing: no effect
  // Until the music has sounded row 8's note (0.48 s of music in; the wait
  // follows the music, which a busy machine slows, not the wall clock).
  const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(10);
  auto noteHeard = [] {
    std::vector<Arrival> a = Arrivals();
    return std::any_of(a.begin(), a.end(), [](const Arrival& x) { return x.user == 3; });
  };
  while (!noteHeard() && Clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  uint32_t position = BASSMOD_MusicGetPosition();
  EXPECT_LT(position >> 16, 16u);
  EXPECT_EQ(position & 0xFFFF, 0u);
  ASSERT_EQ(BASSMOD_Free(), 1u);
  std::vector<Arrival> got = Arrivals();
  EXPECT_NE(g_registeredHandle.load(), 0u);
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(got[0].user, 1u);
  EXPECT_EQ(got[0].frame, 4 * RowFrames);
  // Row 4 itself is not repeated by the sync registered during its delivery.
  EXPECT_EQ(got[1].user, 2u);
  EXPECT_EQ(got[1].frame, 5 * RowFrames);
  EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const Arrival& a) { return a.user == 1; }), 1);
  // Instrument 1 sounds first on row 8.
  auto note = std::find_if(got.begin(), got.end(), [](const Arrival& a) { return a.user == 3; });
  ASSERT_NE(note, got.end());
  EXPECT_EQ(note->frame, 8 * RowFrames);
  EXPECT_EQ(note->data, (uint32_t{XmNoteC4} << 16) | 1u);

  size_t after = Arrivals().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Arrivals().size(), after);
}

TEST_F(RealTime, LoadingWhilePlayingStopsTheOldMusic) {
  ASSERT_EQ(BASSMOD_Init(-1, Freq, 0), 1u);
  std::vector<uint8_t> song = LoopSong();
  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0xFFFF0000u, Record, 1), 0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
  size_t before = Arrivals().size();
  EXPECT_GE(before, 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(Arrivals().size(), before);  // stopped, and the old sync is gone
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0x00000000u, Record, 7), 0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  std::vector<Arrival> got = Arrivals();
  ASSERT_EQ(got.size(), before + 1);
  EXPECT_EQ(got.back().user, 7u);
  EXPECT_EQ(got.back().frame, 0u);
}

}  // namespace
