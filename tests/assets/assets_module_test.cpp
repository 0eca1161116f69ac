// The embedded XM tune, read three ways: its bytes walked field by field,
// played tick by tick with libxmp (the player the demo's sound library is
// built on) and with libopenmpt (an independent player, used only here).
// The scene director cues on order starts, rows 9 and 11 of orders 0 and 5,
// and notes of instruments 4 and 5, so those are what is checked.
#include <gtest/gtest.h>

#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "assets/assets.h"

namespace {

// What each order must be: rows, speed and BPM at row 0, length in seconds
// (to 0.01 s), whether instruments 4 and 5 are played in it.
struct OrderFact {
  int rows, speed, bpm;
  double length;
  bool ins4, ins5;
};
constexpr OrderFact kOrders[10] = {
    {24, 8, 112, 4.29, false, false}, {96, 6, 255, 5.65, true, false},
    {96, 6, 255, 5.65, true, false},  {96, 6, 255, 5.65, true, true},
    {96, 6, 255, 6.59, true, true},   {24, 8, 80, 6.00, false, false},
    {64, 6, 255, 3.76, true, true},   {64, 6, 255, 3.76, true, true},
    {64, 6, 255, 3.76, true, true},   {64, 6, 255, 3.76, true, true},
};
constexpr int kOrderTable[10] = {9, 0, 1, 2, 6, 12, 8, 10, 8, 13};
constexpr double kTolerance = 0.005;  // seconds

// Both players render a whole number of samples per tick and count time by
// the samples rendered. At 45,696 Hz the ticks at BPM 255, 112 and 80 are
// whole (448, 1,020 and 1,428 samples), so the players' clocks follow the XM
// rule exactly there; only the 12 ramp rows of order 4 round, by under 2 ms
// in all. (At 44,100 Hz a 255-BPM tick of 432.35 samples is cut to 432 and
// the clock runs 0.08 % fast, 21 ms by order 6.)
constexpr int kRate = 45696;

// Length of an order by the XM rule (2.5 / BPM seconds per tick). Order 4's
// BPM falls row by row, so its length is taken from the table instead.
double RuleLength(int order) {
  const OrderFact& f = kOrders[order];
  if (order == 4) return f.length;
  return f.rows * f.speed * 2.5 / f.bpm;
}

// Expected start of the n-th order visited: 0-9 once, then 6-9 repeating.
std::vector<std::pair<int, double>> ExpectedVisits(int count) {
  std::vector<std::pair<int, double>> v;
  double t = 0;
  for (int i = 0; i < count; ++i) {
    int order = i < 10 ? i : 6 + (i - 10) % 4;
    v.push_back({order, t});
    t += RuleLength(order);
  }
  return v;
}

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

// ---------------------------------------------------------------------------
// The bytes.
// ---------------------------------------------------------------------------
TEST(MusicModuleBytes, HeaderFacts) {
  ASSERT_EQ(MusicModuleSize, 12470u);
  const uint8_t* m = MusicModule;
  EXPECT_EQ(std::memcmp(m, "Extended Module: ", 17), 0);
  EXPECT_EQ(m[37], 0x1A);
  EXPECT_EQ(Le16(m + 58), 0x0104);  // version
  EXPECT_EQ(Le32(m + 60), 276u);    // header size
  EXPECT_EQ(Le16(m + 64), 10);      // song length
  EXPECT_EQ(Le16(m + 66), 0);       // restart position
  EXPECT_EQ(Le16(m + 68), 2);       // channels
  EXPECT_EQ(Le16(m + 70), 16);      // patterns
  EXPECT_EQ(Le16(m + 72), 7);       // instruments
  EXPECT_EQ(Le16(m + 74), 1);       // flags: linear frequency table
  EXPECT_EQ(Le16(m + 76), 4);       // default speed
  EXPECT_EQ(Le16(m + 78), 145);     // default BPM
  for (int i = 0; i < 10; ++i) EXPECT_EQ(m[80 + i], kOrderTable[i]) << "order " << i;
  for (int i = 10; i < 256; ++i) ASSERT_EQ(m[80 + i], 0) << "order slot " << i;
}

// Walks every pattern, instrument and sample; the last sample must end
// exactly at the last byte (no padding after the music), instrument 6 must
// have no sample, and the patterns in the order table must have the rows the
// scene timing needs.
TEST(MusicModuleBytes, StructureFillsTheFileExactly) {
  const uint8_t* m = MusicModule;
  size_t at = 60 + Le32(m + 60);
  std::map<int, int> rows;
  for (int p = 0; p < 16; ++p) {
    ASSERT_LE(at + 9, MusicModuleSize);
    ASSERT_EQ(Le32(m + at), 9u) << "pattern " << p;
    EXPECT_EQ(m[at + 4], 0) << "packing type, pattern " << p;
    rows[p] = Le16(m + at + 5);
    size_t packed = Le16(m + at + 7);
    ASSERT_GT(packed, 0u) << "pattern " << p << " is stored empty";
    // Unpack to count cells: rows * channels of them, no more, no less.
    size_t q = at + 9, end = q + packed, cells = 0;
    ASSERT_LE(end, MusicModuleSize);
    while (q < end) {
      uint8_t b = m[q++];
      if (b & 0x80) {
        for (int bit = 0; bit < 5; ++bit) q += (b >> bit) & 1;
      } else {
        q += 4;
      }
      ++cells;
    }
    EXPECT_EQ(q, end) << "pattern " << p;
    EXPECT_EQ(cells, size_t(rows[p]) * 2) << "pattern " << p;
    at = end;
  }
  for (int o = 0; o < 10; ++o) EXPECT_EQ(rows[kOrderTable[o]], kOrders[o].rows) << "order " << o;

  for (int i = 1; i <= 7; ++i) {
    ASSERT_LE(at + 29, MusicModuleSize);
    uint32_t size = Le32(m + at);
    uint16_t samples = Le16(m + at + 27);
    if (i == 6) {
      EXPECT_EQ(samples, 0) << "instrument 6 carries no sample";
    } else {
      EXPECT_EQ(samples, 1) << "instrument " << i;
    }
    uint32_t sampleHeader = samples ? Le32(m + at + 29) : 0;
    at += size;
    uint32_t data = 0;
    for (int s = 0; s < samples; ++s) {
      ASSERT_LE(at + 40, MusicModuleSize);
      uint32_t len = Le32(m + at), loopStart = Le32(m + at + 4), loopLen = Le32(m + at + 8);
      uint8_t type = m[at + 14];
      EXPECT_GT(len, 0u) << "instrument " << i;
      EXPECT_LE(m[at + 12], 64) << "volume, instrument " << i;
      if (type & 3) {
        EXPECT_LE(loopStart + loopLen, len) << "loop inside the sample, instrument " << i;
      }
      data += len;
      at += sampleHeader;
    }
    at += data;
  }
  EXPECT_EQ(at, MusicModuleSize) << "the last sample must end the file";
}

// ---------------------------------------------------------------------------
// Following a player: the (order, row) it reports as it renders.
// ---------------------------------------------------------------------------
struct RowZero {
  int rows, speed, bpm;
};
struct Timing {
  // Start time of each order visit (seconds of audio rendered before it),
  // in visiting order.
  std::vector<std::pair<int, double>> visits;
  // Time of a row within the first visit of an order: (order, row) -> s.
  std::map<std::pair<int, int>, double> rowTimes;
  std::map<int, RowZero> rowZero;  // first visit of each order
  int lastOrder = -1, lastRow = -1;
};

int Visit(const Timing& tm) { return int(tm.visits.size()) - 1; }

// Takes the position a player reports at `at` seconds. A new visit begins
// when the order changes or row 0 comes round; the rows of the first ten
// visits are timed. Answers false when the position is the one last seen.
bool FollowPosition(Timing* tm, int order, int row, double at) {
  if (order == tm->lastOrder && row == tm->lastRow) return false;
  if (row == 0 || order != tm->lastOrder) tm->visits.push_back({order, at});
  if (Visit(*tm) < 10) tm->rowTimes[{order, row}] = at;
  tm->lastOrder = order;
  tm->lastRow = row;
  return true;
}

// What both players must show: rows, speed and BPM at row 0 of each order,
// orders 0-9 then 6-9 looping, each order starting on time, the cue rows on
// time.
void ExpectTimingAsTabled(const Timing& tm) {
  for (int o = 0; o < 10; ++o) {
    SCOPED_TRACE("order " + std::to_string(o));
    ASSERT_TRUE(tm.rowZero.count(o));
    EXPECT_EQ(tm.rowZero.at(o).rows, kOrders[o].rows);
    EXPECT_EQ(tm.rowZero.at(o).speed, kOrders[o].speed);
    EXPECT_EQ(tm.rowZero.at(o).bpm, kOrders[o].bpm);
  }
  ASSERT_GE(tm.visits.size(), 19u);  // 80 s: orders 0-9, three passes of 6-9, one order more
  for (size_t i = 0; i < tm.visits.size(); ++i) {
    const int want = i < 10 ? int(i) : 6 + int(i - 10) % 4;
    EXPECT_EQ(tm.visits[i].first, want) << "visit " << i;
  }
  auto expected = ExpectedVisits(18);
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("visit " + std::to_string(i));
    EXPECT_NEAR(tm.visits[i].second, expected[i].second, kTolerance);
    if (i + 1 < expected.size()) {
      EXPECT_NEAR(tm.visits[i + 1].second - tm.visits[i].second, kOrders[expected[i].first].length, kTolerance);
    }
  }
  EXPECT_NEAR(tm.visits[6].second, 33.8, 0.05);  // the cube scene starts here
  EXPECT_NEAR(tm.rowTimes.at({0, 9}), 1.61, kTolerance);
  EXPECT_NEAR(tm.rowTimes.at({0, 11}), 1.96, kTolerance);
  EXPECT_NEAR(tm.rowTimes.at({5, 9}) - tm.rowTimes.at({5, 0}), 2.25, kTolerance);
  EXPECT_NEAR(tm.rowTimes.at({5, 11}) - tm.rowTimes.at({5, 0}), 2.75, kTolerance);
}

