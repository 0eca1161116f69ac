// Damaged modules are refused with an error code and never crash the library
// (this suite runs under AddressSanitizer too).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "soundlib/bassmod.h"
#include "tests/soundlib/song_fixture.h"

namespace {

void Ignore(uint32_t, uint32_t, uint32_t) {}

class BrokenModule : public ::testing::Test {
 protected:
  void SetUp() override {
    BASSMOD_Free();
    ASSERT_EQ(BASSMOD_Init(0, 44100, 0), 1u);
  }
  void TearDown() override { BASSMOD_Free(); }

  static uint32_t Load(const std::vector<uint8_t>& data) {
    return BASSMOD_MusicLoad(1, data.data(), 0, static_cast<uint32_t>(data.size()), 0);
  }
  static void ExpectRefused(const std::vector<uint8_t>& data, const char* what) {
    EXPECT_EQ(Load(data), 0u) << what;
    EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_FORMAT) << what;
  }
  static void Put16(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    d[at] = v & 0xFF;
    d[at + 1] = (v >> 8) & 0xFF;
  }
  static void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    Put16(d, at, v & 0xFFFF);
    Put16(d, at + 2, v >> 16);
  }
};

TEST_F(BrokenModule, EmptyNullAndForeignDataAreRefused) {
  std::vector<uint8_t> song = BuildXm(TimingSong());
  EXPECT_EQ(BASSMOD_MusicLoad(1, song.data(), 0, 0, 0), 0u);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_FORMAT);
  EXPECT_EQ(BASSMOD_MusicLoad(1, nullptr, 0, 100, 0), 0u);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  std::vector<uint8_t> noise(4000);
  std::mt19937 rng(7);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
  ExpectRefused(noise, "noise");
  std::vector<uint8_t> oldVersion = song;
  Put16(oldVersion, 58, 0x0103);
  ExpectRefused(oldVersion, "version 0x0103");
  // Nothing loaded: no syncs can be set.
  EXPECT_EQ(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0, Ignore, 0), 0u);
  EXPECT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_NOMUSIC);
}

TEST_F(BrokenModule, EveryTruncationIsRefused) {
  std::vector<uint8_t> song = BuildXm(TimingSong());
  ASSERT_EQ(Load(song), 1u);
  for (size_t n = 1; n < song.size(); ++n) {
    // A copy of exactly n bytes, so AddressSanitizer sees any read past it.
    std::vector<uint8_t> cut(song.begin(), song.begin() + static_cast<std::ptrdiff_t>(n));
    ASSERT_EQ(Load(cut), 0u) << n << " of " << song.size() << " bytes";
    ASSERT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_FORMAT);
  }
}

TEST_F(BrokenModule, AbsurdCountsAndSizesAreRefused) {
  XmSong one = TimingSong();
  one.instruments = {XmSquareInstrument(32)};  // the last instrument: 263 + 40 + 32 bytes
  const std::vector<uint8_t> song = BuildXm(one);
  ASSERT_EQ(Load(song), 1u);
  const size_t instrument = song.size() - (263 + 40 + 32);
  const size_t sample = instrument + 263;
  struct Damage {
    const char* what;
    size_t at;
    int width;
    uint32_t value;
  };
  const Damage damages[] = {
      {"header size 0", XmOffsetHeaderSize, 32, 0},
      {"header size huge", XmOffsetHeaderSize, 32, 0xFFFFFFFF},
      {"song length 0", XmOffsetSongLength, 16, 0},
      {"song length 4096", XmOffsetSongLength, 16, 4096},
      {"channels 0", XmOffsetChannels, 16, 0},
      {"channels 200", XmOffsetChannels, 16, 200},
      {"patterns 65535", XmOffsetPatterns, 16, 0xFFFF},
      {"patterns one more", XmOffsetPatterns, 16, 4},
      {"instruments 65535", XmOffsetInstruments, 16, 0xFFFF},
      {"instruments one more", XmOffsetInstruments, 16, 2},
      {"speed 0", 76, 16, 0},
      {"bpm 0", 78, 16, 0},
      {"pattern header 0", XmOffsetFirstPattern, 32, 0},
      {"pattern header huge", XmOffsetFirstPattern, 32, 0x7FFFFFFF},
      {"pattern rows 0", XmOffsetFirstPattern + 5, 16, 0},
      {"pattern rows 65535", XmOffsetFirstPattern + 5, 16, 0xFFFF},
      {"pattern packed size huge", XmOffsetFirstPattern + 7, 16, 0xFFFF},
      {"pattern packed size short", XmOffsetFirstPattern + 7, 16, 3},
      {"instrument header 0", instrument, 32, 0},
      {"instrument header huge", instrument, 32, 0xFFFFFFF0},
      {"samples 65535", instrument + 27, 16, 0xFFFF},
      {"sample header size 0", instrument + 29, 32, 0},
      {"sample map past the samples", instrument + 33 + 40, 8, 3},
      {"volume envelope points 200", instrument + 225, 8, 200},
      {"sample length huge", sample, 32, 0x7FFFFFFF},
      {"sample length one more", sample, 32, 33},
      {"loop past the end", sample + 8, 32, 1000},
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> bad = song;
    if (d.width == 8) bad[d.at] = static_cast<uint8_t>(d.value);
    if (d.width == 16) Put16(bad, d.at, d.value);
    if (d.width == 32) Put32(bad, d.at, d.value);
    ExpectRefused(bad, d.what);
  }
  // A pattern cell with a note past key off.
  XmSong badNote = TimingSong();
  badNote.patterns[0].At(1, 0).note = 120;
  ExpectRefused(BuildXm(badNote), "note 120");
}

// Random damage to a valid module: every copy is either refused with the
// format code or loads and plays; nothing reads out of bounds.
TEST_F(BrokenModule, RandomDamageIsRefusedOrPlaysSafely) {
  const std::vector<uint8_t> song = BuildXm(TimingSong());
  std::mt19937 rng(12345);
  std::vector<int16_t> audio(2 * 4096);
  int loaded = 0, refused = 0;
  for (int round = 0; round < 600; ++round) {
    std::vector<uint8_t> bad = song;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
    if (Load(bad) == 0) {
      ASSERT_EQ(BASSMOD_ErrorGetCode(), BASS_ERROR_FORMAT);
      ++refused;
      continue;
    }
    ++loaded;
    ASSERT_NE(BASSMOD_MusicSetSync(BASS_SYNC_POS, 0xFFFF0000u, Ignore, 0), 0u);
    for (int block = 0; block < 6; ++block) BASSMOD_MusicDecode(audio.data(), 4096);
  }
  // Most single-byte damage lands in names, notes or samples and still plays.
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
