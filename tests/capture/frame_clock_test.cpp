// Tests of the exact frame clock.
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

TEST(FrameClock, FrameSamplesAreExactForFractionalRates) {
  Rational ntsc;
  ASSERT_TRUE(ParseFrameRate("60000/1001", &ntsc));
  EXPECT_EQ(ntsc.num, 60000);
  EXPECT_EQ(ntsc.den, 1001);
  // 60000 frames at 60000/1001 fps last exactly 1001 s.
  EXPECT_EQ(FrameSample(60000, ntsc), 1001 * 44100);
  // Frame 1 at 1001/60000 s = 735.735 samples: floor.
  EXPECT_EQ(FrameSample(1, ntsc), 735);
  // No drift: the sample of frame k is floor(k * 44100 * 1001 / 60000) for large k.
  EXPECT_EQ(FrameSample(4321, ntsc), static_cast<int64_t>(4321LL * 44100 * 1001 / 60000));
  Rational decimal;
  ASSERT_TRUE(ParseFrameRate("29.97", &decimal));
  EXPECT_EQ(decimal.num, 2997);
  EXPECT_EQ(decimal.den, 100);
  Rational sixty;
  ASSERT_TRUE(ParseFrameRate("60", &sixty));
  EXPECT_EQ(FrameSample(60, sixty), 44100);
  EXPECT_EQ(FrameSample(1, sixty), 735);
  // Ticks every 40 ms: 1764 samples.
  EXPECT_EQ(CaptureTickSamples, 1764);
}

TEST(FrameClock, RejectsBadRatesAndTimes) {
  Rational r{7, 1};
  for (const char* bad : {"", "0", "0/1", "1/0", "-5", "abc", "60/", "/2", "1.5/2", "1001", "60..0", "1e3"})
    EXPECT_FALSE(ParseFrameRate(bad, &r)) << bad;
  EXPECT_EQ(r.num, 7);  // untouched
  for (const char* bad : {"", "-1", "1:60", "a:10", "1:", ":5", "1.2.3", "x"}) EXPECT_FALSE(ParseMusicTime(bad, &r)) << bad;
  ASSERT_TRUE(ParseMusicTime("1:05.5", &r));
  EXPECT_EQ(r.num, 131);
  EXPECT_EQ(r.den, 2);
  ASSERT_TRUE(ParseMusicTime("33.8", &r));
  EXPECT_EQ(r.num, 169);
  EXPECT_EQ(r.den, 5);
}

TEST(FrameClock, FirstFrameAtOrAfterRoundsUp) {
  const Rational fps{25, 1};
  EXPECT_EQ(FirstFrameAtOrAfter(Rational{0, 1}, fps), 0);
  EXPECT_EQ(FirstFrameAtOrAfter(Rational{1, 25}, fps), 1);         // exactly on a frame
  EXPECT_EQ(FirstFrameAtOrAfter(MakeRational(41, 1000), fps), 2);  // just after frame 1
  const Rational ntsc{60000, 1001};
  // 1001 s is exactly frame 60000.
  EXPECT_EQ(FirstFrameAtOrAfter(Rational{1001, 1}, ntsc), 60000);
  EXPECT_EQ(FormatSampleTime(44100 * 75 + 441), "1:15.010");
}
