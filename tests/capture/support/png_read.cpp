// Any PNG file read back with libpng as 8-bit RGB.
#include "tests/capture/support/png_read.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// libpng reports errors through longjmp; the message is kept for the caller.
struct PngErrorState {
  std::string message;
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  state->message = message;
  png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

bool ReadPng(const std::string& path, RgbImage* out, std::string* error) {
  FILE* raw = std::fopen(path.c_str(), "rb");
  if (!raw) {
    *error = "cannot open " + path;
    return false;
  }
  std::unique_ptr<FILE, FileCloser> file(raw);
  PngErrorState state;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    *error = "out of memory";
    return false;
  }
  RgbImage image;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = path + ": " + state.message;
    return false;
  }
  png_init_io(png, file.get());
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  png_set_gray_to_rgb(png);
  png_read_update_info(png, info);
  image.width = static_cast<int32_t>(png_get_image_width(png, info));
  image.height = static_cast<int32_t>(png_get_image_height(png, info));
  if (png_get_rowbytes(png, info) != static_cast<size_t>(image.width) * 3) png_error(png, "unexpected row layout");
  image.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
  rows.resize(static_cast<size_t>(image.height));
  for (int32_t y = 0; y < image.height; ++y)
    rows[static_cast<size_t>(y)] = image.pixels.data() + static_cast<size_t>(y) * image.width * 3;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  *out = std::move(image);
  return true;
}
