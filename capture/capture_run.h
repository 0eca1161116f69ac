// The capture run: the demo's start-up in its own order on an offscreen GL
// context, then the virtual clock driven by the decoded music.
#pragma once
#include "capture/capture_options.h"

// Exit codes of zephyra-capture.
constexpr int CaptureExitOk = 0;
constexpr int CaptureExitFailed = 1;  // GL, sound library, encoder or file failure
constexpr int CaptureExitUsage = 2;   // bad command line

// Runs one capture as the options say; messages go to standard error.
int RunCapture(const CaptureOptions& options);
