// The progress line on the terminal.
#include "capture/progress.h"

#include <algorithm>
#include <cinttypes>

#include "capture/frame_clock.h"

void ProgressStart(ProgressLine* p, FILE* out, bool enabled) {
  p->start = std::chrono::steady_clock::now();
  p->lastPrint = p->start;
  p->out = out;
  p->enabled = enabled;
  p->printed = false;
}

std::string FormatProgress(int64_t frames, int64_t doneSamples, int64_t endSample, double elapsed,
                           bool endEstimated) {
  const double music = static_cast<double>(doneSamples) / CaptureSampleRate;
  const double speed = elapsed > 0 ? music / elapsed : 0.0;
  const int64_t left = std::max<int64_t>(0, endSample - doneSamples);
  char eta[32] = "?";
  if (speed > 0) {
    const int64_t seconds = static_cast<int64_t>(static_cast<double>(left) / CaptureSampleRate / speed + 0.5);
    std::snprintf(eta, sizeof eta, "%" PRId64 ":%02" PRId64, seconds / 60, seconds % 60);
  }
  char line[200];
  std::snprintf(line, sizeof line, "%" PRId64 " frames, music %s of %s%s, %.2fx real time, %s%s left", frames,
                FormatSampleTime(doneSamples).c_str(), endEstimated ? "~" : "", FormatSampleTime(endSample).c_str(),
                speed, endEstimated ? "~" : "", eta);
  return line;
}

void ProgressUpdate(ProgressLine* p, int64_t frames, int64_t doneSamples, int64_t endSample, bool endEstimated,
                    bool force) {
  if (!p->enabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - p->lastPrint < std::chrono::milliseconds(500)) return;
  p->lastPrint = now;
  const double elapsed = std::chrono::duration<double>(now - p->start).count();
  std::fprintf(p->out, "\r%s\033[K", FormatProgress(frames, doneSamples, endSample, elapsed, endEstimated).c_str());
  std::fflush(p->out);
  p->printed = true;
}

void ProgressFinish(ProgressLine* p) {
  if (p->enabled && p->printed) std::fputc('\n', p->out);
  p->printed = false;
}