// ---------------------------------------------------------------------------
// libxmp.
// ---------------------------------------------------------------------------
struct XmpTrace {
  Timing timing;
  std::vector<int> bpmOfOrder4;                 // each row of its first visit
  std::map<int, std::set<int>> instrumentsOf;  // order -> instruments triggered, first pass
  std::vector<std::map<int, std::set<int>>> instrumentsByPass;  // pass of 6-9 -> order -> set
  bool instrumentWithoutNote = false;
};

XmpTrace TraceWithXmp(double seconds) {
  XmpTrace tr;
  xmp_context ctx = xmp_create_context();
  EXPECT_EQ(xmp_load_module_from_memory(ctx, MusicModule, long(MusicModuleSize)), 0);
  EXPECT_EQ(xmp_start_player(ctx, kRate, 0), 0);
  xmp_frame_info fi;
  double t = 0;
  while (t < seconds && xmp_play_frame(ctx) == 0) {
    xmp_get_frame_info(ctx, &fi);
    const bool newRow = FollowPosition(&tr.timing, fi.pos, fi.row, t);
    const int visit = Visit(tr.timing);
    if (newRow && visit < 10) {
      if (fi.row == 0) tr.timing.rowZero[fi.pos] = {fi.num_rows, fi.speed, fi.bpm};
      if (fi.pos == 4) tr.bpmOfOrder4.push_back(fi.bpm);
    }
    if (fi.frame == 0) {
      for (int c = 0; c < 2; ++c) {
        const xmp_event& e = fi.channel_info[c].event;
        if (e.ins == 0) continue;
        if (e.note == 0) tr.instrumentWithoutNote = true;
        if (visit < 10) tr.instrumentsOf[fi.pos].insert(e.ins);
        int pass = visit < 10 ? 0 : (visit - 6) / 4;
        if (fi.pos >= 6) {
          if (int(tr.instrumentsByPass.size()) <= pass) tr.instrumentsByPass.resize(pass + 1);
          tr.instrumentsByPass[pass][fi.pos].insert(e.ins);
        }
      }
    }
    t += double(fi.buffer_size / 4) / kRate;  // the tick just rendered, 16-bit stereo
  }
  xmp_end_player(ctx);
  xmp_release_module(ctx);
  xmp_free_context(ctx);
  return tr;
}

