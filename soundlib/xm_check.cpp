// Walks an XM file with explicit bounds checks. The player library is robust
// against most damage, but refusing anything inconsistent here means it only
// ever parses data whose every offset has already been proven in range.
#include "soundlib/xm_check.h"

#include <cstring>

namespace {

// Limits of the format (and of what the player supports).
constexpr uint32_t XmMaxOrders = 256;
constexpr uint32_t XmMaxChannels = 32;
constexpr uint32_t XmMaxPatterns = 256;
constexpr uint32_t XmMaxRows = 256;
constexpr uint32_t XmMaxInstruments = 128;
constexpr uint32_t XmMaxSamples = 16;       // samples per instrument
constexpr uint32_t XmMaxEnvelopePoints = 12;
constexpr uint32_t XmHeaderStart = 60;      // offset of the header-size field
constexpr uint32_t XmFullHeaderSize = 276;  // fields (20 bytes) + 256-entry order table
constexpr uint32_t XmSampleHeaderSize = 40;
constexpr uint32_t XmFullInstrumentHeader = 243;  // up to and including the reserved word

struct Reader {
  const uint8_t* data;
  uint64_t size;
  bool Has(uint64_t at, uint64_t n) const { return at <= size && n <= size - at; }
  uint32_t U8(uint64_t at) const { return data[at]; }
  uint32_t U16(uint64_t at) const { return data[at] | (data[at + 1] << 8); }
  uint32_t U32(uint64_t at) const { return U16(at) | (U16(at + 2) << 16); }
};

// Packed pattern data: each cell is either 5 raw bytes (note, instrument,
// volume, effect, parameter) or a flag byte with bit 7 set whose low 5 bits
// say which of those follow. The cells must fit in `packed` bytes and there
// may be no more than rows * channels of them. A note byte above 97 (key off)
// is not a note.
bool CheckPatternData(const Reader& r, uint64_t at, uint64_t packed, uint64_t cells) {
  uint64_t end = at + packed;
  uint64_t count = 0;
  while (at < end) {
    if (++count > cells) return false;
    uint32_t first = r.U8(at);
    uint32_t present = 0x1F;
    if (first & 0x80) {
      present = first & 0x1F;
      ++at;
    }
    if (present & 0x01) {
      if (at >= end || r.U8(at) > 97) return false;
      ++at;
    }
    for (uint32_t bit = 0x02; bit <= 0x10; bit <<= 1) {
      if (!(present & bit)) continue;
      if (at >= end) return false;
      ++at;
    }
  }
  return true;
}

}  // namespace

bool XmCheck(const uint8_t* data, size_t size) {
  if (data == nullptr) return false;
  Reader r{data, size};
  if (!r.Has(0, XmHeaderStart + 4) || std::memcmp(data, "Extended Module: ", 17) != 0) return false;
  if (r.U16(58) != 0x0104) return false;

  uint32_t headerSize = r.U32(XmHeaderStart);
  if (headerSize < XmFullHeaderSize || !r.Has(XmHeaderStart, headerSize)) return false;
  uint32_t songLength = r.U16(64);
  uint32_t restart = r.U16(66);
  uint32_t channels = r.U16(68);
  uint32_t patterns = r.U16(70);
  uint32_t instruments = r.U16(72);
  uint32_t speed = r.U16(76);
  uint32_t bpm = r.U16(78);
  if (songLength < 1 || songLength > XmMaxOrders || restart >= XmMaxOrders) return false;
  if (channels < 1 || channels > XmMaxChannels) return false;
  if (patterns > XmMaxPatterns || instruments > XmMaxInstruments) return false;
  if (speed < 1 || speed > 255 || bpm < 32 || bpm > 255) return false;

  uint64_t at = XmHeaderStart + uint64_t{headerSize};
  for (uint32_t p = 0; p < patterns; ++p) {
    if (!r.Has(at, 9)) return false;
    uint32_t patternHeader = r.U32(at);
    uint32_t packing = r.U8(at + 4);
    uint32_t rows = r.U16(at + 5);
    uint32_t packed = r.U16(at + 7);
    if (patternHeader < 9 || packing != 0 || rows < 1 || rows > XmMaxRows) return false;
    if (!r.Has(at, uint64_t{patternHeader} + packed)) return false;
    at += patternHeader;
    if (!CheckPatternData(r, at, packed, uint64_t{rows} * channels)) return false;
    at += packed;
  }

  for (uint32_t i = 0; i < instruments; ++i) {
    if (!r.Has(at, 29)) return false;
    uint32_t instrumentHeader = r.U32(at);
    uint32_t samples = r.U16(at + 27);
    if (instrumentHeader < 29 || samples > XmMaxSamples || !r.Has(at, instrumentHeader)) return false;
    if (samples == 0) {
      at += instrumentHeader;
      continue;
    }
    if (instrumentHeader < XmFullInstrumentHeader) return false;
    uint32_t sampleHeader = r.U32(at + 29);
    if (sampleHeader < XmSampleHeaderSize || sampleHeader > 1024) return false;
    for (uint32_t k = 0; k < 96; ++k)
      if (r.U8(at + 33 + k) >= samples) return false;  // note-to-sample map
    if (r.U8(at + 225) > XmMaxEnvelopePoints || r.U8(at + 226) > XmMaxEnvelopePoints) return false;
    at += instrumentHeader;

    uint64_t sampleData = 0;
    for (uint32_t s = 0; s < samples; ++s) {
      if (!r.Has(at, sampleHeader)) return false;
      uint64_t length = r.U32(at);
      uint64_t loopStart = r.U32(at + 4);
      uint64_t loopLength = r.U32(at + 8);
      uint32_t type = r.U8(at + 14);
      if (type & 0x10) {  // 16-bit: lengths count bytes, two per sample
        if ((length | loopStart | loopLength) & 1) return false;
      }
      if ((type & 0x03) != 0 && (loopStart > length || loopLength > length - loopStart)) return false;
      sampleData += length;
      at += sampleHeader;
    }
    if (!r.Has(at, sampleData)) return false;
    at += sampleData;
  }
  return true;
}
