// Benchmark of PNG encoders on captured frames: the capture's direct writer
// (row filter + its run-and-literal coder at level 1 or libdeflate at the
// others + CRC-32) at several levels and filters, with the
// time of each step, beside libpng and libspng (both on zlib). Every frame is
// encoded in memory (no file I/O), as glReadPixels gives it (RGBA, bottom row
// first). Prints CPU milliseconds per frame of the encoding thread (steady
// under load from other processes, unlike wall time) and the output size
// relative to libpng at level 1 with the Sub filter, the capture's earlier
// writer. Nothing is asserted.
//
// Usage: bench_png_encoders FRAME.png... (e.g. a capture made with --fps 1)
#include <png.h>
#include <spng.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "capture/png_io.h"
#include "capture/run_deflate.h"
#include "tests/capture/support/png_filters.h"
#include "tests/capture/support/png_read.h"

namespace {

double CpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Frame {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;  // bottom row first
};

// libpng into memory, as the capture wrote frames before: filters, zlib level
// and strategy as given.
void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

bool EncodeLibpng(const Frame& f, int level, int filters, int strategy, std::vector<uint8_t>* out) {
  out->clear();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) return false;
  std::vector<png_bytep> rows(static_cast<size_t>(f.height));
  for (int32_t y = 0; y < f.height; ++y)
    rows[static_cast<size_t>(y)] =
        const_cast<png_bytep>(f.rgba.data() + static_cast<size_t>(f.height - 1 - y) * f.width * 4);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, AppendToVector, FlushNothing);
  png_set_compression_level(png, level);
  png_set_compression_strategy(png, strategy);
  png_set_filter(png, 0, filters);
  png_set_IHDR(png, info, static_cast<png_uint_32>(f.width), static_cast<png_uint_32>(f.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

// libspng into memory: it takes top-down RGB rows, so the flip and the alpha
// drop are part of its cost here, as the capture would have to pay them.
bool EncodeSpng(const Frame& f, int level, int filterChoice, std::vector<uint8_t>* rgb, std::vector<uint8_t>* out) {
  rgb->resize(static_cast<size_t>(f.width) * f.height * 3);
  for (int32_t y = 0; y < f.height; ++y) {
    const uint8_t* s = f.rgba.data() + static_cast<size_t>(f.height - 1 - y) * f.width * 4;
    uint8_t* d = rgb->data() + static_cast<size_t>(y) * f.width * 3;
    for (int32_t x = 0; x < f.width; ++x, s += 4, d += 3) std::memcpy(d, s, 3);
  }
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  if (!ctx) return false;
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
  spng_set_option(ctx, SPNG_FILTER_CHOICE, filterChoice);
  spng_ihdr ihdr = {};
  ihdr.width = static_cast<uint32_t>(f.width);
  ihdr.height = static_cast<uint32_t>(f.height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(ctx, &ihdr);
  int rc = spng_encode_image(ctx, rgb->data(), rgb->size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  size_t size = 0;
  void* data = rc == 0 ? spng_get_png_buffer(ctx, &size, &rc) : nullptr;
  if (data) out->assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  std::free(data);
  spng_ctx_free(ctx);
  return data != nullptr;
}

struct Result {
  double ms = 0;           // CPU per frame
  double bytes = 0;        // per frame
  double filterMs = 0, deflateMs = 0, crcMs = 0;  // direct writer's steps
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FRAME.png...\n", argv[0]);
    return 2;
  }
  std::vector<Frame> frames;
  for (int i = 1; i < argc; ++i) {
    RgbImage image;
    std::string error;
    if (!ReadPng(argv[i], &image, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    Frame f;
    f.width = image.width;
    f.height = image.height;
    f.rgba.resize(static_cast<size_t>(f.width) * f.height * 4);
    for (int32_t y = 0; y < f.height; ++y)
      for (int32_t x = 0; x < f.width; ++x) {
        uint8_t* d = f.rgba.data() + (static_cast<size_t>(f.height - 1 - y) * f.width + x) * 4;
        std::memcpy(d, image.pixels.data() + (static_cast<size_t>(y) * f.width + x) * 3, 3);
        d[3] = 255;
      }
    frames.push_back(std::move(f));
  }
  std::printf("%zu frames of %dx%d; CPU ms per frame of one thread, size per frame\n", frames.size(),
              frames[0].width, frames[0].height);

  std::vector<uint8_t> out, scratch;
  auto measure = [&](const std::function<bool(const Frame&)>& encode, Result* r) {
    for (const Frame& f : frames) {
      const double t0 = CpuMs();
      if (!encode(f)) {
        std::fprintf(stderr, "encoding failed\n");
        std::exit(1);
      }
      r->ms += CpuMs() - t0;
      r->bytes += static_cast<double>(out.size());
    }
    r->ms /= static_cast<double>(frames.size());
    r->bytes /= static_cast<double>(frames.size());
  };
  double reference = 0;
  auto print = [&](const char* name, const Result& r) {
    if (reference == 0) reference = r.bytes;
    std::printf("%-44s %7.2f ms  %9.0f B  %5.2fx size", name, r.ms, r.bytes, r.bytes / reference);
    if (r.deflateMs > 0)
      std::printf("   (filter %.2f, deflate+adler %.2f, crc %.2f)", r.filterMs, r.deflateMs, r.crcMs);
    std::printf("\n");
    std::fflush(stdout);
  };

  struct LibpngCase {
    const char* name;
    int level, filters, strategy;
  };
  const LibpngCase libpngCases[] = {
      {"libpng level 1, Sub (earlier writer)", 1, PNG_FILTER_SUB, Z_DEFAULT_STRATEGY},
      {"libpng level 1, Up", 1, PNG_FILTER_UP, Z_DEFAULT_STRATEGY},
      {"libpng level 1, None, Z_RLE", 1, PNG_FILTER_NONE, Z_RLE},
      {"libpng level 1, Up, Z_RLE", 1, PNG_FILTER_UP, Z_RLE},
  };
  for (const LibpngCase& c : libpngCases) {
    Result r;
    measure([&](const Frame& f) { return EncodeLibpng(f, c.level, c.filters, c.strategy, &out); }, &r);
    print(c.name, r);
  }
  struct SpngCase {
    const char* name;
    int level, choice;
  };
  const SpngCase spngCases[] = {{"libspng level 1, Sub", 1, SPNG_FILTER_CHOICE_SUB},
                                {"libspng level 1, Up", 1, SPNG_FILTER_CHOICE_UP}};
  for (const SpngCase& c : spngCases) {
    Result r;
    measure([&](const Frame& f) { return EncodeSpng(f, c.level, c.choice, &scratch, &out); }, &r);
    print(c.name, r);
  }

  // zlib in place of libdeflate for the deflate step alone, on Up-filtered
  // rows: its run-length strategy finds the long zero runs the Up filter
  // leaves in unchanged areas, with a cheaper search.
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_RLE, Z_HUFFMAN_ONLY}) {
    Result r;
    for (const Frame& f : frames) {
      const size_t n = (1 + static_cast<size_t>(f.width) * 3) * f.height;
      scratch.resize(n);
      PngFilterRows(f.rgba.data(), f.width, f.height, 4, static_cast<size_t>(f.width) * 4, true, scratch.data());
      out.resize(compressBound(n));
      const double t0 = CpuMs();
      z_stream z = {};
      deflateInit2(&z, 1, Z_DEFLATED, 15, 8, strategy);
      z.next_in = scratch.data();
      z.avail_in = static_cast<uInt>(n);
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, Z_FINISH);
      r.bytes += static_cast<double>(z.total_out);
      deflateEnd(&z);
      r.deflateMs += CpuMs() - t0;
    }
    r.deflateMs /= static_cast<double>(frames.size());
    r.bytes /= static_cast<double>(frames.size());
    r.ms = r.deflateMs;
    print(strategy == Z_RLE ? "deflate step only: zlib level 1, Z_RLE, Up"
          : strategy == Z_HUFFMAN_ONLY ? "deflate step only: zlib, Huffman only, Up" : "deflate step only: zlib level 1, Up",
          r);
  }

  // libdeflate's level 1 for the deflate step alone (the writer's earlier
  // choice), against the run-and-literal coder's in the rows below.
  {
    Result r;
    libdeflate_compressor* c = libdeflate_alloc_compressor(1);
    for (const Frame& f : frames) {
      const size_t n = (1 + static_cast<size_t>(f.width) * 3) * f.height;
      scratch.resize(n);
      PngFilterRows(f.rgba.data(), f.width, f.height, 4, static_cast<size_t>(f.width) * 4, true, scratch.data());
      out.resize(libdeflate_zlib_compress_bound(c, n));
      const double t0 = CpuMs();
      r.bytes += static_cast<double>(libdeflate_zlib_compress(c, scratch.data(), n, out.data(), out.size()));
      r.deflateMs += CpuMs() - t0;
    }
    libdeflate_free_compressor(c);
    r.deflateMs /= static_cast<double>(frames.size());
    r.bytes /= static_cast<double>(frames.size());
    r.ms = r.deflateMs;
    print("deflate step only: libdeflate level 1, Up", r);
  }

  // The direct writer, whole, then its steps one by one on the same frames.
  const char* filterNames[] = {"None", "Sub", "Up"};
  for (int level : {1, 2, 3, 6}) {
    for (PngRowFilter filter : {PngFilterNone, PngFilterSub, PngFilterUp}) {
      PngEncoder encoder;
      Result r;
      std::string error;
      measure(
          [&](const Frame& f) {
            const bool ok = EncodePngWithFilter(&encoder, f.rgba.data(), f.width, f.height, 4,
                                                static_cast<size_t>(f.width) * 4, true, level, filter, &error);
            out.assign(encoder.file.begin(), encoder.file.end());
            return ok;
          },
          &r);
      libdeflate_compressor* c = libdeflate_alloc_compressor(level);
      for (const Frame& f : frames) {
        const size_t n = (1 + static_cast<size_t>(f.width) * 3) * f.height;
        scratch.resize(n);
        std::vector<uint8_t> z(std::max(libdeflate_zlib_compress_bound(c, n), RunDeflateBound(n)));
        const double t0 = CpuMs();
        PngFilterRowsWith(f.rgba.data(), f.width, f.height, 4, static_cast<size_t>(f.width) * 4, true, filter,
                          scratch.data());
        const double t1 = CpuMs();
        const size_t zn = level == 1 ? RunDeflateZlib(scratch.data(), n, z.data(), z.size())
                                     : libdeflate_zlib_compress(c, scratch.data(), n, z.data(), z.size());
        const double t2 = CpuMs();
        volatile uint32_t crc = libdeflate_crc32(0, z.data(), zn);
        (void)crc;
        const double t3 = CpuMs();
        r.filterMs += t1 - t0;
        r.deflateMs += t2 - t1;
        r.crcMs += t3 - t2;
      }
      libdeflate_free_compressor(c);
      const double n = static_cast<double>(frames.size());
      r.filterMs /= n;
      r.deflateMs /= n;
      r.crcMs /= n;
      char name[64];
      std::snprintf(name, sizeof name, "direct: %s level %d, %s", level == 1 ? "run-and-literal" : "libdeflate", level,
                    filterNames[filter]);
      print(name, r);
      PngEncoderRelease(&encoder);
    }
  }
  return 0;
}
