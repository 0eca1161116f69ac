// Tests of the command-line options.
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

TEST(CaptureOptions, DefaultsAndPaths) {
  CaptureOptions o;
  std::string error;
  ASSERT_TRUE(Parse({}, &o, &error)) << error;
  EXPECT_EQ(o.width, 640);
  EXPECT_EQ(o.height, 480);
  EXPECT_EQ(o.fps.num, 60);
  EXPECT_EQ(o.seed, 1u);
  EXPECT_FALSE(o.fullscreenLook);
  EXPECT_EQ(o.outDir, "capture");
  EXPECT_EQ(o.timelinePath, "capture/timeline.txt");
  EXPECT_EQ(o.contactSheetPath, "capture/contact-sheet.png");

  CaptureOptions v;
  ASSERT_TRUE(Parse({"--video", "out/demo.mp4", "--size=1920x1080", "-r", "60000/1001", "--seed", "42",
                     "--fullscreen-look", "--from", "1:00", "--to", "70"},
                    &v, &error))
      << error;
  EXPECT_EQ(v.width, 1920);
  EXPECT_EQ(v.height, 1080);
  EXPECT_EQ(v.fps.den, 1001);
  EXPECT_EQ(v.seed, 42u);
  EXPECT_TRUE(v.fullscreenLook);
  EXPECT_EQ(v.from.num, 60);
  EXPECT_EQ(v.to.num, 70);
  EXPECT_EQ(v.timelinePath, "out/demo.timeline.txt");
  EXPECT_EQ(v.contactSheetPath, "out/demo.contact.png");

  // The floor: nothing written unless a log is asked for by name.
  CaptureOptions d;
  ASSERT_TRUE(Parse({"--discard", "--timeline", "t.txt"}, &d, &error)) << error;
  EXPECT_TRUE(d.discard);
  EXPECT_TRUE(d.outDir.empty());
  EXPECT_TRUE(d.videoPath.empty());
  EXPECT_EQ(d.timelinePath, "t.txt");
  EXPECT_TRUE(d.frameLogPath.empty());
  EXPECT_TRUE(d.contactSheetPath.empty());

  CaptureOptions h;
  ASSERT_TRUE(Parse({"--help"}, &h, &error));
  EXPECT_TRUE(h.help);
  EXPECT_NE(CaptureUsage().find("--fullscreen-look"), std::string::npos);
}

TEST(CaptureOptions, RefusesBadInput) {
  struct Case {
    std::vector<const char*> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--size", "640"}, "bad size"},
      {{"--size", "8x8"}, "bad size"},
      {{"--size", "100000x10"}, "bad size"},
      {{"--fps", "0"}, "bad frame rate"},
      {{"--seed", "-1"}, "bad seed"},
      {{"--seed", "4294967296"}, "bad seed"},
      {{"--from", "10", "--to", "5"}, "--from must come before --to"},
      {{"--at", "1,x"}, "bad time"},
      {{"--at", "1", "--from", "0"}, "cannot be combined"},
      {{"--out", "a", "--video", "b.mp4"}, "not both"},
      {{"--discard", "--out", "a"}, "--discard writes no frames"},
      {{"--video", "b.mp4", "--discard"}, "--discard writes no frames"},
      {{"--png-level", "12"}, "0 to 9"},
      {{"--size"}, "needs a value"},
      {{"--quiet=1"}, "takes no value"},
      {{"--frobnicate"}, "unknown option"},
  };
  for (const Case& c : cases) {
    CaptureOptions o;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &o, &error)) << c.args[0];
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}
