// Tests of the writer thread: order, buffer reuse, failures, priority and scheduler slices.
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

TEST(FrameWriter, WritesEveryFrameInOrderOnItsThread) {
  std::vector<int64_t> seen;  // touched by the writer thread only until Finish
  FrameWriter w;
  FrameWriterStart(&w, 3, 16, [&seen](const FrameBuffer& b, std::string*) {
    seen.push_back(b.frame);
    return b.data[0] == static_cast<uint8_t>(b.frame);
  });
  SubmitNumberedFrames(&w, 50);
  std::string error;
  EXPECT_TRUE(FrameWriterFinish(&w, &error));
  ASSERT_EQ(seen.size(), 50u);
  for (int64_t k = 0; k < 50; ++k) EXPECT_EQ(seen[static_cast<size_t>(k)], k);
}

TEST(FrameWriter, SeveralWritersWriteEachFrameOnce) {
  std::mutex lock;
  std::vector<int> count(200, 0);
  FrameWriter w;
  FrameWriterStart(&w, 5, 8, [&](const FrameBuffer& b, std::string*) {
    std::lock_guard<std::mutex> hold(lock);
    ++count[static_cast<size_t>(b.frame)];
    return b.data[0] == static_cast<uint8_t>(b.frame);  // the buffer is not reused while being written
  }, 3);
  SubmitNumberedFrames(&w, 200);
  std::string error;
  EXPECT_TRUE(FrameWriterFinish(&w, &error)) << error;
  for (int c : count) EXPECT_EQ(c, 1);
}

// Writers run below the thread that started them, so that they take only the
// time the renderer leaves; the starting thread keeps its priority.
TEST(FrameWriter, WritersRunAtTheLoweredPriority) {
  const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  const int step = std::min(10, 19 - own);  // nice values end at 19
  if (step <= 0) GTEST_SKIP() << "already running at the lowest priority";
  std::atomic<int> seen{-100};
  FrameWriter w;
  FrameWriterStart(&w, 2, 4, [&](const FrameBuffer&, std::string*) {
    seen = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    return true;
  }, 2, step);
  SubmitNumberedFrames(&w, 4);
  std::string error;
  EXPECT_TRUE(FrameWriterFinish(&w, &error));
  EXPECT_EQ(seen.load(), own + step);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), own);
}

// The renderer asks for a short scheduler slice before the GL driver starts
// its threads, so they inherit it; a writer started from the renderer goes
// back to the kernel's default slice, keeping its lowered nice value (the
// kernel sets slice and nice in one call, so one could undo the other).
TEST(FrameWriter, WritersLeaveTheRenderersShortSliceAndKeepTheirNiceValue) {
  const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  const int step = std::min(10, 19 - own);
  if (step <= 0) GTEST_SKIP() << "already running at the lowest priority";
  uint64_t defaultSlice = 0, rendererSlice = 0, driverSlice = 0, writerSlice = 0;
  int rendererNice = 0, writerNice = 0;
  bool asked = false, written = false;
  // On a thread of its own, as the slice and the nice value belong to threads.
  std::thread renderer([&] {
    defaultSlice = OwnSliceNs();
    asked = RequestShortSlice();
    rendererSlice = OwnSliceNs();
    rendererNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    std::thread([&] { driverSlice = OwnSliceNs(); }).join();
    FrameWriter w;
    FrameWriterStart(&w, 2, 4, [&](const FrameBuffer&, std::string*) {
      writerSlice = OwnSliceNs();
      writerNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
      return true;
    }, 1, step);
    SubmitNumberedFrames(&w, 1);
    std::string error;
    written = FrameWriterFinish(&w, &error);
  });
  renderer.join();
  ASSERT_TRUE(written);
  if (!asked || rendererSlice != RendererSliceNs) GTEST_SKIP() << "this kernel keeps no scheduler slice per thread";
  EXPECT_NE(defaultSlice, RendererSliceNs);
  EXPECT_EQ(driverSlice, RendererSliceNs);
  EXPECT_EQ(writerSlice, defaultSlice);
  EXPECT_EQ(rendererNice, own);
  EXPECT_EQ(writerNice, own + step);
}

