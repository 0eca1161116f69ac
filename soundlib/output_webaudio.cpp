// The sound library's output in the browser (Web Audio), for a build
// without threads. The page's program supplies the JavaScript half
// (soundlib/web/webaudio.js, which defines the bassmod_webaudio_* functions
// this side module imports); this half only forwards. The JavaScript half
// schedules each rendered block on the AudioContext's timeline right after
// the one before, reads what is heard from the context's output timestamp,
// and calls CorePump from a timer and from the program's main loop.
#include "soundlib/output.h"

extern "C" {
// The JavaScript half. open: 1 when an AudioContext is there to play on.
int bassmod_webaudio_open(uint32_t frequency);
void bassmod_webaudio_start();
void bassmod_webaudio_stop();
void bassmod_webaudio_close();
void bassmod_webaudio_pump_start(uint32_t frequency, void (*pump)());
void bassmod_webaudio_pump_stop();
uint32_t bassmod_webaudio_wanted();
void bassmod_webaudio_queue(const int16_t* frames, uint32_t count);
double bassmod_webaudio_heard();
void bassmod_webaudio_sync_fired(uint32_t user, double event, double heard, double heardBefore);
}

namespace {
void Pump() { CorePump(); }
}  // namespace

// The output clock is read at each pump: no latency to add.
bool OutputOpen(uint32_t frequency, uint32_t, uint32_t* latencyFrames) {
  *latencyFrames = 0;
  return bassmod_webaudio_open(frequency) != 0;
}

void OutputStart() { bassmod_webaudio_start(); }
void OutputStop() { bassmod_webaudio_stop(); }
void OutputClose() { bassmod_webaudio_close(); }
void OutputKeepLoaded(bool) {}
bool OutputProcessEnding() { return false; }

void OutputPumpStart(uint32_t frequency) { bassmod_webaudio_pump_start(frequency, Pump); }
void OutputPumpStop() { bassmod_webaudio_pump_stop(); }
size_t OutputWanted() { return bassmod_webaudio_wanted(); }
void OutputQueue(const int16_t* frames, size_t count) { bassmod_webaudio_queue(frames, static_cast<uint32_t>(count)); }
// Frames are passed as doubles: exact up to 2^53, and JavaScript numbers.
uint64_t OutputHeardFrames() {
  double heard = bassmod_webaudio_heard();
  return heard > 0 ? static_cast<uint64_t>(heard) : 0;
}
void OutputSyncFired(uint32_t user, uint64_t event, uint64_t heard, uint64_t heardBefore) {
  bassmod_webaudio_sync_fired(user, static_cast<double>(event), static_cast<double>(heard),
                              static_cast<double>(heardBefore));
}