const XmpTrace& Xmp() {
  static const XmpTrace tr = TraceWithXmp(80.0);
  return tr;
}

TEST(MusicModuleXmp, ModuleInfoMatchesTheHeader) {
  xmp_context ctx = xmp_create_context();
  ASSERT_EQ(xmp_load_module_from_memory(ctx, MusicModule, long(MusicModuleSize)), 0);
  xmp_module_info mi;
  xmp_get_module_info(ctx, &mi);
  const xmp_module* mod = mi.mod;
  EXPECT_NE(std::string(mod->type).find("XM 1.04"), std::string::npos) << mod->type;
  EXPECT_EQ(mod->len, 10);
  EXPECT_EQ(mod->rst, 0);
  EXPECT_EQ(mod->chn, 2);
  // libxmp appends one blank pattern of its own after the file's 16. (Rows
  // per order are checked as played, with both players.)
  EXPECT_GE(mod->pat, 16);
  EXPECT_EQ(mod->ins, 7);
  EXPECT_EQ(mod->spd, 4);
  EXPECT_EQ(mod->bpm, 145);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(mod->xxo[i], kOrderTable[i]);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(mod->xxi[i].nsm, i == 5 ? 0 : 1) << "instrument " << i + 1;
  xmp_release_module(ctx);
  xmp_free_context(ctx);
}

