// Tests of the capture's parts that need neither GL nor music: the exact
// frame clock, options, WAV and PNG files, the writer thread, the contact
// sheet, the logs and the ffmpeg lookup.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
#include "tools/capture/capture_options.h"
#include "tools/capture/contact_sheet.h"
#include "tools/capture/frame_clock.h"
#include "tools/capture/frame_writer.h"
#include "tools/capture/freed_memory.h"
#include "tools/capture/png_io.h"
#include "tools/capture/progress.h"
#include "tools/capture/timeline.h"
#include "tools/capture/tiny_font.h"
#include "tools/capture/video_pipe.h"
#include "tests/common/require_all.h"
#include "tools/capture/wav_writer.h"

namespace {

std::string TempDir() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path().string() + "/capture_io_test_" + std::to_string(getpid());
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

struct TempCleanup : ::testing::Environment {
  void TearDown() override { std::filesystem::remove_all(TempDir()); }
};
const auto* const RegisteredCleanup = ::testing::AddGlobalTestEnvironment(new TempCleanup);

bool Parse(std::vector<const char*> args, CaptureOptions* o, std::string* error) {
  args.insert(args.begin(), "zephyra-capture");
  return ParseCaptureOptions(static_cast<int>(args.size()), args.data(), o, error);
}

// Hands frames 0 .. count-1 to the writer, each buffer's first byte holding
// its frame number (mod 256) so the write callback can tell a reused buffer.
void SubmitNumberedFrames(FrameWriter* w, int64_t count) {
  for (int64_t k = 0; k < count; ++k) {
    FrameBuffer* b = FrameWriterAcquire(w);
    ASSERT_NE(b, nullptr) << "frame " << k;
    b->frame = k;
    b->data[0] = static_cast<uint8_t>(k);
    FrameWriterSubmit(w, b);
  }
}

std::vector<uint8_t> Bytes(const ByteBuffer& b) { return std::vector<uint8_t>(b.begin(), b.end()); }

// A stand-in for ffmpeg: a shell script in the scratch folder.
std::string FakeFfmpeg(const std::string& name, const std::string& script) {
  const std::string path = TempDir() + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n" << script;
  EXPECT_EQ(chmod(path.c_str(), 0755), 0);
  return path;
}

}  // namespace

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
                          PngFrameFilter, &error))
        << error;
    const std::string path = TempDir() + "/size" + std::to_string(width) + ".png";
    ASSERT_TRUE(WritePng(path, pixels.data(), width, height, 4, static_cast<size_t>(width) * 4, true, 1, &error))
        << error;
    EXPECT_EQ(fileBytes(path), Bytes(encoder.file)) << "width " << width;
    bool repeated = false;
    ASSERT_TRUE(WritePng(path + ".again", pixels.data(), width, height, 4, static_cast<size_t>(width) * 4, true, 1,
                         &error, &repeated))
        << error;
    EXPECT_TRUE(repeated);
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
  ASSERT_TRUE(EncodePng(&encoder, tiny, 1, 1, 4, 4, true, 1, PngFrameFilter, &error)) << error;
  ASSERT_TRUE(WritePng(longer, tiny, 1, 1, 4, 4, true, 1, &error)) << error;
  EXPECT_EQ(fileBytes(longer), Bytes(encoder.file));
  PngEncoderRelease(&encoder);

  // A frame whose file could not be created, then repeated: the repeat holds
  // that frame, not the one written before it (same size, other pixels).
  const uint8_t first[4] = {10, 20, 30, 40}, second[4] = {50, 60, 70, 80};
  ASSERT_TRUE(WritePng(TempDir() + "/first.png", first, 1, 1, 4, 4, true, 1, &error)) << error;
  EXPECT_FALSE(WritePng(TempDir() + "/no-such-folder/second.png", second, 1, 1, 4, 4, true, 1, &error));
  bool repeated = false;
  ASSERT_TRUE(WritePng(TempDir() + "/second.png", second, 1, 1, 4, 4, true, 1, &error, &repeated)) << error;
  EXPECT_TRUE(repeated);
  ASSERT_TRUE(EncodePng(&encoder, second, 1, 1, 4, 4, true, 1, PngFrameFilter, &error)) << error;
  EXPECT_EQ(fileBytes(TempDir() + "/second.png"), Bytes(encoder.file));
  PngEncoderRelease(&encoder);
}

