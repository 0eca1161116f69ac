// The whole demo timeline, offline: the embedded module is played by the
// sound library in decode mode (no audio device, syncs fired on this thread
// at their exact sample positions), and the animation tick runs after every
// 40 ms of decoded audio, as the window timer would. Audio is pulled in
// blocks of 147 frames (3.3 ms) so that each sync's effect is placed within
// 3.3 ms; the tick runs after every twelfth block.
//
// Prints the observed timeline (times in seconds of music) for the record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "choreo/choreo_test_util.h"
#include "choreo/director.h"
#include "choreo/tick.h"
#include "music/music.h"

namespace {

constexpr uint32_t SampleRate = 44100;
constexpr uint32_t BlockFrames = 147;  // 3.3 ms
constexpr int BlocksPerTick = 12;      // 40 ms
constexpr double MaxSeconds = 90.0;

struct TickRecord {
  double t;
  int8_t mode;
  int32_t cues;
};

// Something a sync changed during one block, at the block's end.
struct SyncRecord {
  double t;
  std::string what;  // "mode", "flash", "captionB", "cue", "beat", "note5", "done"
  int value;
};

struct OrderStart {
  double t;
  int order;
  int row;
};

struct Timeline {
  std::vector<TickRecord> ticks;
  std::vector<SyncRecord> syncs;
  std::vector<OrderStart> orders;
  double doneAt = -1;

  std::vector<double> Times(const std::string& what, int value = -1) const {
    std::vector<double> out;
    for (const SyncRecord& s : syncs)
      if (s.what == what && (value < 0 || s.value == value)) out.push_back(s.t);
    return out;
  }
};

struct Snapshot {
  int8_t mode;
  float fade, zoom, red, green, blue;
  int32_t frame, useB, cues;
  uint8_t done;
};

Snapshot Take() {
  const DemoGlobalsRecord& g = DemoGlobals;
  return {g.SceneMode.load(), g.CaptionFade.load(), g.BeatZoom.load(), g.MorphRed.load(),
          g.MorphGreen.load(), g.MorphBlue.load(), g.MorphFrame.load(), g.UseCaptionB.load(),
          g.CueCount.load(), g.DemoDone.load()};
}

// Runs the demo's start-up sequence of the music and choreography in decode
// mode and plays until DemoDone (or MaxSeconds).
bool RunTimeline(Timeline* out, std::string* error) {
  ResetDemoForChoreo(SceneModeStartUp);
  RandomSeed(20261207);
  DemoGlobals.ObjectTextureIndex.store(static_cast<int8_t>(Random(6)));

  CreateDynLibTable();
  // Device 0: no output; the caller pulls the audio.
  MusicInit(MusicLibrarySlot, MusicLibraryPath, 0, SampleRate, 0);
  if (DynLibFindFunction(MusicLibrarySlot, "BASSMOD_Init") == nullptr) {
    *error = std::string(MusicLibraryPath) + " did not load (run from the folder that holds it)";
    DynLibCloseAll();
    return false;
  }
  if (MusicLoad(MusicLibrarySlot, 1, MusicModule, 0, MusicModuleSize, 516) == 0) {
    *error = std::string("module did not load: ") + MusicErrorText(MusicLibrarySlot);
    DynLibCloseAll();
    return false;
  }
  RegisterMusicSyncs();
  DemoGlobals.SceneMode.store(SceneModeCaptionIn);

  // The decode calls are not among the music operations; find them by name
  // in the slot, as the binding would.
  auto decode = reinterpret_cast<uint32_t (*)(void*, uint32_t)>(
      DynLibFindFunction(MusicLibrarySlot, "BASSMOD_MusicDecode"));
  auto position =
      reinterpret_cast<uint32_t (*)()>(DynLibFindFunction(MusicLibrarySlot, "BASSMOD_MusicGetPosition"));
  if (decode == nullptr || position == nullptr) {
    *error = "no decode mode in the sound library";
    DynLibCloseAll();
    return false;
  }

  std::vector<int16_t> audio(BlockFrames * 2);
  uint64_t frames = 0;
  int lastOrder = -1;
  for (int block = 1; frames < uint64_t(MaxSeconds * SampleRate); ++block) {
    const Snapshot before = Take();
    const uint32_t got = decode(audio.data(), BlockFrames);
    if (got == 0) {
      *error = "decode stopped at " + std::to_string(double(frames) / SampleRate) + " s";
      break;
    }
    frames += got;
    const double t = double(frames) / SampleRate;
    const Snapshot after = Take();
    // Only syncs run during the decode call, so every change is theirs.
    if (after.mode != before.mode) out->syncs.push_back({t, "mode", after.mode});
    if (after.fade != before.fade && after.fade == 0.5f) out->syncs.push_back({t, "flash", 0});
    if (after.useB != before.useB) out->syncs.push_back({t, "captionB", after.useB});
    if (after.cues != before.cues) out->syncs.push_back({t, "cue", after.cues});
    if (after.zoom > before.zoom) out->syncs.push_back({t, "beat", 0});
    if (after.frame != before.frame || after.red != before.red || after.green != before.green ||
        after.blue != before.blue)
      out->syncs.push_back({t, "note5", after.frame});
    if (after.done && !before.done) {
      out->syncs.push_back({t, "done", after.cues});
      out->doneAt = t;
    }
    const uint32_t pos = position();
    const int order = int(pos & 0xFFFF), row = int(pos >> 16);
    if (order != lastOrder) out->orders.push_back({t, order, row});
    lastOrder = order;

    if (block % BlocksPerTick == 0) {
      TickAnimation();
      out->ticks.push_back({t, DemoGlobals.SceneMode.load(), DemoGlobals.CueCount.load()});
    }
    if (DemoGlobals.DemoDone.load()) break;  // the main loop would end here
  }
  DynLibCloseAll();
  return true;
}

void Print(const Timeline& tl) {
  std::printf("timeline (s of music):\n");
  for (const SyncRecord& s : tl.syncs)
    if (s.what != "beat" && s.what != "note5") std::printf("  %7.2f  %-8s %d\n", s.t, s.what.c_str(), s.value);
  std::printf("order starts:");
  for (const OrderStart& o : tl.orders) std::printf(" %d@%.2f", o.order, o.t);
  std::printf("\nbeats: %zu (first %.2f), instrument-5 notes: %zu (first %.2f), ticks: %zu\n",
              tl.Times("beat").size(), tl.Times("beat").empty() ? -1.0 : tl.Times("beat")[0],
              tl.Times("note5").size(), tl.Times("note5").empty() ? -1.0 : tl.Times("note5")[0],
              tl.ticks.size());
}

// The expected times are stated to 10 ms (27.8 and 33.8 to 100 ms, being
// 27.82 and 33.82); a sync is seen at the end of its 3.3 ms block.
constexpr double Slack = 0.03;

#define EXPECT_AT(t, expected) EXPECT_NEAR((t), (expected), Slack)

class WholeTimeline : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tl_ = new Timeline;
    ok_ = RunTimeline(tl_, &error_);
    if (ok_) Print(*tl_);
  }
  static void TearDownTestSuite() {
    delete tl_;
    ClearDemoGlobals();
  }
  void SetUp() override { ASSERT_TRUE(ok_) << error_; }

  // The mode the tick records show at time t (the last tick at or before t).
  static int8_t ModeAt(double t) {
    int8_t mode = SceneModeCaptionIn;
    for (const TickRecord& r : tl_->ticks) {
      if (r.t > t + 1e-9) break;
      mode = r.mode;
    }
    return mode;
  }

  static Timeline* tl_;
  static bool ok_;
  static std::string error_;
};
Timeline* WholeTimeline::tl_ = nullptr;
bool WholeTimeline::ok_ = false;
std::string WholeTimeline::error_;

