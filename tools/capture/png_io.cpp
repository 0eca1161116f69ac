// PNG files of captured frames on libpng.
#include "tools/capture/png_io.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

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

bool WritePng(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height,
              int32_t channels, size_t stride, bool bottomUp, int level, std::string* error) {
  if (width <= 0 || height <= 0 || (channels != 3 && channels != 4)) {
    *error = "bad picture size or format";
    return false;
  }
  FILE* raw = std::fopen(path.c_str(), "wb");
  if (!raw) {
    *error = "cannot create " + path;
    return false;
  }
  std::unique_ptr<FILE, FileCloser> file(raw);
  PngErrorState state;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    *error = "out of memory";
    return false;
  }
  // Row pointers are built before setjmp so nothing needs freeing after a jump.
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (int32_t y = 0; y < height; ++y) {
    const int32_t source = bottomUp ? height - 1 - y : y;
    rows[static_cast<size_t>(y)] = const_cast<png_bytep>(pixels + static_cast<size_t>(source) * stride);
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    *error = path + ": " + state.message;
    return false;
  }
  png_init_io(png, file.get());
  png_set_compression_level(png, level);
  // The sub filter alone is the cheap choice for fast levels; the adaptive
  // filter choice only pays at the slower levels.
  png_set_filter(png, 0, level <= 3 ? PNG_FILTER_SUB : PNG_ALL_FILTERS);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (channels == 4) png_set_filler(png, 0, PNG_FILLER_AFTER);  // input has a 4th byte to drop
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
    *error = "write failed: " + path;
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    *error = "write failed: " + path;
    return false;
  }
  return true;
}

std::string FrameFileName(const std::string& folder, int64_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame_%06lld.png", static_cast<long long>(frame));
  return folder + name;
}

bool WriteRgbPng(const std::string& path, const RgbImage& image, std::string* error) {
  return WritePng(path, image.pixels.data(), image.width, image.height, 3, static_cast<size_t>(image.width) * 3,
                  false, 6, error);
}

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
