// Tests that run zephyra-capture (from build/bin, the tests' working folder)
// and check what it wrote against the choreography, the decoded music and
// committed reference frames.
//
// Reference frames: tests/capture/golden/*.png, 160 x 120, made from 320 x 240
// captures reduced 2 x 2. After an intended change of the picture, regenerate
// them with
//     cd build/bin && ZEPHYRA_REGEN_GOLDEN=1 ../tests/capture_tool_test --gtest_filter='*Golden*'
// and look at them before committing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "platform/dynlib.h"
#include "capture/contact_sheet.h"
#include "capture/frame_clock.h"
#include "capture/png_io.h"
#include "capture/timeline.h"
#include "capture/video_writer.h"
#include "tests/capture/support/programs.h"
#include "capture/wav_writer.h"
#include "tests/capture/support/png_read.h"
#include "tests/capture/support/log_read.h"
#include "tests/capture/support/wav_read.h"
#include "tests/common/require_all.h"

namespace fs = std::filesystem;

namespace {

std::string ScratchRoot() {
  return fs::temp_directory_path().string() + "/capture_tool_test_" + std::to_string(getpid());
}

// Removes the scratch folders when the tests end.
struct ScratchCleanup : ::testing::Environment {
  void TearDown() override { fs::remove_all(ScratchRoot()); }
};
const auto* const RegisteredCleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

std::string Scratch(const std::string& name) {
  const std::string dir = ScratchRoot() + "/" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

struct ToolResult {
  int status = -1;
  std::string out, err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs ./zephyra-capture with the arguments (each quoted) and collects its output.
// ffprobe's answer for `media` (key=value lines), with the options given;
// empty when ffprobe failed.
std::string Probe(const std::string& scratch, const std::string& media, const std::string& options) {
  const std::string out = scratch + "/probe.txt";
  const std::string command =
      FindProgram("ffprobe") + " -v error " + options + " -of default=nw=1 '" + media + "' > '" + out + "'";
  return std::system(command.c_str()) == 0 ? ReadFile(out) : std::string();
}

ToolResult RunTool(const std::string& scratch, const std::vector<std::string>& args) {
  std::string command = "./zephyra-capture";
  for (const std::string& a : args) command += " '" + a + "'";
  command += " >'" + scratch + "/stdout.txt' 2>'" + scratch + "/stderr.txt'";
  ToolResult r;
  const int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(scratch + "/stdout.txt");
  r.err = ReadFile(scratch + "/stderr.txt");
  return r;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Timeline {
  std::vector<TimelineState> ticks;
  TimelineState end;
  bool haveEnd = false;
};

Timeline ReadTimeline(const std::string& path) {
  Timeline t;
  for (const std::string& line : Lines(path)) {
    std::string kind;
    TimelineState s;
    if (!ParseTimelineLine(line, &kind, &s)) continue;
    if (kind == "tick") t.ticks.push_back(s);
    if (kind == "end") {
      t.end = s;
      t.haveEnd = true;
    }
  }
  return t;
}

std::map<int64_t, TimelineState> ReadFrames(const std::string& path) {
  std::map<int64_t, TimelineState> frames;
  for (const std::string& line : Lines(path)) {
    int64_t k;
    TimelineState s;
    if (ParseFrameLine(line, &k, &s)) frames[k] = s;
  }
  return frames;
}

// The music decoded by the sound library directly, with the exact sample of
// every arrival at the positions the choreography uses.
struct Arrival {
  uint32_t order, row;
  int64_t sample;
};
struct Reference {
  std::string pcm;
  std::vector<Arrival> arrivals;
};

using InitProc = uint32_t (*)(int32_t, uint32_t, uint32_t);
using LoadProc = uint32_t (*)(uint32_t, const void*, uint32_t, uint32_t, uint32_t);
using SetSyncProc = uint32_t (*)(uint32_t, uint32_t, void (*)(uint32_t, uint32_t, uint32_t), uint32_t);
using DecodeProc = uint32_t (*)(void*, uint32_t);
using SampleProc = uint64_t (*)();
using FreeProc = uint32_t (*)();

SampleProc ReferenceSample = nullptr;
std::vector<Arrival>* ReferenceArrivals = nullptr;

void RecordArrival(uint32_t, uint32_t data, uint32_t) {
  ReferenceArrivals->push_back(Arrival{data & 0xFFFF, data >> 16, static_cast<int64_t>(ReferenceSample())});
}

Reference DecodeReference(int64_t samples) {
  Reference ref;
  ModuleHandle lib = PlatformLoadLibrary("./bassmod.so");
  EXPECT_NE(lib, nullptr) << "./bassmod.so beside the tool";
  if (!lib) return ref;
  auto init = reinterpret_cast<InitProc>(PlatformGetProcAddress(lib, "BASSMOD_Init"));
  auto load = reinterpret_cast<LoadProc>(PlatformGetProcAddress(lib, "BASSMOD_MusicLoad"));
  auto setSync = reinterpret_cast<SetSyncProc>(PlatformGetProcAddress(lib, "BASSMOD_MusicSetSync"));
  auto decode = reinterpret_cast<DecodeProc>(PlatformGetProcAddress(lib, "BASSMOD_MusicDecode"));
  auto freeLib = reinterpret_cast<FreeProc>(PlatformGetProcAddress(lib, "BASSMOD_Free"));
  ReferenceSample = reinterpret_cast<SampleProc>(PlatformGetProcAddress(lib, "BASSMOD_MusicGetSample"));
  EXPECT_TRUE(init && load && setSync && decode && freeLib && ReferenceSample);
  if (!(init && load && setSync && decode && freeLib && ReferenceSample)) return ref;
  EXPECT_EQ(init(0, 44100, 0), 1u);
  EXPECT_EQ(load(1, MusicModule, 0, MusicModuleSize, 0x204), 1u);
  ReferenceArrivals = &ref.arrivals;
  const uint32_t positions[][2] = {{0, 9}, {0, 11}, {1, 0}, {5, 0}, {5, 9}, {5, 11}, {6, 0}, {7, 0}, {8, 0}, {9, 0}};
  for (const auto& p : positions) EXPECT_NE(setSync(0, p[0] | p[1] << 16, RecordArrival, 0), 0u);
  ref.pcm.resize(static_cast<size_t>(samples) * 4);
  int64_t done = 0;
  while (done < samples) {
    const auto n = static_cast<uint32_t>(std::min<int64_t>(4096, samples - done));
    const uint32_t got = decode(&ref.pcm[static_cast<size_t>(done) * 4], n);
    EXPECT_EQ(got, n);
    if (got == 0) break;
    done += got;
  }
  freeLib();
  PlatformFreeLibrary(lib);
  ReferenceArrivals = nullptr;
  return ref;
}

std::vector<int64_t> ArrivalsAt(const Reference& ref, uint32_t order, uint32_t row) {
  std::vector<int64_t> samples;
  for (const Arrival& a : ref.arrivals)
    if (a.order == order && a.row == row) samples.push_back(a.sample);
  return samples;
}

// The first tick at or after sample p (ticks at n * 1764, n >= 1).
const TimelineState* FirstTickFrom(const Timeline& t, int64_t p) {
  for (const TimelineState& s : t.ticks)
    if (s.sample >= p) return &s;
  return nullptr;
}

}  // namespace

TEST(CaptureTool, HelpAndBadOptions) {
  const std::string dir = Scratch("help");
  ToolResult help = RunTool(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--fullscreen-look"), std::string::npos);
  EXPECT_NE(help.out.find("60000/1001"), std::string::npos);
  ToolResult bad = RunTool(dir, {"--size", "12"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("bad size"), std::string::npos);
  ToolResult noContainer = RunTool(dir, {"--video", dir + "/x.nosuchformat", "--to", "1"});
  EXPECT_EQ(noContainer.status, 1);
  EXPECT_NE(noContainer.err.find("no container is known"), std::string::npos) << noContainer.err;
  EXPECT_FALSE(fs::exists(dir + "/x.nosuchformat"));
  ToolResult noLibrary = RunTool(dir, {"--out", dir + "/nolib", "--library", "/no/such/bassmod.so", "--to", "1"});
  EXPECT_EQ(noLibrary.status, 1);
  EXPECT_NE(noLibrary.err.find("cannot initialise the sound library /no/such/bassmod.so"), std::string::npos)
      << noLibrary.err;
  ToolResult late = RunTool(dir, {"--size", "32x24", "--fps", "5", "--from", "2:00", "--quiet", "--out", dir + "/late"});
  EXPECT_EQ(late.status, 1);
  EXPECT_NE(late.err.find("no frame was captured"), std::string::npos) << late.err;
}

// The full-screen look takes the pictures through the 16-bit display format:
// the cube's and the floor's texels change, the captions (uploaded directly
// from their grey bytes) do not. Without --quiet the progress line shows.
TEST(CaptureTool, FullscreenLookChangesOnlyDecodedPictures) {
  std::string frames[2][2];
  for (int fullscreen = 0; fullscreen < 2; ++fullscreen) {
    const std::string dir = Scratch(fullscreen ? "look_full" : "look_window");
    std::vector<std::string> args = {"--size", "96x72", "--fps", "25", "--at", "0.8,37", "--out", dir};
    if (fullscreen) args.push_back("--fullscreen-look");
    ToolResult r = RunTool(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("x real time"), std::string::npos) << r.err;
    frames[fullscreen][0] = ReadFile(dir + "/frame_000020.png");
    frames[fullscreen][1] = ReadFile(dir + "/frame_000925.png");
    ASSERT_FALSE(frames[fullscreen][0].empty() || frames[fullscreen][1].empty());
  }
  EXPECT_EQ(frames[0][0], frames[1][0]);  // caption A
  EXPECT_NE(frames[0][1], frames[1][1]);  // cube over the floor
}

// Two captures of the same range with the same seed are byte-identical, in
// every frame and in the audio; another seed changes the pictures.
TEST(CaptureTool, SameSeedGivesIdenticalFramesAndAudio) {
  const std::vector<std::string> common = {"--size", "96x72", "--fps", "25", "--from", "33", "--to", "36", "--quiet"};
  std::vector<std::string> dirs;
  for (const char* name : {"det_a", "det_b", "det_c"}) {
    dirs.push_back(Scratch(name));
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--out", dirs.back(), "--seed", name[4] == 'c' ? "7" : "1"});
    ToolResult r = RunTool(dirs.back(), args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  int frames = 0, differentFromOtherSeed = 0;
  for (int64_t k = 33 * 25; k < 36 * 25; ++k) {
    const std::string a = ReadFile(FrameFileName(dirs[0], k)), b = ReadFile(FrameFileName(dirs[1], k)),
                      c = ReadFile(FrameFileName(dirs[2], k));
    ASSERT_FALSE(a.empty()) << "frame " << k;
    EXPECT_EQ(a, b) << "frame " << k;
    differentFromOtherSeed += a != c;
    ++frames;
  }
  EXPECT_EQ(frames, 75);
  EXPECT_FALSE(fs::exists(dirs[0] + "/frame_000824.png"));  // before the range
  EXPECT_FALSE(fs::exists(dirs[0] + "/frame_000900.png"));  // after it
  const std::string wavA = ReadFile(dirs[0] + "/audio.wav");
  EXPECT_EQ(wavA.size(), 44u + 3u * 44100u * 4u);
  EXPECT_EQ(wavA, ReadFile(dirs[1] + "/audio.wav"));
  EXPECT_EQ(wavA, ReadFile(dirs[2] + "/audio.wav"));  // the seed does not touch the music
  EXPECT_GT(differentFromOtherSeed, 0);
}

// A whole run at a small size: the timeline follows the sync table, the run
// ends at the eleventh cue, frames change scene exactly at the sync's sample,
// and the WAV is the decoded music, as long as the frames.
TEST(CaptureTool, FullRunFollowsTheChoreographyAndTheMusic) {
  const std::string dir = Scratch("full");
  ToolResult r = RunTool(dir, {"--size", "64x48", "--fps", "10", "--quiet", "--out", dir});
  ASSERT_EQ(r.status, 0) << r.err;
  const Timeline t = ReadTimeline(dir + "/timeline.txt");
  const auto frames = ReadFrames(dir + "/frames.txt");
  ASSERT_TRUE(t.haveEnd);
  ASSERT_FALSE(t.ticks.empty());
  ASSERT_FALSE(frames.empty());

  WavData wav;
  std::string error;
  ASSERT_TRUE(WavRead(dir + "/audio.wav", &wav, &error)) << error;
  const int64_t wavSamples = static_cast<int64_t>(wav.pcm.size() / 4);
  const Reference ref = DecodeReference(wavSamples);
  ASSERT_FALSE(ref.pcm.empty());

  // Ticks every 1764 samples from 1764 on, none missing.
  for (size_t i = 0; i < t.ticks.size(); ++i) EXPECT_EQ(t.ticks[i].sample, static_cast<int64_t>(i + 1) * 1764);

  // Scene changes at the sync positions: the first tick at or after the
  // arrival shows the new scene, the tick before it the old one.
  struct SceneSync {
    uint32_t order;
    std::vector<int32_t> before, after;
  };
  const SceneSync scenes[] = {{1, {1, 2}, {4}}, {5, {4, 8}, {1}}, {6, {1, 2}, {16}}};
  for (const SceneSync& s : scenes) {
    const std::vector<int64_t> arrivals = ArrivalsAt(ref, s.order, 0);
    ASSERT_FALSE(arrivals.empty()) << "order " << s.order;
    const int64_t p = arrivals.front();
    const TimelineState* at = FirstTickFrom(t, p);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at->order, s.order);
    EXPECT_EQ(at->row, 0u);
    EXPECT_NE(std::find(s.after.begin(), s.after.end(), at->sceneMode), s.after.end()) << "order " << s.order;
    ASSERT_GT(at - t.ticks.data(), 0);
    EXPECT_NE(std::find(s.before.begin(), s.before.end(), (at - 1)->sceneMode), s.before.end()) << "order " << s.order;
  }

  // Cues: every arrival at row 0 of orders 6 to 9 after the first one at
  // order 6 (during which the cue syncs were registered).
  std::vector<int64_t> cues;
  const int64_t cubeStart = ArrivalsAt(ref, 6, 0).front();
  for (const Arrival& a : ref.arrivals)
    if (a.row == 0 && a.order >= 6 && a.order <= 9 && a.sample > cubeStart) cues.push_back(a.sample);
  ASSERT_GE(cues.size(), 11u);
  for (size_t c = 0; c + 1 < 11; ++c) {
    const TimelineState* at = FirstTickFrom(t, cues[c]);
    ASSERT_NE(at, nullptr) << "cue " << c + 1;
    EXPECT_EQ(at->cueCount, static_cast<int32_t>(c + 1));
    EXPECT_EQ((at - 1)->cueCount, static_cast<int32_t>(c));
  }
  // DemoDone at the eleventh cue, in the third pass through orders 6 to 9 (at
  // order 9): the run ends at the first frame at or after it.
  const int64_t last = cues[10];
  EXPECT_EQ(t.end.demoDone, 1);
  EXPECT_EQ(t.end.cueCount, 11);
  EXPECT_EQ(t.end.order, 9u);
  EXPECT_GE(t.end.sample, last);
  EXPECT_LT(t.end.sample - last, 4410);  // within one frame at 10 fps
  for (const TimelineState& s : t.ticks) {
    EXPECT_EQ(s.demoDone, 0);
    EXPECT_LT(s.sample, last);  // no tick runs once DemoDone is set
  }
  EXPECT_GT(t.end.sample, 70 * 44100);
  EXPECT_LT(t.end.sample, 76 * 44100);

  // Frames: numbered from 0 without gaps; each sync shows from the first frame
  // at or after its sample, never earlier, never later.
  const int64_t frameCount = static_cast<int64_t>(frames.size());
  EXPECT_EQ(frames.rbegin()->first, frameCount - 1);
  for (const auto& [k, s] : frames) EXPECT_EQ(s.sample, k * 4410);
  for (const SceneSync& s : scenes) {
    const int64_t k = (ArrivalsAt(ref, s.order, 0).front() + 4409) / 4410;
    ASSERT_TRUE(frames.count(k) && frames.count(k - 1));
    EXPECT_NE(std::find(s.after.begin(), s.after.end(), frames.at(k).sceneMode), s.after.end()) << s.order;
    EXPECT_NE(std::find(s.before.begin(), s.before.end(), frames.at(k - 1).sceneMode), s.before.end()) << s.order;
  }
  for (size_t c = 0; c < 10; ++c) {
    const int64_t k = (cues[c] + 4409) / 4410;
    ASSERT_TRUE(frames.count(k) && frames.count(k - 1));
    EXPECT_EQ(frames.at(k).cueCount, static_cast<int32_t>(c + 1));
    EXPECT_EQ(frames.at(k - 1).cueCount, static_cast<int32_t>(c));
  }
  EXPECT_EQ(frameCount, (last + 4409) / 4410);  // the frame at the 11th cue is not drawn

  // The WAV: 44,100 Hz stereo 16-bit, exactly the frames' length, and the
  // music as the sound library decodes it.
  EXPECT_EQ(wav.sampleRate, 44100u);
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.bitsPerSample, 16);
  EXPECT_EQ(wavSamples, frameCount * 4410);
  EXPECT_TRUE(wav.pcm == ref.pcm) << "the WAV differs from the decoded music";

  // Contact sheet: the four scenes and cues 1 to 10, 5 to a row.
  RgbImage sheet;
  ASSERT_TRUE(ReadPng(dir + "/contact-sheet.png", &sheet, &error)) << error;
  EXPECT_EQ(sheet.width, 5 * (160 + 6) + 6);
  EXPECT_EQ(sheet.height, 3 * (120 + 12 + 6) + 6);
}

// A range at a fractional rate: the WAV starts at the first frame's sample and
// lasts as long as the frames.
TEST(CaptureTool, RangeAtFractionalRateKeepsAudioWithFrames) {
  const std::string dir = Scratch("range");
  ToolResult r = RunTool(dir, {"--size", "32x24", "--fps", "60000/1001", "--from", "10", "--to", "12", "--quiet",
                               "--out", dir});
  ASSERT_EQ(r.status, 0) << r.err;
  const Rational fps{60000, 1001};
  const int64_t first = FirstFrameAtOrAfter(Rational{10, 1}, fps), end = FirstFrameAtOrAfter(Rational{12, 1}, fps);
  EXPECT_EQ(first, 600);  // 599.4 rounds up
  const auto frames = ReadFrames(dir + "/frames.txt");
  ASSERT_EQ(static_cast<int64_t>(frames.size()), end - first);
  EXPECT_EQ(frames.begin()->first, first);
  EXPECT_EQ(frames.begin()->second.sample, FrameSample(first, fps));
  WavData wav;
  std::string error;
  ASSERT_TRUE(WavRead(dir + "/audio.wav", &wav, &error)) << error;
  const int64_t samples = static_cast<int64_t>(wav.pcm.size() / 4);
  EXPECT_EQ(samples, FrameSample(end, fps) - FrameSample(first, fps));
  const double frameSamples = 44100.0 * 1001 / 60000;
  EXPECT_LE(std::abs(samples - static_cast<double>(end - first) * frameSamples), frameSamples);
  const Reference ref = DecodeReference(FrameSample(end, fps));
  EXPECT_TRUE(wav.pcm == ref.pcm.substr(static_cast<size_t>(FrameSample(first, fps)) * 4));
}

// The floor: --discard renders and reads back the same frames on the same
// clock as a PNG capture (its logs, asked for by name, are the same), and
// writes nothing else.
TEST(CaptureTool, DiscardRunsTheSameFramesAndWritesNothing) {
  const std::string dir = Scratch("discard");
  const std::vector<std::string> common = {"--size", "32x24", "--fps", "25", "--from", "1", "--to", "3", "--quiet"};
  std::vector<std::string> png = common;
  png.insert(png.end(), {"--out", dir + "/png"});
  ToolResult written = RunTool(dir, png);
  ASSERT_EQ(written.status, 0) << written.err;
  fs::create_directories(dir + "/discard");
  std::vector<std::string> discard = common;
  discard.insert(discard.end(), {"--discard", "--timeline", dir + "/discard/timeline.txt", "--frame-log",
                                 dir + "/discard/frames.txt"});
  ToolResult floor = RunTool(dir + "/discard", discard);
  ASSERT_EQ(floor.status, 0) << floor.err;
  EXPECT_NE(floor.err.find("50 frames rendered and discarded"), std::string::npos) << floor.err;
  for (const char* log : {"timeline.txt", "frames.txt"}) {
    const std::string a = ReadFile(dir + "/png/" + log), b = ReadFile(dir + "/discard/" + log);
    EXPECT_FALSE(a.empty()) << log;
    EXPECT_EQ(a, b) << log;
  }
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir + "/discard")) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"frames.txt", "stderr.txt", "stdout.txt", "timeline.txt"}));
}

