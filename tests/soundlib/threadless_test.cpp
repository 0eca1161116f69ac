// The sound library built for systems without threads (the browser's
// bassmod.wasm), here natively: the core compiled with BASSMOD_THREADLESS
// against a scripted output that plays the device's part (what it wants
// queued, what it has played) and lets the test run the pumps.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "soundlib/bassmod.h"
#include "soundlib/output.h"
#include "tests/soundlib/song_fixture.h"

namespace {

constexpr uint32_t Freq = 44100;
constexpr uint64_t RowFrames = 6 * 882;  // speed 6 at 125 BPM: 882 frames a tick

// The scripted device.
bool g_deviceOpens = true;
bool g_pumping = false;      // between OutputPumpStart and OutputPumpStop
uint64_t g_heard = 0;        // frames the device has played
uint64_t g_queued = 0;       // frames handed to it
size_t g_largestBlock = 0;
constexpr uint64_t Lead = 8000;

struct Report {
  uint32_t user;
  uint64_t event, heard, heardBefore;
};
std::vector<Report> g_reports;

struct Fired {
  uint32_t data, user;
  uint64_t frame;  // BASSMOD_MusicGetSample inside the callback
  uint64_t heard;  // what the device had played when it came
};
std::vector<Fired> g_fired;

}  // namespace

bool OutputOpen(uint32_t, uint32_t, uint32_t* latencyFrames) {
  *latencyFrames = 0;
  return g_deviceOpens;
}
void OutputStart() {}
void OutputStop() {}
void OutputClose() {}
void OutputKeepLoaded(bool) {}
bool OutputProcessEnding() { return false; }
void OutputPumpStart(uint32_t) { g_pumping = true; }
void OutputPumpStop() { g_pumping = false; }
size_t OutputWanted() { return g_queued < g_heard + Lead ? static_cast<size_t>(g_heard + Lead - g_queued) : 0; }
void OutputQueue(const int16_t*, size_t count) {
  g_queued += count;
  g_largestBlock = std::max(g_largestBlock, count);
}
uint64_t OutputHeardFrames() { return g_heard; }
void OutputSyncFired(uint32_t user, uint64_t event, uint64_t heard, uint64_t heardBefore) {
  g_reports.push_back({user, event, heard, heardBefore});
}

namespace {

void Record(uint32_t, uint32_t data, uint32_t user) {
  g_fired.push_back({data, user, BASSMOD_MusicGetSample(), g_heard});
}

uint32_t Pos(uint32_t low, uint32_t high) { return (low & 0xFFFF) | ((high & 0xFFFF) << 16); }

class Threadless : public ::testing::Test {
 protected:
  void SetUp() override {
    BASSMOD_Free();
    g_deviceOpens = true;
    g_heard = g_queued = 0;
    g_largestBlock = 0;
    g_reports.clear();
    g_fired.clear();
    song_ = BuildXm(TimingSong());
  }
  void TearDown() override { BASSMOD_Free(); }

  void Start(bool device) {
    g_deviceOpens = device;
    ASSERT_EQ(BASSMOD_Init(-1, Freq, 0), device ? 1u : 0u);
    if (!device) {
      ASSERT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_DRIVER);
    }
    ASSERT_EQ(BASSMOD_MusicLoad(1, song_.data(), 0, static_cast<uint32_t>(song_.size()), 0), 1u);
  }

  // The device plays on in steps of `step` frames, with a pump after each.
  static void PlayTo(uint64_t frames, uint64_t step) {
    while (g_heard < frames) {
      g_heard = std::min(frames, g_heard + step);
      CorePump();
    }
  }

  std::vector<uint8_t> song_;
};

