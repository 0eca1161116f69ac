// PNG files of captured frames (libpng): writing RGB(A) pixel rows and reading
// them back as 8-bit RGB.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// An 8-bit RGB picture, top row first, rows tightly packed (width * 3 bytes).
struct RgbImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
};

// Writes width x height pixels of `channels` bytes each (3 = RGB, 4 = RGBA of
// which the alpha byte is dropped) as an 8-bit RGB PNG. `stride` is the byte
// distance between rows; `bottomUp` means the first row in memory is the
// picture's bottom row (as glReadPixels returns it). `level` is the zlib
// level, 0 to 9. False with a reason in *error on any failure.
bool WritePng(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height,
              int32_t channels, size_t stride, bool bottomUp, int level, std::string* error);
bool WriteRgbPng(const std::string& path, const RgbImage& image, std::string* error);
// The file of captured frame `frame` in `folder`: folder/frame_000123.png.
std::string FrameFileName(const std::string& folder, int64_t frame);
// Reads any 8- or 16-bit PNG, converted to 8-bit RGB (alpha dropped, grey and
// palette expanded).
bool ReadPng(const std::string& path, RgbImage* out, std::string* error);
