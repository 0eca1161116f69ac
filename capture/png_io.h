// PNG files of captured frames: a direct writer (row filter, a zlib stream
// from the run-and-literal coder or libdeflate, CRC-32, the chunks laid out
// by hand).
#pragma once
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

struct libdeflate_compressor;

// An 8-bit RGB picture, top row first, rows tightly packed (width * 3 bytes).
struct RgbImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
};


// An allocator whose resize leaves new bytes as they are instead of zeroing
// them: the encoder sizes its file for the worst case before every frame and
// writes only a quarter of that (zeroing the rest cost 0.7 MB of memory
// writes a 640 x 480 frame). Its blocks start on a 4 KiB boundary, so that
// a file is written unbuffered from where it was encoded (direct_write.h).
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{4096})); }
  void deallocate(T* p, size_t) noexcept { ::operator delete(p, std::align_val_t{4096}); }
};
using ByteBuffer = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

// One encoding thread's reusable state: libdeflate's compressor of one level
// and the buffers of the last picture (kept to avoid reallocating per frame). Not shared between threads; release with
// PngEncoderRelease.
struct PngEncoder {
  libdeflate_compressor* compressor = nullptr;
  int level = -1;       // the compressor's level
  ByteBuffer filtered;  // filter byte + filtered RGB bytes per row
  ByteBuffer file;      // the whole PNG file of the last EncodePng
};
void PngEncoderRelease(PngEncoder* encoder);

// The scanlines of a PNG image as the deflate stream holds them: for each
// row, top first, the filter byte and the filtered RGB bytes. Every row is
// filtered with Up (each byte minus the one above): on the captured frames
// it gives the smallest files of the PNG filters for the least time at the
// fast levels. The input is width x height pixels of `channels` bytes
// (3 = RGB, 4 = RGBA whose alpha is dropped), rows `stride` bytes apart, the
// first row in memory the picture's bottom row when `bottomUp` (as
// glReadPixels returns it). `out` must hold height * (1 + width * 3) bytes.
void PngFilterRows(const uint8_t* pixels, int32_t width, int32_t height, int32_t channels, size_t stride,
                   bool bottomUp, uint8_t* out);

// Encodes the picture as an 8-bit RGB PNG file into encoder->file. `level`
// is the deflate level, 0 (stored) to 9; 1 is the fastest that compresses. False with a reason in *error on a
// bad size or format, or when memory runs out.
bool EncodePng(PngEncoder* encoder, const uint8_t* pixels, int32_t width, int32_t height, int32_t channels,
               size_t stride, bool bottomUp, int level, std::string* error);
// The file's part of EncodePng: the scanlines already in encoder->filtered
// (the size PngFilterRows fills, of a picture EncodePng took), compressed
// at `level` and laid out in chunks into encoder->file.
bool EncodeFilteredPng(PngEncoder* encoder, int32_t width, int32_t height, int level, std::string* error);

// EncodePng on the calling thread's encoder, then the
// file written at `path`. `repeat`: the caller found the picture equal to
// the last one this thread wrote, whose file is then written again without
// encoding. False with a reason in *error on any failure (a file that could
// not be written whole is removed).
bool WritePng(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height,
              int32_t channels, size_t stride, bool bottomUp, int level, std::string* error, bool repeat = false);
bool WriteRgbPng(const std::string& path, const RgbImage& image, std::string* error);
// The file of captured frame `frame` in `folder`: folder/frame_000123.png.
std::string FrameFileName(const std::string& folder, int64_t frame);