// Golden frames: a change anywhere in the picture's making shows here.
TEST(CaptureTool, GoldenFramesMatchReferences) {
  struct Still {
    const char* name;
    const char* time;
  };
  const Still stills[] = {
      {"caption_a", "0.8"},     // first caption fading in
      {"flash", "1.64"},        // just after order 0 row 9: the caption jumped to half alpha
      {"morph", "9.0"},         // morph body
      {"caption_b", "28.6"},    // second caption
      {"cube_trail", "37.0"},   // cube with its trail over the floor
  };
  std::string at;
  for (const Still& s : stills) at += (at.empty() ? "" : ",") + std::string(s.time);
  const std::string dir = Scratch("golden");
  ToolResult r = RunTool(dir, {"--size", "320x240", "--fps", "25", "--at", at, "--quiet", "--out", dir});
  ASSERT_EQ(r.status, 0) << r.err;
  const bool regenerate = std::getenv("ZEPHYRA_REGEN_GOLDEN") != nullptr;
  for (const Still& s : stills) {
    Rational time;
    ASSERT_TRUE(ParseMusicTime(s.time, &time));
    const int64_t k = FirstFrameAtOrAfter(time, Rational{25, 1});
    RgbImage frame;
    std::string error;
    ASSERT_TRUE(ReadPng(FrameFileName(dir, k), &frame, &error)) << error;
    // Reduce 2 x 2 (the thumbnail code averages; it wants bottom-up RGBA).
    std::vector<uint8_t> rgba(static_cast<size_t>(frame.width) * frame.height * 4);
    for (int32_t y = 0; y < frame.height; ++y)
      for (int32_t x = 0; x < frame.width; ++x)
        for (int c = 0; c < 3; ++c)
          rgba[(static_cast<size_t>(frame.height - 1 - y) * frame.width + x) * 4 + c] =
              frame.pixels[(static_cast<size_t>(y) * frame.width + x) * 3 + c];
    const RgbImage small = MakeThumbnail(rgba.data(), frame.width, frame.height, 160, 120);
    const std::string golden = std::string(ZEPHYRA_CAPTURE_GOLDEN_DIR) + "/" + s.name + ".png";
    if (regenerate) {
      ASSERT_TRUE(WriteRgbPng(golden, small, &error)) << error;
      continue;
    }
    RgbImage ref;
    ASSERT_TRUE(ReadPng(golden, &ref, &error)) << error;
    ASSERT_EQ(ref.width, 160);
    ASSERT_EQ(ref.height, 120);
    // Tolerance: rasteriser rounding may move edges by a pixel, nothing more.
    double sum = 0;
    int far = 0;
    for (size_t i = 0; i < ref.pixels.size(); ++i) {
      const int d = std::abs(static_cast<int>(ref.pixels[i]) - small.pixels[i]);
      sum += d;
      far += d > 40;
    }
    const double mean = sum / static_cast<double>(ref.pixels.size());
    EXPECT_LT(mean, 1.5) << s.name;
    EXPECT_LT(far, static_cast<int>(ref.pixels.size() / 100)) << s.name;
  }
}

