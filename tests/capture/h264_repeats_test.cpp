// Tests of the repeat writer on the tool's own x264 settings: x264's pictures
// with skipped repeats spliced between them must decode, in two independent
// decoders (libavcodec's and OpenH264), to exactly x264's own pictures, each
// repeat equal to the picture before it, across IDRs and frame_num wrapping;
// streams it cannot extend are refused whole, each kind with its reason.
#include "capture/h264_repeats.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <x264.h>  // after <cstdint>, which it needs
#include <functional>

#include "capture/video_writer.h"
#include "tests/capture/support/h264_decoders.h"
#include "tests/capture/support/programs.h"
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

// x264's output for each of `count` pictures with the capture's own
// settings (changed by `vary`, for the streams that must be refused), an
// IDR asked for every `keyint` pictures as the capture asks for them, one
// call per picture.
std::vector<std::string> Encode(int count, int keyint, const std::function<void(x264_param_t*)>& vary = nullptr) {
  x264_param_t p;
  std::string error;
  EXPECT_TRUE(VideoEncoderSettings(&p, W, H, Rational{60, 1}, &error)) << error;
  p.i_log_level = X264_LOG_NONE;
  if (vary) vary(&p);
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
    if (k % keyint == 0) in.i_type = X264_TYPE_IDR;
    take(&in);
  }
  while (x264_encoder_delayed_frames(x) > 0) take(nullptr);
  x264_encoder_close(x);
  return out;
}

std::string DecodedByLibavcodec(const std::vector<std::string>& units) { return DecodeLibavcodec(units, W, H); }
std::string DecodedByOpenH264(const std::vector<std::string>& units) { return DecodeOpenH264(units, W, H); }

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
  const std::string command = "'" + FindProgram("ffmpeg") + "' -hide_banner -nostats -xerror -f h264 -i '" + in +
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

// H264CopyCoded of an Annex B stream, split at its start codes as x264
// gives its NAL units out.
bool CopyCoded(H264Repeats* r, const std::string& stream, std::vector<uint8_t>* out, std::string* error) {
  const std::vector<std::string> payloads = NalPayloads(stream);
  std::vector<H264Nal> nals;
  for (const std::string& p : payloads) nals.push_back({reinterpret_cast<const uint8_t*>(p.data()), p.size()});
  return H264CopyCoded(r, nals, out, error);
}

// Editing a slice header bit by bit, for streams x264 would not write: the
// NAL unit's RBSP as '0'/'1' characters and back (emulation prevention
// undone and redone, the stop bit kept last).
std::string RbspBits(const std::string& nal) {
  std::string bits;
  int zeros = 0;
  for (char ch : nal) {
    const auto b = static_cast<uint8_t>(ch);
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    for (int i = 7; i >= 0; --i) bits += ((b >> i) & 1) ? '1' : '0';
  }
  return bits;
}
std::string NalFromBits(std::string bits) {
  bits.erase(bits.find_last_of('1'));  // the old stop bit and padding
  bits += '1';
  while (bits.size() % 8) bits += '0';
  std::string nal = std::string("\0\0\0\1", 4);
  int zeros = 0;
  for (size_t i = 0; i < bits.size(); i += 8) {
    const auto b = static_cast<uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2));
    if (zeros >= 2 && b <= 3) {
      nal += '\3';
      zeros = 0;
    }
    nal += static_cast<char>(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return nal;
}
// Reads one ue(v) from `bits` at `at`, moving it on.
uint32_t ReadUe(const std::string& bits, size_t* at) {
  int zeros = 0;
  while (bits[(*at)++] == '0') ++zeros;
  const uint32_t rest = zeros ? static_cast<uint32_t>(std::stoul(bits.substr(*at, zeros), nullptr, 2)) : 0;
  *at += static_cast<size_t>(zeros);
  return rest + (1u << zeros) - 1;
}
// The access unit with its slice's header changed by `edit`, which gets the
// bits and the position right after frame_num (4 bits in these streams).
std::string EditSlice(const std::string& unit, const std::function<void(std::string*, size_t)>& edit) {
  std::string out;
  for (const std::string& nal : NalPayloads(unit)) {
    const int type = nal[0] & 31;
    if (type != 1 && type != 5) {
      out += std::string("\0\0\0\1", 4) + nal;
      continue;
    }
    std::string bits = RbspBits(nal);
    size_t at = 8;
    for (int i = 0; i < 3; ++i) ReadUe(bits, &at);  // first_mb_in_slice, slice_type, pps id
    edit(&bits, at + 4);
    out += NalFromBits(bits);
  }
  return out;
}

