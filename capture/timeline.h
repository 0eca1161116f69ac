// Text logs of a capture: the timeline (one line per animation tick, and one
// "end" line for the event that ended the capture) and the frame log (one line
// per frame written).
#pragma once
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
