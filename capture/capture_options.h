// Command-line options of zephyra-capture.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "capture/frame_clock.h"

struct CaptureOptions {
  int32_t width = 640;             // output size in pixels
  int32_t height = 480;
  Rational fps{60, 1};             // frames per second of music time
  uint32_t seed = 1;               // random seed; fixed so runs repeat exactly
  bool fullscreenLook = false;     // 16-bit texels as in the full-screen demo
  bool haveFrom = false, haveTo = false;
  Rational from{0, 1};             // first frame at or after this music time
  Rational to{0, 1};               // frames before this music time (exclusive)
  std::vector<Rational> at;        // when not empty: only the frames at these times
  std::string outDir;              // PNG frames + audio.wav (+ logs); default "capture"
  std::string videoPath;           // when set: a video file instead
  bool discard = false;            // render and read back every frame, write nothing
  std::string timelinePath;        // default: beside the output
  std::string contactSheetPath;
  std::string frameLogPath;
  std::string libraryPath;         // sound library; empty: the demo's own path
  int pngLevel = 1;                // zlib level of frame PNGs
  bool progress = true;
  bool timing = false;             // print where the time went at the end
  bool help = false;
};

// Parses argv[1..argc). False with a message in *error on a bad option; a
// request for help sets options->help. Fills the default paths: with
// --video, the logs go beside the video (NAME.timeline.txt, ...); with
// --discard there are none unless asked for; otherwise into the output folder.
bool ParseCaptureOptions(int argc, const char* const* argv, CaptureOptions* options, std::string* error);
// The --help text.
std::string CaptureUsage();