// Order 4: 255 to row 80, then a strictly falling step per row to 80 at
// row 92, 80 to the end.
TEST(MusicModuleXmp, Order4BpmRamp) {
  const std::vector<int>& bpm = Xmp().bpmOfOrder4;
  ASSERT_EQ(bpm.size(), 96u);
  for (int r = 0; r <= 80; ++r) EXPECT_EQ(bpm[r], 255) << "row " << r;
  for (int r = 81; r <= 92; ++r) EXPECT_LT(bpm[r], bpm[r - 1]) << "row " << r;
  for (int r = 92; r < 96; ++r) EXPECT_EQ(bpm[r], 80) << "row " << r;
}

TEST(MusicModuleXmp, InstrumentsFourAndFiveExactlyWhereTabled) {
  const XmpTrace& tr = Xmp();
  EXPECT_FALSE(tr.instrumentWithoutNote) << "an instrument number without a note";
  for (int o = 0; o < 10; ++o) {
    SCOPED_TRACE("order " + std::to_string(o));
    const std::set<int>& used = tr.instrumentsOf.count(o) ? tr.instrumentsOf.at(o) : std::set<int>{};
    EXPECT_EQ(used.count(4) > 0, kOrders[o].ins4);
    EXPECT_EQ(used.count(5) > 0, kOrders[o].ins5);
    EXPECT_EQ(used.count(6), 0u) << "instrument 6 has no sample and stays silent";
  }
  // The loop: three passes through 6-9, each order with both cue instruments.
  ASSERT_GE(tr.instrumentsByPass.size(), 3u);
  for (size_t pass = 0; pass < 3; ++pass) {
    for (int o = 6; o <= 9; ++o) {
      SCOPED_TRACE("pass " + std::to_string(pass) + " order " + std::to_string(o));
      ASSERT_TRUE(tr.instrumentsByPass[pass].count(o));
      EXPECT_TRUE(tr.instrumentsByPass[pass].at(o).count(4));
      EXPECT_TRUE(tr.instrumentsByPass[pass].at(o).count(5));
    }
  }
}

// ---------------------------------------------------------------------------
// libopenmpt.
// ---------------------------------------------------------------------------
Timing TraceWithOpenmpt(double seconds) {
  Timing tr;
  int error = 0;
  openmpt_module* mod = openmpt_module_create_from_memory2(MusicModule, MusicModuleSize, nullptr, nullptr,
                                                           nullptr, nullptr, &error, nullptr, nullptr);
  EXPECT_NE(mod, nullptr) << "libopenmpt error " << error;
  if (!mod) return tr;
  openmpt_module_set_repeat_count(mod, -1);
  // Render in blocks of 8 frames (0.18 ms). The player shows a new row once
  // it has rendered part of it, so a row seen first after a block began
  // within that block; its start is taken as the block's start.
  constexpr int kBlock = 8;
  int16_t buf[kBlock];
  long frames = 0;
  while (frames < long(seconds * kRate)) {
    size_t got = openmpt_module_read_mono(mod, kRate, kBlock, buf);
    if (got == 0) break;
    const int order = openmpt_module_get_current_order(mod);
    const int row = openmpt_module_get_current_row(mod);
    if (FollowPosition(&tr, order, row, double(frames) / kRate) && Visit(tr) < 10 && row == 0) {
      tr.rowZero[order] = {openmpt_module_get_pattern_num_rows(mod, openmpt_module_get_current_pattern(mod)),
                           openmpt_module_get_current_speed(mod), openmpt_module_get_current_tempo(mod)};
    }
    frames += long(got);
  }
  openmpt_module_destroy(mod);
  return tr;
}

