// The sound library in decode mode (device 0): the caller pulls audio and the
// syncs fire on the caller's thread at their exact frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "soundlib/bassmod.h"
#include "tests/soundlib/song_fixture.h"

namespace {

constexpr uint32_t Freq = 44100;

struct Fired {
  uint32_t handle, data, user;
  uint64_t frame;
  bool operator==(const Fired&) const = default;
};
std::vector<Fired> g_fired;

void Record(uint32_t handle, uint32_t data, uint32_t user) {
  g_fired.push_back({handle, data, user, BASSMOD_MusicGetSample()});
}

uint32_t Pos(uint32_t low, uint32_t high) { return (low & 0xFFFF) | ((high & 0xFFFF) << 16); }

class Decode : public ::testing::Test {
 protected:
  void SetUp() override {
    BASSMOD_Free();
    g_fired.clear();
    ASSERT_EQ(BASSMOD_Init(0, Freq, 0), 1u);
    song_ = BuildXm(TimingSong());
    ASSERT_EQ(BASSMOD_MusicLoad(1, song_.data(), 0, static_cast<uint32_t>(song_.size()), 0), 1u);
  }
  void TearDown() override { BASSMOD_Free(); }

  // Decodes `frames` frames in blocks of `block`; returns the audio.
  static std::vector<int16_t> DecodeFrames(uint64_t frames, uint32_t block) {
    std::vector<int16_t> all;
    std::vector<int16_t> buf(size_t{block} * 2);
    while (frames > 0) {
      uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, block));
      EXPECT_EQ(BASSMOD_MusicDecode(buf.data(), n), n);
      all.insert(all.end(), buf.begin(), buf.begin() + n * 2);
      frames -= n;
    }
    return all;
  }

  std::vector<uint8_t> song_;
};

// Every row start, through speed and BPM changes and two jumps back, at the
// exact frame the XM rule gives; whatever the block size, with the same audio.
TEST_F(Decode, AnyRowSyncFiresAtEveryRowStartAtItsExactFrame) {
  uint64_t end = 0;
  std::vector<ExpectedEvent> expected = TimingSongEvents(Freq, 7, &end);  // 0 1 2 1 2 1 2
  std::vector<std::vector<int16_t>> audio;
  for (uint32_t block : {1024u, 441u, 7777u}) {
    SetUp();
    uint32_t any0 = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(0, 0xFFFF), Record, 10);
    uint32_t any1 = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(1, 0xFFFF), Record, 11);
    uint32_t any2 = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(2, 0xFFFF), Record, 12);
    ASSERT_TRUE(any0 && any1 && any2);
    audio.push_back(DecodeFrames(end, block));
    std::vector<Fired> want;
    for (const ExpectedEvent& e : expected)
      if (e.row) want.push_back({any0 + e.first, Pos(e.first, e.second), 10 + e.first, e.frame});
    EXPECT_EQ(g_fired, want) << "block " << block;
    // The next order starts exactly at `end`: one more frame reaches it.
    g_fired.clear();
    DecodeFrames(1, 1);
    ASSERT_EQ(g_fired.size(), 1u);
    EXPECT_EQ(g_fired[0].frame, end);
    EXPECT_EQ(g_fired[0].data, Pos(1, 0));
    EXPECT_EQ(BASSMOD_MusicGetPosition(), Pos(1, 0));
    EXPECT_EQ(BASSMOD_MusicGetSample(), end + 1);
  }
  EXPECT_EQ(audio[0], audio[1]);
  EXPECT_EQ(audio[0], audio[2]);
}

TEST_F(Decode, PositionSyncRefiresOnEachPassAfterTheJumpAndOrderZeroNeverReturns) {
  uint64_t end = 0;
  std::vector<ExpectedEvent> expected = TimingSongEvents(Freq, 7, &end);
  uint32_t order1 = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(1, 0), Record, 1);
  uint32_t order0row2 = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(0, 2), Record, 2);
  uint32_t order2row3 = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(2, 3), Record, 3);
  DecodeFrames(end, 4096);
  std::vector<Fired> want;
  for (const ExpectedEvent& e : expected) {
    if (!e.row) continue;
    if (e.first == 1 && e.second == 0) want.push_back({order1, Pos(1, 0), 1, e.frame});
    if (e.first == 0 && e.second == 2) want.push_back({order0row2, Pos(0, 2), 2, e.frame});
    if (e.first == 2 && e.second == 3) want.push_back({order2row3, Pos(2, 3), 3, e.frame});
  }
  EXPECT_EQ(g_fired, want);
  // Order 1 three times, order 0 row 2 once, order 2 row 3 three times.
  EXPECT_EQ(want.size(), 7u);
}