// A captured frame given up to the writer is kept by trading vectors: the
// caller gets storage of the same size back, may overwrite it, and the
// thread still knows the frame it encoded (on a thread of its own, so that
// no earlier picture of this thread's encoder is involved).
TEST(PngFile, AFrameGivenUpIsKeptByTradingItsStorage) {
  constexpr int32_t W = 8, H = 4;
  auto frame = [](uint8_t seed) {
    std::vector<uint8_t> f(W * H * 4);
    for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(seed + i * 13);
    return f;
  };
  auto fileBytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  };
  std::thread([&] {
    std::string error;
    bool repeated = true;
    std::vector<uint8_t> a = frame(1), b = frame(2);
    ASSERT_TRUE(WritePngFrame(TempDir() + "/trade-a.png", &a, W, H, 1, &error, &repeated)) << error;
    EXPECT_FALSE(repeated);
    ASSERT_TRUE(WritePngFrame(TempDir() + "/trade-b.png", &b, W, H, 1, &error, &repeated)) << error;
    EXPECT_FALSE(repeated);
    EXPECT_EQ(a.size(), W * H * 4u);
    EXPECT_EQ(b.size(), W * H * 4u);
    std::fill(a.begin(), a.end(), 0xEE);  // what the renderer would read back into
    std::fill(b.begin(), b.end(), 0xEE);
    std::vector<uint8_t> again = frame(2);
    ASSERT_TRUE(WritePngFrame(TempDir() + "/trade-b2.png", &again, W, H, 1, &error, &repeated)) << error;
    EXPECT_TRUE(repeated);
    EXPECT_EQ(fileBytes(TempDir() + "/trade-b2.png"), fileBytes(TempDir() + "/trade-b.png"));
    std::vector<uint8_t> first = frame(1);
    ASSERT_TRUE(WritePngFrame(TempDir() + "/trade-a2.png", &first, W, H, 1, &error, &repeated)) << error;
    EXPECT_FALSE(repeated);
    EXPECT_EQ(fileBytes(TempDir() + "/trade-a2.png"), fileBytes(TempDir() + "/trade-a.png"));
    RgbImage image;
    ASSERT_TRUE(ReadPng(TempDir() + "/trade-b.png", &image, &error)) << error;
    const std::vector<uint8_t> pixels = frame(2);
    EXPECT_EQ(image.pixels[0], pixels[static_cast<size_t>(H - 1) * W * 4]);  // top row first, red of its first pixel
  }).join();
}

