// Tests of the video output: padded frames, repeats, the audio, failures.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>
#include "core/demo_globals.h"
#include "tests/common/require_all.h"
#include "capture/capture_options.h"
#include "capture/contact_sheet.h"
#include "capture/frame_clock.h"
#include "capture/frame_writer.h"
#include "capture/scheduler_tuning.h"
#include "capture/freed_memory.h"
#include "capture/png_io.h"
#include "capture/timeline.h"
#include "capture/video_writer.h"
#include "tests/capture/support/programs.h"
#include "capture/wav_writer.h"
#include "tests/capture/support/png_read.h"
#include "tests/capture/support/wav_read.h"
#include "tests/capture/capture_io_util.h"

// ffprobe's key=value answer about `media`, with the options given; empty
// when ffprobe failed or is not installed.
std::string ProbeMedia(const std::string& media, const std::string& options) {
  const std::string ffprobe = FindProgram("ffprobe");
  if (ffprobe.empty()) return std::string();
  const std::string out = media + ".probe";
  const std::string command =
      "'" + ffprobe + "' -v error " + options + " -of default=nw=1 '" + media + "' > '" + out + "'";
  if (RunProgram("/bin/sh", {"-c", command}) != 0) return std::string();
  std::ifstream in(out);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The sizes in bytes of the video packets of `media`, in order.
std::vector<long> PacketSizes(const std::string& media) {
  std::vector<long> sizes;
  std::string text = ProbeMedia(media, "-select_streams v -show_entries packet=size");
  for (size_t at = text.find("size="); at != std::string::npos; at = text.find("size=", at + 5))
    sizes.push_back(std::stol(text.substr(at + 5)));
  return sizes;
}

// `width` x `height` RGBA pixels of noise (which no encoder predicts well),
// different for every seed.
std::vector<uint8_t> NoiseFrame(int32_t width, int32_t height, uint32_t seed) {
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 4);
  for (uint8_t& b : frame) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return frame;
}

// Frames of odd sides go into the container padded to even ones, one
// picture each, at the frame rate given.
TEST(Video, PaddedFramesInAnMp4AtTheGivenRate) {
  const std::string out = TempDir() + "/video.mp4";
  VideoOutput video;
  std::string error;
  ASSERT_TRUE(VideoOutputOpen(&video, out, 5, 3, Rational{25, 1}, 0, &error)) << error;
  EXPECT_TRUE(VideoOutputWriteFrame(&video, NoiseFrame(5, 3, 1).data()));
  EXPECT_TRUE(VideoOutputWriteFrame(&video, NoiseFrame(5, 3, 2).data()));
  ASSERT_TRUE(VideoOutputClose(&video, &error)) << error;
  if (FindProgram("ffprobe").empty()) ZEPHYRA_SKIP_WITHOUT("no ffprobe to read the file back");
  const std::string info =
      ProbeMedia(out, "-count_frames -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_frames");
  ASSERT_FALSE(info.empty()) << "ffprobe could not read the file back";
  EXPECT_NE(info.find("codec_name=h264\nwidth=6\nheight=4"), std::string::npos) << info;
  EXPECT_NE(info.find("r_frame_rate=25/1"), std::string::npos) << info;
  EXPECT_NE(info.find("nb_read_frames=2"), std::string::npos) << info;
}