// Instrument syncs fire on each note of their instrument only: a note without
// an instrument number counts for the channel's last instrument, a note delay
// fires at its delayed tick, retriggers and key offs never fire.
TEST_F(Decode, InstrumentSyncsFireOnEveryTriggerOfThatInstrumentOnly) {
  uint64_t end = 0;
  std::vector<ExpectedEvent> expected = TimingSongEvents(Freq, 5, &end);
  uint32_t any2 = BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, Pos(2, 0xFFFF), Record, 2);
  uint32_t ins1c4 = BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, Pos(1, 49), Record, 1);
  uint32_t ins1e4 = BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, Pos(1, 53), Record, 5);
  uint32_t empty3 = BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, Pos(3, 0xFFFF), Record, 3);
  uint32_t never = BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, Pos(4, 0xFFFF), Record, 4);
  ASSERT_NE(never, 0u);
  DecodeFrames(end, 1000);
  std::vector<Fired> want;
  for (const ExpectedEvent& e : expected) {
    if (e.row) continue;
    uint32_t data = Pos(e.first, e.second);
    if (e.first == 2) want.push_back({any2, data, 2, e.frame});
    if (e.first == 1 && e.second == 49) want.push_back({ins1c4, data, 1, e.frame});
    if (e.first == 1 && e.second == 53) want.push_back({ins1e4, data, 5, e.frame});
    if (e.first == 3) want.push_back({empty3, data, 3, e.frame});
  }
  EXPECT_EQ(g_fired, want);
  // Pattern 0 has two notes of instrument 2 (one without its number), pattern 1
  // one (retriggered, counted once), pattern 2 one; orders 0 1 2 1 2.
  EXPECT_EQ(std::count_if(want.begin(), want.end(), [](const Fired& f) { return f.user == 2; }), 2 + 2 * 2);
  // The delayed E-4 of pattern 1 sounds two ticks (2 x 735 frames at BPM 150) into its row.
  auto delayed = std::find_if(want.begin(), want.end(), [](const Fired& f) { return f.user == 5; });
  ASSERT_NE(delayed, want.end());
  auto row3 = std::find_if(expected.begin(), expected.end(),
                           [](const ExpectedEvent& e) { return e.row && e.first == 1 && e.second == 3; });
  EXPECT_EQ(delayed->frame, row3->frame + 2 * 735);
}

TEST_F(Decode, OnceFlagFiresOnlyAtTheFirstArrival) {
  uint64_t end = 0;
  std::vector<ExpectedEvent> expected = TimingSongEvents(Freq, 7, &end);
  uint32_t once = BASSMOD_MusicSetSync(BASS_SYNC_POS | BASS_SYNC_ONETIME, Pos(1, 0), Record, 5);
  uint32_t every = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(1, 0), Record, 7);
  uint32_t onceNote = BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST | BASS_SYNC_ONETIME, Pos(2, 0xFFFF), Record, 6);
  ASSERT_TRUE(once && every && onceNote);
  DecodeFrames(end, 2048);
  std::vector<uint32_t> users;
  for (const Fired& f : g_fired) users.push_back(f.user);
  // First note of instrument 2 at order 0 row 2; order 1 row 0 three times,
  // the once sync registered first so it fires first, and only the first time.
  EXPECT_EQ(users, (std::vector<uint32_t>{6, 5, 7, 7, 7}));
}

