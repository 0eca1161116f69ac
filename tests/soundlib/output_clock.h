// When sound reaches the output, measured at the output itself: SDL's disk
// driver hands each buffer to the output by writing it to a file with fwrite
// (then waits one buffer's time). output_clock.cpp defines its own fwrite; an
// executable linking it must export it (ENABLE_EXPORTS) so it stands in for
// the C library's inside libSDL2. It timestamps every write and passes it
// straight to the file. A frame's sound reaches the output at the write of the
// buffer holding it, plus the frame's place in that buffer.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using OutputClock = std::chrono::steady_clock;

// Output writes seen while watching: when, and the bytes of music written so
// far, this write included.
struct OutputWrite {
  OutputClock::time_point time;
  uint64_t bytes;
};

// Selects SDL's disk driver, writing to `path`, for the next BASSMOD_Init.
void UseDiskOutput(const std::string& path);
// Starts or stops recording writes (silence before the music's first buffer is skipped).
void WatchOutputWrites(bool on);
std::vector<OutputWrite> OutputWrites();

// Milliseconds on OutputClock at which stereo 16-bit frame `frame`, counted
// from the music's first buffer, reached the output at `freq` frames a second;
// false when no write carried it (stopped before its buffer went out).
bool FrameHeardMs(const std::vector<OutputWrite>& writes, uint64_t frame, uint32_t freq, double* ms);

// Sync callbacks recorded by RecordSyncTime: the music's frame and the time.
struct SyncTime {
  uint64_t frame;
  OutputClock::time_point time;
};
void RecordSyncTime(uint32_t handle, uint32_t data, uint32_t user);
std::vector<SyncTime> SyncTimes();

inline double Milliseconds(OutputClock::time_point t) {
  return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
}
