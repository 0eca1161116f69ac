// The PNG row filters the capture's writer does not use (it filters every
// row with Up), for the tests and the PNG benchmark: files of every filter
// check the writer's chunks and coders, and the benchmark compares them.
#pragma once
#include <cstdint>
#include <string>

#include "capture/png_io.h"

// The PNG filter type numbers; every row of a file gets the same one.
enum PngRowFilter : uint8_t { PngFilterNone = 0, PngFilterSub = 1, PngFilterUp = 2 };

// PngFilterRows with any of the filters (Up is the writer's own).
void PngFilterRowsWith(const uint8_t* pixels, int32_t width, int32_t height, int32_t channels, size_t stride,
                       bool bottomUp, PngRowFilter filter, uint8_t* out);
// EncodePng with any of the filters; a filter number it does not know fails
// with a reason, as a bad size does.
bool EncodePngWithFilter(PngEncoder* encoder, const uint8_t* pixels, int32_t width, int32_t height,
                         int32_t channels, size_t stride, bool bottomUp, int level, PngRowFilter filter,
                         std::string* error);