// The scene director's pattern: a once sync at an order start registers more
// syncs from inside its callback, including one for the very position being
// reached. That one does not fire for this arrival (and so never twice); it
// fires at every later one. A note sync registered there waits for the next row.
uint32_t g_registered[2];
void RegisterMore(uint32_t, uint32_t, uint32_t user) {
  g_fired.push_back({0, 0, user, BASSMOD_MusicGetSample()});
  g_registered[0] = BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(1, 0), Record, 20);
  g_registered[1] = BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, Pos(1, 0xFFFF), Record, 21);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_OK);
}

TEST_F(Decode, SyncRegisteredFromACallbackStartsWithTheNextRow) {
  uint64_t end = 0;
  std::vector<ExpectedEvent> expected = TimingSongEvents(Freq, 7, &end);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS | BASS_SYNC_ONETIME, Pos(1, 0), RegisterMore, 5), 0u);
  DecodeFrames(end, 3000);
  ASSERT_FALSE(g_fired.empty());
  EXPECT_EQ(g_fired[0].user, 5u);
  uint64_t first = g_fired[0].frame;  // the first arrival at order 1
  std::vector<uint64_t> order1Starts;  // later arrivals
  std::vector<uint64_t> ins1Notes;     // notes of instrument 1 after the arrival's row
  for (const ExpectedEvent& e : expected) {
    if (e.frame <= first) continue;
    if (e.row && e.first == 1 && e.second == 0) order1Starts.push_back(e.frame);
    if (!e.row && e.first == 1) ins1Notes.push_back(e.frame);
  }
  std::vector<uint64_t> got20, got21;
  for (const Fired& f : g_fired) {
    if (f.user == 20) got20.push_back(f.frame);
    if (f.user == 21) got21.push_back(f.frame);
  }
  EXPECT_EQ(got20, order1Starts);  // the 2nd and 3rd arrivals only
  EXPECT_EQ(order1Starts.size(), 2u);
  EXPECT_EQ(got21, ins1Notes);     // not the C-4 sounding with the arrival itself
  EXPECT_EQ(got21.size(), 1u + 2 + 2);
  EXPECT_NE(g_registered[0], g_registered[1]);
}

TEST_F(Decode, AudioIsTheMusicNotSilence) {
  uint64_t end = 0;
  TimingSongEvents(Freq, 1, &end);
  std::vector<int16_t> audio = DecodeFrames(end, 4096);
  size_t loud = std::count_if(audio.begin(), audio.end(), [](int16_t s) { return s > 1000 || s < -1000; });
  EXPECT_GT(loud, audio.size() / 10);
}

// A call that fails (result 0) and leaves `code` as the error code.
#define EXPECT_FAILS_WITH(call, code)      \
  do {                                     \
    EXPECT_EQ((call), 0u);                 \
    EXPECT_EQ(BASSMOD_ErrorGetCode(), (code)); \
  } while (0)

