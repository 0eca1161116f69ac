// Tests of the PNG writer: its files decode to exactly the pixels given, repeats reuse the last file only while nothing changed, write failures leave nothing behind.
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
#include "capture/direct_write.h"
#include "capture/png_io.h"
#include "capture/timeline.h"
#include "capture/video_writer.h"
#include "tests/capture/support/programs.h"
#include "capture/wav_writer.h"
#include "tests/capture/support/png_filters.h"
#include "tests/capture/support/png_read.h"
#include "tests/capture/support/wav_read.h"
#include "tests/capture/capture_io_util.h"
#include "tests/common/require_all.h"

TEST(PngFile, BottomUpRgbaRoundTrip) {
  // 3 x 2 RGBA, bottom row first in memory, alpha bytes to be dropped.
  const uint8_t rgba[] = {
      1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99,             // bottom row
      10, 11, 12, 99, 13, 14, 15, 99, 16, 17, 18, 99,  // top row
  };
  const std::string path = TempDir() + "/f.png";
  std::string error;
  ASSERT_TRUE(WritePng(path, rgba, 3, 2, 4, 12, true, 1, &error)) << error;
  RgbImage back;
  ASSERT_TRUE(ReadPng(path, &back, &error)) << error;
  ASSERT_EQ(back.width, 3);
  ASSERT_EQ(back.height, 2);
  const std::vector<uint8_t> expected = {10, 11, 12, 13, 14, 15, 16, 17, 18, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(back.pixels, expected);
  EXPECT_FALSE(WritePng(TempDir() + "/no/such/dir/f.png", rgba, 3, 2, 4, 12, true, 1, &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
  // A file that is not a PNG is refused with a reason.
  std::ofstream(TempDir() + "/bad.png") << "not a png";
  EXPECT_FALSE(ReadPng(TempDir() + "/bad.png", &back, &error));
  EXPECT_FALSE(error.empty());
}

// Frames go to disk unbuffered, written padded to whole 4 KiB blocks and cut
// back: every file must hold exactly the encoded bytes, whatever its size
// against the block (below one block, one byte either side of a multiple,
// several blocks), also over an existing longer file and for repeats, which
// write the copy kept from the frame before.
TEST(PngFile, WrittenFilesHoldExactlyTheEncodedBytes) {
  auto fileBytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  };
  // Noise compresses to about its own size, so the file size follows the
  // picture size closely; widths are chosen around 4 KiB multiples.
  std::vector<size_t> sizesSeen;
  uint32_t seed = 1;
  const std::string longer = TempDir() + "/longer.png";
  for (int32_t width : {1, 7, 40, 450, 451, 452, 1400, 2800}) {
    const int32_t height = 3;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (uint8_t& b : pixels) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    PngEncoder encoder;
    std::string error;
    ASSERT_TRUE(EncodePng(&encoder, pixels.data(), width, height, 4, static_cast<size_t>(width) * 4, true, 1,
                          &error))
        << error;
    const std::string path = TempDir() + "/size" + std::to_string(width) + ".png";
    ASSERT_TRUE(WritePng(path, pixels.data(), width, height, 4, static_cast<size_t>(width) * 4, true, 1, &error))
        << error;
    EXPECT_EQ(fileBytes(path), Bytes(encoder.file)) << "width " << width;
    ASSERT_TRUE(WritePng(path + ".again", pixels.data(), width, height, 4, static_cast<size_t>(width) * 4, true, 1,
                         &error, true))
        << error;
    EXPECT_EQ(fileBytes(path + ".again"), Bytes(encoder.file)) << "width " << width;
    sizesSeen.push_back(encoder.file.size());
    PngEncoderRelease(&encoder);
  }
  // The sizes cover the cases named above.
  EXPECT_TRUE(std::any_of(sizesSeen.begin(), sizesSeen.end(), [](size_t n) { return n < 4096; }));
  EXPECT_TRUE(std::any_of(sizesSeen.begin(), sizesSeen.end(), [](size_t n) { return n > 8192; }));

  // Over a longer file: the old tail must not survive.
  std::ofstream(longer, std::ios::binary) << std::string(50000, 'x');
  const uint8_t tiny[4] = {1, 2, 3, 4};
  PngEncoder encoder;
  std::string error;
  ASSERT_TRUE(EncodePng(&encoder, tiny, 1, 1, 4, 4, true, 1, &error)) << error;
  ASSERT_TRUE(WritePng(longer, tiny, 1, 1, 4, 4, true, 1, &error)) << error;
  EXPECT_EQ(fileBytes(longer), Bytes(encoder.file));
  PngEncoderRelease(&encoder);

  // A frame whose file could not be created, then repeated: the repeat holds
  // that frame, not the one written before it (same size, other pixels).
  const uint8_t first[4] = {10, 20, 30, 40}, second[4] = {50, 60, 70, 80};
  ASSERT_TRUE(WritePng(TempDir() + "/first.png", first, 1, 1, 4, 4, true, 1, &error)) << error;
  EXPECT_FALSE(WritePng(TempDir() + "/no-such-folder/second.png", second, 1, 1, 4, 4, true, 1, &error));
  ASSERT_TRUE(WritePng(TempDir() + "/second.png", second, 1, 1, 4, 4, true, 1, &error, true)) << error;
  ASSERT_TRUE(EncodePng(&encoder, second, 1, 1, 4, 4, true, 1, &error)) << error;
  EXPECT_EQ(fileBytes(TempDir() + "/second.png"), Bytes(encoder.file));
  PngEncoderRelease(&encoder);
}

// Whole files are written unbuffered from a 4 KiB-aligned buffer with room
// for the padding, buffered from any other; either way the file holds
// exactly the bytes given, also over a longer file, and a file that cannot
// be created fails with a reason.
TEST(WholeFile, EveryWayOfWritingLeavesExactlyTheBytes) {
  auto fileBytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ByteBuffer buffer;  // 4 KiB-aligned, as the PNG encoder's file
  buffer.resize(3 * 4096);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 7 + 1);
  struct Way {
    size_t offset, size, room;
  };
  const Way ways[] = {{0, 5000, 8192}, {0, 4096, 4096}, {0, 5000, 5000}, {1, 5000, 8000}, {0, 1, 4096}};
  for (const Way& w : ways) {
    const std::string path = TempDir() + "/whole.bin";
    std::ofstream(path, std::ios::binary) << std::string(20000, 'x');
    const std::string want(reinterpret_cast<const char*>(buffer.data() + w.offset), w.size);
    std::string error;
    ASSERT_TRUE(WriteWholeFile(path, buffer.data() + w.offset, w.size, w.room, &error)) << error;
    EXPECT_EQ(fileBytes(path), want) << "offset " << w.offset << ", size " << w.size << ", room " << w.room;
  }
  std::string error;
  EXPECT_FALSE(WriteWholeFile(TempDir() + "/no/such/dir/f.bin", buffer.data(), 10, 4096, &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

// A repeat writes the file of the last picture the thread encoded, without
// looking at the pixels (the frame writer compared them); with no such file
// on the thread, or after a failed encoding, the picture is encoded afresh,
// so a repeat never writes a missing or stale file (on a thread of its own,
// so that no earlier picture of this thread's encoder is involved).
TEST(PngFile, ARepeatWritesTheLastEncodedFileOnlyWhileThereIsOne) {
  constexpr int32_t W = 5, H = 4;
  constexpr size_t Stride = W * 4 + 8;  // padded rows, as a caller's buffer may have
  std::vector<uint8_t> pixels(Stride * H);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37 + 11);
  std::string error;
  auto write = [&](const std::string& name, int level, bool repeat) {
    EXPECT_TRUE(WritePng(TempDir() + "/" + name + ".png", pixels.data(), W, H, 4, Stride, true, level, &error, repeat))
        << error;
  };
  auto decoded = [&](const std::string& name) {
    RgbImage image;
    EXPECT_TRUE(ReadPng(TempDir() + "/" + name + ".png", &image, &error)) << error;
    return image.pixels;
  };
  auto expected = [&] {  // the picture as RGB, top row first
    std::vector<uint8_t> rgb;
    for (int32_t y = H - 1; y >= 0; --y)
      for (int32_t x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c) rgb.push_back(pixels[static_cast<size_t>(y) * Stride + x * 4 + c]);
    return rgb;
  };
  std::thread([&] {
    write("r0", 1, true);  // nothing encoded on this thread yet
    EXPECT_EQ(decoded("r0"), expected());
    const std::vector<uint8_t> first = expected();
    pixels[0] ^= 1;
    write("r1", 1, true);  // the caller's word is taken: the last file again
    EXPECT_EQ(decoded("r1"), first);
    write("r2", 1, false);
    EXPECT_EQ(decoded("r2"), expected());
    // A failed encoding leaves no file to repeat: the next repeat encodes.
    EXPECT_FALSE(WritePng(TempDir() + "/r3.png", pixels.data(), W, H, 4, Stride, true, 10, &error, false));
    pixels[Stride * (H - 1) + W * 4 - 1] ^= 1;  // the top row's last pixel
    write("r4", 6, true);
    EXPECT_EQ(decoded("r4"), expected());
  }).join();
}

namespace {

// A picture of `channels`-byte pixels with rows `stride` bytes apart (the
// padding filled with a marker that must never reach the file): smooth
// gradients, a flat area, hard edges, and noise where `noise` is set. Returns
// the RGB pixels the file must hold, top row first.
std::vector<uint8_t> TestPicture(int32_t width, int32_t height, int32_t channels, size_t stride, bool bottomUp,
                                 bool noise, std::vector<uint8_t>* memory) {
  memory->assign(stride * static_cast<size_t>(height), 0xEE);
  std::vector<uint8_t> expected(static_cast<size_t>(width) * height * 3);
  uint32_t seed = 12345;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t rgb[3] = {static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(y * 5), static_cast<uint8_t>(x ^ y)};
      if (x < width / 3 && y < height / 2) rgb[0] = rgb[1] = rgb[2] = 0;  // flat black, like the demo's background
      if (noise) {
        seed = seed * 1103515245u + 12345u;
        rgb[0] = static_cast<uint8_t>(seed >> 16);
        rgb[2] = static_cast<uint8_t>(seed >> 24);
      }
      const int32_t memoryRow = bottomUp ? height - 1 - y : y;
      uint8_t* m = memory->data() + static_cast<size_t>(memoryRow) * stride + static_cast<size_t>(x) * channels;
      std::memcpy(m, rgb, 3);
      if (channels == 4) m[3] = static_cast<uint8_t>(x + 200);  // alpha, dropped
      std::memcpy(expected.data() + (static_cast<size_t>(y) * width + x) * 3, rgb, 3);
    }
  return expected;
}

struct PngCase {
  int32_t width, height, channels;
  size_t pad;  // bytes of padding after each row
  bool bottomUp, noise;
  int level;
  PngRowFilter filter;
};

std::string CaseName(const PngCase& c) {
  return std::to_string(c.width) + "x" + std::to_string(c.height) + " ch" + std::to_string(c.channels) + " pad" +
         std::to_string(c.pad) + (c.bottomUp ? " bottom-up" : " top-down") + (c.noise ? " noise" : "") + " level" +
         std::to_string(c.level) + " filter" + std::to_string(c.filter);
}

// Sizes from one pixel up to rows longer than a deflate window, every filter
// and level kind (stored, fast, default, slow), both row orders, padded rows,
// and pictures that compress well and ones that do not.
std::vector<PngCase> PngCases() {
  std::vector<PngCase> cases;
  const PngRowFilter filters[] = {PngFilterNone, PngFilterSub, PngFilterUp};
  for (PngRowFilter f : filters) {
    cases.push_back({1, 1, 4, 0, true, false, 1, f});
    cases.push_back({7, 5, 3, 0, false, true, 1, f});
    cases.push_back({33, 17, 4, 12, true, false, 0, f});
    cases.push_back({64, 48, 3, 5, true, true, 6, f});
    cases.push_back({120, 90, 4, 0, true, false, 9, f});
    cases.push_back({11000, 3, 4, 0, true, true, 1, f});  // 33,000-byte rows
    cases.push_back({640, 480, 4, 0, true, false, 1, f});
  }
  return cases;
}

}  // namespace

// The writer's files hold exactly the pixels given, as libpng reads them
// (which also checks every chunk's CRC and the zlib stream's Adler-32).
TEST(PngFile, WriterPixelsAreExactlyWhatLibpngReads) {
  PngEncoder encoder;  // one encoder for all: the level changes between cases
  for (const PngCase& c : PngCases()) {
    std::vector<uint8_t> memory;
    const size_t stride = static_cast<size_t>(c.width) * c.channels + c.pad;
    const std::vector<uint8_t> expected = TestPicture(c.width, c.height, c.channels, stride, c.bottomUp, c.noise, &memory);
    std::string error;
    ASSERT_TRUE(EncodePngWithFilter(&encoder, memory.data(), c.width, c.height, c.channels, stride, c.bottomUp,
                                    c.level, c.filter, &error))
        << CaseName(c) << ": " << error;
    const std::string path = TempDir() + "/case.png";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(encoder.file.data()), static_cast<std::streamsize>(encoder.file.size()));
    RgbImage back;
    ASSERT_TRUE(ReadPng(path, &back, &error)) << CaseName(c) << ": " << error;
    EXPECT_EQ(back.width, c.width) << CaseName(c);
    EXPECT_EQ(back.height, c.height) << CaseName(c);
    EXPECT_TRUE(back.pixels == expected) << CaseName(c);
  }
  PngEncoderRelease(&encoder);
}

// A damaged file is caught by the reader: the writer's CRCs are real ones.
TEST(PngFile, DamagedDataIsRefusedByLibpng) {
  std::vector<uint8_t> memory;
  TestPicture(40, 30, 4, 160, true, true, &memory);
  PngEncoder encoder;
  std::string error;
  ASSERT_TRUE(EncodePng(&encoder, memory.data(), 40, 30, 4, 160, true, 1, &error)) << error;
  std::vector<uint8_t> bytes = Bytes(encoder.file);
  PngEncoderRelease(&encoder);
  bytes[bytes.size() / 2] ^= 0x40;  // inside the IDAT data
  const std::string path = TempDir() + "/damaged.png";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  RgbImage back;
  EXPECT_FALSE(ReadPng(path, &back, &error));
}

TEST(PngFile, RefusesBadPictures) {
  const uint8_t pixels[16 * 4] = {};
  PngEncoder encoder;
  std::string error;
  EXPECT_FALSE(EncodePng(&encoder, pixels, 0, 4, 4, 16, true, 1, &error));
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, -1, 4, 16, true, 1, &error));
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, 4, 2, 16, true, 1, &error));
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, 4, 4, 15, true, 1, &error));  // rows overlap
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, 4, 4, 16, true, 10, &error));
  EXPECT_FALSE(EncodePngWithFilter(&encoder, pixels, 4, 4, 4, 16, true, 1, static_cast<PngRowFilter>(4), &error));
  EXPECT_EQ(error, "bad picture size or format");
  // Larger than one data chunk can hold: refused before any allocation.
  EXPECT_FALSE(EncodePng(&encoder, pixels, 1 << 30, 1 << 20, 4, size_t{1} << 32, true, 1, &error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  EXPECT_TRUE(encoder.file.empty());
  PngEncoderRelease(&encoder);
}

// Pillow (another decoder, with its own CRC checks) reads the same pixels
// from the writer's files as libpng does.
TEST(PngFile, PillowReadsTheSamePixels) {
  const char* python = "/usr/bin/python3";
  if (access(python, X_OK) != 0 || std::system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
    ZEPHYRA_SKIP_WITHOUT("Debian's python3-pil is not installed");
  const std::vector<PngCase> cases = PngCases();
  std::string paths;
  std::vector<std::vector<uint8_t>> expected;
  PngEncoder encoder;
  for (size_t i = 0; i < cases.size(); ++i) {
    const PngCase& c = cases[i];
    std::vector<uint8_t> memory;
    const size_t stride = static_cast<size_t>(c.width) * c.channels + c.pad;
    expected.push_back(TestPicture(c.width, c.height, c.channels, stride, c.bottomUp, c.noise, &memory));
    const std::string path = TempDir() + "/pil_" + std::to_string(i) + ".png";
    std::string error;
    ASSERT_TRUE(WritePng(path, memory.data(), c.width, c.height, c.channels, stride, c.bottomUp, c.level, &error))
        << error;
    ASSERT_TRUE(EncodePngWithFilter(&encoder, memory.data(), c.width, c.height, c.channels, stride, c.bottomUp,
                                    c.level, c.filter, &error));
    const std::string filtered = TempDir() + "/pil_" + std::to_string(i) + "_f.png";
    std::ofstream(filtered, std::ios::binary)
        .write(reinterpret_cast<const char*>(encoder.file.data()), static_cast<std::streamsize>(encoder.file.size()));
    paths += " '" + path + "' '" + filtered + "'";
  }
  PngEncoderRelease(&encoder);
  // Each file's pixels as Pillow decodes them, raw RGB, into FILE.rgb;
  // load() makes Pillow decode (and check) the whole file.
  const std::string script = TempDir() + "/decode.py";
  std::ofstream(script) << "import sys\nfrom PIL import Image\n"
                           "for p in sys.argv[1:]:\n"
                           "    im = Image.open(p)\n"
                           "    im.load()\n"
                           "    assert im.mode == 'RGB', im.mode\n"
                           "    open(p + '.rgb', 'wb').write(im.tobytes())\n";
  ASSERT_EQ(std::system(("/usr/bin/python3 '" + script + "'" + paths).c_str()), 0);
  for (size_t i = 0; i < cases.size(); ++i)
    for (const char* suffix : {".png", "_f.png"}) {
      const std::string path = TempDir() + "/pil_" + std::to_string(i) + suffix;
      std::ifstream in(path + ".rgb", std::ios::binary);
      const std::vector<uint8_t> pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_TRUE(pixels == expected[i]) << CaseName(cases[i]) << suffix;
      RgbImage back;
      std::string error;
      ASSERT_TRUE(ReadPng(path, &back, &error)) << error;
      EXPECT_TRUE(back.pixels == pixels) << "libpng and Pillow differ: " << CaseName(cases[i]) << suffix;
    }
}