TEST_F(WholeTimeline, FirstCaptionFadesInThenOutWithTwoFlashes) {
  ASSERT_FALSE(tl_->ticks.empty());
  EXPECT_EQ(tl_->ticks[0].mode, SceneModeCaptionIn);
  // 25 ticks of fading in (1.0 s), then out.
  EXPECT_EQ(ModeAt(0.96), SceneModeCaptionIn);
  EXPECT_EQ(ModeAt(1.0), SceneModeCaptionOut);
  const std::vector<double> flashes = tl_->Times("flash");
  ASSERT_GE(flashes.size(), 2u);
  EXPECT_AT(flashes[0], 1.61);
  EXPECT_AT(flashes[1], 1.96);
  EXPECT_EQ(ModeAt(4.2), SceneModeCaptionOut);  // the flashes leave the mode alone
  for (const SyncRecord& s : tl_->syncs) {
    if (s.t >= 4.2) break;
    EXPECT_TRUE(s.what == "flash") << s.what << " at " << s.t;
  }
}

TEST_F(WholeTimeline, MorphFromOrderOneBouncesBetweenFourAndEight) {
  const std::vector<double> toFour = tl_->Times("mode", SceneModeMorphRising);
  ASSERT_FALSE(toFour.empty());
  EXPECT_AT(toFour[0], 4.29);
  int turns = 0;
  int8_t last = 4;
  for (const TickRecord& r : tl_->ticks) {
    if (r.t <= toFour[0] || r.t >= 27.8) continue;
    ASSERT_TRUE(r.mode == SceneModeMorphRising || r.mode == SceneModeMorphFalling)
        << int(r.mode) << " at " << r.t;
    if (r.mode != last) ++turns;
    last = r.mode;
  }
  // A full bounce takes 99 ticks (3.96 s), about 23.5 s of morph: at most 12
  // turns; from order 3 on the notes put the frame anywhere, so fewer.
  EXPECT_GE(turns, 6);
  EXPECT_LE(turns, 12);
  // Instrument 5 recolours the body from order 3 on (never in orders 0 to 2).
  const std::vector<double> notes = tl_->Times("note5");
  ASSERT_FALSE(notes.empty());
  EXPECT_GT(notes[0], 15.5);
  EXPECT_LT(notes[0], 27.8);
}

