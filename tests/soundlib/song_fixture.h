// Test songs: a row on every tick, and a small song with speed and BPM
// changes, notes of three instruments, a retrigger, a note delay, a key off
// and a jump back, plus its expected timeline worked out by hand from the XM
// rules (not from the player).
#pragma once
#include <cstdint>
#include <numeric>
#include <vector>

#include "tests/common/xm_builder.h"

// Orders 0, 1, 2 (patterns 0, 1, 2); row 5 of pattern 2 jumps to order 1, so
// the song plays 0 1 2 1 2 1 2 ... Channel 0 carries the notes, channel 1 the
// tempo effects.
//  pattern 0, 8 rows: r0 C-4 ins 1 | r2 D-4 ins 2 | r4 speed 3 | r5 E-4, no
//                     instrument (ins 2 carries on) | r6 key off
//  pattern 1, 4 rows: r0 C-4 ins 1, BPM 150 | r1 D-4 ins 2 with E91 (retrigger
//                     every tick) | r3 E-4 ins 1 with ED2 (delayed 2 ticks)
//  pattern 2, 6 rows: r0 C-4 ins 3 (no sample), BPM 80 | r3 G-4 ins 2, BPM 255
//                     | r5 jump to order 1
inline XmSong TimingSong() {
  XmSong s;
  s.speed = 6;
  s.bpm = 125;
  XmPattern& p0 = AddPattern(s, 8);
  p0.At(0, 0) = XmCell{49, 1};
  p0.At(2, 0) = XmCell{51, 2};
  p0.At(4, 1) = XmCell{0, 0, 0, XmFxSpeedBpm, 3};
  p0.At(5, 0) = XmCell{53, 0};
  p0.At(6, 0) = XmCell{XmKeyOff, 0};
  XmPattern& p1 = AddPattern(s, 4);
  p1.At(0, 0) = XmCell{49, 1};
  p1.At(0, 1) = XmCell{0, 0, 0, XmFxSpeedBpm, 150};
  p1.At(1, 0) = XmCell{51, 2, 0, XmFxExtended, 0x91};
  p1.At(3, 0) = XmCell{53, 1, 0, XmFxExtended, 0xD2};
  XmPattern& p2 = AddPattern(s, 6);
  p2.At(0, 0) = XmCell{49, 3};
  p2.At(0, 1) = XmCell{0, 0, 0, XmFxSpeedBpm, 80};
  p2.At(3, 0) = XmCell{56, 2};
  p2.At(3, 1) = XmCell{0, 0, 0, XmFxSpeedBpm, 255};
  p2.At(5, 1) = XmCell{0, 0, 0, XmFxJump, 1};
  s.instruments = {XmSquareInstrument(32), XmSquareInstrument(16), XmEmptyInstrument()};
  s.orders = {0, 1, 2};
  return s;
}

// One 64-row pattern with a row every tick (speed 1, BPM 125): 882 frames,
// 20 ms, at 44,100 Hz, so row syncs keep coming and fall at every place in
// 1,024-frame output buffers. A C-4 of a square instrument on row 0.
inline std::vector<uint8_t> RowEveryTickSong() {
  XmSong s;
  s.speed = 1;
  s.bpm = 125;
  AddPattern(s, 64).At(0, 0) = XmCell{XmNoteC4, 1};
  s.instruments = {XmSquareInstrument()};
  s.orders = {0};
  return BuildXm(s);
}

struct ExpectedEvent {
  bool row;         // true: row start (first = order, second = row); false: note
  uint32_t first;   // order, or instrument
  uint32_t second;  // row, or note
  uint64_t frame;
};

// Exact frames of the XM rule: a tick is freq * 2.5 / BPM frames. Kept as a
// reduced fraction; the tick starts at the floor of the running sum.
struct ExactTime {
  __int128 num = 0, den = 1;
  void AddTick(uint32_t freq, uint32_t bpm) {
    __int128 n = __int128{freq} * 5, d = __int128{bpm} * 2;
    num = num * d + n * den;
    den *= d;
    __int128 g = std::gcd(static_cast<int64_t>(num % den), static_cast<int64_t>(den));
    if (g > 1) {
      num /= g;
      den /= g;
    }
  }
  uint64_t Floor() const { return static_cast<uint64_t>(num / den); }
};

// The song's events for the first `orderCount` orders played (0 1 2 1 2 ...),
// and in *endFrame the frame where the next order starts.
inline std::vector<ExpectedEvent> TimingSongEvents(uint32_t freq, int orderCount, uint64_t* endFrame) {
  struct Note {
    int pattern, row, ins, note, delayTicks;
  };
  const Note notes[] = {{0, 0, 1, 49, 0}, {0, 2, 2, 51, 0}, {0, 5, 2, 53, 0}, {1, 0, 1, 49, 0},
                        {1, 1, 2, 51, 0}, {1, 3, 1, 53, 2}, {2, 0, 3, 49, 0}, {2, 3, 2, 56, 0}};
  const int rows[] = {8, 4, 6};
  std::vector<ExpectedEvent> out;
  ExactTime t;
  uint32_t speed = 6, bpm = 125;
  for (int i = 0; i < orderCount; ++i) {
    int order = i < 3 ? i : 1 + (i - 1) % 2;
    int pattern = order;
    for (int r = 0; r < rows[pattern]; ++r) {
      if (pattern == 0 && r == 4) speed = 3;
      if (pattern == 1 && r == 0) bpm = 150;
      if (pattern == 2 && r == 0) bpm = 80;
      if (pattern == 2 && r == 3) bpm = 255;
      for (uint32_t tick = 0; tick < speed; ++tick) {
        if (tick == 0) out.push_back({true, static_cast<uint32_t>(order), static_cast<uint32_t>(r), t.Floor()});
        for (const Note& n : notes)
          if (n.pattern == pattern && n.row == r && n.delayTicks == static_cast<int>(tick))
            out.push_back({false, static_cast<uint32_t>(n.ins), static_cast<uint32_t>(n.note), t.Floor()});
        t.AddTick(freq, bpm);
      }
    }
  }
  *endFrame = t.Floor();
  return out;
}