// A frame equal to the last one the thread wrote reuses that file; any change
// of a pixel (first or last byte of the picture) or of a setting encodes
// afresh, so a repeat can never carry a stale picture.
TEST(PngFile, RepeatedFrameReusesTheFileOnlyWhileNothingChanged) {
  constexpr int32_t W = 5, H = 4;
  constexpr size_t Stride = W * 4 + 8;  // padded rows, as a caller's buffer may have
  std::vector<uint8_t> pixels(Stride * H);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37 + 11);
  const size_t lastByte = Stride * (H - 1) + W * 4 - 1;
  std::string error;
  auto write = [&](const std::string& name, int level, bool* repeated) {
    const std::string path = TempDir() + "/" + name + ".png";
    EXPECT_TRUE(WritePng(path, pixels.data(), W, H, 4, Stride, true, level, &error, repeated)) << error;
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
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

  bool repeated = true;
  const std::vector<uint8_t> first = write("r0", 1, &repeated);
  EXPECT_FALSE(repeated);
  EXPECT_EQ(write("r1", 1, &repeated), first);
  EXPECT_TRUE(repeated);

  pixels[lastByte] ^= 1;  // the top row's last pixel: the end of the compared span
  write("r2", 1, &repeated);
  EXPECT_FALSE(repeated);
  EXPECT_EQ(decoded("r2"), expected());

  pixels[0] ^= 1;  // the bottom row's first pixel
  write("r3", 1, &repeated);
  EXPECT_FALSE(repeated);
  EXPECT_EQ(decoded("r3"), expected());

  write("r4", 6, &repeated);  // same pixels, another level: a new encoding
  EXPECT_FALSE(repeated);
  EXPECT_EQ(decoded("r4"), expected());

  // A failed encoding forgets the last picture: the next call encodes again.
  EXPECT_FALSE(WritePng(TempDir() + "/r5.png", pixels.data(), W, H, 4, Stride, true, 10, &error, &repeated));
  write("r6", 6, &repeated);
  EXPECT_FALSE(repeated);
  EXPECT_EQ(decoded("r6"), expected());
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
    ASSERT_TRUE(EncodePng(&encoder, memory.data(), c.width, c.height, c.channels, stride, c.bottomUp, c.level, c.filter,
                          &error))
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
  ASSERT_TRUE(EncodePng(&encoder, memory.data(), 40, 30, 4, 160, true, 1, PngFrameFilter, &error)) << error;
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
  EXPECT_FALSE(EncodePng(&encoder, pixels, 0, 4, 4, 16, true, 1, PngFilterUp, &error));
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, -1, 4, 16, true, 1, PngFilterUp, &error));
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, 4, 2, 16, true, 1, PngFilterUp, &error));
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, 4, 4, 15, true, 1, PngFilterUp, &error));  // rows overlap
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, 4, 4, 16, true, 10, PngFilterUp, &error));
  EXPECT_FALSE(EncodePng(&encoder, pixels, 4, 4, 4, 16, true, 1, static_cast<PngRowFilter>(4), &error));
  EXPECT_EQ(error, "bad picture size or format");
  // Larger than one data chunk can hold: refused before any allocation.
  EXPECT_FALSE(EncodePng(&encoder, pixels, 1 << 30, 1 << 20, 4, size_t{1} << 32, true, 1, PngFilterUp, &error));
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
    ASSERT_TRUE(EncodePng(&encoder, memory.data(), c.width, c.height, c.channels, stride, c.bottomUp, c.level,
                          c.filter, &error));
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
  EXPECT_EQ(TinyFontTextWidth("12"), 11);
}

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

// ffprobe's key=value answer about `media`, with the options given; empty
// when ffprobe failed or is not installed.
std::string ProbeMedia(const std::string& media, const std::string& options) {
  const std::string ffprobe = FindFfmpeg("ffprobe");
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

// The child is given an H.264 stream of the frames padded to even sides,
// and runs below the caller's priority, which the caller keeps. A stand-in
// "ffmpeg" writes its nice value beside the output path (its last
// argument) and the stream it read into it.
TEST(Ffmpeg, PipeFeedsAnH264StreamOfPaddedFramesToALowerPriorityChild) {
  const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  const int step = std::min(10, 19 - own);  // nice values end at 19
  if (step <= 0) GTEST_SKIP() << "already running at the lowest priority";
  const std::string fake =
      FakeFfmpeg("fake-ffmpeg", "for last; do :; done\nnice > \"$last.nice\"\ncat > \"$last\"\n");
  const std::string out = TempDir() + "/video.h264";
  VideoPipe pipe;
  std::string error;
  ASSERT_TRUE(VideoPipeOpen(&pipe, fake, out, 5, 3, Rational{25, 1}, 0, step, &error)) << error;
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), own);
  EXPECT_TRUE(VideoPipeWriteFrame(&pipe, NoiseFrame(5, 3, 1).data()));
  EXPECT_TRUE(VideoPipeWriteFrame(&pipe, NoiseFrame(5, 3, 2).data()));
  ASSERT_TRUE(VideoPipeClose(&pipe, &error)) << error;
  std::ifstream niceFile(out + ".nice");
  int nice = -100;
  niceFile >> nice;
  EXPECT_EQ(nice, own + step);
  std::ifstream in(out, std::ios::binary);
  const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(stream.size(), 4u);
  EXPECT_EQ(stream.substr(0, 4), std::string("\0\0\0\1", 4));  // Annex B, a parameter set first
  if (FindFfmpeg("ffprobe").empty()) ZEPHYRA_SKIP_WITHOUT("no ffprobe to read the stream back");
  const std::string info = ProbeMedia(out, "-f h264 -count_frames -show_entries stream=width,height,nb_read_frames");
  ASSERT_FALSE(info.empty()) << "ffprobe could not read the stream back";
  EXPECT_NE(info.find("width=6\nheight=4"), std::string::npos) << info;
  EXPECT_NE(info.find("nb_read_frames=2"), std::string::npos) << info;
}

