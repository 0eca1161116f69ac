// Text logs of a capture, and its progress line.
#include "capture/timeline.h"

#include <algorithm>
#include <cinttypes>

#include "capture/frame_clock.h"

const char* const TimelineHeader =
    "# kind time_s sample order row SceneMode CueCount DemoDone  (one tick every 1764 samples; "
    "\"end\" = the event at which DemoDone or the range ended the capture)";
const char* const FrameLogHeader = "# frame index sample order row SceneMode CueCount";

std::string FormatTimelineLine(const char* kind, const TimelineState& s) {
  char line[160];
  std::snprintf(line, sizeof line, "%s %.6f %" PRId64 " %u %u %d %d %d", kind,
                static_cast<double>(s.sample) / CaptureSampleRate, s.sample, s.order, s.row, s.sceneMode,
                s.cueCount, s.demoDone);
  return line;
}

std::string FormatFrameLine(int64_t frame, const TimelineState& s) {
  char line[160];
  std::snprintf(line, sizeof line, "frame %" PRId64 " %" PRId64 " %u %u %d %d", frame, s.sample, s.order, s.row,
                s.sceneMode, s.cueCount);
  return line;
}

void ProgressStart(ProgressLine* p, FILE* out, bool enabled) {
  const auto now = std::chrono::steady_clock::now();
  *p = ProgressLine{now, now, out, enabled, false};
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