// A name no container is known for, or a file that cannot be created, fails
// the open with a reason and leaves nothing behind.
TEST(Video, OpenFailsWithAReason) {
  VideoOutput video;
  std::string error;
  EXPECT_FALSE(VideoOutputOpen(&video, TempDir() + "/clip.nosuchformat", 4, 2, Rational{25, 1}, 44100, &error));
  EXPECT_NE(error.find("no container"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(VideoOutputOpen(&video, TempDir() + "/no/such/folder/clip.mp4", 4, 2, Rational{25, 1}, 44100, &error));
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  EXPECT_FALSE(VideoOutputWriteFrame(&video, NoiseFrame(4, 2, 1).data()));
  EXPECT_FALSE(VideoOutputClose(&video, &error));
}

// A frame equal to the one before costs next to nothing and decodes as that
// frame, except where a keyframe is due: 300 frames of one noise
// picture, keyframes every 250, through the real ffmpeg.
TEST(Video, RepeatedFrameIsCodedAsARepeatButNeverAsAKeyframe) {
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty() || FindProgram("ffprobe").empty()) ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
  const std::string out = TempDir() + "/repeats.mp4";
  VideoOutput pipe;
  std::string error;
  ASSERT_TRUE(VideoOutputOpen(&pipe, out, 64, 48, Rational{60, 1}, 0, &error)) << error;
  const std::vector<uint8_t> noise = NoiseFrame(64, 48, 7);
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(VideoOutputWriteFrame(&pipe, noise.data(), i > 0)) << i;
  ASSERT_TRUE(VideoOutputClose(&pipe, &error)) << error;
  EXPECT_EQ(pipe.repeatedFrames, 298);  // all but the first and the keyframe at 250
  const std::vector<long> sizes = PacketSizes(out);
  ASSERT_EQ(sizes.size(), 300u);
  for (int i = 1; i < 300; ++i) {
    if (i == 250) continue;
    EXPECT_LT(sizes[i] * 20, sizes[0]) << "frame " << i << " of " << sizes[i] << " bytes";
  }
  EXPECT_GT(sizes[250] * 2, sizes[0]) << "the second keyframe is " << sizes[250] << " bytes";
  // Decoded, the first repeat and the keyframe (coded from the picture
  // kept, not converted again) are the first frame again.
  const std::string raw = TempDir() + "/repeats.yuv";
  ASSERT_EQ(RunProgram(ffmpeg, {"-v", "error", "-y", "-i", out, "-frames:v", "251", "-f", "rawvideo", raw}), 0);
  std::ifstream in(raw, std::ios::binary);
  const std::string frames((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t frameBytes = 64 * 48 * 3 / 2;
  ASSERT_EQ(frames.size(), 251 * frameBytes);
  EXPECT_EQ(frames.compare(0, frameBytes, frames, frameBytes, frameBytes), 0);
  // x264 codes the keyframe afresh, so it matches only within its loss (a
  // wrong picture, another noise or black, is off by 40 to 90 on average).
  double difference = 0;
  for (size_t i = 0; i < frameBytes; ++i)
    difference += std::abs(static_cast<uint8_t>(frames[250 * frameBytes + i]) - static_cast<uint8_t>(frames[i]));
  EXPECT_LT(difference / frameBytes, 16) << "the keyframe at 250 is not the repeated picture";
}

// Above 1280 x 720 x264 runs two threads and gives each picture out one
// call late; the repeats of a picture it still holds must follow it, not
// come before it. Pictures of rising grey levels, some repeated, must
// decode in their order, each repeat equal to the picture before.
TEST(Video, RepeatsFollowThePictureX264GivesOutLate) {
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty()) ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
  constexpr int32_t W = 1296, H = 736;
  const int pattern[] = {0, 0, 1, 2, 2, 2, 3, 4, 4, 5, 5};
  const int count = static_cast<int>(std::size(pattern));
  const std::string out = TempDir() + "/late.mkv";
  VideoOutput pipe;
  std::string error;
  ASSERT_TRUE(VideoOutputOpen(&pipe, out, W, H, Rational{60, 1}, 0, &error)) << error;
  for (int i = 0; i < count; ++i) {
    const std::vector<uint8_t> frame(static_cast<size_t>(W) * H * 4, static_cast<uint8_t>(30 + 35 * pattern[i]));
    ASSERT_TRUE(VideoOutputWriteFrame(&pipe, frame.data(), i > 0 && pattern[i] == pattern[i - 1])) << pipe.error;
  }
  ASSERT_TRUE(VideoOutputClose(&pipe, &error)) << error;
  EXPECT_EQ(pipe.repeatedFrames, 5);
  const std::string raw = TempDir() + "/late.yuv";
  ASSERT_EQ(RunProgram(ffmpeg, {"-v", "error", "-xerror", "-y", "-i", out, "-f", "rawvideo", "-pix_fmt", "gray", raw}), 0);
  std::ifstream in(raw, std::ios::binary);
  const std::string frames((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t frameBytes = static_cast<size_t>(W) * H;
  ASSERT_EQ(frames.size(), count * frameBytes);
  auto centre = [&](int i) { return static_cast<uint8_t>(frames[i * frameBytes + frameBytes / 2 + W / 2]); };
  for (int i = 1; i < count; ++i) {
    if (pattern[i] == pattern[i - 1]) {
      EXPECT_EQ(frames.compare(i * frameBytes, frameBytes, frames, (i - 1) * frameBytes, frameBytes), 0) << i;
    } else {
      EXPECT_GT(centre(i), centre(i - 1) + 20) << "picture " << i << " is out of order";
    }
  }
}

// The audio is coded as AAC whole: queued in pieces of any size (here far
// more than one AAC frame at once, and one frame's worth with the pictures
// between), it decodes to as many samples as went in, the same tone, in
// step with them (the encoder's start-up delay taken off).
TEST(Video, AudioIsCodedWholeBesideThePictures) {
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty() || FindProgram("ffprobe").empty()) ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
  const std::string out = TempDir() + "/video-audio.mp4";
  VideoOutput video;
  std::string error;
  ASSERT_TRUE(VideoOutputOpen(&video, out, 4, 2, Rational{25, 1}, 44100, &error)) << error;
  // 1.5 s of a 441 Hz tone, left and right in opposite phase.
  constexpr int Samples = 66150;
  std::vector<int16_t> pcm(Samples * 2);
  for (int i = 0; i < Samples; ++i) {
    const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 441.0 * i / 44100.0));
    pcm[2 * i] = v;
    pcm[2 * i + 1] = static_cast<int16_t>(-v);
  }
  const std::vector<uint8_t> frame(4 * 2 * 4, 50);
  ASSERT_TRUE(VideoOutputWriteAudio(&video, pcm.data(), 40000));
  for (int f = 0; f < 37; ++f) {
    EXPECT_TRUE(VideoOutputWriteFrame(&video, frame.data()));
    ASSERT_TRUE(VideoOutputWriteAudio(&video, pcm.data() + 80000 + 2 * 700 * f, 700));
  }
  ASSERT_TRUE(VideoOutputWriteAudio(&video, pcm.data() + 80000 + 2 * 700 * 37, Samples - 40000 - 700 * 37));
  ASSERT_TRUE(VideoOutputClose(&video, &error)) << error;
  const std::string raw = TempDir() + "/video-audio.raw";
  ASSERT_EQ(RunProgram(ffmpeg, {"-v", "error", "-y", "-i", out, "-map", "0:a:0", "-f", "s16le", raw}), 0);
  std::ifstream in(raw, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Every sample, the last AAC frame's padding (under 1024 samples) aside.
  ASSERT_GE(bytes.size(), pcm.size() * 2);
  ASSERT_LT(bytes.size(), pcm.size() * 2 + 1024 * 4);
  // The decoded tone against the one given, in the middle of the clip.
  double error2 = 0, signal2 = 0;
  for (size_t i = 2000; i < pcm.size() - 2000; ++i) {
    const auto v = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    error2 += (static_cast<double>(v) - pcm[i]) * (static_cast<double>(v) - pcm[i]);
    signal2 += static_cast<double>(pcm[i]) * pcm[i];
  }
  EXPECT_LT(error2, signal2 / 100) << "more than 1 % of the tone's energy is error";
}
