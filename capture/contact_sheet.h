// The contact sheet: one labelled thumbnail per scene change and per cue,
// laid out in rows on a dark background and written as one PNG, with the
// 5 x 7 pixel bitmap font its labels are drawn in.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "capture/png_io.h"

struct ContactSheet {
  int32_t thumbWidth = 160;  // pixels; the height follows the frame's aspect
  int32_t thumbHeight = 0;
  int32_t columns = 5;
  std::vector<RgbImage> thumbs;
  std::vector<std::string> labels;
};

// A thumbnail of an RGBA frame (bottom row first, as read from the GL),
// reduced by averaging the source pixels that fall into each thumbnail pixel.
RgbImage MakeThumbnail(const uint8_t* rgba, int32_t width, int32_t height, int32_t thumbWidth,
                       int32_t thumbHeight);
// Adds a thumbnail of the frame with its label (e.g. "0:33.800 CUE 1").
void ContactSheetAdd(ContactSheet* sheet, const uint8_t* rgba, int32_t width, int32_t height,
                     const std::string& label);
// The finished sheet; an empty sheet is one empty cell.
RgbImage ContactSheetCompose(const ContactSheet& sheet);

// The labels' font: digits, upper-case letters (lower case is drawn as
// upper case), space and the marks . : - / x +.
constexpr int32_t TinyFontWidth = 5;    // glyph cell, pixels
constexpr int32_t TinyFontHeight = 7;
constexpr int32_t TinyFontAdvance = 6;  // one blank column between glyphs

// Seven rows of five bits, bit 4 = leftmost pixel; nullptr when the font has
// no glyph for c.
const uint8_t* TinyFontGlyph(char c);
// Draws text into an RGB picture (rows of width * 3 bytes) with its top-left
// corner at (x, y), each font pixel a scale x scale square; clipped.
void TinyFontDraw(uint8_t* rgb, int32_t width, int32_t height, int32_t x, int32_t y, const std::string& text,
                  int32_t scale, uint8_t r, uint8_t g, uint8_t b);
