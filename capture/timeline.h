// Text logs of a capture: the timeline (one line per animation tick, and one
// "end" line for the event that ended the capture), the frame log (one line
// per frame written), and the progress line on the terminal: frames done,
// music time reached, speed as a multiple of real time and the time left.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// The state recorded on each line.
struct TimelineState {
  int64_t sample = 0;  // music position in samples at 44,100 Hz
  uint32_t order = 0;  // the sound library's position after decoding through `sample`
  uint32_t row = 0;
  int32_t sceneMode = 0;
  int32_t cueCount = 0;
  int32_t demoDone = 0;
};

// "kind time_s sample order row SceneMode CueCount DemoDone", no newline.
std::string FormatTimelineLine(const char* kind, const TimelineState& s);

// The header comment written first in the timeline file.
extern const char* const TimelineHeader;

// "frame index sample order row SceneMode CueCount", no newline.
std::string FormatFrameLine(int64_t frame, const TimelineState& s);
extern const char* const FrameLogHeader;

struct ProgressLine {
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point lastPrint;
  FILE* out = stderr;
  bool enabled = true;
  bool printed = false;
};

void ProgressStart(ProgressLine* p, FILE* out, bool enabled);
// Text of the line: `doneSamples` of music simulated since the start of
// the capture, `endSample` the expected end (estimated when the capture runs
// until the demo ends), `elapsed` the wall-clock seconds so far.
std::string FormatProgress(int64_t frames, int64_t doneSamples, int64_t endSample, double elapsed,
                           bool endEstimated);
// Redraws the line when half a second has passed since the last one (or
// always when `force`).
void ProgressUpdate(ProgressLine* p, int64_t frames, int64_t doneSamples, int64_t endSample, bool endEstimated,
                    bool force);
// Ends the line with a newline.
void ProgressFinish(ProgressLine* p);
