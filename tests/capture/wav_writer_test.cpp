// Tests of the WAV writer.
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

TEST(WavFile, RoundTripWithPatchedSizes) {
  const std::string path = TempDir() + "/a.wav";
  WavWriter w;
  ASSERT_TRUE(WavOpen(&w, path, 44100));
  std::vector<int16_t> samples;
  for (int i = 0; i < 1000; ++i) {
    samples.push_back(static_cast<int16_t>(i * 31 - 15000));
    samples.push_back(static_cast<int16_t>(-i));
  }
  ASSERT_TRUE(WavWrite(&w, samples.data(), 600));
  ASSERT_TRUE(WavWrite(&w, samples.data() + 1200, 400));
  ASSERT_TRUE(WavClose(&w));
  EXPECT_EQ(std::filesystem::file_size(path), 44u + 4000u);
  WavData d;
  std::string error;
  ASSERT_TRUE(WavRead(path, &d, &error)) << error;
  EXPECT_EQ(d.sampleRate, 44100u);
  EXPECT_EQ(d.channels, 2);
  EXPECT_EQ(d.bitsPerSample, 16);
  ASSERT_EQ(d.pcm.size(), 4000u);
  EXPECT_EQ(0, std::memcmp(d.pcm.data(), samples.data(), 4000));

  // A truncated file (size fields beyond the data) is refused, not read short.
  std::filesystem::resize_file(path, 100);
  EXPECT_FALSE(WavRead(path, &d, &error));
  EXPECT_FALSE(WavOpen(&w, TempDir() + "/no/such/dir/x.wav", 44100));
}
