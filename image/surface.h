// Drawing surface over the current image, read pixel by pixel.
#pragma once
#include <cstdint>

struct DrawingTarget;

void CreateDrawingDefaults();
// A target for the current image, or nullptr when there is none.
DrawingTarget* ImageDrawingTarget();
// Opens a surface on target (closing any open one); nullptr when none opens.
void* OpenDrawingSurface(DrawingTarget* target);
void CloseDrawingSurface();
// Colour at (x, y), red in bits 0-7, green 8-15, blue 16-23; -1 when no
// surface is open or the pixel lies outside the image.
int32_t ReadPixel(int32_t x, int32_t y);
uint8_t ExtractRed(int32_t colour);
uint8_t ExtractGreen(int32_t colour);
uint8_t ExtractBlue(int32_t colour);
