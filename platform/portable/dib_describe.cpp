// Packed-DIB header checks shared by every pixel store (the emulated one
// and the one over the system's GDI): which headers, bit counts,
// compressions, colour tables and masks a DIB may carry, and its row layout.
#include <cstring>

#include "platform/pixels.h"

namespace {

uint32_t ReadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t ReadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

}  // namespace

bool DibSplitMask(uint32_t mask, int* shift, int* bits) {
  if (mask == 0) {
    *shift = 0;
    *bits = 0;
    return true;
  }
  int s = 0;
  while (!((mask >> s) & 1)) ++s;
  const uint32_t m = mask >> s;
  if (m & (m + 1)) return false;  // holes in the mask
  int n = 0;
  while (n < 32 && ((m >> n) & 1)) ++n;
  *shift = s;
  *bits = n;
  return true;
}

bool DibDescribe(const void* info, size_t infoSize, DibLayout* out) {
  const auto* p = static_cast<const uint8_t*>(info);
  if (!p || !out || infoSize < 12) return false;
  DibLayout d{};
  d.colourBytes = 4;
  const uint32_t hs = ReadLE32(p);
  if (hs == 12) {
    // Core header: 16-bit unsigned width, height, planes and bit count,
    // rows always bottom-up, palette of 3-byte entries (blue, green, red).
    d.header.biSize = 12;
    d.header.biWidth = int32_t(ReadLE16(p + 4));
    d.header.biHeight = int32_t(ReadLE16(p + 6));
    d.header.biPlanes = ReadLE16(p + 8);
    d.header.biBitCount = ReadLE16(p + 10);
    d.header.biCompression = BI_RGB;
    d.colourBytes = 3;
    const uint16_t b = d.header.biBitCount;
    if (b != 1 && b != 4 && b != 8 && b != 24) return false;
  } else {
    if (infoSize < 40) return false;
    std::memcpy(&d.header, p, 40);
    if (hs != 40 && hs != 52 && hs != 56 && hs != 108 && hs != 124) return false;
    if (hs > infoSize) return false;
  }
  const BITMAPINFOHEADER& h = d.header;
  if (h.biWidth < 1 || h.biWidth > PixelStoreMaxSide) return false;
  if (h.biHeight == 0 || h.biHeight < -PixelStoreMaxSide || h.biHeight > PixelStoreMaxSide) return false;
  const uint16_t bits = h.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  d.width = h.biWidth;
  d.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  d.topDown = h.biHeight < 0;
  d.stride = (uint64_t(d.width) * bits + 31) / 32 * 4;
  d.imageBytes = d.stride * uint64_t(d.height);
  uint64_t end = hs;
  if (h.biCompression == BI_RGB) {
    if (bits == 16) {
      d.masks[0] = 0x7C00;  // 5-5-5
      d.masks[1] = 0x03E0;
      d.masks[2] = 0x001F;
    } else if (bits == 32) {
      d.masks[0] = 0x00FF0000;
      d.masks[1] = 0x0000FF00;
      d.masks[2] = 0x000000FF;
    }
  } else if (h.biCompression == BI_BITFIELDS && (bits == 16 || bits == 32)) {
    // Masks follow a 40-byte header; larger headers carry them inside.
    const uint8_t* m = p + 40;
    if (hs == 40) {
      end += 12;
      if (end > infoSize) return false;
    }
    for (int i = 0; i < 3; ++i) d.masks[i] = ReadLE32(m + i * 4);
    for (int i = 0; i < 3; ++i) {
      int shift, width;
      if (!DibSplitMask(d.masks[i], &shift, &width)) return false;
    }
  } else if ((h.biCompression == BI_RLE8 && bits == 8) || (h.biCompression == BI_RLE4 && bits == 4)) {
    if (d.topDown) return false;  // run-length rows are always stored bottom-up
    d.runLength = true;
  } else {
    return false;  // embedded JPEG or PNG bits, or a compression that does not fit the bit count
  }
  if (bits <= 8) {
    const uint32_t full = 1u << bits;
    if (h.biClrUsed > full) return false;
    d.colourCount = h.biClrUsed ? h.biClrUsed : full;
    d.colours = p + end;
    end += uint64_t(d.colourCount) * d.colourBytes;
    if (end > infoSize) return false;
  }
  d.tableEnd = end;
  *out = d;
  return true;
}