// A frame equal to the one before costs next to nothing and decodes as that
// frame, except where a keyframe is due: 300 frames of one noise
// picture, keyframes every 250, through the real ffmpeg.
TEST(Ffmpeg, RepeatedFrameIsCodedAsARepeatButNeverAsAKeyframe) {
  const std::string ffmpeg = FindFfmpeg("");
  if (ffmpeg.empty() || FindFfmpeg("ffprobe").empty()) ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
  const std::string out = TempDir() + "/repeats.mp4";
  VideoPipe pipe;
  std::string error;
  ASSERT_TRUE(VideoPipeOpen(&pipe, ffmpeg, out, 64, 48, Rational{60, 1}, 0, 0, &error)) << error;
  const std::vector<uint8_t> noise = NoiseFrame(64, 48, 7);
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(VideoPipeWriteFrame(&pipe, noise.data())) << i;
  ASSERT_TRUE(VideoPipeClose(&pipe, &error)) << error;
  EXPECT_EQ(pipe.repeatedFrames, 298);  // all but the first and the keyframe at 250
  const std::vector<long> sizes = PacketSizes(out);
  ASSERT_EQ(sizes.size(), 300u);
  for (int i = 1; i < 300; ++i) {
    if (i == 250) continue;
    EXPECT_LT(sizes[i] * 20, sizes[0]) << "frame " << i << " of " << sizes[i] << " bytes";
  }
  EXPECT_GT(sizes[250] * 2, sizes[0]) << "the second keyframe is " << sizes[250] << " bytes";
  // Decoded, the first repeat is the first frame again.
  const std::string raw = TempDir() + "/repeats.yuv";
  ASSERT_EQ(RunProgram(ffmpeg, {"-v", "error", "-y", "-i", out, "-frames:v", "2", "-f", "rawvideo", raw}), 0);
  std::ifstream in(raw, std::ios::binary);
  const std::string frames((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t frameBytes = 64 * 48 * 3 / 2;
  ASSERT_EQ(frames.size(), 2 * frameBytes);
  EXPECT_EQ(frames.compare(0, frameBytes, frames, frameBytes, frameBytes), 0);
}

// Above 1280 x 720 x264 runs two threads and gives each picture out one
// call late; the repeats of a picture it still holds must follow it, not
// come before it. Pictures of rising grey levels, some repeated, must
// decode in their order, each repeat equal to the picture before.
TEST(Ffmpeg, RepeatsFollowThePictureX264GivesOutLate) {
  const std::string ffmpeg = FindFfmpeg("");
  if (ffmpeg.empty()) ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
  constexpr int32_t W = 1296, H = 736;
  const int pattern[] = {0, 0, 1, 2, 2, 2, 3, 4, 4, 5, 5};
  const int count = static_cast<int>(std::size(pattern));
  const std::string out = TempDir() + "/late.mkv";
  VideoPipe pipe;
  std::string error;
  ASSERT_TRUE(VideoPipeOpen(&pipe, ffmpeg, out, W, H, Rational{60, 1}, 0, 0, &error)) << error;
  for (int k : pattern) {
    const std::vector<uint8_t> frame(static_cast<size_t>(W) * H * 4, static_cast<uint8_t>(30 + 35 * k));
    ASSERT_TRUE(VideoPipeWriteFrame(&pipe, frame.data())) << pipe.error;
  }
  ASSERT_TRUE(VideoPipeClose(&pipe, &error)) << error;
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

// The audio goes to the child's fd 3 whole and in order, and queueing it
// never waits for the child: this stand-in reads no audio until the
// pictures have ended, so a blocking audio write (here 1 MiB, far more than
// a pipe holds) would never return.
TEST(Ffmpeg, AudioReachesFd3WithoutWaitingForTheChild) {
  const std::string fake =
      FakeFfmpeg("fake-ffmpeg-audio", "for last; do :; done\nv=$(wc -c)\na=$(cksum <&3)\necho \"$v $a\" > \"$last\"\n");
  const std::string out = TempDir() + "/video-audio.mkv";
  VideoPipe pipe;
  std::string error;
  ASSERT_TRUE(VideoPipeOpen(&pipe, fake, out, 4, 2, Rational{25, 1}, 44100, 0, &error)) << error;
  std::vector<uint8_t> pcm(1 << 20);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  const std::vector<uint8_t> frame(4 * 2 * 4, 50);
  ASSERT_TRUE(VideoPipeWriteAudio(&pipe, pcm.data(), static_cast<uint32_t>(pcm.size() / 8)));
  EXPECT_TRUE(VideoPipeWriteFrame(&pipe, frame.data()));
  ASSERT_TRUE(VideoPipeWriteAudio(&pipe, pcm.data() + pcm.size() / 2, static_cast<uint32_t>(pcm.size() / 8)));
  ASSERT_TRUE(VideoPipeClose(&pipe, &error)) << error;
  // The checksum of the same bytes, by the same program.
  const std::string expectedPath = TempDir() + "/expected-audio.raw";
  std::ofstream(expectedPath, std::ios::binary).write(reinterpret_cast<const char*>(pcm.data()),
                                                       static_cast<std::streamsize>(pcm.size()));
  const std::string sumPath = TempDir() + "/expected-audio.sum";
  ASSERT_EQ(RunProgram("/bin/sh", {"-c", "cksum < '" + expectedPath + "' > '" + sumPath + "'"}), 0);
  std::ifstream in(out), sum(sumPath);
  long frameBytes = -1;
  std::string got, expected;
  in >> frameBytes;
  std::getline(in >> std::ws, got);
  std::getline(sum, expected);
  EXPECT_GT(frameBytes, 0);  // the H.264 stream of the one frame
  EXPECT_EQ(got, expected);
}

// A child that ends without reading its audio makes the close fail rather
// than hang or report success. The audio is four times what the pipe can
// hold (at most 1 MiB), so some of it is always written after the child has
// gone; audio that fits whole in the pipe before the child starts would be
// accepted by the kernel, and the close could not tell.
TEST(Ffmpeg, ChildThatStopsEarlyFailsTheClose) {
  const std::string fake = FakeFfmpeg("fake-ffmpeg-quits", "exec 3<&-\nexit 0\n");
  VideoPipe pipe;
  std::string error;
  ASSERT_TRUE(VideoPipeOpen(&pipe, fake, TempDir() + "/never.mkv", 4, 2, Rational{25, 1}, 44100, 0, &error)) << error;
  std::vector<uint8_t> pcm(4 << 20, 1);
  VideoPipeWriteAudio(&pipe, pcm.data(), static_cast<uint32_t>(pcm.size() / 4));
  EXPECT_FALSE(VideoPipeClose(&pipe, &error));
}

// ffmpeg's allocator keeps the memory it frees (no page faults for every
// frame's packet), as glibc itself reads the settings; the rest of the
// environment passes through, and tunables the user set still win. The
// stand-in asks the dynamic loader what it would use.
TEST(Ffmpeg, ChildAllocatorKeepsFreedMemoryUnlessTheUserSaysOtherwise) {
  const char* loader = "/lib64/ld-linux-x86-64.so.2";
  if (access(loader, X_OK) != 0) GTEST_SKIP() << "no " << loader << " to ask";
  const std::string fake =
      FakeFfmpeg("fake-ffmpeg-env", std::string("for last; do :; done\n{ echo \"mark=$ZEPHYRA_ENV_MARK\"; ") +
                                        loader + " --list-tunables; } > \"$last\"\n");
  const char* before = std::getenv("GLIBC_TUNABLES");
  const std::string saved = before ? before : "";
  auto tunablesSeen = [&](const char* users) {
    if (users) setenv("GLIBC_TUNABLES", users, 1);
    else unsetenv("GLIBC_TUNABLES");
    setenv("ZEPHYRA_ENV_MARK", "passed", 1);
    const std::string out = TempDir() + "/env.mkv";
    VideoPipe pipe;
    std::string error, text;
    if (VideoPipeOpen(&pipe, fake, out, 2, 2, Rational{25, 1}, 0, 0, &error) && VideoPipeClose(&pipe, &error)) {
      std::ifstream in(out);
      text.assign(std::istreambuf_iterator<char>(in), {});
    }
    unsetenv("ZEPHYRA_ENV_MARK");
    return text;
  };
  const std::string ours = tunablesSeen(nullptr);
  EXPECT_NE(ours.find("mark=passed"), std::string::npos) << ours;
  EXPECT_NE(ours.find("glibc.malloc.mmap_threshold: 0x2000000 "), std::string::npos) << ours;
  EXPECT_NE(ours.find("glibc.malloc.trim_threshold: 0x4000000 "), std::string::npos) << ours;
  const std::string users = tunablesSeen("glibc.malloc.trim_threshold=1234");
  EXPECT_NE(users.find("glibc.malloc.mmap_threshold: 0x2000000 "), std::string::npos) << users;
  EXPECT_NE(users.find("glibc.malloc.trim_threshold: 0x4d2 "), std::string::npos) << users;
  if (before) setenv("GLIBC_TUNABLES", saved.c_str(), 1);
  else unsetenv("GLIBC_TUNABLES");
}

// With the capture's settings, a block far above glibc's default map
// threshold (24 MiB) comes from the heap, and freeing it leaves it there for
// the next frame instead of unmapping it. The sanitizers bring allocators of
// their own, which neither take these settings nor report to mallinfo2.
TEST(FreedMemory, LargeBlocksComeFromTheHeapAndStayThereWhenFreed) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's allocator is in use";
#elif !defined(__GLIBC__)
  GTEST_SKIP() << "not glibc";
#else
  // Allocator tunables of the user's own stand: nothing is applied.
  const char* users = std::getenv("GLIBC_TUNABLES");
  const std::string saved = users ? users : "";
  setenv("GLIBC_TUNABLES", "glibc.malloc.perturb=0", 1);
  EXPECT_FALSE(KeepFreedMemory());
  if (users) setenv("GLIBC_TUNABLES", saved.c_str(), 1);
  else unsetenv("GLIBC_TUNABLES");
  if (saved.find("glibc.malloc.") != std::string::npos) GTEST_SKIP() << "this run tunes the allocator itself";

  ASSERT_TRUE(KeepFreedMemory());
  constexpr size_t Bytes = size_t{24} << 20;
  const struct mallinfo2 before = mallinfo2();
  auto* block = static_cast<volatile uint8_t*>(std::malloc(Bytes));
  ASSERT_NE(block, nullptr);
  block[0] = 1;
  block[Bytes - 1] = 1;
  const struct mallinfo2 holding = mallinfo2();
  EXPECT_EQ(holding.hblks, before.hblks);  // no mapping of its own
  std::free(const_cast<uint8_t*>(block));
  const struct mallinfo2 after = mallinfo2();
  EXPECT_GE(after.arena, Bytes);     // still part of the heap...
  EXPECT_GE(after.fordblks, Bytes);  // ...as free space
#endif
}

TEST(Ffmpeg, LookupReportsMissingProgram) {
  EXPECT_EQ(FindFfmpeg("/no/such/ffmpeg"), "");
  EXPECT_EQ(FindFfmpeg("no-such-program-zephyra"), "");
  EXPECT_EQ(RunProgram("/no/such/program", {}), -1);
  EXPECT_EQ(RunProgram("/bin/sh", {"-c", "exit 3"}), 3);
}
