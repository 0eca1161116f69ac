// Writes XM files: header, packed patterns, instruments with one delta-coded
// 8-bit sample each (or none).
#include "tests/common/xm_builder.h"

#include <algorithm>
#include <stdexcept>

namespace {

void Put8(std::vector<uint8_t>& out, uint32_t v) { out.push_back(static_cast<uint8_t>(v)); }
void Put16(std::vector<uint8_t>& out, uint32_t v) {
  Put8(out, v & 0xFF);
  Put8(out, (v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutText(std::vector<uint8_t>& out, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i) Put8(out, i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}
void Patch16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// A cell in XM's packed form: a flag byte (0x80 | which fields follow) and
// the present fields, or one 0x80 byte for an empty cell.
void PutCell(std::vector<uint8_t>& out, const XmCell& c) {
  uint8_t flags = 0x80;
  if (c.note) flags |= 0x01;
  if (c.instrument) flags |= 0x02;
  if (c.volume) flags |= 0x04;
  if (c.effect) flags |= 0x08;
  if (c.param) flags |= 0x10;
  Put8(out, flags);
  if (c.note) Put8(out, c.note);
  if (c.instrument) Put8(out, c.instrument);
  if (c.volume) Put8(out, c.volume);
  if (c.effect) Put8(out, c.effect);
  if (c.param) Put8(out, c.param);
}

}  // namespace

XmPattern& AddPattern(XmSong& song, int rows) {
  XmPattern p;
  p.rows = rows;
  p.channels = song.channels;
  p.cells.assign(static_cast<size_t>(rows * song.channels), XmCell{});
  song.patterns.push_back(std::move(p));
  return song.patterns.back();
}

XmInstrument XmSquareInstrument(int length) {
  XmInstrument ins;
  ins.name = "square";
  ins.sample.resize(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) ins.sample[static_cast<size_t>(i)] = i < length / 2 ? 64 : -64;
  return ins;
}

XmInstrument XmEmptyInstrument() {
  XmInstrument ins;
  ins.name = "empty";
  return ins;
}

std::vector<uint8_t> BuildXm(const XmSong& song) {
  if (song.orders.empty() || song.orders.size() > 256) throw std::invalid_argument("1..256 orders");
  std::vector<uint8_t> out;
  PutText(out, "Extended Module: ", 17);
  PutText(out, song.name, 20);
  Put8(out, 0x1A);
  PutText(out, "xm_builder", 20);
  Put16(out, 0x0104);
  Put32(out, 276);  // header size, counted from this field: 4 + 16 + 256 bytes
  Put16(out, static_cast<uint32_t>(song.orders.size()));
  Put16(out, static_cast<uint32_t>(song.restart));
  Put16(out, static_cast<uint32_t>(song.channels));
  Put16(out, static_cast<uint32_t>(song.patterns.size()));
  Put16(out, static_cast<uint32_t>(song.instruments.size()));
  Put16(out, song.linear ? 1 : 0);
  Put16(out, static_cast<uint32_t>(song.speed));
  Put16(out, static_cast<uint32_t>(song.bpm));
  for (size_t i = 0; i < 256; ++i) Put8(out, i < song.orders.size() ? song.orders[i] : 0);

  for (const XmPattern& p : song.patterns) {
    Put32(out, 9);  // pattern header length
    Put8(out, 0);   // packing type
    Put16(out, static_cast<uint32_t>(p.rows));
    size_t sizeAt = out.size();
    Put16(out, 0);  // packed size, patched below
    size_t start = out.size();
    for (int r = 0; r < p.rows; ++r)
      for (int c = 0; c < song.channels; ++c)
        PutCell(out, c < p.channels ? p.At(r, c) : XmCell{});
    Patch16(out, sizeAt, static_cast<uint32_t>(out.size() - start));
  }

  for (const XmInstrument& ins : song.instruments) {
    bool hasSample = !ins.sample.empty();
    Put32(out, hasSample ? 263 : 29);  // instrument header size
    PutText(out, ins.name, 22);
    Put8(out, 0);                      // type
    Put16(out, hasSample ? 1 : 0);     // samples in this instrument
    if (!hasSample) continue;
    Put32(out, 40);                    // sample header size
    for (int i = 0; i < 96; ++i) Put8(out, 0);  // every note plays sample 0
    for (int i = 0; i < 48; ++i) Put8(out, 0);  // volume envelope points
    for (int i = 0; i < 48; ++i) Put8(out, 0);  // panning envelope points
    for (int i = 0; i < 14; ++i) Put8(out, 0);  // envelope counts, sustain/loop points, types, vibrato
    Put16(out, 0);                              // volume fadeout
    for (int i = 0; i < 22; ++i) Put8(out, 0);  // reserved, up to the 263-byte header
    // Sample header.
    uint32_t len = static_cast<uint32_t>(ins.sample.size());
    Put32(out, len);
    Put32(out, 0);
    Put32(out, ins.loop ? len : 0);
    Put8(out, ins.volume);
    Put8(out, 0);                    // finetune
    Put8(out, ins.loop ? 1 : 0);     // type: forward loop, 8-bit
    Put8(out, 128);                  // panning
    Put8(out, static_cast<uint8_t>(ins.relativeNote));
    Put8(out, 0);
    PutText(out, ins.name, 22);
    // Sample data, delta-coded.
    int8_t prev = 0;
    for (int8_t s : ins.sample) {
      Put8(out, static_cast<uint8_t>(static_cast<int8_t>(s - prev)));
      prev = s;
    }
  }
  return out;
}
