// The contact sheet of a capture, and the font of its labels.
#include "capture/contact_sheet.h"

#include <algorithm>

namespace {

constexpr int32_t kGap = 6;         // pixels between cells and around the sheet
constexpr int32_t kLabelHeight = 12;  // a 7-pixel text line with margins
constexpr uint8_t kBackground = 32;   // dark grey

struct Glyph {
  char c;
  uint8_t rows[7];
};

// Each row: bit 4 is the leftmost of the five pixels.
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}}, {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
};

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
  // An empty sheet (a capture that wrote no frame fails before it) is one
  // empty cell.
  const int32_t columns = std::max(1, std::min(sheet.columns, count));
  const int32_t rows = std::max(1, (count + columns - 1) / columns);
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

const uint8_t* TinyFontGlyph(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (const Glyph& g : kGlyphs)
    if (g.c == c) return g.rows;
  return nullptr;
}

void TinyFontDraw(uint8_t* rgb, int32_t width, int32_t height, int32_t x, int32_t y, const std::string& text,
                  int32_t scale, uint8_t r, uint8_t g, uint8_t b) {
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t* rows = TinyFontGlyph(text[i]);
    if (!rows) continue;
    const int32_t left = x + static_cast<int32_t>(i) * TinyFontAdvance * scale;
    // Every pixel of the scaled glyph's box that lies on the picture.
    for (int32_t py = std::max(y, 0); py < std::min(y + TinyFontHeight * scale, height); ++py) {
      for (int32_t px = std::max(left, 0); px < std::min(left + TinyFontWidth * scale, width); ++px) {
        if (!(rows[(py - y) / scale] & (0x10 >> ((px - left) / scale)))) continue;
        uint8_t* p = rgb + (static_cast<size_t>(py) * width + px) * 3;
        p[0] = r;
        p[1] = g;
        p[2] = b;
      }
    }
  }
}