TEST_F(WholeTimeline, SecondCaptionFromOrderFiveWithItsFlashes) {
  const std::vector<double> captionB = tl_->Times("captionB", 1);
  ASSERT_EQ(captionB.size(), 1u);
  EXPECT_AT(captionB[0], 27.8);
  const std::vector<double> toOne = tl_->Times("mode", SceneModeCaptionIn);
  ASSERT_EQ(toOne.size(), 1u);
  EXPECT_EQ(toOne[0], captionB[0]);
  const std::vector<double> flashes = tl_->Times("flash");
  ASSERT_EQ(flashes.size(), 4u);
  EXPECT_AT(flashes[2], 27.8 + 2.25);
  EXPECT_AT(flashes[3], 27.8 + 2.75);
  EXPECT_EQ(ModeAt(28.7), SceneModeCaptionIn);
  EXPECT_EQ(ModeAt(29.0), SceneModeCaptionOut);
}

TEST_F(WholeTimeline, CubeFromOrderSixOnceWithBeats) {
  const std::vector<double> toCube = tl_->Times("mode", SceneModeCube);
  ASSERT_EQ(toCube.size(), 1u);
  EXPECT_AT(toCube[0], 33.8);
  for (const TickRecord& r : tl_->ticks) {
    if (r.t > toCube[0]) {
      ASSERT_EQ(r.mode, SceneModeCube) << r.t;
    }
  }
  // The beat sync exists only from the cube's start.
  const std::vector<double> beats = tl_->Times("beat");
  ASSERT_FALSE(beats.empty());
  EXPECT_GE(beats[0], toCube[0]);
  EXPECT_GT(beats.size(), 30u);
  // Mode changes over the run: 4, 1, 16 by syncs; the tick's own turns are
  // not seen inside a decode call.
  std::vector<int> modes;
  for (const SyncRecord& s : tl_->syncs)
    if (s.what == "mode") modes.push_back(s.value);
  EXPECT_EQ(modes, (std::vector<int>{4, 1, 16}));
}

TEST_F(WholeTimeline, OneCuePerOrderStartAndTheEndAtTheEleventh) {
  const double cubeAt = tl_->Times("mode", SceneModeCube).at(0);
  const std::vector<double> cues = tl_->Times("cue");
  std::vector<double> starts;  // order starts after the cube scene began
  for (const OrderStart& o : tl_->orders) {
    if (o.t <= cubeAt + 1e-9) continue;
    EXPECT_GE(o.order, 6);
    EXPECT_LE(o.order, 9);
    starts.push_back(o.t);
  }
  // The arrival at order 6 that starts the cube may or may not give a cue;
  // every later order start gives exactly one, in the same block.
  const bool cueOnArrival = !cues.empty() && cues[0] == cubeAt;
  std::vector<double> later(cues.begin() + (cueOnArrival ? 1 : 0), cues.end());
  ASSERT_EQ(later.size(), starts.size());
  for (size_t i = 0; i < later.size(); ++i) EXPECT_EQ(later[i], starts[i]) << i;
  ASSERT_EQ(cues.size(), 11u);
  EXPECT_EQ(tl_->doneAt, cues[10]);
  EXPECT_GE(tl_->doneAt, 71.0);
  EXPECT_LE(tl_->doneAt, 76.0);
  EXPECT_EQ(tl_->Times("done").size(), 1u);
  // The recorded cue count per tick rises by one at a time, to 11.
  int32_t last = 0;
  for (const TickRecord& r : tl_->ticks) {
    ASSERT_TRUE(r.cues == last || r.cues == last + 1) << r.t;
    last = r.cues;
  }
  EXPECT_EQ(DemoGlobals.CueCount.load(), 11);
  EXPECT_EQ(DemoGlobals.DemoDone.load(), 1);
}

}  // namespace
