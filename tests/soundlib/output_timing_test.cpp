// Syncs fire when their sound reaches the output, measured at the output
// itself on SDL's disk driver (see output_clock.h).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "soundlib/bassmod.h"
#include "tests/soundlib/output_clock.h"
#include "tests/soundlib/song_fixture.h"
#include "tests/soundlib/wake_probe.h"

namespace {

constexpr uint32_t Freq = 44100;

TEST(OutputTiming, SyncsFireWhenTheirSoundReachesTheOutput) {
  std::string path = testing::TempDir() + "output_timing_" + std::to_string(getpid()) + ".raw";
  UseDiskOutput(path);
  // A row every tick, so syncs fall at every place in the output buffers.
  std::vector<uint8_t> song = RowEveryTickSong();
  ASSERT_EQ(BASSMOD_Init(-1, Freq, 0), 1u);
  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0xFFFF0000u, RecordSyncTime, 0), 0u);
  WatchOutputWrites(true);
  WakeProbe wake;
  ASSERT_EQ(BASSMOD_MusicPlay(), 1u);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_EQ(BASSMOD_Free(), 1u);
  WatchOutputWrites(false);
  const double wakeMedian = wake.Stop(0.5), wakeNinety = wake.Quantile(0.9);
  std::remove(path.c_str());

  const std::vector<OutputWrite> writes = OutputWrites();
  const std::vector<SyncTime> syncs = SyncTimes();
  ASSERT_GE(writes.size(), 40u);
  ASSERT_GE(syncs.size(), 50u);
  size_t checked = 0;
  std::vector<double> offsets;
  for (size_t k = 0; k < syncs.size(); ++k) {
    EXPECT_EQ(syncs[k].frame, k * 882);
    double heard = 0;
    if (!FrameHeardMs(writes, syncs[k].frame, Freq, &heard)) break;  // freed before its buffer went out
    const double fired = Milliseconds(syncs[k].time);
    // Never early: a busy machine only makes a sync late.
    EXPECT_GE(fired, heard - 25.0) << "sync " << k << " at frame " << syncs[k].frame;
    offsets.push_back(fired - heard);
    ++checked;
  }
  ASSERT_GE(checked, 50u);
  // Typically within a millisecond: firing as the audio is rendered (a buffer
  // ahead of the output) would put the median near -12 ms, firing a buffer
  // late near +23 ms; a busy machine only adds late outliers (a thread woken
  // late now and then), so nine in ten must be within 25 ms, not every one.
  // The late bounds grow by the machine's own wake-up delay meanwhile
  // (wake_probe.h).
  std::sort(offsets.begin(), offsets.end());
  EXPECT_GE(offsets[offsets.size() / 2], -5.0) << "median";
  EXPECT_LE(offsets[offsets.size() / 2], 5.0 + wakeMedian) << "median; threads woke " << wakeMedian << " ms late (median)";
  EXPECT_LE(offsets[offsets.size() * 9 / 10], 25.0 + wakeNinety)
      << "lateness of nine syncs in ten; threads woke " << wakeNinety << " ms late (nine in ten)";
}

}  // namespace
