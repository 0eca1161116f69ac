// Tests of the contact sheet and its font.
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

TEST(ContactSheet, ThumbnailAveragesAndFlipsRows) {
  // 4 x 2 RGBA, bottom row first: bottom row black, top row white.
  std::vector<uint8_t> rgba(4 * 2 * 4, 0);
  for (int i = 16; i < 32; ++i) rgba[static_cast<size_t>(i)] = 255;
  RgbImage t = MakeThumbnail(rgba.data(), 4, 2, 2, 2);
  ASSERT_EQ(t.pixels.size(), 12u);
  EXPECT_EQ(t.pixels[0], 255);  // top-left of the thumbnail is the top row
  EXPECT_EQ(t.pixels[6], 0);
  RgbImage grey = MakeThumbnail(rgba.data(), 4, 2, 1, 1);
  EXPECT_EQ(grey.pixels[0], 128);  // (255 * 4 + 0 * 4) / 8 rounded
}

TEST(ContactSheet, LaysOutLabelledCells) {
  ContactSheet sheet;
  sheet.thumbWidth = 40;
  sheet.columns = 2;
  std::vector<uint8_t> frame(80 * 60 * 4, 200);
  for (int i = 0; i < 3; ++i) ContactSheetAdd(&sheet, frame.data(), 80, 60, "0:0" + std::to_string(i) + ".000 CUE");
  EXPECT_EQ(sheet.thumbHeight, 30);
  RgbImage out = ContactSheetCompose(sheet);
  // Two columns, two rows of (thumb + label) cells with gaps.
  EXPECT_EQ(out.width, 2 * (40 + 6) + 6);
  EXPECT_EQ(out.height, 2 * (30 + 12 + 6) + 6);
  // The first thumbnail's pixel and label ink are where the layout says.
  EXPECT_EQ(out.pixels[(6 * out.width + 6) * 3], 200);
  int ink = 0;
  for (int y = 6 + 30; y < 6 + 30 + 12; ++y)
    for (int x = 6; x < 46; ++x) ink += out.pixels[(static_cast<size_t>(y) * out.width + x) * 3] == 230;
  EXPECT_GT(ink, 20);
  EXPECT_GT(ContactSheetCompose(ContactSheet{}).width, 0);  // an empty sheet still makes a picture
}

TEST(TinyFont, HasEveryCharacterOfTheLabels) {
  for (char c : std::string("0123456789:. -ABCDEFGHIJKLMNOPQRSTUVWXYZ/+x")) EXPECT_NE(TinyFontGlyph(c), nullptr) << c;
  EXPECT_EQ(TinyFontGlyph('#'), nullptr);
  // Distinct digits have distinct glyphs (a copy-paste slip would show here).
  for (char a = '0'; a <= '9'; ++a)
    for (char b = static_cast<char>(a + 1); b <= '9'; ++b)
      EXPECT_NE(0, std::memcmp(TinyFontGlyph(a), TinyFontGlyph(b), 7)) << a << b;
  // Two glyphs drawn side by side span 2 * 6 - 1 columns: one blank between.
  std::vector<uint8_t> rgb(20 * 7 * 3, 0);
  TinyFontDraw(rgb.data(), 20, 7, 0, 0, "12", 1, 255, 255, 255);
  int right = -1;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 20; ++x)
      if (rgb[static_cast<size_t>(y * 20 + x) * 3]) right = std::max(right, x);
  EXPECT_EQ(right, TinyFontAdvance + TinyFontWidth - 1);
}
