// PNG files of captured frames: a direct writer (row filter, a zlib stream
// from the run-and-literal coder or libdeflate, CRC-32, the chunks laid out
// by hand).
#pragma once
#include <cstdint>
#include <memory>
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

// The PNG row filters the writer can apply (the PNG filter type numbers).
// Every row of a file gets the same one.
enum PngRowFilter : uint8_t { PngFilterNone = 0, PngFilterSub = 1, PngFilterUp = 2 };
// The filter frames are written with: on the captured frames it gives the
// smallest files of the three for the least time at the fast levels.
constexpr PngRowFilter PngFrameFilter = PngFilterUp;

// An allocator whose resize leaves new bytes as they are instead of zeroing
// them: the encoder sizes its file for the worst case before every frame and
// writes only a quarter of that (zeroing the rest cost 0.7 MB of memory
// writes a 640 x 480 frame).
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
// row, top first, the filter byte and the filtered RGB bytes. The input is
// width x height pixels of `channels` bytes (3 = RGB, 4 = RGBA whose alpha is
// dropped), rows `stride` bytes apart, the first row in memory the picture's
// bottom row when `bottomUp` (as glReadPixels returns it). `out` must hold
// height * (1 + width * 3) bytes.
void PngFilterRows(const uint8_t* pixels, int32_t width, int32_t height, int32_t channels, size_t stride,
                   bool bottomUp, PngRowFilter filter, uint8_t* out);

// Encodes the picture as an 8-bit RGB PNG file into encoder->file. `level`
// is the deflate level, 0 (stored) to 9; 1 is the fastest that compresses. False with a reason in *error on a
// bad size or format, or when memory runs out.
bool EncodePng(PngEncoder* encoder, const uint8_t* pixels, int32_t width, int32_t height, int32_t channels,
               size_t stride, bool bottomUp, int level, PngRowFilter filter, std::string* error);

// EncodePng with the frame filter, on a per-thread encoder, then the file
// written at `path`. A picture whose bytes and settings equal those of the
// last one the calling thread encoded is not encoded again: it gets that
// file's bytes, and *repeated (when given) says so. False with a reason in
// *error on any failure (a file that could not be written whole is removed).
// `owner`, when given, holds exactly the picture's bytes and may be traded
// as WritePngFrame says.
bool WritePng(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height,
              int32_t channels, size_t stride, bool bottomUp, int level, std::string* error,
              bool* repeated = nullptr, std::vector<uint8_t>* owner = nullptr);
// WritePng of a captured frame (RGBA, bottom row first, rows packed) that
// the caller gives up: when the picture is encoded, the thread keeps the
// vector itself for the next frame's comparison and gives back, in its
// place, storage of the same size whose contents are unspecified.
bool WritePngFrame(const std::string& path, std::vector<uint8_t>* frame, int32_t width, int32_t height, int level,
                   std::string* error, bool* repeated = nullptr);
bool WriteRgbPng(const std::string& path, const RgbImage& image, std::string* error);
// The file of captured frame `frame` in `folder`: folder/frame_000123.png.
std::string FrameFileName(const std::string& folder, int64_t frame);
