// Tests of the repeat writer: x264's pictures with skipped repeats spliced
// between them must decode (ffmpeg, stopping at the first error) to exactly
// x264's own pictures, each repeat equal to the picture before it, across
// IDRs and frame_num wrapping; streams it cannot extend are refused whole.
#include "tools/capture/h264_repeats.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <x264.h>  // after <cstdint>, which it needs

#include "tools/capture/video_pipe.h"
#include "tests/common/require_all.h"

namespace {

constexpr int W = 64, H = 48;
constexpr size_t PictureBytes = W * H * 3 / 2;

std::string TempPath(const std::string& name) {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path().string() + "/h264_repeats_test_" + std::to_string(getpid());
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir + "/" + name;
}

struct TempCleanup : ::testing::Environment {
  void TearDown() override { std::filesystem::remove_all(std::filesystem::path(TempPath("x")).parent_path()); }
};
const auto* const RegisteredCleanup = ::testing::AddGlobalTestEnvironment(new TempCleanup);

// An I420 picture with a gradient and a bright square that moves with k, so
// that P pictures carry motion and residue.
std::vector<uint8_t> Picture(int k) {
  std::vector<uint8_t> p(PictureBytes, 128);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const bool square = x >= 4 + 3 * k % 40 && x < 20 + 3 * k % 40 && y >= 8 && y < 24;
      p[static_cast<size_t>(y) * W + x] = static_cast<uint8_t>(square ? 235 : 16 + (x * 3 + y * 2 + k) % 150);
    }
  for (size_t i = W * H; i < PictureBytes; ++i) p[i] = static_cast<uint8_t>(100 + (i * 7 + k) % 50);
  return p;
}

// x264's output for each of `count` pictures, as the capture sets it up
// (ultrafast, CAVLC, Annex B with headers at every keyframe), one call per
// picture.
std::vector<std::string> Encode(int count, int keyint, bool cabac = false, int bframes = 0) {
  x264_param_t p;
  EXPECT_EQ(x264_param_default_preset(&p, "ultrafast", nullptr), 0);
  p.i_log_level = X264_LOG_NONE;
  p.i_threads = 1;
  p.i_width = W;
  p.i_height = H;
  p.i_csp = X264_CSP_I420;
  p.i_fps_num = 60;
  p.i_fps_den = 1;
  p.b_annexb = 1;
  p.b_repeat_headers = 1;
  p.b_cabac = cabac;
  p.i_bframe = bframes;
  p.i_keyint_max = keyint;
  p.rc.i_rc_method = X264_RC_CRF;
  p.rc.f_rf_constant = 18;
  x264_t* x = x264_encoder_open(&p);
  std::vector<std::string> out;
  if (!x) {
    ADD_FAILURE() << "x264 did not open";
    return out;
  }
  auto take = [&](x264_picture_t* in) {
    x264_nal_t* nals = nullptr;
    int n = 0;
    x264_picture_t pic_out;
    const int bytes = x264_encoder_encode(x, &nals, &n, in, &pic_out);
    if (bytes > 0) out.emplace_back(reinterpret_cast<const char*>(nals[0].p_payload), static_cast<size_t>(bytes));
  };
  for (int k = 0; k < count; ++k) {
    std::vector<uint8_t> picture = Picture(k);
    x264_picture_t in;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    in.img.plane[0] = picture.data();
    in.img.plane[1] = picture.data() + W * H;
    in.img.plane[2] = picture.data() + W * H * 5 / 4;
    in.img.i_stride[0] = W;
    in.img.i_stride[1] = in.img.i_stride[2] = W / 2;
    in.i_pts = k;
    take(&in);
  }
  while (x264_encoder_delayed_frames(x) > 0) take(nullptr);
  x264_encoder_close(x);
  return out;
}

