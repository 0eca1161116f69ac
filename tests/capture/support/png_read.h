// Reading PNG files back for the capture's tests and benchmarks.
#pragma once
#include <string>

#include "capture/png_io.h"

// Reads any 8- or 16-bit PNG with libpng, converted to 8-bit RGB (alpha
// dropped, grey and palette expanded).
bool ReadPng(const std::string& path, RgbImage* out, std::string* error);