// A short video: H.264 yuv420p and AAC, of the range's length, coded
// in-process (ffmpeg and ffprobe only read it back).
TEST(CaptureTool, VideoOfTheRangesLength) {
  if (FindProgram("ffmpeg").empty() || FindProgram("ffprobe").empty()) ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
  const std::string dir = Scratch("video");
  const std::string video = dir + "/clip.mp4";
  ToolResult r = RunTool(dir, {"--size", "126x95", "--fps", "25", "--from", "33", "--to", "35", "--quiet",
                               "--video", video});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(fs::exists(video));
  EXPECT_FALSE(fs::exists(video + ".video.mkv"));  // temporary files are gone
  EXPECT_FALSE(fs::exists(video + ".audio.wav"));
  EXPECT_TRUE(fs::exists(dir + "/clip.timeline.txt"));
  EXPECT_TRUE(fs::exists(dir + "/clip.contact.png"));
  const std::string info = Probe(dir, video, "-show_entries stream=codec_name,pix_fmt,width,height,nb_read_frames -count_frames");
  EXPECT_NE(info.find("codec_name=h264"), std::string::npos) << info;
  EXPECT_NE(info.find("pix_fmt=yuv420p"), std::string::npos) << info;
  EXPECT_NE(info.find("codec_name=aac"), std::string::npos) << info;
  EXPECT_NE(info.find("width=126"), std::string::npos) << info;  // odd height padded to even
  EXPECT_NE(info.find("height=96"), std::string::npos) << info;
  EXPECT_NE(info.find("nb_read_frames=50"), std::string::npos) << info;
  // The sound, encoded alongside the pictures, lasts as long as they do
  // (within one AAC frame, 23 ms) and is not silence.
  const std::string audio = Probe(dir, video, "-select_streams a:0 -show_entries stream=duration,sample_rate,channels");
  EXPECT_NE(audio.find("sample_rate=44100"), std::string::npos) << audio;
  EXPECT_NE(audio.find("channels=2"), std::string::npos) << audio;
  const size_t at = audio.find("duration=");
  ASSERT_NE(at, std::string::npos) << audio;
  EXPECT_NEAR(std::stod(audio.substr(at + 9)), 2.0, 0.024) << audio;
  const std::string pcm = dir + "/audio.raw";
  ASSERT_EQ(RunProgram(FindProgram("ffmpeg"), {"-v", "error", "-y", "-i", video, "-map", "0:a:0", "-f", "s16le", pcm}), 0);
  const std::string samples = ReadFile(pcm);
  double energy = 0;
  for (size_t i = 0; i + 1 < samples.size(); i += 2) {
    const auto v = static_cast<int16_t>(static_cast<uint8_t>(samples[i]) | (static_cast<uint8_t>(samples[i + 1]) << 8));
    energy += static_cast<double>(v) * v;
  }
  EXPECT_GT(std::sqrt(energy / static_cast<double>(samples.size() / 2)), 100.0);  // RMS, of 32767
}