// The stream decoded by ffmpeg as raw I420 pictures, or empty when ffmpeg
// found an error.
std::string Decode(const std::string& stream, const std::string& name) {
  const std::string in = TempPath(name + ".264"), out = TempPath(name + ".yuv");
  std::ofstream(in, std::ios::binary) << stream;
  if (RunProgram(FindFfmpeg(""), {"-v", "error", "-err_detect", "explode", "-xerror", "-f", "h264", "-i", in,
                                  "-f", "rawvideo", "-pix_fmt", "yuv420p", "-y", out}) != 0)
    return std::string();
  std::ifstream file(out, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

struct SliceNumber {
  int nalType;
  int frameNum;
};

// nal_unit_type and frame_num of every slice, as ffmpeg's own syntax reader
// (the trace_headers filter) reads them; empty when it found an error.
std::vector<SliceNumber> SliceNumbers(const std::string& stream) {
  const std::string in = TempPath("trace.264"), out = TempPath("trace.txt");
  std::ofstream(in, std::ios::binary) << stream;
  const std::string command = "'" + FindFfmpeg("") + "' -hide_banner -nostats -xerror -f h264 -i '" + in +
                              "' -c copy -bsf:v trace_headers -f null - 2> '" + out + "'";
  std::vector<SliceNumber> slices;
  if (RunProgram("/bin/sh", {"-c", command}) != 0) return slices;
  std::ifstream trace(out);
  int nalType = -1;
  for (std::string line; std::getline(trace, line);) {
    const size_t equals = line.rfind(" = ");
    if (equals == std::string::npos) continue;
    const int value = std::stoi(line.substr(equals + 3));
    if (line.find(" nal_unit_type ") != std::string::npos) nalType = value;
    if (line.find(" frame_num ") != std::string::npos) slices.push_back({nalType, value});
  }
  return slices;
}

// The payloads of an Annex B stream's NAL units, start codes left out.
std::vector<std::string> NalPayloads(const std::string& stream) {
  std::vector<std::string> nals;
  size_t at = stream.find(std::string("\0\0\1", 3));
  while (at != std::string::npos) {
    const size_t begin = at + 3;
    at = stream.find(std::string("\0\0\1", 3), begin);
    size_t end = at == std::string::npos ? stream.size() : at;
    while (at != std::string::npos && end > begin && stream[end - 1] == 0) --end;
    nals.push_back(stream.substr(begin, end - begin));
  }
  return nals;
}

// 0-5 repeats after each picture, keyframes every 10 pictures of x264's:
// 31 reference pictures from one IDR to the next, more than the 16 frame
// numbers x264 gives that distance, so frame_num wraps between keyframes.
TEST(H264Repeats, SplicedRepeatsDecodeAsThePictureBeforeAndChangeNoOtherPicture) {
  if (FindFfmpeg("").empty()) ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
  const int count = 30;
  const std::vector<std::string> coded = Encode(count, 10);
  ASSERT_EQ(coded.size(), static_cast<size_t>(count));
  std::string plain;
  for (const std::string& c : coded) plain += c;
  const std::string plainPictures = Decode(plain, "plain");
  ASSERT_EQ(plainPictures.size(), count * PictureBytes);

  H264Repeats r;
  std::vector<uint8_t> spliced;
  std::vector<uint8_t> nothing;
  EXPECT_FALSE(H264AppendRepeat(&r, &nothing)) << "a repeat before any picture";
  EXPECT_TRUE(nothing.empty());
  std::string expected;
  int total = 0;
  for (int k = 0; k < count; ++k) {
    std::string error;
    ASSERT_TRUE(H264CopyCoded(&r, reinterpret_cast<const uint8_t*>(coded[k].data()), coded[k].size(), &spliced,
                              &error))
        << k << ": " << error;
    const std::string picture = plainPictures.substr(k * PictureBytes, PictureBytes);
    expected += picture;
    for (int n = 0; n < k % 6; ++n) {
      ASSERT_TRUE(H264AppendRepeat(&r, &spliced));
      expected += picture;
    }
    total += 1 + k % 6;
  }
  ASSERT_EQ(r.log2MaxFrameNum, 4) << "x264 numbers frames differently; the wrap is no longer covered";
  // Every reference picture after an IDR takes the next number, mod 16: a
  // decoder may treat anything else as lost pictures.
  const std::vector<SliceNumber> numbers = SliceNumbers(Bytes(spliced));
  ASSERT_EQ(numbers.size(), static_cast<size_t>(total));
  for (int i = 0; i < total; ++i) {
    const int want = numbers[i].nalType == 5 ? 0 : (numbers[i - 1].frameNum + 1) % 16;
    ASSERT_EQ(numbers[i].frameNum, want) << "picture " << i;
  }
  EXPECT_EQ(numbers[0].nalType, 5);
  const std::string decoded = Decode(Bytes(spliced), "spliced");
  ASSERT_EQ(decoded.size(), static_cast<size_t>(total) * PictureBytes) << "ffmpeg found an error or lost pictures";
  for (int i = 0; i < total; ++i)
    ASSERT_EQ(decoded.compare(i * PictureBytes, PictureBytes, expected, i * PictureBytes, PictureBytes), 0)
        << "picture " << i;
}

// Without repeats nothing changes but, possibly, the start codes' length:
// x264's NAL units come out byte for byte, and so does one whose payload
// needs every kind of emulation-prevention byte, a final one included.
TEST(H264Repeats, CopiesEveryNalUnitUnchangedWhenNoRepeatCame) {
  const std::vector<std::string> coded = Encode(12, 5);
  std::string input;
  for (const std::string& c : coded) input += c;
  // An SEI-type unit: escaped 00 00 00, 00 00 01, 00 00 02, 00 00 03, and a
  // payload that ends in two zeros.
  input += std::string("\0\0\1\x06\x05\0\0\3\0\x11\0\0\3\1\0\0\3\2\x22\0\0\3\3\x80\0\0\3", 27);
  H264Repeats r;
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(H264CopyCoded(&r, reinterpret_cast<const uint8_t*>(input.data()), input.size(), &out, &error)) << error;
  const std::vector<std::string> want = NalPayloads(input), got = NalPayloads(Bytes(out));
  EXPECT_GT(want.size(), 12u + 3);  // parameter sets, SEI, slices
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(got[i] == want[i]) << "NAL unit " << i;
}

// A repeat is a few bytes, whatever the picture: one skip run.
TEST(H264Repeats, ARepeatIsAFewBytes) {
  const std::vector<std::string> coded = Encode(1, 250);
  ASSERT_EQ(coded.size(), 1u);
  H264Repeats r;
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(H264CopyCoded(&r, reinterpret_cast<const uint8_t*>(coded[0].data()), coded[0].size(), &out, &error))
      << error;
  EXPECT_EQ(r.macroblocks, static_cast<uint32_t>(W / 16 * H / 16));
  const size_t before = out.size();
  ASSERT_TRUE(H264AppendRepeat(&r, &out));
  EXPECT_LE(out.size() - before, 16u);
  EXPECT_EQ(Bytes(out).compare(before, 4, std::string("\0\0\0\1", 4)), 0);
}

// CABAC slices and B-frames' picture order cannot take these repeats; the
// stream is refused with a reason and nothing is written. So are bytes
// without start codes, and a slice that comes before any parameter set.
TEST(H264Repeats, RefusesStreamsItCannotExtend) {
  struct Case {
    std::vector<std::string> coded;
    const char* reason;
  };
  const Case cases[] = {{Encode(1, 250, true), "CABAC"}, {Encode(4, 250, false, 2), "B-frames"}};
  for (const Case& c : cases) {
    ASSERT_FALSE(c.coded.empty());
    H264Repeats r;
    std::vector<uint8_t> out(3, 7);
    std::string error;
    EXPECT_FALSE(H264CopyCoded(&r, reinterpret_cast<const uint8_t*>(c.coded[0].data()), c.coded[0].size(), &out,
                               &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(out, std::vector<uint8_t>(3, 7));
    EXPECT_FALSE(H264AppendRepeat(&r, &out));
  }
  // Bytes without a start code are no byte stream at all.
  {
    H264Repeats r;
    std::vector<uint8_t> out;
    std::string error;
    const uint8_t raw[4] = {0x67, 0x42, 0xc0, 0x0a};
    EXPECT_FALSE(H264CopyCoded(&r, raw, sizeof raw, &out, &error));
    EXPECT_NE(error.find("not an H.264 byte stream"), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
  }
  // The second picture alone: a P slice without its parameter sets.
  const std::vector<std::string> coded = Encode(2, 250);
  ASSERT_EQ(coded.size(), 2u);
  H264Repeats r;
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_FALSE(H264CopyCoded(&r, reinterpret_cast<const uint8_t*>(coded[1].data()), coded[1].size(), &out, &error));
  EXPECT_NE(error.find("before its parameter sets"), std::string::npos) << error;
  EXPECT_TRUE(out.empty());
}

}  // namespace
