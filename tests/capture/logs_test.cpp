// Tests of the timeline and frame logs and the progress line.
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
#include "tests/capture/support/log_read.h"
#include "tests/capture/support/wav_read.h"
#include "tests/capture/capture_io_util.h"

TEST(Logs, TimelineAndFrameLinesRoundTrip) {
  TimelineState s;
  s.sample = 1490580;
  s.order = 6;
  s.row = 0;
  s.sceneMode = SceneModeCube;
  s.cueCount = 1;
  s.demoDone = 0;
  const std::string line = FormatTimelineLine("tick", s);
  EXPECT_EQ(line, "tick 33.800000 1490580 6 0 16 1 0");
  std::string kind;
  TimelineState back;
  ASSERT_TRUE(ParseTimelineLine(line, &kind, &back));
  EXPECT_EQ(kind, "tick");
  EXPECT_EQ(back.sample, s.sample);
  EXPECT_EQ(back.sceneMode, SceneModeCube);
  EXPECT_FALSE(ParseTimelineLine(TimelineHeader, &kind, &back));
  int64_t frame;
  ASSERT_TRUE(ParseFrameLine(FormatFrameLine(2028, s), &frame, &back));
  EXPECT_EQ(frame, 2028);
  EXPECT_EQ(back.cueCount, 1);
}

TEST(Progress, LineShowsFramesSpeedAndTimeLeft) {
  const std::string line = FormatProgress(600, 10 * 44100, 40 * 44100, 5.0, false);
  EXPECT_EQ(line, "600 frames, music 0:10.000 of 0:40.000, 2.00x real time, 0:15 left");
  EXPECT_NE(FormatProgress(1, 0, 44100, 0.0, true).find("~"), std::string::npos);
}
