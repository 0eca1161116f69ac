// Syncs fire when their sound reaches the output, measured at the output
// itself: SDL's disk driver hands each buffer to the output by writing it to
// a file with fwrite (then waits one buffer's time). This executable exports
// its own fwrite, which stands in for the C library's inside libSDL2, to
// timestamp every write and pass it straight to the file. A sync's sound
// reaches the output at the write of the buffer holding its frame, plus the
// frame's place in that buffer at 44,100 frames a second.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "soundlib/bassmod.h"
#include "tests/common/xm_builder.h"

using Clock = std::chrono::steady_clock;

struct OutputWrite {
  Clock::time_point time;
  uint64_t bytes;  // written to the output so far, this write included
};
std::mutex g_writeLock;
std::vector<OutputWrite> g_writes;
uint64_t g_written = 0;
std::atomic<bool> g_watchWrites{false};

// Unbuffered: stdio would hold each buffer back until the next one filled its
// own buffer, one output buffer late.
extern "C" size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
  if (size == 0 || count == 0) return 0;
  if (stream == stdout || stream == stderr) fflush(stream);
  const char* p = static_cast<const char*>(data);
  size_t left = size * count;
  while (left > 0) {
    ssize_t n = write(fileno(stream), p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  size_t done = size * count - left;
  if (g_watchWrites && stream != stdout && stream != stderr) {
    std::lock_guard<std::mutex> lock(g_writeLock);
    // Silence before the music's first buffer (the device was paused) is not music.
    const char* d = static_cast<const char*>(data);
    if (g_written == 0 && std::all_of(d, d + done, [](char c) { return c == 0; })) return done / size;
    g_written += done;
    g_writes.push_back({Clock::now(), g_written});
  }
  return done / size;
}

namespace {

constexpr uint32_t Freq = 44100;

struct SyncTime {
  uint64_t frame;
  Clock::time_point time;
};
std::mutex g_lock;
std::vector<SyncTime> g_syncs;
void OnSync(uint32_t, uint32_t, uint32_t) {
  SyncTime s{BASSMOD_MusicGetSample(), Clock::now()};
  std::lock_guard<std::mutex> lock(g_lock);
  g_syncs.push_back(s);
}

TEST(OutputTiming, SyncsFireWhenTheirSoundReachesTheOutput) {
  std::string path = testing::TempDir() + "output_timing_" + std::to_string(getpid()) + ".raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  // A row every tick (882 frames, 20 ms), so syncs fall at every place in the
  // 1,024-frame output buffers.
  XmSong s;
  s.speed = 1;
  s.bpm = 125;
  AddPattern(s, 64).At(0, 0) = XmCell{XmNoteC4, 1};
  s.instruments = {XmSquareInstrument()};
  s.orders = {0};
  std::vector<uint8_t> song = BuildXm(s);
  ASSERT_EQ(BASSMOD_Init(-1, Freq, 0), 1u);
  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0xFFFF0000u, OnSync, 0), 0u);
  g_watchWrites = true;
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_EQ(BASSMOD_Free(), 1u);
  g_watchWrites = false;
  std::remove(path.c_str());

  std::vector<OutputWrite> writes;
  {
    std::lock_guard<std::mutex> lock(g_writeLock);
    writes = g_writes;
  }
  ASSERT_GE(writes.size(), 40u);
  ASSERT_GE(g_syncs.size(), 50u);
  size_t checked = 0;
  std::vector<double> offsets;
  for (size_t k = 0; k < g_syncs.size(); ++k) {
    const SyncTime& sync = g_syncs[k];
    EXPECT_EQ(sync.frame, k * 882);
    // The write that carried the frame (counting from the music's first).
    uint64_t byte = sync.frame * 4;
    auto w = std::find_if(writes.begin(), writes.end(), [&](const OutputWrite& o) { return o.bytes > byte; });
    if (w == writes.end()) break;  // freed before its buffer went out
    uint64_t bufferStart = (w == writes.begin() ? 0 : (w - 1)->bytes) / 4;
    double heard = std::chrono::duration<double, std::milli>(w->time.time_since_epoch()).count() +
                   1000.0 * static_cast<double>(sync.frame - bufferStart) / Freq;
    double fired = std::chrono::duration<double, std::milli>(sync.time.time_since_epoch()).count();
    EXPECT_NEAR(fired, heard, 25.0) << "sync " << k << " at frame " << sync.frame;
    offsets.push_back(fired - heard);
    ++checked;
  }
  ASSERT_GE(checked, 50u);
  // Typically within a millisecond: firing as the audio is rendered (a buffer
  // ahead of the output) would put the median near -12 ms, firing a buffer
  // late near +23 ms; a busy machine only adds the odd late outlier.
  std::sort(offsets.begin(), offsets.end());
  EXPECT_NEAR(offsets[offsets.size() / 2], 0.0, 5.0);
}

}  // namespace
