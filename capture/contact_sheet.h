// The contact sheet: one labelled thumbnail per scene change and per cue,
// laid out in rows on a dark background and written as one PNG.
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
// The finished sheet; an empty sheet is a single label row saying so.
RgbImage ContactSheetCompose(const ContactSheet& sheet);
