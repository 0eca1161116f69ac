// Benchmarks of the sound library; prints numbers, asserts nothing.
//  1. CPU share of playback: decode speed (times real time), and the process's
//     CPU time over wall time while playing in real time on the dummy driver.
//  2. Sync timing on SDL's disk driver, measured at the output (see
//     output_clock.h): we print callback time minus the moment the sync's
//     sound reached the output (median and worst).
// Usage: soundlib_bench [seconds]   (default 10; run from build/bin)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "soundlib/bassmod.h"
#include "tests/soundlib/output_clock.h"
#include "tests/soundlib/song_fixture.h"

using Clock = OutputClock;

namespace {

constexpr uint32_t Freq = 44100;
constexpr uint32_t BufferFrames = 1024;  // the library's SDL buffer

// Eight channels of notes on every row at speed 6, BPM 150 (a busy module).
std::vector<uint8_t> BusySong() {
  XmSong s;
  s.channels = 8;
  s.speed = 6;
  s.bpm = 150;
  for (int p = 0; p < 2; ++p) {
    XmPattern& pat = AddPattern(s, 64);
    for (int r = 0; r < 64; ++r)
      for (int c = 0; c < 8; ++c)
        if ((r + c) % 2 == 0) pat.At(r, c) = XmCell{static_cast<uint8_t>(37 + (r * 7 + c * 5 + p) % 36),
                                                    static_cast<uint8_t>(1 + c % 3)};
  }
  s.instruments = {XmSquareInstrument(32), XmSquareInstrument(64), XmSquareInstrument(20)};
  s.orders = {0, 1};
  return BuildXm(s);
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool Load(const std::vector<uint8_t>& song) {
  return BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0) == 1;
}

void DecodeSpeed(const std::vector<uint8_t>& song, double seconds) {
  BASSMOD_Init(0, Freq, 0);
  Load(song);
  std::vector<int16_t> buf(2 * 4096);
  uint64_t frames = static_cast<uint64_t>(seconds * 6 * Freq);
  auto t0 = Clock::now();
  for (uint64_t done = 0; done < frames; done += 4096) BASSMOD_MusicDecode(buf.data(), 4096);
  double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  double music = static_cast<double>(frames) / Freq;
  std::printf("decode: %.0f s of 8-channel music in %.3f s = %.0fx real time (%.2f%% of one core)\n", music, wall,
              music / wall, 100.0 * wall / music);
  BASSMOD_Free();
}

void RealTimeCpu(const std::vector<uint8_t>& song, double seconds) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  uint32_t ok = BASSMOD_Init(-1, Freq, 0);
  Load(song);
  double c0 = CpuSeconds();
  auto t0 = Clock::now();
  BASSMOD_MusicPlay();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  double cpu = CpuSeconds() - c0;
  double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  BASSMOD_Free();
  std::printf("real time (dummy driver, init %u): CPU %.3f s over %.2f s = %.2f%% of one core\n", ok, cpu, wall,
              100.0 * cpu / wall);
}

void SyncOffsets(double seconds) {
  std::string path = "/tmp/zephyra_bench_" + std::to_string(getpid()) + ".raw";
  UseDiskOutput(path);
  // A sync on every row, one every 20 ms, landing at all places in the buffers.
  std::vector<uint8_t> song = RowEveryTickSong();
  if (BASSMOD_Init(-1, Freq, 0) != 1 || !Load(song)) {
    std::printf("sync offsets: disk driver unavailable (code %d)\n", BASSMOD_ErrorGetCode());
    BASSMOD_Free();
    return;
  }
  BASSMOD_MusicSetSync(BASS_SYNC_POS, 0xFFFF0000u, RecordSyncTime, 0);

  WatchOutputWrites(true);
  BASSMOD_MusicPlay();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  BASSMOD_Free();
  WatchOutputWrites(false);
  std::remove(path.c_str());
  const std::vector<OutputWrite> writes = OutputWrites();

  std::vector<double> offsets;
  for (const SyncTime& s : SyncTimes()) {
    double heard = 0;
    if (FrameHeardMs(writes, s.frame, Freq, &heard)) offsets.push_back(Milliseconds(s.time) - heard);
  }
  if (offsets.empty()) {
    std::printf("sync offsets: no data\n");
    return;
  }
  std::vector<double> sorted = offsets;
  std::sort(sorted.begin(), sorted.end());
  auto worst = std::max_element(offsets.begin(), offsets.end(),
                                [](double a, double b) { return std::abs(a) < std::abs(b); });
  size_t over5 = std::count_if(offsets.begin(), offsets.end(), [](double o) { return std::abs(o) > 5.0; });
  std::printf(
      "sync offsets (disk driver, buffer %u frames = %.1f ms, %zu syncs): callback minus sound at output: "
      "median %+.2f ms, 5%% %+.2f ms, 95%% %+.2f ms, worst %+.2f ms, %zu beyond 5 ms\n",
      BufferFrames, 1000.0 * BufferFrames / Freq, offsets.size(), sorted[sorted.size() / 2],
      sorted[sorted.size() / 20], sorted[sorted.size() * 19 / 20], *worst, over5);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  std::vector<uint8_t> song = BusySong();
  DecodeSpeed(song, seconds);
  RealTimeCpu(song, seconds);
  SyncOffsets(seconds);
  return 0;
}