const Timing& Mpt() {
  static const Timing tr = TraceWithOpenmpt(80.0);
  return tr;
}

TEST(MusicModuleOpenmpt, HeaderFactsAndOrderTable) {
  int error = 0;
  openmpt_module* mod = openmpt_module_create_from_memory2(MusicModule, MusicModuleSize, nullptr, nullptr,
                                                           nullptr, nullptr, &error, nullptr, nullptr);
  ASSERT_NE(mod, nullptr);
  EXPECT_EQ(openmpt_module_get_num_orders(mod), 10);
  EXPECT_EQ(openmpt_module_get_num_channels(mod), 2);
  EXPECT_EQ(openmpt_module_get_num_patterns(mod), 16);
  EXPECT_EQ(openmpt_module_get_num_instruments(mod), 7);
  EXPECT_EQ(openmpt_module_get_num_samples(mod), 6);
  for (int o = 0; o < 10; ++o) EXPECT_EQ(openmpt_module_get_order_pattern(mod, o), kOrderTable[o]);
  // Instruments 4 and 5 in the pattern data of each order, and the jump:
  // row 63 of order 9's pattern carries Bxx = 6 (the only position jump).
  int jumps = 0;
  for (int o = 0; o < 10; ++o) {
    int pat = kOrderTable[o];
    bool ins4 = false, ins5 = false;
    for (int r = 0; r < kOrders[o].rows; ++r) {
      for (int c = 0; c < 2; ++c) {
        int ins = openmpt_module_get_pattern_row_channel_command(mod, pat, r, c, OPENMPT_MODULE_COMMAND_INSTRUMENT);
        int note = openmpt_module_get_pattern_row_channel_command(mod, pat, r, c, OPENMPT_MODULE_COMMAND_NOTE);
        if (ins == 4 || ins == 5) {
          EXPECT_NE(note, 0) << "order " << o << " row " << r;
        }
        ins4 |= ins == 4;
        ins5 |= ins == 5;
        const char* text = openmpt_module_format_pattern_row_channel_command(mod, pat, r, c, OPENMPT_MODULE_COMMAND_EFFECT);
        std::string fx = text ? text : "";
        openmpt_free_string(text);
        if (fx == "B") {
          ++jumps;
          EXPECT_EQ(o, 9);
          EXPECT_EQ(r, 63);
          EXPECT_EQ(openmpt_module_get_pattern_row_channel_command(mod, pat, r, c, OPENMPT_MODULE_COMMAND_PARAMETER), 6);
        }
      }
    }
    EXPECT_EQ(ins4, kOrders[o].ins4) << "order " << o;
    EXPECT_EQ(ins5, kOrders[o].ins5) << "order " << o;
  }
  EXPECT_EQ(jumps, 1);
  openmpt_module_destroy(mod);
}

// ---------------------------------------------------------------------------
// Both players.
// ---------------------------------------------------------------------------
TEST(MusicModulePlayers, OrdersLoopAndCueRowsOnTime) {
  {
    SCOPED_TRACE("libxmp");
    ExpectTimingAsTabled(Xmp().timing);
  }
  {
    SCOPED_TRACE("libopenmpt");
    ExpectTimingAsTabled(Mpt());
  }
}

// Both players agree on every order start to the millisecond.
TEST(MusicModulePlayers, AgreeOnOrderStarts) {
  const Timing& a = Xmp().timing;
  const Timing& b = Mpt();
  size_t n = std::min(a.visits.size(), b.visits.size());
  ASSERT_GE(n, 18u);
  for (size_t i = 0; i < 18; ++i) {
    EXPECT_EQ(a.visits[i].first, b.visits[i].first) << "visit " << i;
    EXPECT_NEAR(a.visits[i].second, b.visits[i].second, 0.001) << "visit " << i;
  }
}

}  // namespace