// Slice headers and messages that would count or re-mark pictures behind
// the repeats' backs are refused, each with its reason: memory-management
// operations, long-term references, reordered reference lists, buffering
// period and picture timing SEI, the end of a sequence or stream.
TEST(H264Repeats, RefusesWhatCountsPictures) {
  const std::vector<std::string> coded = Encode(2, 250);
  ASSERT_EQ(coded.size(), 2u);
  // In x264's P slice: num_ref_idx_active_override_flag (0 here), the
  // reordering flag, then adaptive_ref_pic_marking_mode_flag.
  const std::string mmco = EditSlice(coded[1], [](std::string* bits, size_t at) {
    ASSERT_EQ(bits->substr(at, 3), "000");
    (*bits)[at + 2] = '1';
    bits->insert(at + 3, "1");  // memory_management_control_operation 0: the list's end
  });
  const std::string reordered = EditSlice(coded[1], [](std::string* bits, size_t at) {
    (*bits)[at + 1] = '1';
    bits->insert(at + 2, "00100");  // modification_of_pic_nums_idc 3: the list's end
  });
  // In the IDR slice: idr_pic_id, no_output_of_prior_pics_flag, then
  // long_term_reference_flag.
  const std::string longTerm = EditSlice(coded[0], [](std::string* bits, size_t at) {
    ReadUe(*bits, &at);
    (*bits)[at + 1] = '1';
  });
  const std::string pictureTiming = coded[0] + std::string("\0\0\0\1\x06\x01\x01\x00\x80", 9);
  const std::string bufferingPeriod = coded[0] + std::string("\0\0\0\1\x06\x00\x01\x80\x80", 9);
  const std::string endOfSequence = coded[0] + std::string("\0\0\0\1\x0a", 5);
  struct Case {
    std::string first, second;  // access units given in turn; the last must be refused
    const char* reason;
  };
  const Case cases[] = {
      {coded[0], mmco, "memory-management operations"},
      {coded[0], reordered, "reorders its reference picture lists"},
      {"", longTerm, "long-term reference"},
      {"", pictureTiming, "SEI messages of type 1"},
      {"", bufferingPeriod, "SEI messages of type 0"},
      {"", endOfSequence, "NAL units of type 10"},
  };
  for (const Case& c : cases) {
    H264Repeats r;
    std::vector<uint8_t> out;
    std::string error;
    if (!c.first.empty()) {
      ASSERT_TRUE(CopyCoded(&r, c.first, &out, &error))
          << error;
    }
    const size_t before = out.size();
    EXPECT_FALSE(CopyCoded(&r, c.second, &out, &error))
        << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(out.size(), before) << c.reason;
  }
  // The edits themselves are sound: with the flags back at 0 the same
  // rewriting gives a stream that is taken.
  const std::string unchanged = EditSlice(coded[1], [](std::string*, size_t) {});
  H264Repeats r;
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(CopyCoded(&r, coded[0], &out, &error));
  EXPECT_TRUE(CopyCoded(&r, unchanged, &out, &error))
      << error;
}

// 0-5 repeats after each picture, keyframes every 10 pictures of x264's:
// 31 reference pictures from one IDR to the next, more than the 16 frame
// numbers x264 gives that distance, so frame_num wraps between keyframes.
TEST(H264Repeats, SplicedRepeatsDecodeAsThePictureBeforeAndChangeNoOtherPicture) {
  const int count = 30;
  const std::vector<std::string> coded = Encode(count, 10);
  ASSERT_EQ(coded.size(), static_cast<size_t>(count));
  // x264's own pictures, as both decoders give them.
  const std::string plainPictures = DecodedByLibavcodec(coded);
  ASSERT_EQ(plainPictures.size(), count * PictureBytes);
  ASSERT_EQ(DecodedByOpenH264(coded), plainPictures) << "the two decoders disagree on x264's own stream";

  H264Repeats r;
  std::vector<std::string> spliced;  // one access unit each
  std::vector<uint8_t> unit;
  EXPECT_FALSE(H264AppendRepeat(&r, &unit)) << "a repeat before any picture";
  EXPECT_TRUE(unit.empty());
  std::string expected;
  for (int k = 0; k < count; ++k) {
    std::string error;
    unit.clear();
    ASSERT_TRUE(CopyCoded(&r, coded[k], &unit, &error))
        << k << ": " << error;
    spliced.push_back(Bytes(unit));
    const std::string picture = plainPictures.substr(k * PictureBytes, PictureBytes);
    expected += picture;
    for (int n = 0; n < k % 6; ++n) {
      unit.clear();
      ASSERT_TRUE(H264AppendRepeat(&r, &unit));
      spliced.push_back(Bytes(unit));
      expected += picture;
    }
  }
  const int total = static_cast<int>(spliced.size());
  ASSERT_EQ(r.log2MaxFrameNum, 4) << "x264 numbers frames differently; the wrap is no longer covered";
  std::string stream;
  for (const std::string& u : spliced) stream += u;
  // Every reference picture after an IDR takes the next number, mod 16: a
  // decoder may treat anything else as lost pictures.
  if (!FindProgram("ffmpeg").empty()) {
    const std::vector<SliceNumber> numbers = SliceNumbers(stream);
    ASSERT_EQ(numbers.size(), static_cast<size_t>(total));
    for (int i = 0; i < total; ++i) {
      const int want = numbers[i].nalType == 5 ? 0 : (numbers[i - 1].frameNum + 1) % 16;
      ASSERT_EQ(numbers[i].frameNum, want) << "picture " << i;
    }
    EXPECT_EQ(numbers[0].nalType, 5);
  }
  const std::pair<const char*, std::string> decoders[] = {{"libavcodec", DecodedByLibavcodec(spliced)},
                                                          {"OpenH264", DecodedByOpenH264(spliced)}};
  for (const auto& [name, decoded] : decoders) {
    ASSERT_EQ(decoded.size(), static_cast<size_t>(total) * PictureBytes) << name << " found an error or lost pictures";
    for (int i = 0; i < total; ++i)
      ASSERT_EQ(decoded.compare(i * PictureBytes, PictureBytes, expected, i * PictureBytes, PictureBytes), 0)
          << name << ", picture " << i;
  }
}