// A sync comes at the first pump after its sound has started to play, never
// at one before: the frame it belongs to is below what the device has
// played, and at or above what it had played at the pump before.
TEST_F(Threadless, SyncsFireAtTheFirstPumpAfterTheirSoundIsHeard) {
  Start(true);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(0, 0xFFFF), Record, 7), 0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  EXPECT_TRUE(g_pumping);
  CorePump();
  EXPECT_TRUE(g_fired.empty()) << "row 0 fired before its first frame was played";

  const uint64_t step = 300;
  PlayTo(3 * RowFrames + 10, step);
  ASSERT_EQ(g_fired.size(), 4u);  // rows 0..3
  for (size_t r = 0; r < g_fired.size(); ++r) {
    EXPECT_EQ(g_fired[r].frame, r * RowFrames) << "row " << r;
    EXPECT_EQ(g_fired[r].data, Pos(0, static_cast<uint32_t>(r)));
    EXPECT_GT(g_fired[r].heard, g_fired[r].frame) << "row " << r << " fired before it was heard";
    EXPECT_LE(g_fired[r].heard, g_fired[r].frame + step) << "row " << r << " fired a pump late";
  }
  // The report the page logs says the same.
  ASSERT_EQ(g_reports.size(), g_fired.size());
  for (const Report& r : g_reports) {
    EXPECT_EQ(r.user, 7u);
    EXPECT_LE(r.heardBefore, r.event);
    EXPECT_LT(r.event, r.heard);
  }
  // Outside callbacks the position is what has been played.
  EXPECT_EQ(BASSMOD_MusicGetSample(), g_heard);
}

// The device is kept the lead ahead of what it plays, in blocks of at most
// the library's buffer, however far it jumps between pumps.
TEST_F(Threadless, TheDeviceIsKeptFedAhead) {
  Start(true);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  EXPECT_GE(g_queued, Lead);
  for (uint64_t jump : {100u, 5000u, 40000u, 1u}) {
    g_heard += jump;
    CorePump();
    EXPECT_GE(g_queued, g_heard + Lead) << "after a jump of " << jump;
  }
  EXPECT_LE(g_largestBlock, 1024u);
}

// A callback runs on the pump's stack: it may register further syncs (from
// the next row on), but not free the library under the pump.
TEST_F(Threadless, CallbacksMayRegisterSyncsButNotFree) {
  static uint32_t registered = 0, freed = 1;
  static int32_t freeError = 0;
  registered = 0;
  freed = 1;
  Start(true);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS | BASS_SYNC_ONETIME, Pos(0, 1),
                                 [](uint32_t, uint32_t, uint32_t) {
                                   registered = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(0, 0xFFFF), Record, 9);
                                   freed = BASSMOD_Free();
                                   freeError = BASSMOD_ErrorGetCode();
                                 },
                                 1),
            0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  PlayTo(3 * RowFrames + 10, 500);
  EXPECT_NE(registered, 0u);
  EXPECT_EQ(freed, 0u);
  EXPECT_EQ(freeError, BASS_ERROR_UNKNOWN);
  // Registered during row 1: rows 2 and 3 only.
  ASSERT_EQ(g_fired.size(), 2u);
  EXPECT_EQ(g_fired[0].data, Pos(0, 2));
  EXPECT_EQ(g_fired[1].data, Pos(0, 3));
}

// With no device the music keeps time on the silent clock: row 1 (120 ms in)
// comes no sooner than 120 ms after Play, and comes.
TEST_F(Threadless, WithoutADeviceTheSilentClockKeepsTime) {
  Start(false);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(0, 1), Record, 3), 0u);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  double firedAfter = -1;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(2) && g_fired.empty()) {
    CorePump();
    if (!g_fired.empty())
      firedAfter = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(g_fired.size(), 1u);
  EXPECT_EQ(g_fired[0].frame, RowFrames);
  EXPECT_GE(firedAfter, static_cast<double>(RowFrames) / Freq);
  EXPECT_EQ(g_queued, 0u) << "nothing is queued without a device";
}

// Free stops the pumps; a pump that still comes does nothing.
TEST_F(Threadless, FreeStopsThePump) {
  Start(true);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(0, 0xFFFF), Record, 1), 0u);
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  ASSERT_EQ(BASSMOD_Free(), 1u);
  EXPECT_FALSE(g_pumping);
  g_heard = 10 * RowFrames;
  CorePump();
  EXPECT_TRUE(g_fired.empty());
}

}  // namespace
