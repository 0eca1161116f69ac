// The sound library's real-time output, behind one small interface: an
// audio device of the system's that pulls the music from the library's core
// on a thread of its own. output_sdl.cpp (Linux) and output_waveout.cpp
// (Windows winmm) implement it; bassmod.cpp is the core.
// Where the system has no threads (BASSMOD_THREADLESS, the browser:
// output_webaudio.cpp), the output instead pumps the core from the event
// loop; see the last section.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- The output, called by the core (under its API lock) --------------------

// Opens the default device for interleaved signed 16-bit stereo at frequency
// Hz. False when there is no usable device (nothing stays open). On success
// *latencyFrames is the delay from an OutputPull to its first frame being
// heard beyond the block itself (0 for outputs that report OutputHeard).
bool OutputOpen(uint32_t frequency, uint32_t bufferFrames, uint32_t* latencyFrames);
// Starts (or resumes) pulling. The first frame pulled after a start is
// output frame 0 for OutputHeard.
void OutputStart();
// Stops pulling; returns once no pull is running and none will start.
void OutputStop();
// Closes the device (after OutputStop). Harmless when nothing is open.
void OutputClose();
// Keeps the library loaded while its threads run (true, at Play) and lets
// it go again (false, once they have stopped). Where the system cannot stop
// the threads from inside its unload notification (Windows), an unload
// while playing must not take the code from under them.
void OutputKeepLoaded(bool keep);
// True while the process is ending (not a library unload): the system has
// already stopped every other thread, so nothing may be waited for.
bool OutputProcessEnding();

// ---- The core, called by the output's thread ---------------------------------

// Renders the next frames and anchors the clock: the first of them is heard
// now plus the open's latency. For outputs that cannot tell what is heard.
void CorePull(int16_t* out, size_t frames);
// Renders the next frames without moving the clock (the output reports what
// is heard through CoreHeard).
void CoreRender(int16_t* out, size_t frames);
// The device has played `frames` frames since OutputStart and is playing the
// next one now.
void CoreHeard(uint64_t frames);

#if BASSMOD_THREADLESS
// ---- Systems without threads ---------------------------------------------------
// Nothing runs on its own: between OutputPumpStart and OutputPumpStop the
// output calls CorePump every few milliseconds from the event loop (and the
// program may run it once per pass of its main loop), with or without an
// open device. Each pump queues what the device wants, learns what has been
// heard, and delivers every event heard by then, on the caller's stack.

void OutputPumpStart(uint32_t frequency);
void OutputPumpStop();
// How many frames the device wants rendered now to stay far enough ahead (0
// when it has enough).
size_t OutputWanted();
// Queues frames to be heard after those queued before.
void OutputQueue(const int16_t* frames, size_t count);
// Frames heard since OutputStart, from the device's own output clock. With
// no open device: nothing is asked, the core keeps a silent clock.
uint64_t OutputHeardFrames();
// A sync's callback is about to be called: its event sounds at frame
// `event` (counted since OutputStart); `heard` is the heard position that
// made it due and `heardBefore` the one at the pump before. For test logs.
void OutputSyncFired(uint32_t user, uint64_t event, uint64_t heard, uint64_t heardBefore);

void CorePump();
#endif
