// A 5 x 7 pixel bitmap font for labels drawn into captured pictures:
// digits, upper-case letters (lower case is drawn as upper case), space and
// the marks . : - / x +.
#pragma once
#include <cstdint>
#include <string>

constexpr int32_t TinyFontWidth = 5;    // glyph cell, pixels
constexpr int32_t TinyFontHeight = 7;
constexpr int32_t TinyFontAdvance = 6;  // one blank column between glyphs

// Seven rows of five bits, bit 4 = leftmost pixel; nullptr when the font has
// no glyph for c.
const uint8_t* TinyFontGlyph(char c);
// Width in pixels of text at scale 1 (unknown characters draw as blanks).
int32_t TinyFontTextWidth(const std::string& text);
// Draws text into an RGB picture (rows of width * 3 bytes) with its top-left
// corner at (x, y), each font pixel a scale x scale square; clipped.
void TinyFontDraw(uint8_t* rgb, int32_t width, int32_t height, int32_t x, int32_t y, const std::string& text,
                  int32_t scale, uint8_t r, uint8_t g, uint8_t b);
