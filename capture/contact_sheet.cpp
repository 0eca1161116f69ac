// The contact sheet of a capture.
#include "capture/contact_sheet.h"

#include <algorithm>

#include "capture/tiny_font.h"

namespace {

constexpr int32_t kGap = 6;         // pixels between cells and around the sheet
constexpr int32_t kLabelHeight = 12;  // a 7-pixel text line with margins
constexpr uint8_t kBackground = 32;   // dark grey

}  // namespace

RgbImage MakeThumbnail(const uint8_t* rgba, int32_t width, int32_t height, int32_t thumbWidth,
                       int32_t thumbHeight) {
  RgbImage thumb;
  thumb.width = thumbWidth;
  thumb.height = thumbHeight;
  thumb.pixels.assign(static_cast<size_t>(thumbWidth) * thumbHeight * 3, 0);
  for (int32_t ty = 0; ty < thumbHeight; ++ty) {
    // Source rows [y0, y1) of the picture, counted from the top.
    const int32_t y0 = static_cast<int32_t>(static_cast<int64_t>(ty) * height / thumbHeight);
    const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(static_cast<int64_t>(ty + 1) * height / thumbHeight));
    for (int32_t tx = 0; tx < thumbWidth; ++tx) {
      const int32_t x0 = static_cast<int32_t>(static_cast<int64_t>(tx) * width / thumbWidth);
      const int32_t x1 = std::max(x0 + 1, static_cast<int32_t>(static_cast<int64_t>(tx + 1) * width / thumbWidth));
      uint64_t sum[3] = {0, 0, 0};
      for (int32_t y = y0; y < y1; ++y) {
        const uint8_t* row = rgba + static_cast<size_t>(height - 1 - y) * width * 4;  // bottom row first
        for (int32_t x = x0; x < x1; ++x)
          for (int c = 0; c < 3; ++c) sum[c] += row[x * 4 + c];
      }
      const uint64_t count = static_cast<uint64_t>(y1 - y0) * (x1 - x0);
      uint8_t* out = thumb.pixels.data() + (static_cast<size_t>(ty) * thumbWidth + tx) * 3;
      for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
    }
  }
  return thumb;
}

void ContactSheetAdd(ContactSheet* sheet, const uint8_t* rgba, int32_t width, int32_t height,
                     const std::string& label) {
  if (sheet->thumbHeight <= 0)
    sheet->thumbHeight = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(sheet->thumbWidth) * height / width));
  sheet->thumbs.push_back(MakeThumbnail(rgba, width, height, sheet->thumbWidth, sheet->thumbHeight));
  sheet->labels.push_back(label);
}

RgbImage ContactSheetCompose(const ContactSheet& sheet) {
  RgbImage out;
  const int32_t count = static_cast<int32_t>(sheet.thumbs.size());
  if (count == 0) {
    const std::string text = "NO FRAMES";
    out.width = TinyFontTextWidth(text) + 2 * kGap;
    out.height = kLabelHeight + 2 * kGap;
    out.pixels.assign(static_cast<size_t>(out.width) * out.height * 3, kBackground);
    TinyFontDraw(out.pixels.data(), out.width, out.height, kGap, kGap + 2, text, 1, 255, 255, 255);
    return out;
  }
  const int32_t columns = std::min(sheet.columns, count);
  const int32_t rows = (count + columns - 1) / columns;
  const int32_t cellW = sheet.thumbWidth + kGap;
  const int32_t cellH = sheet.thumbHeight + kLabelHeight + kGap;
  out.width = columns * cellW + kGap;
  out.height = rows * cellH + kGap;
  out.pixels.assign(static_cast<size_t>(out.width) * out.height * 3, kBackground);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t left = kGap + (i % columns) * cellW;
    const int32_t top = kGap + (i / columns) * cellH;
    const RgbImage& t = sheet.thumbs[static_cast<size_t>(i)];
    for (int32_t y = 0; y < t.height; ++y)
      std::copy_n(t.pixels.data() + static_cast<size_t>(y) * t.width * 3, static_cast<size_t>(t.width) * 3,
                  out.pixels.data() + (static_cast<size_t>(top + y) * out.width + left) * 3);
    TinyFontDraw(out.pixels.data(), out.width, out.height, left, top + t.height + 3,
                 sheet.labels[static_cast<size_t>(i)], 1, 230, 230, 230);
  }
  return out;
}
