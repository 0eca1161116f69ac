// zephyra-capture: renders the demo offscreen, frame-exact on the clock of
// its decoded music, into PNG frames plus WAV or a video file.
#include <cstdio>
#include <string>

#include "capture/capture_options.h"
#include "capture/capture_run.h"
#include "capture/scheduler_tuning.h"
#include "capture/freed_memory.h"

int main(int argc, char** argv) {
  CaptureOptions options;
  std::string error;
  if (!ParseCaptureOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "zephyra-capture: %s\n", error.c_str());
    return CaptureExitUsage;
  }
  if (options.help) {
    std::fputs(CaptureUsage().c_str(), stdout);
    return CaptureExitOk;
  }
  KeepFreedMemory();    // before the GL driver starts allocating
  RequestShortSlice();  // before the GL driver starts its threads
  return RunCapture(options);
}
