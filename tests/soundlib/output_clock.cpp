// See output_clock.h.
#include "tests/soundlib/output_clock.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "soundlib/bassmod.h"

namespace {
std::mutex g_writeLock;
std::vector<OutputWrite> g_writes;
uint64_t g_written = 0;
std::atomic<bool> g_watchWrites{false};

std::mutex g_syncLock;
std::vector<SyncTime> g_syncs;
}  // namespace

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
    g_writes.push_back({OutputClock::now(), g_written});
  }
  return done / size;
}

void UseDiskOutput(const std::string& path) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
}

void WatchOutputWrites(bool on) { g_watchWrites = on; }

std::vector<OutputWrite> OutputWrites() {
  std::lock_guard<std::mutex> lock(g_writeLock);
  return g_writes;
}

bool FrameHeardMs(const std::vector<OutputWrite>& writes, uint64_t frame, uint32_t freq, double* ms) {
  const uint64_t byte = frame * 4;
  auto w = std::find_if(writes.begin(), writes.end(), [&](const OutputWrite& o) { return o.bytes > byte; });
  if (w == writes.end()) return false;
  const uint64_t bufferStart = (w == writes.begin() ? 0 : (w - 1)->bytes) / 4;
  *ms = Milliseconds(w->time) + 1000.0 * static_cast<double>(frame - bufferStart) / freq;
  return true;
}

void RecordSyncTime(uint32_t, uint32_t, uint32_t) {
  SyncTime s{BASSMOD_MusicGetSample(), OutputClock::now()};
  std::lock_guard<std::mutex> lock(g_syncLock);
  g_syncs.push_back(s);
}

std::vector<SyncTime> SyncTimes() {
  std::lock_guard<std::mutex> lock(g_syncLock);
  return g_syncs;
}
