// The whole demo captured as a video with the tool's own settings (repeated
// frames spliced in as skipped pictures), read back from its container and
// decoded by libavcodec's H.264 decoder (what ffmpeg and most players use)
// and by OpenH264, picture by picture: both must give out one picture per
// frame the tool wrote, and the same pixels. A spliced repeat or a
// renumbered slice that one decoder reads differently from the other shows
// here as the first frame where they part.
//
// Plain builds only (registered so in CMakeLists.txt): the whole demo is
// 4,514 frames at 640 x 480, about a minute on two cores.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include "tests/capture/support/h264_decoders.h"

namespace fs = std::filesystem;

namespace {

// The tool's default size and rate: the one most captures are made at.
constexpr int Width = 640, Height = 480;

// The video stream's access units, in Annex B as both decoders take them
// (the container holds them with length prefixes and the parameter sets in
// its header; libavcodec's own filter puts them back in the stream).
bool ReadAccessUnits(const std::string& path, std::vector<std::string>* units, std::string* error) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
    *error = "cannot open " + path;
    return false;
  }
  const AVBitStreamFilter* toAnnexB = av_bsf_get_by_name("h264_mp4toannexb");
  AVBSFContext* bsf = nullptr;
  AVPacket* packet = av_packet_alloc();
  const int video = avformat_find_stream_info(format, nullptr) >= 0
                        ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                        : -1;
  bool ok = video >= 0 && toAnnexB && packet && av_bsf_alloc(toAnnexB, &bsf) >= 0 &&
            avcodec_parameters_copy(bsf->par_in, format->streams[video]->codecpar) >= 0;
  if (ok) {
    bsf->time_base_in = format->streams[video]->time_base;
    ok = av_bsf_init(bsf) >= 0;
  }
  if (!ok) *error = "no H.264 stream to read in " + path;
  // Each packet in, then the filter's end; every packet it gives is a unit.
  for (bool more = true; ok && more;) {
    int rc = av_read_frame(format, packet);
    more = rc >= 0;
    if (more && packet->stream_index != video) {
      av_packet_unref(packet);
      continue;
    }
    if (!more && rc != AVERROR_EOF) ok = false;
    if (ok) ok = av_bsf_send_packet(bsf, more ? packet : nullptr) >= 0;
    while (ok && (rc = av_bsf_receive_packet(bsf, packet)) >= 0) {
      units->emplace_back(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size));
      av_packet_unref(packet);
    }
    if (ok && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) ok = false;
    if (!ok && error->empty()) *error = "cannot read the video stream of " + path;
  }
  av_bsf_free(&bsf);
  av_packet_free(&packet);
  avformat_close_input(&format);
  return ok;
}

// The frames the tool says it wrote: the lines of its frame log.
int64_t FramesLogged(const std::string& path) {
  std::ifstream in(path);
  int64_t frames = 0;
  for (std::string line; std::getline(in, line);) frames += line.rfind("frame ", 0) == 0 ? 1 : 0;
  return frames;
}

// Where two pictures first differ, as "plane P at (x, y): A against B".
std::string FirstDifference(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " against " + std::to_string(b.size());
  size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  const size_t luma = static_cast<size_t>(Width) * Height, chroma = luma / 4;
  const int plane = i < luma ? 0 : i < luma + chroma ? 1 : 2;
  const size_t at = plane == 0 ? i : i - luma - (plane == 2 ? chroma : 0);
  const size_t w = plane == 0 ? Width : Width / 2;
  return std::string("plane ") + "YUV"[plane] + " at (" + std::to_string(at % w) + ", " + std::to_string(at / w) +
         "): " + std::to_string(static_cast<uint8_t>(a[i])) + " against " + std::to_string(static_cast<uint8_t>(b[i]));
}

}  // namespace

TEST(CaptureWholeVideo, DecodesIdenticallyInLibavcodecAndOpenH264) {
  const std::string dir = fs::temp_directory_path().string() + "/capture_whole_video_" + std::to_string(getpid());
  fs::remove_all(dir);
  fs::create_directories(dir);
  struct RemoveAtEnd {
    std::string dir;
    ~RemoveAtEnd() { fs::remove_all(dir); }
  } removeAtEnd{dir};
  const std::string video = dir + "/demo.mp4";
  const auto started = std::chrono::steady_clock::now();
  // The tool's own settings throughout: default size, rate and x264 set-up.
  const std::string command = "./zephyra-capture --quiet --timing --video '" + video + "' 2>'" + dir + "/stderr.txt'";
  const int status = std::system(command.c_str());
  const auto captured = std::chrono::steady_clock::now();
  std::ifstream errText(dir + "/stderr.txt");
  const std::string err((std::istreambuf_iterator<char>(errText)), std::istreambuf_iterator<char>());
  ASSERT_EQ(status, 0) << "the capture failed: " << err;
  const int64_t frames = FramesLogged(dir + "/demo.frames.txt");
  ASSERT_GT(frames, 4000) << "the whole demo is about 75 s of music at 60 fps";

  std::vector<std::string> units;
  std::string error;
  ASSERT_TRUE(ReadAccessUnits(video, &units, &error)) << error;
  EXPECT_EQ(static_cast<int64_t>(units.size()), frames) << "one picture in the container per frame written";

  H264DecoderPtr byLibav = H264DecoderOpen(H264DecoderKind::Libavcodec, Width, Height);
  H264DecoderPtr byOpenH264 = H264DecoderOpen(H264DecoderKind::OpenH264, Width, Height);
  ASSERT_TRUE(byLibav && byOpenH264);
  // Both decoders in step, a unit at a time; only the pictures one has
  // given out and the other not yet are held.
  std::vector<std::string> fromLibav, fromOpenH264;
  int64_t compared = 0;
  for (size_t i = 0; i <= units.size(); ++i) {
    const std::string* unit = i < units.size() ? &units[i] : nullptr;
    ASSERT_TRUE(H264DecoderFeed(byLibav.get(), unit, &fromLibav))
        << "libavcodec reported an error at access unit " << i << " of " << units.size();
    ASSERT_TRUE(H264DecoderFeed(byOpenH264.get(), unit, &fromOpenH264))
        << "OpenH264 reported an error at access unit " << i << " of " << units.size();
    const size_t both = std::min(fromLibav.size(), fromOpenH264.size());
    for (size_t k = 0; k < both; ++k, ++compared)
      ASSERT_TRUE(fromLibav[k] == fromOpenH264[k])
          << "frame " << compared << " decodes differently: libavcodec against OpenH264, "
          << FirstDifference(fromLibav[k], fromOpenH264[k]);
    fromLibav.erase(fromLibav.begin(), fromLibav.begin() + static_cast<std::ptrdiff_t>(both));
    fromOpenH264.erase(fromOpenH264.begin(), fromOpenH264.begin() + static_cast<std::ptrdiff_t>(both));
  }
  EXPECT_EQ(compared, frames) << "pictures both decoders gave out";
  EXPECT_TRUE(fromLibav.empty() && fromOpenH264.empty())
      << "one decoder gave out more pictures: libavcodec " << compared + static_cast<int64_t>(fromLibav.size())
      << ", OpenH264 " << compared + static_cast<int64_t>(fromOpenH264.size());
  const auto decoded = std::chrono::steady_clock::now();
  std::printf("%lld frames (%zu access units) identical in both decoders; capture %.1f s, decoding %.1f s\n",
              static_cast<long long>(frames), units.size(), std::chrono::duration<double>(captured - started).count(),
              std::chrono::duration<double>(decoded - captured).count());
  std::printf("%s", err.c_str());
}
