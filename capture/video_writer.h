// Video output in-process: frames converted here to YUV 4:2:0, coded as
// H.264 by x264 (with repeated frames spliced in as skipped pictures), the
// music coded as AAC by libavcodec between the frames, and both put into
// the container (MP4, or whatever the file name's extension picks) by
// libavformat as they come, so the file is finished when the last frame is.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "capture/frame_clock.h"

struct VideoEncoder;  // x264 and the pictures it is fed from
struct AudioEncoder;  // the AAC encoder and its queue
struct VideoMuxer;    // the container being written

struct VideoOutput {
  bool failed = false;            // a frame could not be coded or written
  int32_t width = 0, height = 0;  // the frames given, in pixels
  // The encoded picture's sides: the frame's, padded to even (H.264 4:2:0
  // needs them), the padding black.
  int32_t paddedWidth = 0, paddedHeight = 0;
  std::shared_ptr<VideoMuxer> muxer;      // null once closed
  std::shared_ptr<VideoEncoder> encoder;  // null once closed
  std::shared_ptr<AudioEncoder> audio;    // null when the video has no sound
  int64_t repeatedFrames = 0;             // frames written as repeats of the one before
  std::string error;                      // why the output failed, once it has
};

// The capture's x264 settings for pictures of `width` x `height` (even) at
// `fps`: Annex B with the parameter sets before every keyframe, CAVLC, one
// reference frame, no B-frames, no HRD or picture timing (what the spliced
// repeats need; h264_repeats.h refuses anything else), keyframes only when
// asked for, CRF quality, tagged BT.601 limited range. False with a reason
// when x264 lacks the preset.
struct x264_param_t;
bool VideoEncoderSettings(x264_param_t* settings, int32_t width, int32_t height, Rational fps, std::string* error);

// Opens `outPath` for `width` x `height` frames at `fps` (a constant frame
// rate), and 16-bit stereo PCM at `sampleRate` Hz (0: no audio stream). The
// name's extension picks the container. Odd sides are padded by one black
// column or row at the right or bottom. False with a message in *error when
// the container, an encoder or the file cannot be opened.
bool VideoOutputOpen(VideoOutput* out, const std::string& outPath, int32_t width, int32_t height, Rational fps,
                     uint32_t sampleRate, std::string* error);
// Converts one frame of width x height RGBA pixels, bottom row first (as
// glReadPixels gives them), to YUV 4:2:0 (BT.601 matrix, limited range, as
// the stream is tagged), encodes it and writes what x264 gives out. A frame
// the caller found equal to the one before (`repeat`) is written as a
// picture that skips every macroblock, without x264 or conversion, except
// where a keyframe is due. False with a reason in out->error when the
// encoder or the file failed.
bool VideoOutputWriteFrame(VideoOutput* out, const uint8_t* rgba, bool repeat = false);
// Queues `count` stereo frames of audio (4 bytes each, little-endian S16).
// Never waits for the AAC encoder: VideoOutputWriteFrame (on the writer's
// thread) codes the queue after each frame. False once that failed.
bool VideoOutputWriteAudio(VideoOutput* out, const void* frames, uint32_t count);
// Codes the frames x264 still holds and the audio still queued, and
// finishes the file; false (with the reason) when anything failed.
bool VideoOutputClose(VideoOutput* out, std::string* error);
