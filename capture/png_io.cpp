// PNG files of captured frames, written directly.
#include "capture/png_io.h"

#include "capture/fail.h"

#include "capture/direct_write.h"
#include "capture/run_deflate.h"

#include <libdeflate.h>
#include <libyuv/convert_from_argb.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The largest filtered image the writer takes: its deflate stream, even
// stored, must fit one IDAT chunk (length below 2^31).
constexpr size_t MaxFilteredBytes = 0x7F000000;

void PutBigEndian32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Fills in the length, and appends the CRC-32 of type and data, of a chunk
// whose 4-byte type and `length` data bytes already follow its length field
// at `chunk`. Returns the chunk's whole size (12 + length).
size_t CloseChunk(uint8_t* chunk, uint32_t length) {
  PutBigEndian32(chunk, length);
  PutBigEndian32(chunk + 8 + length, libdeflate_crc32(0, chunk + 4, 4 + static_cast<size_t>(length)));
  return 12 + static_cast<size_t>(length);
}

// One row's RGB bytes, alpha dropped when the pixels have 4 bytes (libyuv's
// SIMD byte shuffle: its "ARGB" to "RGB24" keeps bytes 0-2 of every 4).
void RowToRgb(const uint8_t* src, int32_t width, int32_t channels, uint8_t* dst) {
  if (channels == 4)
    libyuv::ARGBToRGB24(src, 0, dst, 0, width, 1);
  else
    std::memcpy(dst, src, static_cast<size_t>(width) * 3);
}

// Byte-wise differences, written as a plain loop over independent bytes so
// that the compiler vectorises it.
void SubtractRows(const uint8_t* __restrict row, const uint8_t* __restrict above, size_t n, uint8_t* __restrict dst) {
  for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(row[i] - above[i]);
}

// The encoder of the calling thread, released when the thread ends;
// `holdsFile`: its file is that of the last picture this thread wrote.
struct ThreadEncoder {
  PngEncoder encoder;
  bool holdsFile = false;
  ~ThreadEncoder() { PngEncoderRelease(&encoder); }
};

}  // namespace

void PngEncoderRelease(PngEncoder* e) {
  libdeflate_free_compressor(e->compressor);
  e->compressor = nullptr;
  e->level = -1;
  e->filtered = {};
  e->file = {};
}

void PngFilterRows(const uint8_t* pixels, int32_t width, int32_t height, int32_t channels, size_t stride,
                   bool bottomUp, uint8_t* out) {
  const size_t rgbBytes = static_cast<size_t>(width) * 3;
  // The unfiltered RGB of this row and of the one above (needed after the
  // row above has been overwritten by its own filtered bytes).
  std::vector<uint8_t> rows(2 * rgbBytes);
  uint8_t* row = rows.data();
  uint8_t* above = rows.data() + rgbBytes;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = pixels + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride;
    uint8_t* dst = out + static_cast<size_t>(y) * (1 + rgbBytes);
    dst[0] = 2;  // the Up filter's type
    RowToRgb(src, width, channels, row);
    if (y == 0)  // the row above the first counts as zeros
      std::memcpy(dst + 1, row, rgbBytes);
    else
      SubtractRows(row, above, rgbBytes, dst + 1);
    std::swap(row, above);
  }
}

bool EncodePng(PngEncoder* e, const uint8_t* pixels, int32_t width, int32_t height, int32_t channels,
               size_t stride, bool bottomUp, int level, std::string* error) {
  if (width <= 0 || height <= 0 || (channels != 3 && channels != 4) || level < 0 || level > 9 ||
      stride < static_cast<size_t>(width) * static_cast<size_t>(channels)) {
    return Fail(error, "bad picture size or format");
  }
  const size_t rowBytes = 1 + static_cast<size_t>(width) * 3;
  if (rowBytes > MaxFilteredBytes / static_cast<size_t>(height)) {
    return Fail(error, "picture too large for one PNG data chunk");
  }
  e->filtered.resize(rowBytes * static_cast<size_t>(height));
  PngFilterRows(pixels, width, height, channels, stride, bottomUp, e->filtered.data());
  return EncodeFilteredPng(e, width, height, level, error);
}

bool EncodeFilteredPng(PngEncoder* e, int32_t width, int32_t height, int level, std::string* error) {
  const size_t filteredBytes = e->filtered.size();
  // Level 1, the frames' level, goes to the run-and-literal coder, about
  // twice as fast as a match finder's level 1 (docs/capture.md has the
  // figures); the other levels trade time for size through libdeflate.
  const bool runs = level == 1;
  if (!runs && e->level != level) {
    libdeflate_free_compressor(e->compressor);
    e->compressor = libdeflate_alloc_compressor(level);
    e->level = e->compressor ? level : -1;
    if (!e->compressor) return Fail(error, "out of memory");
  }

  // Signature, IHDR (13 bytes of data), IDAT (the zlib stream), IEND.
  const size_t bound =
      runs ? RunDeflateBound(filteredBytes) : libdeflate_zlib_compress_bound(e->compressor, filteredBytes);
  e->file.resize(8 + 25 + 12 + bound + 12);
  uint8_t* out = e->file.data();
  std::memcpy(out, PngSignature, 8);
  uint8_t* ihdr = out + 8;
  std::memcpy(ihdr + 4, "IHDR", 4);
  PutBigEndian32(ihdr + 8, static_cast<uint32_t>(width));
  PutBigEndian32(ihdr + 12, static_cast<uint32_t>(height));
  const uint8_t format[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, adaptive filtering, no interlace
  std::memcpy(ihdr + 16, format, 5);
  uint8_t* idat = ihdr + CloseChunk(ihdr, 13);
  std::memcpy(idat + 4, "IDAT", 4);
  const size_t compressed = runs ? RunDeflateZlib(e->filtered.data(), filteredBytes, idat + 8, bound)
                                 : libdeflate_zlib_compress(e->compressor, e->filtered.data(), filteredBytes, idat + 8, bound);
  if (compressed == 0 || compressed > 0x7FFFFFFF) return Fail(error, "deflate failed");
  uint8_t* iend = idat + CloseChunk(idat, static_cast<uint32_t>(compressed));
  std::memcpy(iend + 4, "IEND", 4);
  const size_t size = static_cast<size_t>(iend - out) + CloseChunk(iend, 0);
  e->file.resize(size);
  return true;
}

bool WritePng(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height, int32_t channels,
              size_t stride, bool bottomUp, int level, std::string* error, bool repeat) {
  thread_local ThreadEncoder local;
  const bool again = repeat && local.holdsFile;
  if (!again) {
    local.holdsFile = false;
    if (!EncodePng(&local.encoder, pixels, width, height, channels, stride, bottomUp, level, error))
      return false;
    local.holdsFile = true;
  }
  // Padded to whole 4 KiB blocks for an unbuffered write (no bytes move).
  ByteBuffer& file = local.encoder.file;
  const size_t size = file.size();
  file.resize((size + 4095) / 4096 * 4096);
  const bool ok = WriteWholeFile(path, file.data(), size, file.size(), error);
  file.resize(size);
  return ok;
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