// Without repeats nothing changes but, possibly, the start codes' length:
// x264's NAL units come out byte for byte, and so does one whose payload
// needs every kind of emulation-prevention byte, a final one included.
TEST(H264Repeats, CopiesEveryNalUnitUnchangedWhenNoRepeatCame) {
  const std::vector<std::string> coded = Encode(12, 5);
  std::string input;
  for (const std::string& c : coded) input += c;
  // A filler-type unit: escaped 00 00 00, 00 00 01, 00 00 02, 00 00 03, and
  // a payload that ends in two zeros.
  input += std::string("\0\0\1\x0c\x05\0\0\3\0\x11\0\0\3\1\0\0\3\2\x22\0\0\3\3\x80\0\0\3", 27);
  H264Repeats r;
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(CopyCoded(&r, input, &out, &error)) << error;
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
  ASSERT_TRUE(CopyCoded(&r, coded[0], &out, &error))
      << error;
  EXPECT_EQ(r.macroblocks, static_cast<uint32_t>(W / 16 * H / 16));
  const size_t before = out.size();
  ASSERT_TRUE(H264AppendRepeat(&r, &out));
  EXPECT_LE(out.size() - before, 16u);
  EXPECT_EQ(Bytes(out).compare(before, 4, std::string("\0\0\0\1", 4)), 0);
}

// Streams these repeats cannot follow are refused with a reason and
// nothing is written: CABAC slices, B-frames' picture order, more than one
// reference frame, HRD parameters and picture timing in the sequence's
// usability information.
TEST(H264Repeats, RefusesStreamsItCannotExtend) {
  struct Case {
    std::vector<std::string> coded;
    const char* reason;
  };
  const Case cases[] = {
      {Encode(1, 250, [](x264_param_t* p) { p->b_cabac = 1; }), "CABAC"},
      {Encode(4, 250, [](x264_param_t* p) { p->i_bframe = 2; }), "B-frames"},
      {Encode(1, 250, [](x264_param_t* p) { p->i_frame_reference = 2; }), "more than one reference frame"},
      {Encode(1, 250,
              [](x264_param_t* p) {
                p->i_nal_hrd = X264_NAL_HRD_VBR;
                p->rc.i_vbv_max_bitrate = 2000;
                p->rc.i_vbv_buffer_size = 2000;
              }),
       "HRD parameters"},
      {Encode(1, 250, [](x264_param_t* p) { p->b_pic_struct = 1; }), "picture timing"},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.coded.empty());
    H264Repeats r;
    std::vector<uint8_t> out(3, 7);
    std::string error;
    EXPECT_FALSE(CopyCoded(&r, c.coded[0], &out, &error))
        << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(out, std::vector<uint8_t>(3, 7));
    EXPECT_FALSE(H264AppendRepeat(&r, &out));
  }
  // Bytes without a start code hold no NAL unit: nothing to copy, refused.
  {
    H264Repeats r;
    std::vector<uint8_t> out;
    std::string error;
    const std::string raw("\x67\x42\xc0\x0a", 4);
    EXPECT_FALSE(CopyCoded(&r, raw, &out, &error));
    EXPECT_NE(error.find("no NAL units"), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
  }
  // The second picture alone: a P slice without its parameter sets.
  const std::vector<std::string> coded = Encode(2, 250);
  ASSERT_EQ(coded.size(), 2u);
  H264Repeats r;
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_FALSE(CopyCoded(&r, coded[1], &out, &error));
  EXPECT_NE(error.find("before its parameter sets"), std::string::npos) << error;
  EXPECT_TRUE(out.empty());
}

}  // namespace
