// Drawing surface over the current image, read pixel by pixel.
//
// One surface is open at a time. Opening selects DefaultBrush and DefaultPen
// into the target's DC; closing selects back the brush and pen it had, then
// calls the target's release routine (for an image, CloseImageDC).
#pragma once
#include <cstdint>

#include "platform/pixels.h"

// What a surface can be opened on. A single record is reused for images.
struct DrawingTarget {
  int32_t kind;        // 2 = an image, the only kind the program makes
  GdiDC dc;            // the device context to draw through
  void (*release)();   // called when the surface closes
};

constexpr int32_t DrawingTargetImage = 2;

extern GdiHandle DefaultBrush;  // solid black brush, made at start-up
extern GdiHandle DefaultPen;    // solid black pen of width 0, made at start-up

void CreateDrawingDefaults();
// A target for the current image, or nullptr when there is none.
DrawingTarget* ImageDrawingTarget();
// Opens a surface on target (closing any open one); nullptr when none opens.
// The result is the surface's DC.
void* OpenDrawingSurface(DrawingTarget* target);
void CloseDrawingSurface();
// Colour at (x, y), red in bits 0-7, green 8-15, blue 16-23; -1 when no
// surface is open or the pixel lies outside the image.
int32_t ReadPixel(int32_t x, int32_t y);
uint8_t ExtractRed(int32_t colour);
uint8_t ExtractGreen(int32_t colour);
uint8_t ExtractBlue(int32_t colour);
