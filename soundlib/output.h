// The sound library's real-time output, behind one small interface: an
// audio device of the system's that pulls the music from the library's core
// on a thread of its own. output_sdl.cpp (Linux) and output_waveout.cpp
// (Windows winmm) implement it; bassmod.cpp is the core.
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
