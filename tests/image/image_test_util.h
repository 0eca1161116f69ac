// Helpers for the image tests: bitmap and icon files built from known pixels,
// JPEG test files, libjpeg's own decoding through djpeg, and a fixture that
// sets the image layer up the way start-up does.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>
#ifdef _WIN32
#include <process.h>

#include <thread>
#else
#include <unistd.h>
#endif

#include "image/image.h"
#include "image/jpeg_decoder.h"
#include "image/surface.h"
#include "platform/pixels.h"

namespace imagetest {

using Bytes = std::vector<uint8_t>;

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// Little-endian stores; a store past the end of b is a test bug and throws.
inline void Put16(Bytes& b, size_t at, uint32_t v) {
  b.at(at + 1);
  const uint8_t le[2] = {uint8_t(v), uint8_t(v >> 8)};
  std::memcpy(b.data() + at, le, 2);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  b.at(at + 3);
  const uint8_t le[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  std::memcpy(b.data() + at, le, 4);
}

// Colour of a test picture at (x, y): varied in every channel.
inline Rgb TestColour(int x, int y) {
  return Rgb{uint8_t(x * 37 + y * 3), uint8_t(y * 29 + 7), uint8_t((x ^ y) * 11 + 100)};
}

// A packed DIB (header, palette, rows) of width x height pixels. bits 8 uses
// `palette` and the index picture `index(x, y)`; 24 and 32 use `colour(x, y)`
// (32-bit rows carry alpha(x, y) in the fourth byte). heightField is written
// as given: negative for top-down rows.
struct TestDib {
  int width = 4, height = 3;
  int bits = 24;
  bool topDown = false;
  std::vector<Rgb> palette;  // for 1, 4 and 8 bits
  std::vector<uint8_t> indices;  // width * height, top row first
  std::vector<Rgb> colours;      // width * height, top row first
  std::vector<uint8_t> alphas;   // width * height, for 32 bits
  int heightFieldFactor = 1;     // 2 for icon images (colour rows + mask rows)
};

inline size_t Stride(int width, int bits) { return (size_t(width) * size_t(bits) + 31) / 32 * 4; }

inline Bytes MakeDib(const TestDib& s, const std::vector<uint8_t>* mask = nullptr) {
  const size_t stride = Stride(s.width, s.bits);
  const size_t paletteBytes = s.palette.size() * 4;
  const size_t maskStride = Stride(s.width, 1);
  Bytes b(40 + paletteBytes + stride * size_t(s.height) + (mask ? maskStride * size_t(s.height) : 0), 0);
  Put32(b, 0, 40);
  Put32(b, 4, uint32_t(s.width));
  const int32_t h = s.height * s.heightFieldFactor;
  Put32(b, 8, uint32_t(s.topDown ? -h : h));
  Put16(b, 12, 1);
  Put16(b, 14, uint32_t(s.bits));
  Put32(b, 32, uint32_t(s.palette.size()));
  for (size_t i = 0; i < s.palette.size(); ++i) {
    b[40 + i * 4] = s.palette[i].b;
    b[40 + i * 4 + 1] = s.palette[i].g;
    b[40 + i * 4 + 2] = s.palette[i].r;
  }
  const size_t rowsAt = 40 + paletteBytes;
  for (int y = 0; y < s.height; ++y) {
    const int row = s.topDown ? y : s.height - 1 - y;
    uint8_t* out = b.data() + rowsAt + size_t(row) * stride;
    for (int x = 0; x < s.width; ++x) {
      const size_t i = size_t(y) * size_t(s.width) + size_t(x);
      if (s.bits == 8) {
        out[x] = s.indices[i];
      } else if (s.bits == 4) {
        out[x / 2] |= uint8_t(s.indices[i] << (x % 2 ? 0 : 4));
      } else if (s.bits == 1) {
        out[x / 8] |= uint8_t(s.indices[i] << (7 - x % 8));
      } else {
        const size_t px = size_t(s.bits / 8);
        out[size_t(x) * px] = s.colours[i].b;
        out[size_t(x) * px + 1] = s.colours[i].g;
        out[size_t(x) * px + 2] = s.colours[i].r;
        if (s.bits == 32) out[size_t(x) * px + 3] = s.alphas.empty() ? 0 : s.alphas[i];
      }
    }
  }
  if (mask) {  // 1 = transparent, bottom-up like the colour rows
    const size_t maskAt = rowsAt + stride * size_t(s.height);
    for (int y = 0; y < s.height; ++y) {
      uint8_t* out = b.data() + maskAt + size_t(s.height - 1 - y) * maskStride;
      for (int x = 0; x < s.width; ++x)
        if ((*mask)[size_t(y) * size_t(s.width) + size_t(x)]) out[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
  }
  return b;
}

// A bitmap file: 14-byte file header, then the packed DIB.
inline Bytes MakeBmpFile(const TestDib& s) {
  const Bytes dib = MakeDib(s);
  Bytes b(14 + dib.size(), 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, uint32_t(b.size()));
  Put32(b, 10, uint32_t(14 + 40 + s.palette.size() * 4));
  std::copy(dib.begin(), dib.end(), b.begin() + 14);
  return b;
}

// An icon file with one entry holding `image` (type 1 icon, 2 cursor).
inline Bytes MakeIconFile(const Bytes& image, int width, int height, uint16_t type = 1) {
  Bytes b(6 + 16 + image.size(), 0);
  Put16(b, 2, type);
  Put16(b, 4, 1);
  b[6] = uint8_t(width);
  b[7] = uint8_t(height);
  Put16(b, 6 + 4, 1);
  Put16(b, 6 + 6, 32);
  Put32(b, 6 + 8, uint32_t(image.size()));
  Put32(b, 6 + 12, 22);
  std::copy(image.begin(), image.end(), b.begin() + 22);
  return b;
}

inline TestDib ColourDib(int width, int height, int bits, bool topDown) {
  TestDib s;
  s.width = width;
  s.height = height;
  s.bits = bits;
  s.topDown = topDown;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) s.colours.push_back(TestColour(x, y));
  return s;
}

inline TestDib PaletteDib(int width, int height, bool topDown) {
  TestDib s;
  s.width = width;
  s.height = height;
  s.bits = 8;
  s.topDown = topDown;
  for (int i = 0; i < 256; ++i) s.palette.push_back(Rgb{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) s.indices.push_back(uint8_t(x * 13 + y * 41));
  return s;
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string DataPath(const char* name) { return std::string(ZEPHYRA_IMAGE_TEST_DATA) + "/" + name; }

// libjpeg's own decoding of a file, through djpeg (JDCT_ISLOW, the default).
struct Picture {
  int width = 0, height = 0;
  std::vector<Rgb> pixels;  // top row first
  Rgb At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// A scratch file under the host's /tmp: its name for this program (on
// Windows, under Wine, through the Z: drive that maps the host's root) and
// for the host's shell.
struct HostFile {
  std::string local, host;
};
inline HostFile NewHostFile(const char* tag) {
  static int counter = 0;
#ifdef _WIN32
  const long pid = long(_getpid());
#else
  const long pid = long(getpid());
#endif
  HostFile f;
  // The clock too: Wine gives its processes small ids that repeat from run
  // to run, and a host program outliving its test must not meet the next.
  const long long now = std::chrono::steady_clock::now().time_since_epoch().count();
  f.host = std::string("/tmp/zephyra-image-") + tag + "-" + std::to_string(pid) + "-" + std::to_string(now) + "-" +
           std::to_string(counter++);
#ifdef _WIN32
  f.local = "Z:" + f.host;
#else
  f.local = f.host;
#endif
  return f;
}

inline bool WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

// Runs a command of the host's shell and answers its standard output; false
// when it cannot run or exits with a non-zero status. On Windows (under
// Wine) the command runs as a host program through "start /unix" (Wine's
// way to start one), writing its output and status to files, since Wine's
// pipes reach only Windows programs.
inline bool HostCommandOnce(const std::string& command, Bytes* output) {
  output->clear();
#ifdef _WIN32
  const HostFile script = NewHostFile("cmd"), out = NewHostFile("out"), status = NewHostFile("rc");
  // The status is written last and renamed into place whole: its file
  // appearing means the output is complete.
  const std::string text = "{ " + command + "\n} > '" + out.host + "'\necho $? > '" + status.host +
                           ".part'\nmv '" + status.host + ".part' '" + status.host + "'\n";
  bool ok = WriteFile(script.local, Bytes(text.begin(), text.end())) &&
            std::system(("start /unix /bin/sh " + script.host).c_str()) == 0;
  // Wine's start does not wait for a host program (its /wait has no
  // process to wait on): the status file is awaited instead, up to 120 s.
  Bytes rc;
  for (int waited = 0; ok && waited < 12000; ++waited) {
    rc = ReadFile(status.local);
    if (!rc.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ok = ok && rc.size() >= 1 && rc[0] == '0' && (rc.size() == 1 || rc[1] == '\n');
  *output = ReadFile(out.local);
  std::remove(script.local.c_str());
  std::remove(out.local.c_str());
  std::remove(status.local.c_str());
  return ok;
#else
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output->insert(output->end(), chunk, chunk + n);
  return pclose(pipe) == 0;
#endif
}

// HostCommandOnce, tried a second time when it fails: the reference
// decoders are separate host programs, and one run in several hundred came
// back empty on a loaded machine (Pillow, on Linux and under Wine alike). A
// decoder that declines a file declines it again, so no answer changes.
inline bool HostCommand(const std::string& command, Bytes* output) {
  return HostCommandOnce(command, output) || HostCommandOnce(command, output);
}

// The host's name of a file this program names `path`.
inline std::string HostPath(const std::string& path) {
#ifdef _WIN32
  if (path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') return path.substr(2);
#endif
  return path;
}

inline Picture DjpegDecode(const std::string& path) {
  Picture p;
  Bytes out;
  if (!HostCommand("djpeg -dct int -rgb -pnm '" + HostPath(path) + "'", &out)) return p;
  // "P6 width height 255", one whitespace byte, then the rows.
  int maxval = 0, used = 0;
  out.push_back(0);
  if (std::sscanf(reinterpret_cast<const char*>(out.data()), "P6 %d %d %d%n", &p.width, &p.height, &maxval,
                  &used) != 3 ||
      maxval != 255)
    return Picture{};
  out.pop_back();
  const size_t count = size_t(p.width) * size_t(p.height);
  if (out.size() < size_t(used) + 1 + count * 3) return Picture{};
  p.pixels.resize(count);
  std::memcpy(p.pixels.data(), out.data() + used + 1, count * 3);
  return p;
}

// Another decoder's reading of the same file, as 8-bit red, green, blue,
// alpha bytes, top row first: Pillow (through Debian's /usr/bin/python3) or
// ImageMagick's convert. suffix names the format for convert ("bmp", "ico").
// Empty when the tool fails or declines.
enum class Reference { Pillow, Magick };
inline Bytes ReferenceRgba(Reference tool, const Bytes& file, const char* suffix) {
  const HostFile in = NewHostFile("ref");
  Bytes rgba;
  if (WriteFile(in.local, file)) {
    const std::string command =
        tool == Reference::Pillow
            ? std::string("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                          "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert(\"RGBA\").tobytes())' ") +
                  in.host + " 2>/dev/null"
            : std::string("convert '") + suffix + ":" + in.host + "[0]' -depth 8 rgba:- 2>/dev/null";
    if (!HostCommand(command, &rgba)) rgba.clear();
  }
  std::remove(in.local.c_str());
  return rgba;
}

// Reads the current image back through a drawing surface, as the texture
// builder does.
inline Picture ReadBack(int width, int height) {
  Picture p;
  p.width = width;
  p.height = height;
  OpenDrawingSurface(ImageDrawingTarget());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int32_t c = ReadPixel(x, y);
      p.pixels.push_back(Rgb{ExtractRed(c), ExtractGreen(c), ExtractBlue(c)});
    }
  CloseDrawingSurface();
  return p;
}

// Start-up's order: drawing defaults, decoders, registry, the JPEG decoder.
class ImageFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageSideLimit = DefaultImageSideLimit;
    PixelStoreSetDisplayDepth(32);
    if (!DefaultBrush) CreateDrawingDefaults();
    ResetImageDecoders();
    InitImageRegistry(nullptr);  // the C heap: the tests make no private heaps
    // RegisterJpegDecoder registers once per process; each test starts from
    // an empty table, so the decoder's record is registered directly.
    RegisterImageDecoder(&JpegImageDecoder);
    liveAtStart_ = PixelStoreLiveObjects();
  }
  void TearDown() override {
    CloseDrawingSurface();
    ReleaseAllImages();
    CloseImageDC();
    // Everything the test made through the image layer is gone again.
    EXPECT_EQ(PixelStoreLiveObjects(), liveAtStart_);
    PixelStoreSetDisplayDepth(32);
  }
  size_t liveAtStart_ = 0;
};

}  // namespace imagetest
