// The progress line on the terminal: frames done, music time reached, speed
// as a multiple of real time and the time left.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

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
