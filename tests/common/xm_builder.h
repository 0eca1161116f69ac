// Test support: builds small, valid Extended Module (XM, version 0x0104)
// files in memory, so tests can play exactly the song they describe.
//
// Usage:
//   XmSong song;                          // 2 channels, speed 6, BPM 125
//   XmPattern& p = AddPattern(song, 16);  // 16 rows, all cells empty
//   p.At(0, 0) = XmCell{XmNoteC4, 1};     // row 0, channel 0: C-4 of instrument 1
//   p.At(0, 1).effect = XmFxSpeedBpm;     // F08: speed 8 ticks per row
//   p.At(0, 1).param = 8;
//   song.instruments.push_back(XmSquareInstrument());
//   song.orders = {0, 0};                 // the order table (pattern numbers)
//   std::vector<uint8_t> bytes = BuildXm(song);
//
// Timing reminder (the XM rule): one tick lasts 2.5 / BPM seconds, a row lasts
// `speed` ticks. Notes are the XM numbers: 1 = C-0 ... 96 = B-7, 97 = key off.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One pattern cell. 0 in a field means "nothing there".
struct XmCell {
  uint8_t note = 0;        // 1..96, or XmKeyOff
  uint8_t instrument = 0;  // 1-based instrument number
  uint8_t volume = 0;      // volume column byte (0x10..0x50 sets volume 0..64)
  uint8_t effect = 0;      // effect type (XmFx...)
  uint8_t param = 0;       // effect parameter
};

struct XmPattern {
  int rows = 64;
  int channels = 2;
  std::vector<XmCell> cells;  // rows * channels, row-major
  XmCell& At(int row, int channel) { return cells.at(static_cast<size_t>(row * channels + channel)); }
  const XmCell& At(int row, int channel) const { return cells.at(static_cast<size_t>(row * channels + channel)); }
};

// An instrument with at most one sample. An empty `sample` gives an
// instrument with no sample at all (a legal XM instrument that plays nothing).
struct XmInstrument {
  std::string name;
  std::vector<int8_t> sample;  // 8-bit signed PCM (stored delta-encoded by BuildXm)
  bool loop = true;            // forward loop over the whole sample
  uint8_t volume = 64;         // 0..64
  int8_t relativeNote = 0;     // semitones added to every note
};

struct XmSong {
  std::string name = "test";
  int channels = 2;   // 1..32
  int speed = 6;      // default ticks per row
  int bpm = 125;      // default BPM (32..255)
  int restart = 0;    // order restarted after the last one
  bool linear = true; // linear frequency table
  std::vector<uint8_t> orders;       // pattern number per order
  std::vector<XmPattern> patterns;
  std::vector<XmInstrument> instruments;
};

// XM effect numbers as stored in the pattern data.
constexpr uint8_t XmFxJump = 0x0B;      // Bxx: jump to order xx after this row
constexpr uint8_t XmFxBreak = 0x0D;     // Dxx: break to row xx (decimal digits) of the next order
constexpr uint8_t XmFxExtended = 0x0E;  // Exy: E9x retrigger every x ticks, EDx note delay x ticks
constexpr uint8_t XmFxSpeedBpm = 0x0F;  // Fxx: xx < 0x20 sets speed (ticks per row), else BPM
constexpr uint8_t XmKeyOff = 97;
constexpr uint8_t XmNoteC4 = 49;        // C-4 (middle C in the tracker's naming)

// Adds an empty pattern of `rows` rows with the song's channel count; returns it.
// The reference stays valid until the next AddPattern.
XmPattern& AddPattern(XmSong& song, int rows);
// A looping square wave of `length` samples (period `length`), loud enough to hear.
XmInstrument XmSquareInstrument(int length = 32);
// An instrument without a sample.
XmInstrument XmEmptyInstrument();
// Serialises the song as an XM file. Patterns are written packed.
std::vector<uint8_t> BuildXm(const XmSong& song);

// Offsets into a BuildXm result, for tests that corrupt particular fields.
constexpr size_t XmOffsetHeaderSize = 60;   // uint32 header size (276)
constexpr size_t XmOffsetSongLength = 64;   // uint16
constexpr size_t XmOffsetChannels = 68;     // uint16
constexpr size_t XmOffsetPatterns = 70;     // uint16
constexpr size_t XmOffsetInstruments = 72;  // uint16
constexpr size_t XmOffsetFirstPattern = 336;  // the first pattern header
