// Text logs of a capture.
#include "capture/timeline.h"

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