TEST(FrameWriter, FailureStopsTheRendererAndKeepsTheFirstReason) {
  std::atomic<int> calls{0};
  FrameWriter w;
  FrameWriterStart(&w, 2, 4, [&calls](const FrameBuffer& b, std::string* why) {
    ++calls;
    if (b.frame == 3) {
      *why = "disk full at 3";
      return false;
    }
    return true;
  });
  int64_t k = 0;
  for (; k < 1000; ++k) {
    FrameBuffer* b = FrameWriterAcquire(&w);
    if (!b) break;  // the renderer learns of the failure
    b->frame = k;
    FrameWriterSubmit(&w, b);
  }
  EXPECT_LT(k, 1000);
  std::string error;
  EXPECT_FALSE(FrameWriterFinish(&w, &error));
  EXPECT_EQ(error, "disk full at 3");
  EXPECT_EQ(calls.load(), 4);  // frames after the failure are not written
}

// With findRepeats, the one writer flags each frame whose every byte equals
// the frame before's (a change of the first or the last byte is no repeat),
// and keeps that frame by trading storage with the buffer: the renderer may
// overwrite a buffer it gets back (here with 0xEE) and the writer still
// compares with the frame as it was written.
TEST(FrameWriter, FlagsRepeatsAndKeepsTheLastFrameByTradingStorage) {
  constexpr size_t Bytes = 64;
  auto picture = [](uint8_t seed) {
    std::vector<uint8_t> p(Bytes);
    for (size_t i = 0; i < Bytes; ++i) p[i] = static_cast<uint8_t>(seed + i * 13);
    return p;
  };
  std::vector<uint8_t> a = picture(1), b = a, c = a;
  b.front() ^= 1;
  c.back() ^= 1;
  const std::vector<std::vector<uint8_t>> frames = {a, a, b, b, b, c, a, a};
  const std::vector<bool> expected = {false, true, false, true, true, false, false, true};
  std::vector<bool> flagged;  // touched by the writer thread only until Finish
  std::vector<bool> intact;
  FrameWriter w;
  w.findRepeats = true;
  FrameWriterStart(&w, 2, Bytes, [&](const FrameBuffer& f, std::string*) {
    flagged.push_back(f.repeat);
    intact.push_back(f.data == frames[static_cast<size_t>(f.frame)]);
    return true;
  });
  for (size_t k = 0; k < frames.size(); ++k) {
    FrameBuffer* f = FrameWriterAcquire(&w);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->data.size(), Bytes);  // traded storage is of the same size
    std::fill(f->data.begin(), f->data.end(), 0xEE);
    f->data = frames[k];
    f->frame = static_cast<int64_t>(k);
    FrameWriterSubmit(&w, f);
  }
  std::string error;
  ASSERT_TRUE(FrameWriterFinish(&w, &error)) << error;
  EXPECT_EQ(flagged, expected);
  EXPECT_EQ(intact, std::vector<bool>(frames.size(), true));
  EXPECT_EQ(w.repeatedFrames, 4);

  // Without findRepeats (the floor), or with writers that see the frames out
  // of order, nothing is compared or flagged.
  for (int threads : {1, 2}) {
    std::atomic<int> repeats{0};
    FrameWriter plain;
    plain.findRepeats = threads > 1;
    FrameWriterStart(&plain, 2, Bytes, [&](const FrameBuffer& f, std::string*) {
      repeats += f.repeat ? 1 : 0;
      return true;
    }, threads);
    for (int k = 0; k < 6; ++k) {
      FrameBuffer* f = FrameWriterAcquire(&plain);
      f->data = a;
      FrameWriterSubmit(&plain, f);
    }
    ASSERT_TRUE(FrameWriterFinish(&plain, &error)) << error;
    EXPECT_EQ(repeats.load(), 0) << threads << " writer(s)";
    EXPECT_EQ(plain.repeatedFrames, 0);
  }
}