// The video's pictures are the PNG frames' pictures: upright, red not swapped
// with blue, and tagged with the matrix and range they were converted with,
// so that a player turns them back into the same colours.
TEST(CaptureTool, VideoColoursMatchThePngFrames) {
  if (FindProgram("ffmpeg").empty() || FindProgram("ffprobe").empty()) ZEPHYRA_SKIP_WITHOUT("ffmpeg is not installed");
  const std::string dir = Scratch("video-colours");
  const std::string video = dir + "/clip.mp4";
  // 50 s to 50.5 s: the textured cube over the floor, in colour, and not
  // symmetric top to bottom.
  ToolResult r = RunTool(dir, {"--size", "160x120", "--fps", "10", "--from", "50", "--to", "50.5", "--quiet",
                               "--video", video});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunTool(dir, {"--size", "160x120", "--fps", "10", "--at", "50.2", "--quiet", "--out", dir + "/png"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string info = Probe(dir, video, "-select_streams v -show_entries stream=color_space,color_range");
  EXPECT_NE(info.find("color_space=smpte170m"), std::string::npos) << info;
  EXPECT_NE(info.find("color_range=tv"), std::string::npos) << info;
  // Frame 2 of the clip is the one kept at 50.2 s (frame 502 at 10 fps).
  const std::string decoded = dir + "/decoded.png";
  ASSERT_EQ(RunProgram(FindProgram("ffmpeg"), {"-v", "error", "-y", "-i", video, "-vf", "select=eq(n\\,2)", "-frames:v",
                                        "1", decoded}),
            0);
  RgbImage fromVideo, fromPng;
  std::string error;
  ASSERT_TRUE(ReadPng(decoded, &fromVideo, &error)) << error;
  ASSERT_TRUE(ReadPng(FrameFileName(dir + "/png", 502), &fromPng, &error)) << error;
  ASSERT_EQ(fromVideo.width, fromPng.width);
  ASSERT_EQ(fromVideo.height, fromPng.height);
  // Mean difference per channel value, as decoded, upside down and with red
  // and blue swapped: only the first may be small.
  double same = 0, flipped = 0, swapped = 0;
  const int32_t w = fromPng.width, h = fromPng.height;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const int p = fromPng.pixels[(static_cast<size_t>(y) * w + x) * 3 + c];
        same += std::abs(p - fromVideo.pixels[(static_cast<size_t>(y) * w + x) * 3 + c]);
        flipped += std::abs(p - fromVideo.pixels[(static_cast<size_t>(h - 1 - y) * w + x) * 3 + c]);
        swapped += std::abs(p - fromVideo.pixels[(static_cast<size_t>(y) * w + x) * 3 + 2 - c]);
      }
  const double n = static_cast<double>(fromPng.pixels.size());
  EXPECT_LT(same / n, 6.0) << "flipped " << flipped / n << ", swapped " << swapped / n;
  EXPECT_GT(flipped / n, 2 * same / n);
  EXPECT_GT(swapped / n, 2 * same / n);
}
