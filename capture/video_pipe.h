// Video output through one ffmpeg child process: frames are converted here
// to YUV 4:2:0, encoded as H.264 (x264, yuv420p) and the stream piped into
// its standard input, which ffmpeg puts into the container as it is; the
// decoded music goes in through a second pipe (its fd 3) as 16-bit stereo
// PCM and is encoded as AAC in the same run, so the file is finished when
// the last frame is.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include <sys/types.h>

#include "capture/frame_clock.h"

// The ffmpeg program found on PATH (or `requested` when it names an existing
// executable file); empty when there is none.
std::string FindFfmpeg(const std::string& requested);

struct AudioFeed;     // the audio pipe's queue and its writer thread
struct VideoEncoder;  // x264 and the pictures it is fed from

struct VideoPipe {
  pid_t child = -1;
  int input = -1;       // write end of the child's standard input
  bool failed = false;  // a write failed (the child ended early)
  std::shared_ptr<AudioFeed> audio;  // null when the video has no sound
  int32_t width = 0, height = 0;  // the frames given, in pixels
  // The encoded picture's sides: the frame's, padded to even (H.264 4:2:0
  // needs them), the padding black.
  int32_t paddedWidth = 0, paddedHeight = 0;
  std::shared_ptr<VideoEncoder> encoder;  // null once closed
  int64_t repeatedFrames = 0;             // frames written as repeats of the one before
  std::string error;                      // why the pipe failed, once it has
};

// Starts ffmpeg to encode `width` x `height` frames at `fps`, and 16-bit
// stereo PCM at `sampleRate` Hz (0: no audio stream), into `outPath`, whose
// name's extension picks the container. Odd sides are padded by one black
// column or row at the right or bottom. ffmpeg runs `niceness` steps below
// the caller's priority. False with a message in *error when the process
// cannot be started.
bool VideoPipeOpen(VideoPipe* pipe, const std::string& ffmpeg, const std::string& outPath, int32_t width,
                   int32_t height, Rational fps, uint32_t sampleRate, int niceness, std::string* error);
// Converts one frame of width x height RGBA pixels, bottom row first (as
// glReadPixels gives them), to YUV 4:2:0 (BT.601 matrix, limited range, as
// the stream is tagged), encodes it and writes what x264 gives out. A frame
// equal to the one before is written as a picture that skips every
// macroblock, without x264, except where a keyframe is due. False with a
// reason in pipe->error when the encoder or the pipe failed.
bool VideoPipeWriteFrame(VideoPipe* pipe, const uint8_t* rgba);

// Queues `count` stereo frames of audio (4 bytes each, little-endian S16)
// for ffmpeg. Never waits for ffmpeg: a thread of the pipe's own writes the
// queue out, so the caller (the renderer) cannot stall on the audio pipe
// while ffmpeg waits for pictures. False once that pipe broke.
bool VideoPipeWriteAudio(VideoPipe* pipe, const void* frames, uint32_t count);
// Writes the frames the encoder still holds, closes both pipes (the queued
// audio written first) and waits for ffmpeg; false when it failed or a
// write failed.
bool VideoPipeClose(VideoPipe* pipe, std::string* error);

// Runs a program with arguments (no shell) and waits; its exit status, or -1
// when it could not be started.
int RunProgram(const std::string& program, const std::vector<std::string>& args);
