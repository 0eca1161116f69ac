// The PNG row filters the capture's writer does not use.
#include "tests/capture/support/png_filters.h"

#include <vector>

void PngFilterRowsWith(const uint8_t* pixels, int32_t width, int32_t height, int32_t channels, size_t stride,
                       bool bottomUp, PngRowFilter filter, uint8_t* out) {
  if (filter == PngFilterUp) {
    PngFilterRows(pixels, width, height, channels, stride, bottomUp, out);
    return;
  }
  const size_t rgbBytes = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> row(rgbBytes);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = pixels + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride;
    for (int32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) row[static_cast<size_t>(x) * 3 + c] = src[static_cast<size_t>(x) * channels + c];
    uint8_t* dst = out + static_cast<size_t>(y) * (1 + rgbBytes);
    dst[0] = filter;
    for (size_t i = 0; i < rgbBytes; ++i)  // Sub: each byte minus the same channel's to its left
      dst[1 + i] = static_cast<uint8_t>(row[i] - (filter == PngFilterSub && i >= 3 ? row[i - 3] : 0));
  }
}

bool EncodePngWithFilter(PngEncoder* e, const uint8_t* pixels, int32_t width, int32_t height, int32_t channels,
                         size_t stride, bool bottomUp, int level, PngRowFilter filter, std::string* error) {
  if (filter == PngFilterUp) return EncodePng(e, pixels, width, height, channels, stride, bottomUp, level, error);
  // EncodePng's own checks, then the rows filtered here and the writer's
  // chunks and coders (so that the benchmark times one encoding).
  if (width <= 0 || height <= 0 || (channels != 3 && channels != 4) || level < 0 || level > 9 ||
      stride < static_cast<size_t>(width) * static_cast<size_t>(channels) ||
      (1 + static_cast<size_t>(width) * 3) > 0x7F000000 / static_cast<size_t>(height) ||
      (filter != PngFilterNone && filter != PngFilterSub)) {
    *error = "bad picture size or format";
    return false;
  }
  e->filtered.resize((1 + static_cast<size_t>(width) * 3) * static_cast<size_t>(height));
  PngFilterRowsWith(pixels, width, height, channels, stride, bottomUp, filter, e->filtered.data());
  return EncodeFilteredPng(e, width, height, level, error);
}