TEST(DecodeErrors, EveryCallReportsItsErrorCode) {
  BASSMOD_Free();
  std::vector<uint8_t> song = BuildXm(TimingSong());
  int16_t buf[64];
  EXPECT_FAILS_WITH(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), BASS_ERROR_INIT);
  EXPECT_FAILS_WITH(BASSMOD_MusicPlay(), BASS_ERROR_INIT);
  EXPECT_FAILS_WITH(BASSMOD_MusicDecode(buf, 16), BASS_ERROR_INIT);
  EXPECT_FAILS_WITH(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0, Record, 0), BASS_ERROR_INIT);
  EXPECT_FAILS_WITH(BASSMOD_Init(5, Freq, 0), BASS_ERROR_DEVICE);
  EXPECT_FAILS_WITH(BASSMOD_Init(-2, Freq, 0), BASS_ERROR_DEVICE);
  EXPECT_FAILS_WITH(BASSMOD_Init(0, 100, 0), BASS_ERROR_ILLPARAM);

  ASSERT_EQ(BASSMOD_Init(0, Freq, 0), 1u);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_OK);
  EXPECT_FAILS_WITH(BASSMOD_Init(0, Freq, 0), BASS_ERROR_ALREADY);
  EXPECT_FAILS_WITH(BASSMOD_MusicPlay(), BASS_ERROR_NOMUSIC);
  EXPECT_FAILS_WITH(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0, Record, 0), BASS_ERROR_NOMUSIC);
  EXPECT_FAILS_WITH(BASSMOD_MusicDecode(buf, 16), BASS_ERROR_NOMUSIC);
  EXPECT_EQ(BASSMOD_MusicGetPosition(), 0xFFFFFFFFu);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_NOMUSIC);

  ASSERT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, static_cast<uint32_t>(song.size()), 516), 1u);
  EXPECT_FAILS_WITH(BASSMOD_MusicSetSync(2, 0, Record, 0), BASS_ERROR_ILLTYPE);
  EXPECT_FAILS_WITH(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0, nullptr, 0), BASS_ERROR_ILLPARAM);
  EXPECT_FAILS_WITH(BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST, Pos(0, 0xFFFF), Record, 0), BASS_ERROR_ILLPARAM);
  uint32_t a = BASSMOD_MusicSetSync(BASS_SYNC_POS, 0, Record, 0);
  uint32_t b = BASSMOD_MusicSetSync(BASS_SYNC_MUSICINST | BASS_SYNC_ONETIME, Pos(1, 0xFFFF), Record, 0);
  EXPECT_NE(a, 0u);
  EXPECT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(BASSMOD_MusicPlay(), 1u);  // nothing to start in decode mode
  EXPECT_FAILS_WITH(BASSMOD_MusicDecode(nullptr, 16), BASS_ERROR_ILLPARAM);
  EXPECT_EQ(BASSMOD_MusicDecode(buf, 16), 16u);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_OK);

  EXPECT_EQ(BASSMOD_Free(), 1u);
  EXPECT_FAILS_WITH(BASSMOD_Free(), BASS_ERROR_INIT);
  ASSERT_EQ(BASSMOD_Init(0, Freq, 0), 1u);  // can start over
  EXPECT_FAILS_WITH(BASSMOD_MusicDecode(buf, 16), BASS_ERROR_NOMUSIC);  // the old music went with Free
  BASSMOD_Free();
}

// A second load replaces the first music and drops its syncs.
TEST_F(Decode, LoadingAgainStartsTheNewMusicFromTheTopWithoutOldSyncs) {
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(0, 0xFFFF), Record, 1), 0u);
  DecodeFrames(20000, 1000);
  EXPECT_FALSE(g_fired.empty());
  g_fired.clear();
  ASSERT_EQ(BASSMOD_MusicLoad(1, song_.data(), 0, static_cast<uint32_t>(song_.size()), 0), 1u);
  EXPECT_EQ(BASSMOD_MusicGetSample(), 0u);
  ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, Pos(0, 0), Record, 2), 0u);
  DecodeFrames(20000, 1000);
  ASSERT_EQ(g_fired.size(), 1u);
  EXPECT_EQ(g_fired[0].user, 2u);
  EXPECT_EQ(g_fired[0].frame, 0u);
}

TEST_F(Decode, LoadsFromAFileAndAnOffsetIntoMemory) {
  std::vector<uint8_t> padded(100 + song_.size(), 0xEE);
  std::copy(song_.begin(), song_.end(), padded.begin() + 100);
  EXPECT_EQ(BASSMOD_MusicLoad(1, padded.data(), 100, static_cast<uint32_t>(song_.size()), 0), 1u);
  EXPECT_FAILS_WITH(BASSMOD_MusicLoad(1, padded.data(), 99, static_cast<uint32_t>(song_.size()), 0),
                    BASS_ERROR_FORMAT);

  std::string path = testing::TempDir() + "decode_test_song.xm";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(padded.data(), 1, padded.size(), f);
  std::fclose(f);
  EXPECT_EQ(BASSMOD_MusicLoad(0, path.c_str(), 100, 0, 0), 1u);
  EXPECT_FAILS_WITH(BASSMOD_MusicLoad(0, path.c_str(), 100, static_cast<uint32_t>(song_.size()) - 1, 0),
                    BASS_ERROR_FORMAT);
  std::remove(path.c_str());
  EXPECT_FAILS_WITH(BASSMOD_MusicLoad(0, path.c_str(), 0, 0, 0), BASS_ERROR_FILEOPEN);
}

}  // namespace
