// Video output through an ffmpeg child process: frames are converted here to
// YUV 4:2:0 and piped into its standard input, encoded as H.264 (yuv420p);
// the audio is added afterwards from the WAV file as AAC in a second,
// copy-only pass.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include <sys/types.h>

#include "tools/capture/frame_clock.h"

// The ffmpeg program found on PATH (or `requested` when it names an existing
// executable file); empty when there is none.
std::string FindFfmpeg(const std::string& requested);

struct VideoPipe {
  pid_t child = -1;
  int input = -1;       // write end of the child's standard input
  bool failed = false;  // a write failed (the child ended early)
  int32_t width = 0, height = 0;  // the frames given, in pixels
  // One frame as piped: the Y, U and V planes of a picture padded to even
  // sides (H.264 4:2:0 needs them), the padding black.
  int32_t paddedWidth = 0, paddedHeight = 0;
  std::vector<uint8_t> yuv;
};

// Starts ffmpeg to encode `width` x `height` frames at `fps` into
// `videoOnlyPath` (Matroska, no audio). Odd sides are padded by one black
// column or row at the right or bottom. ffmpeg runs `niceness` steps below
// the caller's priority. False with a message in *error when the process
// cannot be started.
bool VideoPipeOpen(VideoPipe* pipe, const std::string& ffmpeg, const std::string& videoOnlyPath, int32_t width,
                   int32_t height, Rational fps, int niceness, std::string* error);
// Converts one frame of width x height RGBA pixels, bottom row first (as
// glReadPixels gives them), to YUV 4:2:0 (BT.601 matrix, limited range, as
// the stream is tagged) and writes it. False when the pipe broke.
bool VideoPipeWriteFrame(VideoPipe* pipe, const uint8_t* rgba);
// Closes the pipe and waits for ffmpeg; false when it failed.
bool VideoPipeClose(VideoPipe* pipe, std::string* error);

// Runs ffmpeg to join the video-only file and the WAV into `outPath`: the
// video stream copied as is, the audio encoded as AAC. False on failure.
bool MuxVideoAndAudio(const std::string& ffmpeg, const std::string& videoOnlyPath, const std::string& wavPath,
                      const std::string& outPath, std::string* error);

// Runs a program with arguments (no shell) and waits; its exit status, or -1
// when it could not be started. Used for the mux step and tests.
int RunProgram(const std::string& program, const std::vector<std::string>& args);
